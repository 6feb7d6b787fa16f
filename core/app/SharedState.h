// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace matrix {

// The flags and small counters several pages share. What only one page
// reads lives in that page, reset through Page::tabSelected.
struct SharedState {
    // A firmware upgrade runs; the main window refuses tab switches meanwhile.
    bool firmwareUpgrading = false;
    // The serial settings record of the EDID, Routing and Firmware pages:
    // 1 stop bit at start, 2 once any of their re-opens has run.
    int pageStopBits = 1;
    // Progress-text animation counter 1..3 shared by the General, Routing
    // and EDID pages.
    int progressDotCount = 1;
};

// Steps the shared counter 1, 2, 3, 1, ... and returns the new value.
inline int nextProgressDot(SharedState& shared)
{
    shared.progressDotCount = shared.progressDotCount % 3 + 1;
    return shared.progressDotCount;
}

}  // namespace matrix
