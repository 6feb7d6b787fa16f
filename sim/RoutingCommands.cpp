// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include "core/protocol/Protocol.h"

namespace matrix::sim {

// Routing query: which input an output carries, as the device was last told
// by route commands (answered with the general commands).
void installRoutingCommands(MatrixResponder& responder)
{
    MatrixDevice& device = responder.device();
    responder.onCommand(protocol::kRoutingCommand, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() != protocol::kRouteQuerySub)
            return;
        const int output = f.p1();
        if (output < 1 || output > MatrixDevice::kPorts)
            return;
        responder.replyFrame(protocol::routeQueryReply(output, device.routing[output - 1]));
    });
}

}  // namespace matrix::sim
