// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Page.h"
#include "core/app/WindowLink.h"
#include "core/transport/ChangeNotifier.h"
#include "core/transport/Timer.h"

#include <array>
#include <memory>

namespace matrix {

struct Popups;

// The four tabs, in the order the window shows them.
enum class Tab { General = 0, Edid = 1, Matrix = 2, FwUpgrade = 3 };
constexpr int kTabCount = 4;

// Each tab once: its label and the page as the link knows it. The shell
// and the window both read this table.
struct TabInfo {
    Tab tab;
    const char* title;
    PageId page;
};

inline constexpr std::array<TabInfo, kTabCount> kTabTable{{
    {Tab::General, "General", PageId::General},
    {Tab::Edid, "EDID", PageId::Edid},
    {Tab::Matrix, "Matrix", PageId::Routing},
    {Tab::FwUpgrade, "FW Upgrade", PageId::Firmware},
}};

constexpr const TabInfo& tabInfo(Tab tab) { return kTabTable[static_cast<std::size_t>(tab)]; }

// The main window's behaviour without its widgets: the selected tab, the
// link hand-over, the 150 ms activation, and the requests posted to it.
class Shell : public ShellRequests {
public:
    static constexpr int kActivationMs = 150;
    // Re-discovery after a successful network configuration.
    static constexpr int kConfigSuccessMs = 2000;
    static constexpr int kSearchAgainMs = 500;
    static constexpr int kSearchTimeoutMs = 5000;
    static constexpr int kSearchCloseMs = 500;
    static constexpr int kNoticeMs = 1500;

    Shell(EventLoop& loop, WindowLink& link, Popups& popups);
    ~Shell() override;

    // Every tab has its page before the first tab switch or serial fault; the
    // page's serial faults then reach the shell.
    void registerPage(Tab tab, Page& page);
    void setGeneralHooks(GeneralPageHooks* hooks) { generalHooks_ = hooks; }

    // Start-up: the General page is shown and its tab selected, without
    // activation (the page's own creation steps have run).
    void showGeneralAtStart();

    // A click on a tab label. Returns false when the switch is refused
    // (a command in flight or a firmware upgrade): then nothing happens,
    // and the click must not start a window drag either.
    bool selectTab(Tab tab);

    bool tabSelected(Tab tab) const { return tabSelected_[index(tab)] != 0; }
    const std::array<int, kTabCount>& tabSelectedFlags() const { return tabSelected_; }
    // The page window exists (created on the tab's first selection).
    bool pageCreated(Tab tab) const { return pageCreated_[index(tab)]; }
    Tab shownTab() const { return shown_; }
    Page* shownPage() const { return pages_[index(shown_)]; }
    // The hidden tab buttons, switched by postPageBusy.
    bool tabButtonsEnabled() const { return tabButtonsEnabled_; }
    static const char* tabTitle(Tab tab) { return tabInfo(tab).title; }

    void postPageBusy(int value) override;
    void postShellRequest(ShellRequest request) override;
    void postNetConfigStatus(NetConfigStatus status) override;

    ChangeNotifier changed;

private:
    static int index(Tab tab) { return static_cast<int>(tab); }
    void post(std::function<void()> task);
    void showConfigStatus(const char* text);

    EventLoop& loop_;
    WindowLink& link_;
    Popups& popups_;
    // A tab left within 150 ms is not activated: one activation at a time.
    Timer activation_;
    Timer noticeClose_;
    // The re-discovery steps; each may still run when a new attempt starts.
    Timer configDone_;
    Timer searchAgain_;
    Timer searchTimeout_;
    Timer searchClose_;
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
