// SPDX-License-Identifier: Apache-2.0
#include "core/transport/TimerSet.h"

namespace matrix {

TimerSet::TimerSet(EventLoop& loop) : loop_(loop) {}

TimerSet::~TimerSet()
{
    for (int id : started_)
        loop_.killTimer(this, id);
}

void TimerSet::setHandler(std::function<void(int id)> handler) { handler_ = std::move(handler); }

void TimerSet::start(int id, int periodMs)
{
    start(id, periodMs, [this, id] {
        if (handler_)
            handler_(id);
    });
}

void TimerSet::start(int id, int periodMs, std::function<void()> onFire)
{
    started_.insert(id);
    loop_.startTimer(this, id, periodMs, std::move(onFire));
}

void TimerSet::kill(int id)
{
    loop_.killTimer(this, id);
    started_.erase(id);
}

void TimerSet::killRange(int firstId, int lastId)
{
    for (auto it = started_.lower_bound(firstId); it != started_.end() && *it <= lastId;) {
        loop_.killTimer(this, *it);
        it = started_.erase(it);
    }
}

bool TimerSet::isRunning(int id) const { return loop_.isTimerRunning(this, id); }

bool TimerSet::anyRunning() const
{
    for (int id : started_)
        if (loop_.isTimerRunning(this, id))
            return true;
    return false;
}

}  // namespace matrix
