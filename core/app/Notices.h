// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Popups.h"
#include "core/app/WindowLink.h"

namespace matrix {

// The notice texts that more than one window shows, written once.
namespace notice_text {
inline constexpr const char* kOpenComFailed = "Open COM failed!";
inline constexpr const char* kConnectFailed = "Connect to Matrix failed!";
inline constexpr const char* kTimeOut = "Time out!";
inline constexpr const char* kStandby = "Matrix is in standby mode!";
inline constexpr const char* kSetSuccessfully = "Set successfully!";
inline constexpr const char* kPleaseWait = "Please wait...";
inline constexpr const char* kGettingStatus = "Getting status . . .";
inline constexpr const char* kConfigCompleted = "Matrix configuration completed successfully!";
}  // namespace notice_text

// How long the "not connected" notice of a command button stays up.
constexpr int kNotConnectedNoticeMs = 1500;

inline const char* notConnectedText(ControlMode mode)
{
    return mode == ControlMode::Tcp ? notice_text::kConnectFailed : notice_text::kOpenComFailed;
}

// A window's notice box, closed by that window's own notice timer. The
// control mode picks the "not connected" text.
class PageNotice {
public:
    PageNotice(Popups& popups, Timer& closeTimer, const ControlMode& mode)
        : popups_(popups),
          closeTimer_(closeTimer),
          mode_(mode)
    {
    }

    // (Re-)arms the closing of whatever box is up.
    void armClose(int displayMs)
    {
        closeTimer_.once(displayMs, [&notice = popups_.notice] { notice.close(); });
    }

    // Opens the box (or re-texts an open one); it closes after displayMs.
    void show(int displayMs, const std::string& text, std::function<void()> whenClosed = {})
    {
        armClose(displayMs);
        popups_.notice.show(text, std::move(whenClosed));
    }

    // Time-outs and standby: an open box keeps its text, and only the
    // closing timer is re-armed. A continuation still runs: at the close of
    // the box opened here, or at once when none could be opened.
    void showIfNoneOpen(int displayMs, const std::string& text, std::function<void()> whenClosed = {})
    {
        armClose(displayMs);
        if (!popups_.notice.held())
            popups_.notice.show(text, std::move(whenClosed));
        else if (whenClosed)
            whenClosed();
    }

    // As showIfNoneOpen, but the text is recorded even when a box is up.
    void recordIfNoneOpen(int displayMs, const std::string& text, std::function<void()> whenClosed = {})
    {
        popups_.notice.record(text);
        showIfNoneOpen(displayMs, text, std::move(whenClosed));
    }

    // The check every command button runs before it sends. Each page decides
    // what "connected" means for it; when it is not, the notice of the
    // control mode shows and the caller sends nothing.
    bool guard(bool connected)
    {
        if (!connected)
            showNotConnected();
        return connected;
    }

    void showNotConnected() { show(kNotConnectedNoticeMs, notConnectedText(mode_)); }

    // Closes the "Please wait..." box if that is the one up.
    bool closePleaseWait()
    {
        if (!popups_.notice.isOpen() || popups_.notice.text() != notice_text::kPleaseWait)
            return false;
        popups_.notice.close();
        return true;
    }

private:
    Popups& popups_;
    Timer& closeTimer_;
    const ControlMode& mode_;
};

}  // namespace matrix
