// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"
#include "service/hub/Schedule.h"
#include "service/hub/WallClock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace matrix::service {

enum class ScheduleResult { Done, Failed, Missed };
const char* scheduleResultText(ScheduleResult result);  // "done", "failed", "missed"

struct ScheduleRun {
    std::string name;
    std::string scene;
    ScheduleResult result = ScheduleResult::Done;
    std::int64_t dueUnixSeconds = 0;  // the time the run was for
    std::string detail;               // why it failed or was missed
};

// Runs one matrix's schedules on the loop. A run due while the link is down
// waits up to `catchUpMinutes` for the link to return, then is missed. Only
// runs due after start() happen: nothing is replayed for the time the
// service was stopped.
class Scheduler {
public:
    struct Hooks {
        std::function<bool()> linkUp;
        // Recalls the scene; done(true) once the matrix carries it. Must call done exactly once.
        std::function<void(const std::string& scene, std::function<void(bool ok, std::string why)> done)> recall;
        // Every run and every miss.
        std::function<void(const ScheduleRun&)> report;
    };

    Scheduler(EventLoop& loop, const WallClock& clock, int catchUpMinutes, Hooks hooks);
    ~Scheduler();
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    void start();
    void stop();

    // Adds or replaces by name; an error text when the matrix already keeps
    // the most it may. A run of the old version that waits for the link is dropped.
    std::optional<std::string> put(const Schedule& schedule);
    bool remove(const std::string& name);
    std::vector<Schedule> schedules() const;  // by name
    std::optional<Schedule> find(const std::string& name) const;
    // The names of the schedules that recall `scene` (a scene they name is not deleted).
    std::vector<std::string> naming(const std::string& scene) const;

    // When the next run is due (unset while stopped).
    std::optional<std::int64_t> nextRunUnixSeconds(const std::string& name) const;
    // The same as ISO 8601 local time with its offset.
    std::optional<std::string> nextRunText(const std::string& name) const;

    // Call when the link comes up: waiting runs within their window go now.
    void linkUp();

private:
    struct Entry {
        Schedule schedule;
        std::int64_t nextUnixSeconds = 0;
    };
    struct Waiting {
        std::string scene;
        std::int64_t dueUnixSeconds;
    };

    std::int64_t nowSeconds() const;
    void wake();
    void arm();
    void run(const std::string& name, const std::string& scene, std::int64_t dueUnixSeconds);
    void missExpired(std::int64_t now);

    EventLoop& loop_;
    const WallClock& clock_;
    std::int64_t catchUpSeconds_;
    Hooks hooks_;
    std::map<std::string, Entry> entries_;
    std::map<std::string, Waiting> waiting_;
    bool started_ = false;
    // Recalls answer later; they must not reach a scheduler that is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace matrix::service
