#include "sim/AllCommands.h"

namespace matrix::sim {

void installAllCommands(MatrixResponder& responder)
{
    installGeneralCommands(responder);
    installFirmwareCommands(responder);
}

}  // namespace matrix::sim
