// Discovery and network configuration, as "Search" and "Config..." run them.
#include "cli/drive/SessionDriver.h"

#include "core/session/MatrixSession.h"

namespace matrix::cli {

#ifdef MATRIXCTL_HAVE_NET
#else

void SessionDriver::runDiscover() { notAvailable(); }
void SessionDriver::runNetConfig() { notAvailable(); }

#endif

}  // namespace matrix::cli
