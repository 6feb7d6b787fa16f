// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace matrix::service {

// What a token may do. Each role includes the ones before it.
enum class Role { Viewer, Operator, Admin };

// Everything a front-end can ask of a matrix, as far as rights go.
enum class Operation {
    Read,    // state, names, scenes: any GET
    Events,  // the event stream
    Route,   // one output or the whole routing
    Recall,  // a scene
    Beep,
    Rename,  // inputs and outputs
    SceneSave,
    SceneDelete,
    Edid,
    Firmware,
    FactoryReset,
    Locks,
    PendingTake,  // step-by-step routing: stage and take
    Schedules,
};

bool allows(Role role, Operation operation);

// "viewer", "operator", "admin" (as in the config file).
std::optional<Role> parseRole(std::string_view text);
std::string_view roleName(Role role);

}  // namespace matrix::service
