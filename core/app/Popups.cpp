// SPDX-License-Identifier: Apache-2.0
#include "core/app/Popups.h"

#include "core/app/Notices.h"

namespace matrix {

void NoticePopup::show(const std::string& text, std::function<void()> whenClosed)
{
    recorded_ = text;
    held_ = true;
    text_ = text;
    if (whenClosed && whenClosed_) {
        whenClosed = [first = std::move(whenClosed_), second = std::move(whenClosed)] {
            first();
            second();
        };
    }
    if (whenClosed)
        whenClosed_ = std::move(whenClosed);
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
    if (open_)
        return;
    open_ = true;
    text_ = next_;
    changed.notifyChanged();
}

void ProgressPopup::refresh()
{
    if (!open_)
        return;
    text_ = next_;
    changed.notifyChanged();
}

void ProgressPopup::close()
{
    if (!open_)
        return;
    open_ = false;
    changed.notifyChanged();
}

ConfigStatusPopup::ConfigStatusPopup(EventLoop& loop) : animation_(loop), timeout_(loop), close_(loop) {}

void ConfigStatusPopup::open()
{
    open_ = true;
    text_ = "Configuring . . .";
    animate();
    timeout_.once(kTimeoutMs, [this] {
        animation_.stop();
        if (configAcknowledged == 0) {
            text_ = "configure failed!";
        } else {
            configAcknowledged = 0;
            text_ = notice_text::kConfigCompleted;
        }
        changed.notifyChanged();
        close_.once(kCloseMs, [this] { close(); });
    });
    changed.notifyChanged();
}

void ConfigStatusPopup::setText(const std::string& text)
{
    animation_.stop();
    timeout_.stop();
    text_ = text;
    changed.notifyChanged();
}

void ConfigStatusPopup::close()
{
    animation_.stop();
    timeout_.stop();
    close_.stop();
    if (!open_)
        return;
    open_ = false;
    changed.notifyChanged();
}

// Each frame is 17 characters, padded with blanks; the next frame is due
// before this one shows, as the animation runs at a fixed period.
void ConfigStatusPopup::animate()
{
    animation_.once(kAnimationMs, [this] {
        static constexpr const char* kFrames[] = {"Configuring .    ", "Configuring . .  ", "Configuring . . ."};
        animate();
        text_ = kFrames[phase_ % 3];
        phase_ = phase_ % 3 + 1;
        changed.notifyChanged();
    });
}

}  // namespace matrix
