// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"
#include "core/protocol/Waits.h"
#include "core/transport/TimerSet.h"

#include <functional>

namespace matrix {

// The General page's query chain: device type, matrix size, version, then
// the cable state of inputs and outputs 1..4 in turn (IN1, OUT1, IN2, ...).
// Step s waits on timer 1 + 2s; when that runs out the query is sent once
// more and timer 2 + 2s waits; when that runs out too the run gives up.
class StatusChain {
public:
    enum Step { DeviceType = 0, MatrixSize = 1, Version = 2, FirstPort = 3 };
    static constexpr int kQueriedPorts = 4;
    static constexpr int kFirstTimer = 1;
    static constexpr int kLastTimer = 2 + 2 * (FirstPort + 2 * kQueriedPorts - 1);
    static constexpr int kReplyTimeoutMs = protocol::kReplyWaits.firstMs;

    static constexpr int inputStep(int port) { return FirstPort + 2 * (port - 1); }
    static constexpr int outputStep(int port) { return FirstPort + 1 + 2 * (port - 1); }
    static constexpr int lastStep() { return outputStep(kQueriedPorts); }
    static constexpr int firstTimer(int step) { return kFirstTimer + 2 * step; }
    static constexpr bool ownsTimer(int id) { return id >= kFirstTimer && id <= kLastTimer; }

    StatusChain(TimerSet& timers, std::function<void(const CommandFrame&)> send)
        : timers_(timers), send_(std::move(send))
    {
    }

    // Sends the step's query and starts its first wait.
    void ask(int step);
    bool waits(int step) const;
    // The step's answer came: both its waits stop.
    void answered(int step);
    // A wait ran out. After the first the query goes again; returns true
    // after the second, when the run gives up.
    bool expired(int timerId);
    void stop() { timers_.killRange(kFirstTimer, kLastTimer); }

private:
    TimerSet& timers_;
    std::function<void(const CommandFrame&)> send_;
};

}  // namespace matrix
