// SPDX-License-Identifier: Apache-2.0
#include "core/app/Popups.h"

#include <utility>

namespace matrix {

void NoticePopup::show(const std::string& text, std::function<void()> whenClosed)
{
    recorded_ = text;
    held_ = true;
    if (whenClosed && whenClosed_) {
        whenClosed = [first = std::move(whenClosed_), second = std::move(whenClosed)] {
            first();
            second();
        };
    }
    if (whenClosed)
        whenClosed_ = std::move(whenClosed);
    ++timesOpened_;
    update(true, text);
}

void NoticePopup::close()
{
    if (!open_)
        return;
    held_ = false;
    auto continuation = std::move(whenClosed_);
    whenClosed_ = nullptr;
    update(false, text_);
    if (continuation)
        continuation();
}

void ProgressPopup::start(Timer& timer, ChangeNotifier& page, std::function<const char*()> word)
{
    setText(std::string(word()) + " . . .");
    step(timer, page, std::move(word));
    open();
}

void ProgressPopup::step(Timer& timer, ChangeNotifier& page, std::function<const char*()> word)
{
    timer.once(kStepMs, [this, &timer, word = std::move(word), &page] {
        if (const char* text = word()) {
            static constexpr const char* kDots[] = {"", " .    ", " . .  ", " . . ."};
            dot_ = dot_ % 3 + 1;
            setText(text + std::string(kDots[dot_]));
            refresh();
        }
        step(timer, page, word);
        page.notifyChanged();
    });
}

ConfigStatusPopup::ConfigStatusPopup(EventLoop& loop) : animation_(loop), timeout_(loop), close_(loop) {}

void ConfigStatusPopup::open()
{
    animate();
    timeout_.once(kTimeoutMs, [this] {
        animation_.stop();
        const bool acknowledged = std::exchange(configAcknowledged, 0) != 0;
        update(open_, acknowledged ? notice_text::kConfigCompleted : "configure failed!");
        close_.once(kCloseMs, [this] { close(); });
    });
    update(true, "Configuring . . .");
}

void ConfigStatusPopup::setText(const std::string& text)
{
    animation_.stop();
    timeout_.stop();
    update(open_, text);
}

void ConfigStatusPopup::close()
{
    animation_.stop();
    timeout_.stop();
    close_.stop();
    if (open_)
        update(false, text_);
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
