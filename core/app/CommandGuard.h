// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Notices.h"
#include "core/app/Popups.h"
#include "core/link/LinkState.h"

namespace matrix {

constexpr int kGuardNoticeMs = 1500;

inline const char* notConnectedText(const LinkState& link)
{
    return link.tcpMode() ? notice_text::kConnectFailed : notice_text::kOpenComFailed;
}

// The check every command button runs before it sends. Each page decides
// what "connected" means for it; when it is not, the notice is shown on the
// page's notice-closing timer and the caller sends nothing.
inline bool commandGuard(bool connected, LinkState& link, Popups& popups, TimerSet& timers, int noticeTimerId)
{
    if (connected)
        return true;
    showNotice(popups, timers, noticeTimerId, kGuardNoticeMs, notConnectedText(link));
    return false;
}

}  // namespace matrix
