// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/net/Discovery.h"

namespace matrix {

// The window's side of discovery and network configuration: the link's
// fields, the "Search failed" notice, and the messages to the main window.
class WindowNetHost : public NetHost {
public:
    static constexpr int kSearchFailedNoticeMs = 1500;

    explicit WindowNetHost(const PageContext& context)
        : context_(context),
          noticeClose_(context.platform.loop),
          notice_(context.popups, noticeClose_, context.link.controlMode)
    {
    }

    std::string matrixAddress() const override { return context_.link.matrixAddress; }
    void setMatrixAddress(const std::string& address) override { context_.link.matrixAddress = address; }
    void dropTcpLink() override { context_.link.dropTcp(); }
    void searchFailed() override { notice_.show(kSearchFailedNoticeMs, "Search failed"); }
    void discoveryReply() override { context_.shell.postNetConfigStatus(NetConfigStatus::DiscoveryReply); }
    void configSent() override
    {
        context_.popups.configStatus.configAcknowledged = 0;
        context_.shell.postShellRequest(ShellRequest::OpenConfigStatus);
    }
    void configured() override { context_.shell.postNetConfigStatus(NetConfigStatus::Configured); }

private:
    PageContext context_;
    Timer noticeClose_;  // closes the "Search failed" notice
    PageNotice notice_;
};

}  // namespace matrix
