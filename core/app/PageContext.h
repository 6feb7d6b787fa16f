// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Page.h"
#include "core/app/Popups.h"
#include "core/app/WindowLink.h"

namespace matrix {

// What every page is given: the seams, the link and the popups.
struct PageContext {
    Platform& platform;
    WindowLink& link;
    Popups& popups;
    ShellRequests& shell;
};

// The link and popups with their context, for tools that run one page or
// the network parts without the whole program.
struct PageState {
    PageState(Platform& platform, ShellRequests& shell)
        : link(platform),
          popups(platform.loop),
          context{platform, link, popups, shell}
    {
    }

    WindowLink link;
    Popups popups;
    PageContext context;
};

}  // namespace matrix
