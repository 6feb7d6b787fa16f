// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"

#include <nlohmann/json.hpp>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service {

class Hub;

// Who holds an output lock: 0 is nobody; front-ends that lock (Videohub
// connections) take a unique id from Hub::newLockOwner().
using LockOwner = int;

// A saved routing: scene name -> input per output (1..4; 0 leaves the output as it is).
using SceneRouting = std::array<int, client::kPortCount>;

// Why a route asked through the hub did not happen, beyond the client's statuses.
enum class RouteRefusal { None, Locked };

// One configured matrix as every front-end sees it: its client (state model
// and request queue), its names, scenes and output locks. Loop thread only.
// Front-ends never keep a copy of its state: they read it here and send
// requests through it, so a change from any side reaches all of them.
class MatrixUnit {
public:
    const std::string& id() const;
    const std::string& name() const;
    client::MatrixClient& client();
    const client::MatrixState& state() const;

    // Names (configured, or renamed at run time and kept in the state file).
    std::string inputName(int input) const;    // 1..4
    std::string outputName(int output) const;  // 1..4
    void renameInput(int input, const std::string& name);    // emits {"type":"names",...}
    void renameOutput(int output, const std::string& name);
    // "2", or an input's name (case-sensitive exact match first, then case-insensitive).
    std::optional<int> findInput(std::string_view text) const;
    // "2", "B"/"b", or an output's name.
    std::optional<int> findOutput(std::string_view text) const;

    // Routes unless another owner holds the output's lock (done gets Locked
    // and nothing is sent). `who` is the caller's lock id (0 for HTTP/MQTT).
    void route(int output, int input, LockOwner who,
               std::function<void(client::Status, RouteRefusal)> done);

    // Output locks (Videohub). lockOwner() is 0 when unlocked.
    LockOwner lockOwner(int output) const;
    void setLock(int output, LockOwner owner);  // 0 unlocks; emits {"type":"lock",...}
    void releaseLocks(LockOwner owner);         // a Videohub connection went away

    // Scenes, kept in the state file.
    std::vector<std::string> sceneNames() const;
    std::optional<SceneRouting> scene(const std::string& name) const;
    void saveScene(const std::string& name, const SceneRouting& routing);  // emits {"type":"scenes",...}
    bool deleteScene(const std::string& name);
    // Routes every output of the scene in order; ends at the first failure.
    void recallScene(const std::string& name, LockOwner who,
                     std::function<void(client::Status, RouteRefusal)> done);

    // The object GET /api/v1/matrices/{id} answers (names, cables, routing, EDID, ...).
    nlohmann::json toJson() const;
    // {"id","name","link"} for the list.
    nlohmann::json summaryJson() const;
};

}  // namespace matrix::service
