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

// Each verb's handler answers whether the request is of its forms; a
// request no handler takes is an unknown command.
const std::vector<Session::Verb>& Session::verbs()
{
    static const std::vector<Verb> table{
        {"ROUTE", &Session::routeVerb},   {"ALL", &Session::allVerb},         {"ROUTING", &Session::routingVerb},
        {"RECALL", &Session::recallVerb}, {"PREVIEW", &Session::previewVerb}, {"TAKE", &Session::takeVerb},
        {"CLEAR", &Session::clearVerb},   {"SCENES", &Session::scenesVerb},   {"BEEP", &Session::beepVerb},
        {"CABLES", &Session::cablesVerb}, {"NAMES", &Session::namesVerb},     {"LINK", &Session::linkVerb},
        {"NOTIFY", &Session::notifyVerb}, {"PING", &Session::pingVerb},       {"HELP", &Session::helpVerb},
    };
    return table;
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
    // `VERB?` or `VERB ?`
    const Request request{*parsed, parsed->size() == 2 && (*parsed)[1].is("?")};
    try {
        for (const Verb& verb : verbs())
            if (request.t[0].is(verb.name) && (this->*verb.run)(request))
                return;
        throw Refused{badInput("unknown command")};
    } catch (const Refused& refused) {
        reply(errLine(refused.outcome));
    }
}

int Session::output(const Token& token) const
{
    const auto found = backend_.findOutput(token.text);
    if (!found)
        throw Refused{notFound("no such output")};
    return *found;
}

int Session::input(const Token& token) const
{
    const auto found = backend_.findInput(token.text);
    if (!found)
        throw Refused{notFound("no such input")};
    return *found;
}

void Session::requireLink() const
{
    if (!backend_.linkUp())
        throw Refused{kLinkDown};
}

void Session::throwNotKnown() { throw Refused{kNotKnown}; }

void Session::throwUsage(const char* form) { throw Refused{badInput(std::string("usage: ") + form)}; }

bool Session::routeVerb(const Request& r)
{
    const auto& t = r.t;
    if (t.size() == 3 && t[2].is("?")) {
        const int o = output(t[1]);
        reply(okLine("ROUTE " + outputLetter(o) + " " + std::to_string(known(backend_.routedInput(o)))));
        return true;
    }
    if (t.size() != 3)
        throwUsage("ROUTE <out> <in> or ROUTE <out>?");
    const int o = output(t[1]);
    const int i = input(t[2]);
    change([this, o, i](Backend::Done done) { backend_.route(o, i, peer_, std::move(done)); },
           "ROUTE " + outputLetter(o) + " " + std::to_string(i));
    return true;
}

bool Session::allVerb(const Request& r)
{
    if (r.t.size() != 2 || r.query)
        throwUsage("ALL <in>");
    const int i = input(r.t[1]);
    change([this, i](Backend::Done done) { backend_.routeAll(i, peer_, std::move(done)); }, "ALL " + std::to_string(i));
    return true;
}

bool Session::routingVerb(const Request& r)
{
    if (!r.query)
        return false;
    std::string text = "ROUTING";
    for (int o = 1; o <= kPorts; ++o)
        text += " " + outputLetter(o) + " " + std::to_string(known(backend_.routedInput(o)));
    reply(okLine(text));
    return true;
}

bool Session::recallVerb(const Request& r)
{
    if (r.t.size() != 2 || r.query)
        throwUsage("RECALL \"<scene>\"");
    const std::vector<std::string> scenes = backend_.scenes();
    const std::string& asked = r.t[1].text;
    auto it = std::find(scenes.begin(), scenes.end(), asked);
    if (it == scenes.end())
        it = std::find_if(scenes.begin(), scenes.end(),
                          [&](const std::string& name) { return sameIgnoringCase(name, asked); });
    if (it == scenes.end())
        throw Refused{notFound("no such scene")};
    const std::string scene = *it;
    change([this, scene](Backend::Done done) { backend_.recall(scene, peer_, std::move(done)); },
           "RECALL " + quoted(scene));
    return true;
}

bool Session::previewVerb(const Request& r)
{
    if (r.query) {
        std::string text = "PREVIEW";
        for (const auto& [o, i] : backend_.pending())
            text += " " + outputLetter(o) + " " + std::to_string(i);
        reply(okLine(text));
        return true;
    }
    if (r.t.size() != 3)
        throwUsage("PREVIEW <out> <in> or PREVIEW?");
    const int o = output(r.t[1]);
    const int i = input(r.t[2]);
    change([this, o, i](Backend::Done done) { backend_.stage(o, i, peer_, std::move(done)); },
           "PREVIEW " + outputLetter(o) + " " + std::to_string(i));
    return true;
}

bool Session::takeVerb(const Request& r)
{
    if (r.t.size() != 1)
        return false;
    change([this](Backend::Done done) { backend_.take(peer_, std::move(done)); }, "TAKE");
    return true;
}

bool Session::clearVerb(const Request& r)
{
    if (r.t.size() != 1)
        return false;
    change([this](Backend::Done done) { backend_.clearPending(peer_, std::move(done)); }, "CLEAR");
    return true;
}

bool Session::scenesVerb(const Request& r)
{
    if (!r.query)
        return false;
    std::string text = "SCENES";
    for (const std::string& scene : backend_.scenes())
        text += " " + quoted(scene);
    reply(okLine(text));
    return true;
}

bool Session::beepVerb(const Request& r)
{
    if (r.t.size() != 2)
        return false;
    if (r.query) {
        reply(okLine(std::string("BEEP ") + onOff(known(backend_.beepOn()))));
        return true;
    }
    if (!r.t[1].is("ON") && !r.t[1].is("OFF"))
        throwUsage("BEEP ON|OFF|?");
    const bool on = r.t[1].is("ON");
    change([this, on](Backend::Done done) { backend_.setBeep(on, peer_, std::move(done)); },
           std::string("BEEP ") + onOff(on));
    return true;
}

// "IN" and its four ports, then "OUT" and its four, each by `field`.
template <typename Field>
std::string Session::perPort(const char* verb, Field field) const
{
    std::string text = verb;
    for (const bool onInput : {true, false}) {
        text += onInput ? " IN" : " OUT";
        for (int p = 1; p <= kPorts; ++p)
            text += " " + field(onInput, p);
    }
    return text;
}

bool Session::cablesVerb(const Request& r)
{
    if (!r.query)
        return false;
    reply(okLine(perPort("CABLES", [this](bool onInput, int p) -> std::string {
        return known(backend_.cable(onInput, p)) ? "1" : "0";
    })));
    return true;
}

bool Session::namesVerb(const Request& r)
{
    if (!r.query)
        return false;
    reply(okLine(perPort("NAMES", [this](bool onInput, int p) { return quoted(backend_.name(onInput, p)); })));
    return true;
}

bool Session::linkVerb(const Request& r)
{
    if (!r.query)
        return false;
    reply(okLine(std::string("LINK ") + (backend_.linkUp() ? "UP" : "DOWN")));
    return true;
}

bool Session::notifyVerb(const Request& r)
{
    if (r.t.size() != 2)
        return false;
    if (!r.query && !r.t[1].is("ON") && !r.t[1].is("OFF"))
        throwUsage("NOTIFY ON|OFF|?");
    if (!r.query)
        notify_ = r.t[1].is("ON");
    reply(okLine(std::string("NOTIFY ") + onOff(notify_)));
    return true;
}

bool Session::pingVerb(const Request& r)
{
    if (r.t.size() != 1)
        return false;
    reply(okLine("PONG"));
    return true;
}

bool Session::helpVerb(const Request& r)
{
    if (r.t.size() != 1 && !r.query)
        return false;
    reply(okLine(kHelp));
    return true;
}

}  // namespace matrix::service::text
