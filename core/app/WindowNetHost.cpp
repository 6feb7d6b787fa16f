// SPDX-License-Identifier: Apache-2.0
#include "core/app/WindowNetHost.h"

namespace matrix {

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
