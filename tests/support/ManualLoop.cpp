// SPDX-License-Identifier: Apache-2.0
#include "tests/support/ManualLoop.h"

namespace matrix {

void ManualLoop::startTimer(TimerOwner owner, int id, int periodMs, std::function<void()> onFire)
{
    if (periodMs < 1)
        periodMs = 1;
    timers_[{owner, id}] = Timer{now_ + periodMs, periodMs, sequence_++, std::move(onFire)};
}

void ManualLoop::killTimer(TimerOwner owner, int id) { timers_.erase({owner, id}); }

bool ManualLoop::isTimerRunning(TimerOwner owner, int id) const { return timers_.count({owner, id}) != 0; }

void ManualLoop::post(std::function<void()> task) { posted_.push_back(std::move(task)); }

std::size_t ManualLoop::runningTimerCount(TimerOwner owner) const
{
    std::size_t count = 0;
    for (const auto& [key, timer] : timers_)
        count += key.first == owner ? 1 : 0;
    return count;
}

void ManualLoop::runPending()
{
    while (!posted_.empty()) {
        auto task = std::move(posted_.front());
        posted_.pop_front();
        task();
    }
}

void ManualLoop::advance(std::int64_t ms)
{
    const std::int64_t target = now_ + ms;
    runPending();
    for (;;) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.dueMs > target)
                continue;
            if (next == timers_.end() || it->second.dueMs < next->second.dueMs ||
                (it->second.dueMs == next->second.dueMs && it->second.sequence < next->second.sequence))
                next = it;
        }
        if (next == timers_.end())
            break;
        now_ = next->second.dueMs;
        next->second.dueMs += next->second.periodMs;
        next->second.sequence = sequence_++;
        // Copy: the handler may kill or restart its own timer.
        auto onFire = next->second.onFire;
        onFire();
        runPending();
    }
    now_ = target;
    runPending();
}

bool ManualLoop::advanceUntil(const std::function<bool()>& pred, std::int64_t maxMs, std::int64_t stepMs)
{
    runPending();
    for (std::int64_t spent = 0; !pred(); spent += stepMs) {
        if (spent >= maxMs)
            return false;
        advance(stepMs);
    }
    return true;
}

}  // namespace matrix
