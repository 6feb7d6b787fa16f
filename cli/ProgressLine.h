// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

namespace matrix::cli {

// One terminal line for a running upload:
// "[#########...........]  45%  2304/5120 bytes  0:03 left".
// The time left is extrapolated from the elapsed time and is left out until
// a first byte has gone.
std::string formatProgressLine(std::int64_t doneBytes, std::int64_t totalBytes, std::int64_t elapsedMs,
                               int barWidth = 30);

// "0:07", "12:34", "1:02:03".
std::string formatDuration(std::int64_t seconds);

}  // namespace matrix::cli
