// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "service/hub/Outcome.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace matrix::service {

// What the hub tells its front-ends. Each event names its matrix and carries
// the values a front-end writes, so none has to read them back. Each
// front-end turns them into its own wire form: SSE JSON (eventJson), MQTT
// topics (MqttMapping::event), Videohub blocks (VideohubServer).

struct LinkChanged {
    std::string matrix;
    bool up = false;
};

// The link came up and the matrix's routing has been read since: what a
// client that shows a whole dump (Videohub) waits for. No SSE form.
struct MatrixReady {
    std::string matrix;
};

struct InfoChanged {
    std::string matrix;
    std::optional<std::string> model;
    std::optional<std::string> version;
};

struct RoutingChanged {
    std::string matrix;
    int output = 0;            // 1..4
    std::optional<int> input;  // 1..4; empty when unknown
};

enum class PortSide { Input, Output };

struct CableChanged {
    std::string matrix;
    PortSide side = PortSide::Input;
    int number = 0;  // 1..4
    std::optional<bool> cable;
};

struct BeepChanged {
    std::string matrix;
    std::optional<bool> on;
};

struct EdidChanged {
    std::string matrix;
    int input = 0;  // 1..4
    int code = 0;
    std::string text;
};

struct StandbySeen {
    std::string matrix;
};

struct FirmwareProgress {
    std::string matrix;
    std::int64_t done = 0;  // bytes sent
    std::int64_t total = 0;
    std::string line;  // the message line of the step, when there is one
};

// The upgrade ended: how far it got and how.
struct FirmwareFinished {
    std::string matrix;
    bool ok = false;
    std::string error;  // why it failed
    std::int64_t done = 0;
    std::int64_t total = 0;
};

struct NamesChanged {
    std::string matrix;
    std::array<std::string, client::kPortCount> inputs;
    std::array<std::string, client::kPortCount> outputs;
};

struct ScenesChanged {
    std::string matrix;
    std::vector<std::string> scenes;
};

// A scene was recalled and every one of its routes went through. SSE type
// "recall": "scene" is the active scene of a matrix.
struct SceneRecalled {
    std::string matrix;
    std::string scene;
};

struct LockChanged {
    std::string matrix;
    int output = 0;       // 1..4
    LockOwner owner = 0;  // 0: unlocked
};

// The scene whose routing the matrix carries now changed (empty: none).
struct SceneActive {
    std::string matrix;
    std::optional<std::string> active;
};

// The staged routes, shared by everyone, changed: input per output (1..4).
struct PendingChanged {
    std::string matrix;
    std::map<int, int> routes;
};

// A schedule ran, or was missed.
struct ScheduleRan {
    std::string matrix;
    std::string name;
    std::string scene;
    std::string result;  // "done", "failed", "missed"
};

// A schedule was added, replaced or removed: the names now kept.
struct SchedulesChanged {
    std::string matrix;
    std::vector<std::string> schedules;
};

using HubEvent = std::variant<LinkChanged, MatrixReady, InfoChanged, RoutingChanged, CableChanged, BeepChanged,
                              EdidChanged, StandbySeen, FirmwareProgress, FirmwareFinished, NamesChanged, ScenesChanged,
                              SceneRecalled, LockChanged, SceneActive, PendingChanged, ScheduleRan, SchedulesChanged>;

// The matrix id every event carries.
inline const std::string& eventMatrix(const HubEvent& event)
{
    return std::visit([](const auto& e) -> const std::string& { return e.matrix; }, event);
}

}  // namespace matrix::service
