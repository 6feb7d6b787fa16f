// SPDX-License-Identifier: Apache-2.0
#include "core/app/WindowNetHost.h"

#include "core/transport/StreamSocket.h"

namespace matrix {

void WindowNetHost::dropTcpLink()
{
    LinkState& link = context_.link;
    if (link.linkSocket)
        link.linkSocket->close();
    link.socketConnected = false;
    link.tcpLinkUp = false;
}

void WindowNetHost::searchFailed()
{
    showNotice(context_.popups, noticeClose_, kSearchFailedNoticeMs, "Search failed");
}

void WindowNetHost::configSent()
{
    context_.popups.configStatus.configAcknowledged = 0;
    context_.shell.postShellRequest(ShellRequest::OpenConfigStatus);
}

}  // namespace matrix
