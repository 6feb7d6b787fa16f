// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

namespace matrix::sim {

// Routing query 2/1: which input an output carries, as the device was last
// told by route commands (2/3, answered with the general commands).
void installRoutingCommands(MatrixResponder& responder)
{
    MatrixDevice& device = responder.device();
    responder.onCommand(0x02, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() != 0x01)
            return;
        const int output = f.p1();
        if (output < 1 || output > MatrixDevice::kPorts)
            return;
        responder.reply(2, 1, output, 0, device.routing[output - 1]);
    });
}

}  // namespace matrix::sim
