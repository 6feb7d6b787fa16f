// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Page.h"
#include "core/app/Popups.h"
#include "core/link/LinkState.h"
#include "core/transport/Platform.h"

namespace matrix {

// What every page is given: the seams and the shared long-lived state.
struct PageContext {
    Platform& platform;
    LinkState& link;
    Popups& popups;
    ShellRequests& shell;
};

// The shared state itself, with the context that hands it out: for tools
// that run one page or the network parts without the whole program.
struct PageState {
    PageState(Platform& platform, ShellRequests& shell)
        : popups(platform.loop, link),
          context{platform, link, popups, shell}
    {
    }
    PageState(const PageState&) = delete;
    PageState& operator=(const PageState&) = delete;

    LinkState link;
    Popups popups;
    PageContext context;
};

}  // namespace matrix
