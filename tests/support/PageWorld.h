// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Page.h"
#include "core/app/PageContext.h"
#include "core/app/Popups.h"
#include "core/app/WindowLink.h"
#include "tests/support/TestRig.h"

#include <vector>

namespace matrix::testing {

// Records what pages, discovery and configuration post to the main window.
struct RecordingShell : ShellRequests {
    void postPageBusy(int value) override { pageBusy.push_back(value); }
    // Kept as the window's message values, as the tests compare them.
    void postShellRequest(ShellRequest request) override { shellRequests.push_back(static_cast<int>(request)); }
    void postNetConfigStatus(NetConfigStatus status) override { netConfigStatus.push_back(static_cast<int>(status)); }
    std::vector<int> pageBusy;
    std::vector<int> shellRequests;
    std::vector<int> netConfigStatus;
};

// What one page is given, without the rest of the program: the rig's seams
// and simulated matrix, the link, the popups and a shell that
// records what it is asked.
struct PageWorld {
    TestRig rig;
    WindowLink link{rig.platform};
    Popups popups{rig.loop};
    RecordingShell shell;
    PageContext context{rig.platform, link, popups, shell};
};

}  // namespace matrix::testing
