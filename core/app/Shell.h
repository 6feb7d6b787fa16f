// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/ChangeNotifier.h"
#include "core/app/Page.h"
#include "core/transport/TimerSet.h"

#include <array>
#include <memory>
#include <string>

namespace matrix {

struct LinkState;
struct SharedState;
struct Popups;
class EventLoop;

// The four tabs, in the order the window shows them.
enum class Tab { General = 0, Edid = 1, Matrix = 2, FwUpgrade = 3 };
constexpr int kTabCount = 4;

// The main window's behaviour without its widgets: which tab is selected,
// the link hand-over when a tab is shown, the refusal while a command is in
// flight, the 150 ms page activation, and the requests that pages, serial
// ports and the network configuration post to the window.
class Shell : public ShellRequests {
public:
    // Activation timers; ids as the window has always used them (note that
    // FW Upgrade is 3 and Matrix is 4).
    static constexpr int kActivateGeneralTimer = 1;
    static constexpr int kActivateEdidTimer = 2;
    static constexpr int kActivateFirmwareTimer = 3;
    static constexpr int kActivateMatrixTimer = 4;
    static constexpr int kActivationMs = 150;
    // Re-discovery after a successful network configuration.
    static constexpr int kConfigSuccessTimer = 7;
    static constexpr int kConfigSuccessMs = 2000;
    static constexpr int kSearchAgainTimer = 8;
    static constexpr int kSearchAgainMs = 500;
    static constexpr int kSearchTimeoutTimer = 9;
    static constexpr int kSearchTimeoutMs = 5000;
    static constexpr int kSearchCloseTimer = 10;
    static constexpr int kSearchCloseMs = 500;
    static constexpr int kNoticeTimer = 55;
    static constexpr int kNoticeMs = 1500;

    Shell(EventLoop& loop, LinkState& link, SharedState& shared, Popups& popups);
    ~Shell() override;
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // A page registers itself for its tab. A tab without a page is a
    // placeholder: it can be shown, but nothing is handed over or activated.
    // Registering also routes the page's serial faults to postShellRequest(3).
    void registerPage(Tab tab, Page* page);
    void setGeneralHooks(GeneralPageHooks* hooks) { generalHooks_ = hooks; }

    // Start-up: the General page is shown and its tab selected, without
    // activation (the page's own creation steps have run).
    void showGeneralAtStart();

    // A click on a tab label. Returns false when the switch is refused
    // (a command in flight or a firmware upgrade): then nothing happens,
    // and the click must not start a window drag either.
    bool selectTab(Tab tab);

    // View state.
    bool tabSelected(Tab tab) const { return tabSelected_[index(tab)] != 0; }
    const std::array<int, kTabCount>& tabSelectedFlags() const { return tabSelected_; }
    // The page window exists (created on the tab's first selection).
    bool pageCreated(Tab tab) const { return pageCreated_[index(tab)]; }
    Tab shownTab() const { return shown_; }
    Page* shownPage() const { return pages_[index(shown_)]; }
    Page* page(Tab tab) const { return pages_[index(tab)]; }
    // The hidden tab buttons, switched by postPageBusy.
    bool tabButtonsEnabled() const { return tabButtonsEnabled_; }
    static const char* tabTitle(Tab tab);

    // ShellRequests: each call is posted and runs after the caller returns.
    void postPageBusy(int value) override;
    void postShellRequest(int value) override;
    void postNetConfigStatus(int value) override;

    TimerSet& timers() { return timers_; }
    ChangeNotifier changed;

private:
    static int index(Tab tab) { return static_cast<int>(tab); }
    void post(std::function<void()> task);
    void onPageBusy(int value);
    void onShellRequest(int value);
    void onNetConfigStatus(int value);
    void onTimer(int id);
    void setPageFlags(Tab tab);
    static int activationTimer(Tab tab);

    EventLoop& loop_;
    LinkState& link_;
    SharedState& shared_;
    Popups& popups_;
    TimerSet timers_;
    std::array<Page*, kTabCount> pages_{};
    GeneralPageHooks* generalHooks_ = nullptr;
    std::array<int, kTabCount> tabSelected_{};
    std::array<bool, kTabCount> pageCreated_{};
    Tab shown_ = Tab::General;
    bool tabButtonsEnabled_ = true;
    // Posted calls that outlive the shell do nothing.
    std::shared_ptr<bool> alive_;
};

}  // namespace matrix
