// SPDX-License-Identifier: Apache-2.0
#include "core/pages/general/StatusChain.h"

#include "core/protocol/Protocol.h"

namespace matrix {

namespace {

CommandFrame query(int step)
{
    switch (step) {
    case StatusChain::DeviceType:
        return protocol::deviceTypeRequest();
    case StatusChain::MatrixSize:
        return protocol::matrixSizeRequest();
    case StatusChain::Version:
        return protocol::versionRequest();
    default: {
        const int index = step - StatusChain::FirstPort;
        const int port = index / 2 + 1;
        return index % 2 == 1 ? protocol::outputCableRequest(Output{port}) : protocol::inputCableRequest(Input{port});
    }
    }
}

}  // namespace

void StatusChain::ask(int step)
{
    send_(query(step));
    timers_.start(firstTimer(step), kReplyTimeoutMs);
}

bool StatusChain::waits(int step) const
{
    return timers_.isRunning(firstTimer(step)) || timers_.isRunning(firstTimer(step) + 1);
}

void StatusChain::answered(int step)
{
    timers_.kill(firstTimer(step));
    timers_.kill(firstTimer(step) + 1);
}

bool StatusChain::expired(int timerId)
{
    const int step = (timerId - kFirstTimer) / 2;
    if (timerId != firstTimer(step))
        return true;
    timers_.kill(timerId);
    send_(query(step));
    timers_.start(timerId + 1, kReplyTimeoutMs);
    return false;
}

}  // namespace matrix
