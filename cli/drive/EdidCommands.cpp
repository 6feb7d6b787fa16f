// The "EDID" tab: read the inputs' EDID status, set a mode, copy, upload.
#include "cli/drive/SessionDriver.h"

#include "core/session/MatrixSession.h"

namespace matrix::cli {

#ifdef MATRIXCTL_HAVE_EDID
#else

void SessionDriver::collectEdid() {}
void SessionDriver::runEdidStatus() { notAvailable(); }
void SessionDriver::runEdidSet() { notAvailable(); }
void SessionDriver::runEdidCopy() { notAvailable(); }
void SessionDriver::runEdidUpload() { notAvailable(); }

#endif

}  // namespace matrix::cli
