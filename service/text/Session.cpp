// SPDX-License-Identifier: Apache-2.0
#include "service/text/Session.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace matrix::service::text {

namespace {

constexpr const char* kHelp =
    "HELP ROUTE <out> <in>, ROUTE <out>?, ALL <in>, ROUTING?, RECALL \"<scene>\", SCENES?, PREVIEW <out> <in>, "
    "PREVIEW?, TAKE, CLEAR, BEEP ON|OFF|?, CABLES?, NAMES?, LINK?, NOTIFY ON|OFF|?, PING, HELP";

const Outcome kLinkDown = Outcome::refused(Refusal::LinkDown);
const Outcome kNotKnown = Outcome::refused(Refusal::NotKnownYet, "Not known yet");

// `ERR <code> <text>`: the codes are the HTTP API's statuses, from the hub's one table.
std::string errLine(const Outcome& outcome) { return text::errLine(httpStatus(outcome.refusal), outcome.text()); }

Outcome badInput(std::string text) { return Outcome::refused(Refusal::BadInput, std::move(text)); }
Outcome notFound(std::string text) { return Outcome::refused(Refusal::NotFound, std::move(text)); }

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A request that cannot go on: its ERR line is the reply.
struct Refused {
    Outcome outcome;
};

const char* onOff(bool on) { return on ? "ON" : "OFF"; }

// "POST /x HTTP/1.1": a method in capitals, a target, and the version.
bool looksLikeHttpRequest(std::string_view line)
{
    const auto space = line.find(' ');
    if (space == 0 || space == std::string_view::npos)
        return false;
    for (const char c : line.substr(0, space))
        if (c < 'A' || c > 'Z')
            return false;
    const auto version = line.rfind(" HTTP/");
    return version != std::string_view::npos && version > space;
}

}  // namespace

Session::Session(Backend& backend, std::string peer, Write write)
    : backend_(backend),
      peer_(std::move(peer)),
      write_(std::move(write)),
      alive_(std::make_shared<bool>(true))
{
}

Session::~Session() { *alive_ = false; }

bool Session::receive(std::string_view bytes)
{
    if (closeReason_)
        return false;
    std::vector<LineReader::Line> lines;
    if (!reader_.feed(bytes, lines))
        closeReason_ = "sent 64 KiB without a line end";
    if (!firstLineSeen_ && !lines.empty()) {
        firstLineSeen_ = true;
        if (looksLikeHttpRequest(lines.front().text)) {
            closeReason_ = "sent an HTTP request";
            return false;
        }
    }
    for (auto& line : lines) {
        backlogBytes_ += line.text.size() + 1;
        pending_.push_back(std::move(line));
    }
    pump();
    return closeReason_ == nullptr;
}

void Session::event(const Event& event)
{
    if (notify_)
        write_(eventLine(event) + "\r\n");
}

void Session::pump()
{
    if (pumping_)
        return;  // a change that ended at once; the loop below goes on
    pumping_ = true;
    const auto alive = alive_;
    bool consumed = false;
    while (!busy_ && !pending_.empty()) {
        const LineReader::Line line = std::move(pending_.front());
        pending_.pop_front();
        backlogBytes_ -= line.text.size() + 1;
        consumed = true;
        handle(line);
        if (!*alive)
            return;
    }
    pumping_ = false;
    if (consumed && onBacklogDrained)
        onBacklogDrained();
}

void Session::reply(const std::string& line) { write_(line); }

void Session::finish(const Outcome& outcome, const std::string& okText)
{
    reply(outcome.ok() ? okLine(okText) : errLine(outcome));
    busy_ = false;
    pump();
}

void Session::change(std::function<void(Backend::Done)> start, std::string okText)
{
    busy_ = true;
    start([this, alive = alive_, okText = std::move(okText)](const Outcome& outcome) {
        if (*alive)
            finish(outcome, okText);
    });
}

void Session::handle(const LineReader::Line& line)
{
    if (line.tooLong)
        return reply(errLine(badInput("line too long")));
    const auto parsed = tokenize(line.text);
    if (!parsed)
        return reply(errLine(badInput("unterminated quote")));
    if (parsed->empty())
        return;
    const std::vector<Token>& t = *parsed;
    const Token& verb = t[0];
    // `VERB?` or `VERB ?`
    const bool query = t.size() == 2 && t[1].is("?");

    const auto output = [this](const Token& token) {
        const auto found = backend_.findOutput(token.text);
        if (!found)
            throw Refused{notFound("no such output")};
        return *found;
    };
    const auto input = [this](const Token& token) {
        const auto found = backend_.findInput(token.text);
        if (!found)
            throw Refused{notFound("no such input")};
        return *found;
    };
    // State the matrix reported: unknown while the link is down or not read yet.
    const auto known = [this](const auto& value) {
        if (!backend_.linkUp())
            throw Refused{kLinkDown};
        if (!value)
            throw Refused{kNotKnown};
        return *value;
    };
    const auto usage = [](const char* form) { return Refused{badInput(std::string("usage: ") + form)}; };

    try {
        if (verb.is("ROUTE")) {
            if (t.size() == 3 && t[2].is("?")) {
                const int o = output(t[1]);
                return reply(okLine("ROUTE " + outputLetter(o) + " " + std::to_string(known(backend_.routedInput(o)))));
            }
            if (t.size() != 3)
                throw usage("ROUTE <out> <in> or ROUTE <out>?");
            const int o = output(t[1]);
            const int i = input(t[2]);
            return change([this, o, i](Backend::Done done) { backend_.route(o, i, peer_, std::move(done)); },
                          "ROUTE " + outputLetter(o) + " " + std::to_string(i));
        }
        if (verb.is("ALL")) {
            if (t.size() != 2 || query)
                throw usage("ALL <in>");
            const int i = input(t[1]);
            return change([this, i](Backend::Done done) { backend_.routeAll(i, peer_, std::move(done)); },
                          "ALL " + std::to_string(i));
        }
        if (verb.is("ROUTING") && query) {
            std::string text = "ROUTING";
            for (int o = 1; o <= kPorts; ++o)
                text += " " + outputLetter(o) + " " + std::to_string(known(backend_.routedInput(o)));
            return reply(okLine(text));
        }
        if (verb.is("RECALL")) {
            if (t.size() != 2 || query)
                throw usage("RECALL \"<scene>\"");
            const std::vector<std::string> scenes = backend_.scenes();
            auto it = std::find(scenes.begin(), scenes.end(), t[1].text);
            if (it == scenes.end())
                it = std::find_if(scenes.begin(), scenes.end(),
                                  [&](const std::string& name) { return sameIgnoringCase(name, t[1].text); });
            if (it == scenes.end())
                throw Refused{notFound("no such scene")};
            const std::string scene = *it;
            return change([this, scene](Backend::Done done) { backend_.recall(scene, peer_, std::move(done)); },
                          "RECALL " + quoted(scene));
        }
        if (verb.is("PREVIEW")) {
            if (query) {
                std::string text = "PREVIEW";
                for (const auto& [o, i] : backend_.pending())
                    text += " " + outputLetter(o) + " " + std::to_string(i);
                return reply(okLine(text));
            }
            if (t.size() != 3)
                throw usage("PREVIEW <out> <in> or PREVIEW?");
            const int o = output(t[1]);
            const int i = input(t[2]);
            return change([this, o, i](Backend::Done done) { backend_.stage(o, i, peer_, std::move(done)); },
                          "PREVIEW " + outputLetter(o) + " " + std::to_string(i));
        }
        if (verb.is("TAKE") && t.size() == 1)
            return change([this](Backend::Done done) { backend_.take(peer_, std::move(done)); }, "TAKE");
        if (verb.is("CLEAR") && t.size() == 1)
            return change([this](Backend::Done done) { backend_.clearPending(peer_, std::move(done)); }, "CLEAR");
        if (verb.is("SCENES") && query) {
            std::string text = "SCENES";
            for (const std::string& scene : backend_.scenes())
                text += " " + quoted(scene);
            return reply(okLine(text));
        }
        if (verb.is("BEEP") && t.size() == 2) {
            if (query)
                return reply(okLine(std::string("BEEP ") + onOff(known(backend_.beepOn()))));
            if (!t[1].is("ON") && !t[1].is("OFF"))
                throw usage("BEEP ON|OFF|?");
            const bool on = t[1].is("ON");
            return change([this, on](Backend::Done done) { backend_.setBeep(on, peer_, std::move(done)); },
                          std::string("BEEP ") + onOff(on));
        }
        if (verb.is("CABLES") && query) {
            std::string text = "CABLES";
            for (const bool onInput : {true, false}) {
                text += onInput ? " IN" : " OUT";
                for (int p = 1; p <= kPorts; ++p)
                    text += known(backend_.cable(onInput, p)) ? " 1" : " 0";
            }
            return reply(okLine(text));
        }
        if (verb.is("NAMES") && query) {
            std::string text = "NAMES";
            for (const bool onInput : {true, false}) {
                text += onInput ? " IN" : " OUT";
                for (int p = 1; p <= kPorts; ++p)
                    text += " " + quoted(backend_.name(onInput, p));
            }
            return reply(okLine(text));
        }
        if (verb.is("LINK") && query)
            return reply(okLine(std::string("LINK ") + (backend_.linkUp() ? "UP" : "DOWN")));
        if (verb.is("NOTIFY") && t.size() == 2) {
            if (!query && !t[1].is("ON") && !t[1].is("OFF"))
                throw usage("NOTIFY ON|OFF|?");
            if (!query)
                notify_ = t[1].is("ON");
            return reply(okLine(std::string("NOTIFY ") + onOff(notify_)));
        }
        if (verb.is("PING") && t.size() == 1)
            return reply(okLine("PONG"));
        if (verb.is("HELP") && (t.size() == 1 || query))
            return reply(okLine(kHelp));
        throw Refused{badInput("unknown command")};
    } catch (const Refused& refused) {
        reply(errLine(refused.outcome));
    }
}

}  // namespace matrix::service::text
