// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Shell.h"
#include "core/app/WindowNetHost.h"
#include "core/net/NetworkConfig.h"
#include "core/pages/edid/EdidPage.h"
#include "core/pages/firmware/FirmwarePage.h"
#include "core/pages/general/GeneralPage.h"
#include "core/pages/routing/RoutingPage.h"

namespace matrix {

// Everything one running window holds, built in start-up order from the
// platform's seams. matrixctl and matrixd use core/client instead.
//
// Adding a page: a member below the General page (members are built in
// declaration order, after the context they take) and its registration in
// the constructor.
class MatrixSession {
public:
    explicit MatrixSession(Platform& platform);

    Platform& platform;
    // Built first and gone last: its end takes socket events from the pages.
    WindowLink link;
    Popups popups;
    Shell shell;
    PageContext context;
    GeneralPage general;
    EdidPage edid;
    FirmwarePage firmware;
    RoutingPage routing;
    // Finding matrices on the segment and setting their address mode.
    WindowNetHost netHost;
    Discovery discovery;
    NetworkConfig netConfig;
};

}  // namespace matrix
