// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace matrix {

// Process-wide flags that the main window sets on a tab selection and that
// the pages read, plus the small counters several pages share.
struct SharedState {
    // General page: while 1 the TCP reply handler ignores port-state replies.
    int statusIdle = 1;
    // General page: the tab was shown again since the last Status click.
    int generalShownAgain = 0;
    // Routing page: TCP replies are taken only while 1.
    int socketRxEnabled = 0;
    int edidEntryPending = 0;
    int firmwareEntryPending = 0;
    int upgradeMode = 0;
    int standbyWatch = 0;
    // A firmware upgrade runs; the main window refuses tab switches meanwhile.
    int firmwareUpgrading = 0;
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
