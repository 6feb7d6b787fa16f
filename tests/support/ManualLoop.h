// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <utility>

namespace matrix {

// Virtual time for tests: nothing happens until advance() moves the clock.
// Posted tasks run first, then due timers in due-time order (ties in the
// order they were started), each one re-armed by its period before it runs.
class ManualLoop : public EventLoop {
public:
    void startTimer(TimerOwner owner, int id, int periodMs, std::function<void()> onFire) override;
    void killTimer(TimerOwner owner, int id) override;
    bool isTimerRunning(TimerOwner owner, int id) const override;
    void post(std::function<void()> task) override;
    std::int64_t nowMs() const override { return now_; }

    // Runs posted tasks (and what they post) without moving the clock.
    void runPending();
    // Moves the clock forward, firing every timer that falls due on the way.
    void advance(std::int64_t ms);
    // Advances until pred() holds or maxMs have passed; true if it held.
    bool advanceUntil(const std::function<bool()>& pred, std::int64_t maxMs, std::int64_t stepMs = 1);

    std::size_t runningTimerCount() const { return timers_.size(); }
    std::size_t runningTimerCount(TimerOwner owner) const;

private:
    struct Timer {
        std::int64_t dueMs;
        int periodMs;
        std::uint64_t sequence;
        std::function<void()> onFire;
    };
    using Key = std::pair<TimerOwner, int>;
    std::map<Key, Timer> timers_;
    std::deque<std::function<void()>> posted_;
    std::int64_t now_ = 0;
    std::uint64_t sequence_ = 0;
};

}  // namespace matrix
