// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"
#include "core/protocol/Waits.h"
#include "core/transport/TimerSet.h"

#include <functional>

namespace matrix {

// The factory reset's seven acknowledged steps: input n to output n on the
// four outputs, the EDID mode request, the built-in EDID mode on all
// inputs, the beep on. Each step waits on a pair of timers: after the first
// runs out the step is sent again, after the second the reset gives up.
class FactoryReset {
public:
    static constexpr int kSteps = 7;
    static constexpr int kAnimationTimer = 100;
    static constexpr int kLastTimer = 122;  // the beep step's second wait
    static constexpr int kReplyTimeoutMs = protocol::kReplyWaits.firstMs;

    // The first timer of a step's pair (steps 1..7).
    static int firstTimer(int step);
    // The step whose pair holds this timer, or 0.
    static int stepOfTimer(int id);
    // The step a reply acknowledges, or 0.
    static int stepAckedBy(const CommandFrame& frame);

    FactoryReset(TimerSet& timers, std::function<void(const CommandFrame&)> send)
        : timers_(timers), send_(std::move(send))
    {
    }

    bool running() const { return running_; }
    void start();
    // Takes a step's acknowledgement and sends the next step. Only the
    // step that waits takes one: a late one, from an earlier reset or an
    // earlier try, would skip steps while the waiting step's timers go on
    // sending. Returns true when the last step was acknowledged.
    bool accept(int step);
    // A step's wait ran out; returns true after the second, when the
    // reset gives up.
    bool expired(int timerId);
    // The animation and every step timer stop together, whichever way the
    // reset ends.
    void stop();

private:
    void ask(int step);
    TimerSet& timers_;
    std::function<void(const CommandFrame&)> send_;
    bool running_ = false;
};

}  // namespace matrix
