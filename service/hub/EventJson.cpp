// SPDX-License-Identifier: Apache-2.0
#include "service/hub/EventJson.h"

namespace matrix::service {

namespace {

using Json = nlohmann::json;

template <typename T>
Json orNull(const std::optional<T>& value)
{
    return value ? Json(*value) : Json(nullptr);
}

Json fields(const LinkChanged& e) { return {{"type", "link"}, {"link", e.up ? "up" : "down"}}; }
Json fields(const MatrixReady&) { return nullptr; }
Json fields(const InfoChanged& e)
{
    return {{"type", "info"}, {"model", orNull(e.model)}, {"version", orNull(e.version)}};
}
Json fields(const RoutingChanged& e) { return {{"type", "routing"}, {"output", e.output}, {"input", orNull(e.input)}}; }
Json fields(const CableChanged& e)
{
    return {{"type", "cable"},
            {"port", e.side == PortSide::Input ? "input" : "output"},
            {"number", e.number},
            {"cable", orNull(e.cable)}};
}
Json fields(const BeepChanged& e) { return {{"type", "beep"}, {"on", orNull(e.on)}}; }
Json fields(const EdidChanged& e) { return {{"type", "edid"}, {"input", e.input}, {"code", e.code}, {"text", e.text}}; }
Json fields(const StandbySeen&) { return {{"type", "standby"}}; }
Json fields(const FirmwareProgress& e)
{
    Json json{{"type", "firmware"}, {"done", e.done}, {"total", e.total}};
    if (!e.line.empty())
        json["line"] = e.line;
    return json;
}
Json fields(const FirmwareFinished& e)
{
    // The page says how far it got from the last event alone.
    Json json{{"type", "firmware"}, {"state", e.ok ? "done" : "failed"}, {"done", e.done}, {"total", e.total}};
    if (!e.ok)
        json["error"] = e.error;
    return json;
}
Json fields(const NamesChanged& e) { return {{"type", "names"}, {"inputs", e.inputs}, {"outputs", e.outputs}}; }
Json fields(const ScenesChanged& e) { return {{"type", "scenes"}, {"scenes", e.scenes}}; }
Json fields(const SceneRecalled& e) { return {{"type", "recall"}, {"scene", e.scene}}; }
Json fields(const LockChanged& e)
{
    return {{"type", "lock"}, {"output", e.output}, {"locked", e.owner != 0}, {"owner", e.owner}};
}

Json fields(const SceneActive& e) { return {{"type", "scene"}, {"active", orNull(e.active)}}; }
Json fields(const PendingChanged& e) { return {{"type", "pending"}, {"pending", pendingJson(e.routes)}}; }
Json fields(const ScheduleRan& e)
{
    return {{"type", "schedule"}, {"name", e.name}, {"scene", e.scene}, {"result", e.result}};
}
Json fields(const SchedulesChanged& e) { return {{"type", "schedules"}, {"schedules", e.schedules}}; }

}  // namespace

Json pendingJson(const std::map<int, int>& routes)
{
    Json json = Json::object();
    for (const auto& [output, input] : routes)
        json[std::string(1, static_cast<char>('A' + output - 1))] = input;
    return json;
}

Json eventJson(const HubEvent& event)
{
    Json json = std::visit([](const auto& e) { return fields(e); }, event);
    if (!json.is_null())
        json["matrix"] = eventMatrix(event);
    return json;
}

}  // namespace matrix::service
