// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>

namespace matrix {

// The one thread that runs pages, timers and I/O events. Timers behave like
// window timers: they repeat every period until killed, and starting an id
// that is already running restarts it with the new period.
class EventLoop {
public:
    using TimerOwner = const void*;

    virtual ~EventLoop() = default;

    virtual void startTimer(TimerOwner owner, int id, int periodMs, std::function<void()> onFire) = 0;
    virtual void killTimer(TimerOwner owner, int id) = 0;
    virtual bool isTimerRunning(TimerOwner owner, int id) const = 0;

    // Runs the task later on the loop thread, after the current handler returns.
    virtual void post(std::function<void()> task) = 0;

    // Milliseconds on a monotonic clock (virtual in tests).
    virtual std::int64_t nowMs() const = 0;
};

}  // namespace matrix
