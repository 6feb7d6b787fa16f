// SPDX-License-Identifier: Apache-2.0
#include "sim/AllCommands.h"

namespace matrix::sim {

void installAllCommands(MatrixResponder& responder)
{
    installGeneralCommands(responder);
    installRoutingCommands(responder);
    installEdidCommands(responder);
    installFirmwareCommands(responder);
}

}  // namespace matrix::sim
