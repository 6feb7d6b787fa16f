// SPDX-License-Identifier: Apache-2.0
#include "core/pages/general/FactoryReset.h"

#include "core/protocol/Protocol.h"

namespace matrix {

namespace {

namespace p = protocol;

// The built-in EDID mode the reset puts on all inputs.
constexpr int kFactoryEdidMode = 4;

struct Step {
    int firstTimer;
    CommandFrame (*request)(int step);
};

// Steps 1..7, in order.
constexpr Step kStepTable[FactoryReset::kSteps] = {
    {101, [](int step) { return p::routeRequest(Output{step}, Input{step}); }},
    {103, [](int step) { return p::routeRequest(Output{step}, Input{step}); }},
    {105, [](int step) { return p::routeRequest(Output{step}, Input{step}); }},
    {107, [](int step) { return p::routeRequest(Output{step}, Input{step}); }},
    {117, [](int) { return p::edidModeRequest(); }},
    {119, [](int) { return p::edidSetModeRequest(kFactoryEdidMode, Input::All); }},
    {121, [](int) { return p::beepRequest(true); }},
};

constexpr int kRouteSteps = 4;

}  // namespace

int FactoryReset::firstTimer(int step) { return kStepTable[step - 1].firstTimer; }

int FactoryReset::stepOfTimer(int id)
{
    for (int step = 1; step <= kSteps; ++step) {
        if (id == firstTimer(step) || id == firstTimer(step) + 1)
            return step;
    }
    return 0;
}

int FactoryReset::stepAckedBy(const CommandFrame& frame)
{
    if (frame.p1() != 0)
        return 0;
    const int sub = frame.subCommand();
    switch (frame.command()) {
    case p::kRoutingCommand:
        return sub == p::kRouteSub && frame.p3() >= 1 && frame.p3() <= kRouteSteps ? frame.p3() : 0;
    case p::kEdidCommand:
        if (frame.p3() != 0)
            return 0;
        return sub == p::kEdidModeRequestSub ? 5 : sub == p::kEdidModeAllSub ? 6 : 0;
    case p::kBeepCommand:
        return p::isSwitchAck(frame, p::kBeepCommand) ? 7 : 0;
    default:
        return 0;
    }
}

void FactoryReset::ask(int step)
{
    send_(kStepTable[step - 1].request(step));
    timers_.start(firstTimer(step), kReplyTimeoutMs);
}

void FactoryReset::start()
{
    running_ = true;
    ask(1);
}

bool FactoryReset::accept(int step)
{
    const int first = firstTimer(step);
    if (!timers_.isRunning(first) && !timers_.isRunning(first + 1))
        return false;
    timers_.kill(first);
    timers_.kill(first + 1);
    if (step == kSteps)
        return true;
    ask(step + 1);
    return false;
}

bool FactoryReset::expired(int timerId)
{
    const int step = stepOfTimer(timerId);
    if (timerId != firstTimer(step))
        return true;
    timers_.kill(timerId);
    send_(kStepTable[step - 1].request(step));
    timers_.start(timerId + 1, kReplyTimeoutMs);
    return false;
}

void FactoryReset::stop()
{
    running_ = false;
    timers_.killRange(kAnimationTimer, kLastTimer);
}

}  // namespace matrix
