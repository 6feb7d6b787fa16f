// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/WindowLink.h"
#include "core/transport/ChangeNotifier.h"
#include "core/transport/Timer.h"

#include <cstdint>
#include <functional>
#include <string>

namespace matrix {

// What every popup shows: open or not, and one line of text.
class PopupModel {
public:
    bool isOpen() const { return open_; }
    const std::string& text() const { return text_; }

    ChangeNotifier changed;

protected:
    void update(bool open, const std::string& text)
    {
        open_ = open;
        text_ = text;
        changed.notifyChanged();
    }

    bool open_ = false;
    std::string text_;
};

// The notice box: one line of text, closed by its opener's timer. "When it
// has closed, do X" is the continuation passed to show().
class NoticePopup : public PopupModel {
public:
    // Records the text and opens the box. A box that is already open shows
    // the new text and keeps both continuations.
    void show(const std::string& text, std::function<void()> whenClosed = {});
    void close();  // closing a closed box does nothing

    // Whether a time-out or standby notice must leave the box alone: set while
    // it is open, released early by the Routing page's grid and step buttons
    // so that their time-out re-texts a box that is still up.
    bool held() const { return held_; }
    void release() { held_ = false; }
    int timesOpened() const { return timesOpened_; }
    // The last notice text shown or recorded, also while another box stays up.
    const std::string& recordedText() const { return recorded_; }
    void record(const std::string& text) { recorded_ = text; }

private:
    bool held_ = false;
    std::string recorded_;
    std::function<void()> whenClosed_;
    int timesOpened_ = 0;
};

// The progress popup: shows the text set last until its opener closes it.
class ProgressPopup : public PopupModel {
public:
    // Shown at the next open or refresh.
    void setText(const std::string& text) { next_ = text; }
    const std::string& nextText() const { return next_; }
    void open()  // an open popup stays as it is
    {
        if (!open_)
            update(true, next_);
    }
    void refresh()
    {
        if (open_)
            update(true, next_);
    }
    void close()
    {
        if (open_)
            update(false, text_);
    }
    static constexpr int kStepMs = 500;
    // Opens on "word . . ." and steps the dots every kStepMs, on a count the
    // pages share, until the timer stops; the page's view hears of each step.
    // The word is read at every step: none leaves the text.
    void start(Timer& timer, ChangeNotifier& page, std::function<const char*()> word);

private:
    void step(Timer& timer, ChangeNotifier& page, std::function<const char*()> word);

    std::string next_;
    int dot_ = 1;
};

// Follows a network configuration attempt: "Configuring . . ." with its own
// animation and time-out, after which the result stays up for 2 s.
class ConfigStatusPopup : public PopupModel {
public:
    static constexpr int kAnimationMs = 500;
    static constexpr int kTimeoutMs = 10000;
    static constexpr int kCloseMs = 2000;

    explicit ConfigStatusPopup(EventLoop& loop);

    void open();
    void setText(const std::string& text);  // also stops the animation and time-out
    void close();

    std::uint8_t phase() const { return phase_; }

    int configAcknowledged = 0;

private:
    void animate();
    Timer animation_;
    Timer timeout_;
    Timer close_;
    std::uint8_t phase_ = 1;  // not reset between openings
};

struct Popups {
    explicit Popups(EventLoop& loop) : configStatus(loop) {}
    NoticePopup notice;
    ProgressPopup progress;
    ConfigStatusPopup configStatus;

    bool anyModalOpen() const { return notice.isOpen() || progress.isOpen() || configStatus.isOpen(); }
};

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

// A window's notice box, closed by its own timer; the mode picks the "not connected" text.
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

    // Every command button's check before it sends; "connected" is the page's
    // to decide. When it is not, the notice shows and nothing is sent.
    bool guard(bool connected)
    {
        if (!connected)
            showNotConnected();
        return connected;
    }

    void showNotConnected()
    {
        show(kNotConnectedNoticeMs,
             mode_ == ControlMode::Tcp ? notice_text::kConnectFailed : notice_text::kOpenComFailed);
    }

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
