// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/ChangeNotifier.h"
#include "core/transport/Timer.h"

#include <cstdint>
#include <functional>
#include <string>

namespace matrix {

// What every popup shows: whether it is open and its one line of text, with
// a notification to its view on each change.
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
    // The animation counter the General, Routing and EDID pages share: 1, 2, 3, 1, ...
    int nextDot()
    {
        dot_ = dot_ % 3 + 1;
        return dot_;
    }

private:
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

}  // namespace matrix
