// SPDX-License-Identifier: Apache-2.0
#include "core/app/Popups.h"

#include "core/app/Notices.h"
#include "core/link/LinkState.h"

namespace matrix {

void NoticePopup::show(const std::string& text, std::function<void()> whenClosed)
{
    link_.noticeText = text;
    held_ = true;
    text_ = text;
    if (whenClosed) {
        if (whenClosed_) {
            auto first = std::move(whenClosed_);
            whenClosed_ = [first = std::move(first), second = std::move(whenClosed)] {
                first();
                second();
            };
        } else {
            whenClosed_ = std::move(whenClosed);
        }
    }
    open_ = true;
    ++timesOpened_;
    changed.notifyChanged();
}

void NoticePopup::close()
{
    if (!open_)
        return;
    open_ = false;
    held_ = false;
    auto continuation = std::move(whenClosed_);
    whenClosed_ = nullptr;
    changed.notifyChanged();
    if (continuation)
        continuation();
}

void ProgressPopup::open()
{
    if (link_.progressOpen)
        return;
    link_.progressOpen = true;
    open_ = true;
    text_ = link_.progressText;
    changed.notifyChanged();
}

void ProgressPopup::refresh()
{
    if (!open_)
        return;
    text_ = link_.progressText;
    changed.notifyChanged();
}

void ProgressPopup::close()
{
    link_.progressOpen = false;
    if (!open_)
        return;
    open_ = false;
    changed.notifyChanged();
}

ConfigStatusPopup::ConfigStatusPopup(EventLoop& loop, LinkState& link) : PopupModel(link), timers_(loop)
{
    timers_.setHandler([this](int id) { onTimer(id); });
}

void ConfigStatusPopup::open()
{
    open_ = true;
    text_ = "Configuring . . .";
    timers_.start(kAnimation);
    timers_.start(kTimeout);
    changed.notifyChanged();
}

void ConfigStatusPopup::setText(const std::string& text)
{
    timers_.kill(kAnimation.id);
    timers_.kill(kTimeout.id);
    text_ = text;
    changed.notifyChanged();
}

void ConfigStatusPopup::close()
{
    timers_.killRange(1, 4);
    if (!open_)
        return;
    open_ = false;
    changed.notifyChanged();
}

void ConfigStatusPopup::onTimer(int id)
{
    switch (id) {
    case kAnimation.id:
        // Each frame is 17 characters, padded with blanks.
        if (phase_ == 1) {
            text_ = "Configuring . .  ";
            phase_ = 2;
        } else if (phase_ == 2) {
            text_ = "Configuring . . .";
            phase_ = 3;
        } else {
            text_ = "Configuring .    ";
            phase_ = 1;
        }
        changed.notifyChanged();
        break;
    case kTimeout.id:
        timers_.kill(kAnimation.id);
        timers_.kill(kTimeout.id);
        if (configAcknowledged == 0) {
            text_ = "configure failed!";
        } else {
            configAcknowledged = 0;
            text_ = notice_text::kConfigCompleted;
        }
        changed.notifyChanged();
        timers_.start(kClose);
        break;
    case kClose.id:
        timers_.kill(kClose.id);
        close();
        break;
    default: break;
    }
}

void armNoticeClose(Popups& popups, TimerSet& timers, int closeTimerId, int displayMs)
{
    NoticePopup* notice = &popups.notice;
    TimerSet* owner = &timers;
    timers.start(closeTimerId, displayMs, [notice, owner, closeTimerId] {
        owner->kill(closeTimerId);
        notice->close();
    });
}

void armNoticeClose(Popups& popups, Timer& closeTimer, int displayMs)
{
    NoticePopup* notice = &popups.notice;
    closeTimer.once(displayMs, [notice] { notice->close(); });
}

void showNotice(Popups& popups, Timer& closeTimer, int displayMs, const std::string& text,
                std::function<void()> whenClosed)
{
    armNoticeClose(popups, closeTimer, displayMs);
    popups.notice.show(text, std::move(whenClosed));
}

void showNotice(Popups& popups, TimerSet& timers, int closeTimerId, int displayMs, const std::string& text,
                std::function<void()> whenClosed)
{
    armNoticeClose(popups, timers, closeTimerId, displayMs);
    popups.notice.show(text, std::move(whenClosed));
}

void showNoticeIfNoneOpen(Popups& popups, TimerSet& timers, int closeTimerId, int displayMs, const std::string& text,
                          std::function<void()> whenClosed)
{
    armNoticeClose(popups, timers, closeTimerId, displayMs);
    if (!popups.notice.held())
        popups.notice.show(text, std::move(whenClosed));
    else if (whenClosed)
        whenClosed();  // the box it would have waited for never opened
}

}  // namespace matrix
