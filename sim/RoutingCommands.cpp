// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include "core/protocol/Protocol.h"

namespace matrix::sim {

// Routing query: which input an output carries, as the device was last told
// by route commands (answered with the general commands).
void installRoutingCommands(MatrixResponder& responder)
{
    MatrixDevice& device = responder.device();
    responder.onPortQuery(protocol::kRoutingCommand, protocol::kRouteQuerySub, [&device](int output) {
        return protocol::routeQueryReply(Output{output}, Input{device.routing[output - 1]});
    });
}

}  // namespace matrix::sim
