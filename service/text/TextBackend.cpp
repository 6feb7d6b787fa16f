// SPDX-License-Identifier: Apache-2.0
#include "service/text/TextBackend.h"

#include "service/hub/Hub.h"
#include "service/hub/Log.h"

#include <type_traits>
#include <utility>

namespace matrix::service::text {

TextBackend::TextBackend(Hub& hub, MatrixUnit& unit, std::function<void(const Event&)> onEvent)
    : hub_(hub),
      unit_(unit),
      onEvent_(std::move(onEvent))
{
    for (int p = 1; p <= kPorts; ++p) {
        inputNames_[p - 1] = unit_.inputName(p);
        outputNames_[p - 1] = unit_.outputName(p);
    }
    subscription_ = hub_.subscribe([this](const HubEvent& event) { onHubEvent(event); });
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

std::map<int, int> TextBackend::pending() const { return unit_.pending(); }

void TextBackend::ask(std::string what, const std::string& who, Done done,
                      const std::function<Outcome(const Caller&, MatrixUnit::Done)>& operation)
{
    // Each change is logged with the peer that asked and how it ended.
    auto audited = [id = unit_.id(), what = std::move(what), who, done = std::move(done)](const Outcome& outcome) {
        logLine(
            id + ": " + who + ": " + what +
            (outcome.ok() ? ": ok" : ": ERR " + std::to_string(httpStatus(outcome.refusal)) + " " + outcome.text()));
        done(outcome);
    };
    // `who` is "text PEER": the hub's Caller takes the two apart. The text
    // protocol drives the room and no more (no EDID, firmware or reset).
    Caller caller;
    caller.frontEnd = "text";
    caller.peer = who.substr(who.find(' ') + 1);
    caller.role = Role::Operator;
    MatrixUnit::Done ended = audited;
    if (const Outcome refused = operation(caller, std::move(ended)); !refused.ok())
        audited(refused);
}

void TextBackend::route(int output, int input, const std::string& who, Done done)
{
    ask("route " + std::to_string(input) + " to " + unit_.outputName(output), who, std::move(done),
        [&](const Caller& caller, MatrixUnit::Done ended) {
            return unit_.route(caller, output, input, std::move(ended));
        });
}

void TextBackend::routeAll(int input, const std::string& who, Done done)
{
    ask("route " + std::to_string(input) + " to every output", who, std::move(done),
        [&](const Caller& caller, MatrixUnit::Done ended) { return unit_.routeAll(caller, input, std::move(ended)); });
}

void TextBackend::recall(const std::string& scene, const std::string& who, Done done)
{
    ask("recall scene '" + scene + "'", who, std::move(done), [&](const Caller& caller, MatrixUnit::Done ended) {
        return unit_.recallScene(caller, scene, std::move(ended));
    });
}

void TextBackend::setBeep(bool on, const std::string& who, Done done)
{
    ask(on ? "beep on" : "beep off", who, std::move(done),
        [&](const Caller& caller, MatrixUnit::Done ended) { return unit_.setBeep(caller, on, std::move(ended)); });
}

void TextBackend::stage(int output, int input, const std::string& who, Done done)
{
    ask("stage " + std::to_string(input) + " for " + unit_.outputName(output), who, std::move(done),
        [&](const Caller& caller, MatrixUnit::Done ended) {
            Outcome staged = unit_.stage(caller, {{output, input}});
            if (staged.ok())
                ended(staged);
            return staged;
        });
}

void TextBackend::take(const std::string& who, Done done)
{
    ask("take the staged routes", who, std::move(done), [&](const Caller& caller, MatrixUnit::Done ended) {
        return unit_.take(caller,
                          [ended = std::move(ended)](const Outcome& outcome, const TakeOutcome&) { ended(outcome); });
    });
}

void TextBackend::clearPending(const std::string& who, Done done)
{
    ask("clear the staged routes", who, std::move(done), [&](const Caller& caller, MatrixUnit::Done ended) {
        Outcome cleared = unit_.clearPending(caller);
        if (cleared.ok())
            ended(cleared);
        return cleared;
    });
}

void TextBackend::onHubEvent(const HubEvent& event)
{
    if (eventMatrix(event) != unit_.id() || !onEvent_)
        return;
    std::visit(
        [this](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            Event out;
            if constexpr (std::is_same_v<E, RoutingChanged>) {
                if (!e.input)
                    return;
                out.kind = Event::Kind::Route;
                out.port = e.output;
                out.input = *e.input;
                onEvent_(out);
            } else if constexpr (std::is_same_v<E, LinkChanged>) {
                out.kind = Event::Kind::Link;
                out.on = e.up;
                onEvent_(out);
            } else if constexpr (std::is_same_v<E, CableChanged>) {
                if (!e.cable)
                    return;
                out.kind = Event::Kind::Cable;
                out.onInput = e.side == PortSide::Input;
                out.port = e.number;
                out.on = *e.cable;
                onEvent_(out);
            } else if constexpr (std::is_same_v<E, BeepChanged>) {
                if (!e.on)
                    return;
                out.kind = Event::Kind::Beep;
                out.on = *e.on;
                onEvent_(out);
            } else if constexpr (std::is_same_v<E, NamesChanged>) {
                // The event carries every name; the protocol tells the ones that changed.
                out.kind = Event::Kind::Name;
                for (const bool input : {true, false}) {
                    auto& announced = input ? inputNames_ : outputNames_;
                    const auto& now = input ? e.inputs : e.outputs;
                    for (int p = 1; p <= kPorts; ++p) {
                        if (now[p - 1] == announced[p - 1])
                            continue;
                        announced[p - 1] = now[p - 1];
                        out.onInput = input;
                        out.port = p;
                        out.text = now[p - 1];
                        onEvent_(out);
                    }
                }
            } else if constexpr (std::is_same_v<E, SceneActive>) {
                // The scene the routing is now, as a control surface lights its button.
                out.kind = Event::Kind::Scene;
                out.on = e.active.has_value();
                out.text = e.active.value_or("");
                onEvent_(out);
            }
        },
        event);
}

}  // namespace matrix::service::text
