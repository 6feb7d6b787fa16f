// SPDX-License-Identifier: Apache-2.0
#include "service/text/TextBackend.h"

#include "service/hub/Hub.h"
#include "service/hub/Log.h"

#include <utility>

namespace matrix::service::text {

namespace {

using client::Status;

Outcome outcomeOf(Status status)
{
    switch (status) {
    case Status::Ok: return {};
    case Status::TimeOut: return {504, client::statusText(status)};
    case Status::Standby: return {409, client::statusText(status)};
    case Status::LinkDown: return {503, "Link to the matrix is down"};
    case Status::Busy: return {409, "Firmware upgrade running"};
    case Status::BadInput: return {400, "refused"};
    case Status::Rejected: return {502, "The matrix refused the request"};
    }
    return {502, "The matrix refused the request"};
}

const Outcome kLocked{423, "Output is locked"};

Outcome outcomeOf(Status status, RouteRefusal refusal)
{
    return refusal == RouteRefusal::Locked ? kLocked : outcomeOf(status);
}

}  // namespace

TextBackend::TextBackend(Hub& hub, MatrixUnit& unit, std::function<void(const Event&)> onEvent)
    : hub_(hub), unit_(unit), onEvent_(std::move(onEvent))
{
    for (int p = 1; p <= kPorts; ++p) {
        inputNames_[p - 1] = unit_.inputName(p);
        outputNames_[p - 1] = unit_.outputName(p);
    }
    subscription_ = hub_.subscribe([this](const nlohmann::json& event) { onHubEvent(event); });
}

TextBackend::~TextBackend() { hub_.unsubscribe(subscription_); }

bool TextBackend::linkUp() const { return unit_.state().linkUp; }

std::optional<int> TextBackend::routedInput(int output) const { return unit_.state().routing.at(output - 1); }

std::optional<bool> TextBackend::beepOn() const { return unit_.state().beepOn; }

std::optional<bool> TextBackend::cable(bool input, int port) const
{
    return input ? unit_.state().inputCable.at(port - 1) : unit_.state().outputCable.at(port - 1);
}

std::string TextBackend::name(bool input, int port) const
{
    return input ? unit_.inputName(port) : unit_.outputName(port);
}

std::optional<int> TextBackend::findInput(std::string_view text) const { return unit_.findInput(text); }

std::optional<int> TextBackend::findOutput(std::string_view text) const { return unit_.findOutput(text); }

std::vector<std::string> TextBackend::scenes() const { return unit_.sceneNames(); }

Outcome TextBackend::refusal(std::initializer_list<int> outputs) const
{
    for (const int output : outputs)
        if (unit_.lockOwner(output) != 0)
            return kLocked;
    if (unit_.client().firmwareRunning())
        return {409, "Firmware upgrade running"};
    if (!unit_.client().linkUp())
        return {503, "Link to the matrix is down"};
    return {};
}

Backend::Done TextBackend::audited(std::string what, const std::string& who, Done done) const
{
    return [id = unit_.id(), what = std::move(what), who, done = std::move(done)](const Outcome& outcome) {
        logLine(id + ": " + who + ": " + what +
                (outcome.ok() ? ": ok" : ": ERR " + std::to_string(outcome.code) + " " + outcome.text));
        done(outcome);
    };
}

void TextBackend::route(int output, int input, const std::string& who, Done done)
{
    done = audited("route " + std::to_string(input) + " to " + unit_.outputName(output), who, std::move(done));
    if (const Outcome refused = refusal({output}); !refused.ok())
        return done(refused);
    unit_.route(output, input, 0, [done = std::move(done)](Status status, RouteRefusal refusal) {
        done(outcomeOf(status, refusal));
    });
}

void TextBackend::routeAll(int input, const std::string& who, Done done)
{
    done = audited("route " + std::to_string(input) + " to every output", who, std::move(done));
    if (const Outcome refused = refusal({1, 2, 3, 4}); !refused.ok())
        return done(refused);
    unit_.client().routeAll(input, [done = std::move(done)](const client::Result<client::Nothing>& result) {
        done(outcomeOf(result.status));
    });
}

void TextBackend::recall(const std::string& scene, const std::string& who, Done done)
{
    done = audited("recall scene '" + scene + "'", who, std::move(done));
    if (!unit_.scene(scene))
        return done({404, "no such scene"});
    if (const Outcome refused = refusal({}); !refused.ok())
        return done(refused);
    // The unit refuses the whole scene (423) when one of its outputs is locked.
    unit_.recallScene(scene, 0, [done = std::move(done)](Status status, RouteRefusal refusal) {
        done(outcomeOf(status, refusal));
    });
}

void TextBackend::setBeep(bool on, const std::string& who, Done done)
{
    done = audited(on ? "beep on" : "beep off", who, std::move(done));
    if (const Outcome refused = refusal({}); !refused.ok())
        return done(refused);
    unit_.client().setBeep(on, [done = std::move(done)](const client::Result<client::Nothing>& result) {
        done(outcomeOf(result.status));
    });
}

void TextBackend::onHubEvent(const nlohmann::json& event)
{
    if (event.value("matrix", std::string()) != unit_.id() || !onEvent_)
        return;
    const std::string type = event.value("type", std::string());
    const auto port = [&](const char* field) {
        const auto it = event.find(field);
        return it != event.end() && it->is_number_integer() && it->get<int>() >= 1 && it->get<int>() <= kPorts
                   ? it->get<int>()
                   : 0;
    };
    Event out;
    if (type == "routing") {
        out.kind = Event::Kind::Route;
        out.port = port("output");
        out.input = port("input");
        if (out.port != 0 && out.input != 0)
            onEvent_(out);
    } else if (type == "link") {
        out.kind = Event::Kind::Link;
        out.on = event.value("link", std::string()) == "up";
        onEvent_(out);
    } else if (type == "cable") {
        out.kind = Event::Kind::Cable;
        out.onInput = event.value("port", std::string()) == "input";
        out.port = port("number");
        const auto cable = event.find("cable");
        if (out.port != 0 && cable != event.end() && cable->is_boolean()) {
            out.on = cable->get<bool>();
            onEvent_(out);
        }
    } else if (type == "beep") {
        const auto on = event.find("on");
        if (on != event.end() && on->is_boolean()) {
            out.kind = Event::Kind::Beep;
            out.on = on->get<bool>();
            onEvent_(out);
        }
    } else if (type == "names") {
        out.kind = Event::Kind::Name;
        for (const bool input : {true, false}) {
            auto& announced = input ? inputNames_ : outputNames_;
            for (int p = 1; p <= kPorts; ++p) {
                const std::string now = name(input, p);
                if (now == announced[p - 1])
                    continue;
                announced[p - 1] = now;
                out.onInput = input;
                out.port = p;
                out.text = now;
                onEvent_(out);
            }
        }
    } else if (type == "scene") {
        out.kind = Event::Kind::Scene;
        out.text = event.value("scene", std::string());
        onEvent_(out);
    }
}

}  // namespace matrix::service::text
