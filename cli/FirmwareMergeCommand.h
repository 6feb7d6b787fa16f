// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cli/CommandLine.h"
#include "cli/RunResult.h"

namespace matrix::cli {

// matrixctl firmware merge: the merge tool of the firmware page, writing
// into OUTPUT_DIR instead of the folder of the last source file. Needs no
// matrix and no event loop.
RunResult runFirmwareMerge(const Invocation& invocation);

}  // namespace matrix::cli
