// SPDX-License-Identifier: Apache-2.0
#include "platform/QtEventLoop.h"

#include <QMetaObject>
#include <QTimer>

namespace matrix {

QtEventLoop::QtEventLoop(QObject* parent) : QObject(parent) { clock_.start(); }

QtEventLoop::~QtEventLoop()
{
    for (auto& [key, entry] : timers_)
        delete entry.timer;
}

void QtEventLoop::startTimer(TimerOwner owner, int id, int periodMs, std::function<void()> onFire)
{
    auto key = std::make_pair(owner, id);
    auto it = timers_.find(key);
    if (it == timers_.end()) {
        Entry entry;
        entry.timer = new QTimer(this);
        entry.timer->setTimerType(Qt::PreciseTimer);
        it = timers_.emplace(key, entry).first;
    }
    Entry& entry = it->second;
    // A fresh callback object each start: a handler that restarts its own
    // timer must not destroy the function it is running in.
    entry.onFire = std::make_shared<std::function<void()>>(std::move(onFire));
    entry.timer->disconnect();
    auto callback = entry.onFire;
    connect(entry.timer, &QTimer::timeout, this, [callback] { (*callback)(); });
    entry.timer->start(periodMs < 1 ? 1 : periodMs);
}

void QtEventLoop::killTimer(TimerOwner owner, int id)
{
    auto it = timers_.find({owner, id});
    if (it == timers_.end())
        return;
    it->second.timer->stop();
    it->second.timer->disconnect();
    // Deleted later: the timer may be the one whose handler is running now.
    it->second.timer->deleteLater();
    timers_.erase(it);
}

bool QtEventLoop::isTimerRunning(TimerOwner owner, int id) const { return timers_.count({owner, id}) != 0; }

void QtEventLoop::post(std::function<void()> task)
{
    QMetaObject::invokeMethod(
        this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

std::int64_t QtEventLoop::nowMs() const { return clock_.elapsed(); }

}  // namespace matrix
