// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"

#include <functional>
#include <set>

namespace matrix {

// A timer id together with the period it always runs at.
struct TimerPeriod {
    int id;
    int periodMs;
};

// The timers of one page or window, addressed by the small integer ids the
// behaviour is written in, so that "kill timers 1 to 79" stays a range.
class TimerSet {
public:
    explicit TimerSet(EventLoop& loop);
    ~TimerSet();
    TimerSet(const TimerSet&) = delete;
    TimerSet& operator=(const TimerSet&) = delete;

    // Handler used for ids started without their own callback.
    void setHandler(std::function<void(int id)> handler);

    void start(int id, int periodMs);
    void start(int id, int periodMs, std::function<void()> onFire);
    void start(TimerPeriod timer) { start(timer.id, timer.periodMs); }
    void kill(int id);
    void killRange(int firstId, int lastId);
    bool isRunning(int id) const;
    bool anyRunning() const;

    EventLoop& loop() { return loop_; }

private:
    EventLoop& loop_;
    std::function<void(int)> handler_;
    std::set<int> started_;  // ids that may still run, so teardown kills only ours
};

}  // namespace matrix
