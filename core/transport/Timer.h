// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"

#include <functional>

namespace matrix {

// One timer held as an object instead of a numbered id: the owner cannot
// pair it with the wrong period or forget it, and it stops when the object
// goes. `once` fires a single time; starting it again restarts it.
class Timer {
public:
    explicit Timer(EventLoop& loop) : loop_(loop) {}
    ~Timer() { stop(); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void once(int ms, std::function<void()> onFire)
    {
        loop_.startTimer(this, kId, ms, [this, onFire = std::move(onFire)] {
            // The loop's timers repeat: stop first, so that onFire may start it again.
            auto fire = onFire;
            stop();
            fire();
        });
    }
    void stop() { loop_.killTimer(this, kId); }
    bool running() const { return loop_.isTimerRunning(this, kId); }

private:
    static constexpr int kId = 1;
    EventLoop& loop_;
};

}  // namespace matrix
