// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Page.h"
#include "core/app/Popups.h"
#include "core/app/SharedState.h"
#include "core/link/LinkState.h"
#include "core/transport/Platform.h"

namespace matrix {

// What every page is given: the seams and the shared long-lived state.
struct PageContext {
    Platform& platform;
    LinkState& link;
    SharedState& shared;
    Popups& popups;
    ShellRequests& shell;
};

}  // namespace matrix
