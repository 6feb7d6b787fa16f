// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "service/hub/Config.h"

#include <nlohmann/json.hpp>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service {

class Hub;
class StateStore;

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
    // The unit owns its client; `store` (may be null in tests) keeps names and scenes.
    MatrixUnit(Hub& hub, EventLoop& loop, const MatrixConfig& config, std::unique_ptr<client::MatrixClient> client,
               StateStore* store);
    ~MatrixUnit();
    MatrixUnit(const MatrixUnit&) = delete;
    MatrixUnit& operator=(const MatrixUnit&) = delete;

    // Opens the link (supervised: it keeps being retried) and starts polling.
    void start();
    // Stops polling and closes the link; queued requests end with LinkDown.
    void stop();
    const MatrixConfig& config() const { return config_; }
    // The loop every front-end of this matrix runs on (for their own timers).
    EventLoop& loop() { return loop_; }

    const std::string& id() const;
    const std::string& name() const;
    client::MatrixClient& client();
    const client::MatrixState& state() const;

    // Names (configured, or renamed at run time and kept in the state file).
    std::string inputName(int input) const;    // 1..4
    std::string outputName(int output) const;  // 1..4
    // A rename applies only once the state file holds it: false, and the old
    // name stays, when the save failed. Emits {"type":"names",...}.
    bool renameInput(int input, const std::string& name);
    bool renameOutput(int output, const std::string& name);
    // Several ports of one side in one save (a Videohub label block): all or none.
    using PortRenames = std::vector<std::pair<int, std::string>>;
    bool renamePorts(bool inputs, const PortRenames& renames);
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
    // Scenes a matrix keeps at most: each one is in every GET of the matrix.
    static constexpr std::size_t kMaxScenes = 256;
    // True when `name` is a new scene and the matrix already has kMaxScenes.
    bool sceneLimitReached(const std::string& name) const;
    // Emits {"type":"scenes",...}; false when the state file could not be
    // written, or past the limit (the scene is then not kept).
    bool saveScene(const std::string& name, const SceneRouting& routing);
    bool deleteScene(const std::string& name);
    // Routes every output of the scene in order; ends at the first failure.
    void recallScene(const std::string& name, LockOwner who,
                     std::function<void(client::Status, RouteRefusal)> done);

    // The object GET /api/v1/matrices/{id} answers (names, cables, routing, EDID, ...).
    nlohmann::json toJson() const;
    // {"id","name","link"} for the list.
    nlohmann::json summaryJson() const;
    // {"1": input, ...} per output letter: {"A":2,"B":1,...} (null where unknown).
    nlohmann::json routingJson() const;
    nlohmann::json outputJson(int output) const;

private:
    void onClientChange(const client::StateChange& change);
    void onLinkUp();
    void poll();
    void publish(nlohmann::json event);
    void loadState();
    bool persist();
    using PortNames = std::array<std::string, client::kPortCount>;
    void recallStep(std::shared_ptr<SceneRouting> routing, int output, LockOwner who,
                    std::function<void(client::Status, RouteRefusal)> done);

    Hub& hub_;
    EventLoop& loop_;
    MatrixConfig config_;
    std::unique_ptr<client::MatrixClient> client_;
    StateStore* store_;
    PortNames inputNames_;
    PortNames outputNames_;
    std::array<LockOwner, client::kPortCount> locks_{};
    std::map<std::string, SceneRouting> scenes_;
    bool started_ = false;
};

}  // namespace matrix::service
