// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"

#include <QElapsedTimer>
#include <QObject>

#include <map>
#include <memory>
#include <utility>

class QTimer;

namespace matrix {

// The core's event loop on the Qt event loop of the calling thread.
class QtEventLoop : public QObject, public EventLoop {
    Q_OBJECT
public:
    explicit QtEventLoop(QObject* parent = nullptr);
    ~QtEventLoop() override;

    void startTimer(TimerOwner owner, int id, int periodMs, std::function<void()> onFire) override;
    void killTimer(TimerOwner owner, int id) override;
    bool isTimerRunning(TimerOwner owner, int id) const override;
    void post(std::function<void()> task) override;
    std::int64_t nowMs() const override;

private:
    struct Entry {
        QTimer* timer = nullptr;
        std::shared_ptr<std::function<void()>> onFire;
    };
    std::map<std::pair<TimerOwner, int>, Entry> timers_;
    QElapsedTimer clock_;
};

}  // namespace matrix
