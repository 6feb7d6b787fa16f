// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace matrix {

class SerialChannel;

// What the main window needs from a page to hand the link over.
class Page {
public:
    virtual ~Page() = default;
    // The page's own serial port, told to close when another tab is shown.
    virtual SerialChannel& serialPort() = 0;
    // Once, when its tab is first selected and the page's window is made:
    // a page that talks over COM takes the port now, before its activation.
    virtual void startPage() {}
    // 150 ms after the tab was selected.
    virtual void activate() = 0;
    // Any tab was selected (this page's own when shown is true): the page
    // resets what it keeps about the conversation of the tab shown.
    virtual void tabSelected(bool shown) { (void)shown; }
};

// The General page's operations that the main window calls.
class GeneralPageHooks {
public:
    virtual ~GeneralPageHooks() = default;
    // Exactly as the Disconnect and the "Search" buttons do.
    virtual void forceComDisconnect() = 0;
    virtual void runSearch() = 0;
};

// What a page, a serial port or the network configuration asks of the main
// window; the numbers are the message values the window has always used.
enum class ShellRequest {
    OpenConfigStatus = 1,  // the configuration was sent: show its status popup
    SerialFault = 3,       // a port's read failed or its adapter vanished
};

enum class NetConfigStatus {
    Configured = 1,      // the matrix acknowledged the configuration
    DiscoveryReply = 2,  // a matrix answered the re-discovery
};

// The window messages posted to the main window: each runs after the
// caller's handler has returned.
class ShellRequests {
public:
    virtual ~ShellRequests() = default;
    virtual void postPageBusy(int value) = 0;  // 1 disables, 0 enables the tab buttons
    virtual void postShellRequest(ShellRequest request) = 0;
    virtual void postNetConfigStatus(NetConfigStatus status) = 0;
};

}  // namespace matrix
