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

// What every page holds: its context, the link, its own port and notice
// box, and the change notification its view follows.
class WindowPage : public Page {
public:
    WindowPage(PageContext& context, PageId id)
        : ctx_(context),
          link_(context.link),
          port_(context.link.port(id)),
          notice_(context.popups, noticeClose_, context.link.controlMode)
    {
    }

    SerialChannel& serialPort() override { return port_.serial(); }
    HexLog& receivedLog() { return port_.receivedLog(); }
    const HexLog& sentLog() const { return port_.sentLog(); }

    ChangeNotifier changed;

protected:
    PageContext& ctx_;
    WindowLink& link_;
    PagePort& port_;
    Timer noticeClose_{ctx_.platform.loop};
    PageNotice notice_;
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
