// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "service/hub/ActiveScene.h"
#include "service/hub/Config.h"
#include "service/hub/HubEvent.h"
#include "service/hub/Names.h"
#include "service/hub/Outcome.h"
#include "service/hub/PendingRouting.h"
#include "service/hub/Scheduler.h"
#include "service/hub/WallClock.h"

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

// One configured matrix as every front-end sees it, and the one place where
// operations are asked for: its client (state model and request queue), its
// names, scenes and output locks. Loop thread only. Front-ends never keep a
// copy of its state: they read it here and ask through it, so a change from
// any side reaches all of them, and the rules (names, locks, firmware
// running, link down) are checked here once.
//
// An operation takes the Caller and answers with an Outcome:
// - a role that does not cover it is NotAllowed, before anything else;
// - a refusal comes back at once, and then nothing was sent and `done` is
//   never called;
// - Refusal::None from one that talks to the matrix means it was accepted:
//   `done` (may be empty) is called exactly once when it ends, maybe with a
//   failure such as TimeOut, and maybe before the call returns (a scene with
//   nothing to route). Operations without a `done` are complete when they
//   return.
// Changes reach every front-end as HubEvents through the Hub; each accepted
// change is logged with who asked (token or front-end, and peer).
class MatrixUnit {
public:
    using Done = std::function<void(const Outcome&)>;
    using Route = service::Route;
    using Rename = std::pair<int, std::string>;  // port 1..4, new name

    // The unit owns its client; `store` (may be null in tests) keeps names,
    // scenes and schedules; `clock` is the wall clock schedules follow.
    MatrixUnit(Hub& hub, EventLoop& loop, const MatrixConfig& config, std::unique_ptr<client::MatrixClient> client,
               StateStore* store, const WallClock& clock = systemWallClock());
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
    // The link is up and the routing has been read since it came up.
    bool ready() const { return ready_; }
    bool firmwareRunning() const;

    // Names (configured, or renamed at run time and kept in the state file).
    std::string inputName(int input) const;    // 1..4
    std::string outputName(int output) const;  // 1..4
    const PortNames& inputNames() const { return inputNames_; }
    const PortNames& outputNames() const { return outputNames_; }
    // An input's name (exact match first, then ignoring case), or "2".
    std::optional<int> findInput(std::string_view text) const;
    // An output's name, "2", or "B"/"b".
    std::optional<int> findOutput(std::string_view text) const;
    LockOwner lockOwner(int output) const;  // 0 when unlocked

    // --- Operations ---------------------------------------------------------
    Outcome route(const Caller& caller, int output, int input, Done done);
    // Routes in order and stops at the first failure. Every output's lock is
    // checked before anything is sent. `each` (optional) hears every step,
    // the ones not tried after a failure too, with that failure.
    Outcome routeSteps(const Caller& caller, std::vector<Route> steps, Done done,
                       std::function<void(int output, const Outcome&)> each = {});
    // Every output to `input` with the matrix's one all-outputs command; no
    // output may be locked by someone else.
    Outcome routeAll(const Caller& caller, int input, Done done);
    // Routes every output of the scene in order; a scene with any locked
    // output sends nothing at all.
    Outcome recallScene(const Caller& caller, const std::string& name, Done done);
    Outcome setBeep(const Caller& caller, bool on, Done done);
    Outcome factoryReset(const Caller& caller, Done done);
    // EDID of `target` (an input 1..4, 0 for all). After a change the status
    // is read again before `done`, so answers and events show what the inputs hold.
    Outcome setEdidMode(const Caller& caller, int modeRow, int target, Done done);
    Outcome copyEdid(const Caller& caller, int fromOutput, int target, Done done);
    Outcome uploadEdid(const Caller& caller, const std::vector<std::uint8_t>& file, int target, Done done);
    // Accepted: the upgrade runs; FirmwareProgress events, then FirmwareFinished, then `done`.
    Outcome upgradeFirmware(const Caller& caller, const std::vector<std::uint8_t>& container, Done done);

    // Renames ports of one side at once (a swap is fine); the names rule.
    Outcome rename(const Caller& caller, PortSide side, const std::vector<Rename>& renames);
    // Scenes, kept in the state file; StorageFailed when it could not be
    // written, LimitReached for a new one past kMaxScenes.
    static constexpr std::size_t kMaxScenes = 256;  // each one is in every GET of the matrix
    Outcome saveScene(const Caller& caller, const std::string& name, const SceneRouting& routing);
    // A scene that a schedule recalls is InUse, naming the schedules.
    Outcome deleteScene(const Caller& caller, const std::string& name);

    // Staged routes: one pending routing per matrix, shared by every
    // front-end, as on a router panel with a take button. Staging is checked
    // like a route (ports, locks), all or nothing, and sends nothing.
    Outcome stage(const Caller& caller, const std::vector<Route>& routes);
    Outcome clearPending(const Caller& caller);
    const std::map<int, int>& pending() const { return pending_.staged(); }
    // Sends the staged routes in output order as one queued job: the next
    // request waits behind all of them. Every output's lock is checked first.
    // What went through is unstaged; after a fault the failed and unsent
    // routes stay staged for another take. `done` hears what was sent.
    using TakeDone = std::function<void(const Outcome&, const TakeOutcome&)>;
    Outcome take(const Caller& caller, TakeDone done);

    // Schedules, kept in the state file: recall `scene` at "HH:MM" local time
    // on `days`. BadInput for what does not check (or names no scene),
    // LimitReached for a new one past kSchedulesPerMatrixMax.
    Outcome putSchedule(const Caller& caller, const std::string& name, const std::string& scene, const std::string& at,
                        const std::vector<std::string>& days);
    Outcome deleteSchedule(const Caller& caller, const std::string& name);
    std::vector<Schedule> schedules() const { return scheduler_->schedules(); }
    std::vector<std::string> scheduleNames() const;
    std::optional<Schedule> findSchedule(const std::string& name) const { return scheduler_->find(name); }
    // {"name","scene","at","days","next_run"} (next_run ISO 8601 with offset; null while stopped).
    nlohmann::json scheduleJson(const Schedule& schedule) const;

    // The scene whose routing the matrix carries now (see ActiveScene).
    const std::optional<std::string>& activeScene() const { return active_.current(); }

    // Output locks (held by Videohub connections). A refused change is
    // Locked; one that changes nothing is done.
    Outcome lock(const Caller& caller, int output, LockAction action);
    void releaseLocks(LockOwner owner);  // a connection went away

    std::vector<std::string> sceneNames() const;
    std::optional<SceneRouting> scene(const std::string& name) const;

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
    void updateActiveScene();
    void publishPending();
    void runSchedule(const ScheduleRun& run);
    void poll();
    void publish(HubEvent event);
    void loadState();
    bool persist();
    Outcome keepSceneChange(const Caller& caller, const std::string& name, const std::optional<SceneRouting>& previous);
    // NotAllowed when the caller's role does not cover `operation`.
    static Outcome permit(const Caller& caller, Operation operation);
    // The log line of an accepted change: what, and who asked.
    void audit(const Caller& caller, const std::string& what) const;
    Outcome startSteps(const Caller& caller, std::vector<Route> steps, Done done,
                       std::function<void(int output, const Outcome&)> each);
    // Refusals shared by the operations that talk to the matrix.
    Outcome readiness() const;
    bool lockedFor(const Caller& caller, int output) const;
    void setLock(int output, LockOwner owner);
    void step(const Caller& caller, std::shared_ptr<std::vector<Route>> steps, std::size_t next, Done done,
              std::function<void(int output, const Outcome&)> each);
    Done edidDone(Done done);

    Hub& hub_;
    EventLoop& loop_;
    MatrixConfig config_;
    std::unique_ptr<client::MatrixClient> client_;
    StateStore* store_;
    PortNames inputNames_;
    PortNames outputNames_;
    std::array<LockOwner, client::kPortCount> locks_{};
    ActiveScene::Scenes scenes_;
    ActiveScene active_;
    PendingRouting pending_;
    const WallClock& clock_;
    std::unique_ptr<Scheduler> scheduler_;
    bool started_ = false;
    bool ready_ = false;
    bool firmwareActive_ = false;  // from the accepted upload until its end
    client::FirmwareProgress lastProgress_;
};

}  // namespace matrix::service
