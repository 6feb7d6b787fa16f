// SPDX-License-Identifier: Apache-2.0
#include "core/app/Shell.h"

#include "core/app/Popups.h"
#include "core/transport/SerialChannel.h"

namespace matrix {

namespace {
constexpr const char* kSearchingText = "Searching Matrix IP . . .";
constexpr const char* kSearchFailedText = "Search Matrix IP failed!";
}  // namespace

Shell::Shell(EventLoop& loop, WindowLink& link, Popups& popups)
    : loop_(loop),
      link_(link),
      popups_(popups),
      activation_(loop),
      noticeClose_(loop),
      configDone_(loop),
      searchAgain_(loop),
      searchTimeout_(loop),
      searchClose_(loop),
      alive_(std::make_shared<bool>(true))
{
}

Shell::~Shell() { *alive_ = false; }

void Shell::registerPage(Tab tab, Page& page)
{
    pages_[index(tab)] = &page;
    // A fault on any page's port drops the COM link for the whole program.
    page.serialPort().setFaultHandler([this] { postShellRequest(ShellRequest::SerialFault); });
}

void Shell::showGeneralAtStart()
{
    tabSelected_ = {1, 0, 0, 0};
    pageCreated_[index(Tab::General)] = true;
    shown_ = Tab::General;
    changed.notifyChanged();
}

bool Shell::selectTab(Tab tab)
{
    if (link_.busy || link_.firmwareUpgrading)
        return false;

    const int i = index(tab);
    tabSelected_ = {0, 0, 0, 0};
    tabSelected_[i] = 1;
    link_.activePage = tabInfo(tab).page;
    for (const TabInfo& info : kTabTable)
        pages_[index(info.tab)]->tabSelected(info.tab == tab);

    if (!link_.tcpMode()) {
        // Only the shown page may hold the COM port.
        for (int other = 0; other < kTabCount; ++other)
            if (other != i)
                pages_[other]->serialPort().requestClose();
    }

    Page* page = pages_[i];
    if (!pageCreated_[i]) {
        pageCreated_[i] = true;
        page->startPage();
    }
    shown_ = tab;
    changed.notifyChanged();

    if (link_.tcpMode()) {
        if (!link_.tcpLinkUp()) {
            activation_.stop();
            // The page stays shown, idle until selected again with the link up.
            noticeClose_.once(kNoticeMs, [this] { popups_.notice.close(); });
            popups_.notice.show(notice_text::kConnectFailed);
            return true;
        }
        link_.reconnect(tabInfo(tab).page);
    }

    // Restarting drops the activation of a tab left within 150 ms: its page
    // would take the link back from the page that is shown.
    activation_.once(kActivationMs, [page] { page->activate(); });
    return true;
}

void Shell::post(std::function<void()> task)
{
    auto alive = alive_;
    loop_.post([alive, task = std::move(task)] {
        if (*alive)
            task();
    });
}

void Shell::postPageBusy(int value)
{
    post([this, value] {
        if (value != 0 && value != 1)
            return;
        tabButtonsEnabled_ = value == 0;
        changed.notifyChanged();
    });
}

void Shell::postShellRequest(ShellRequest request)
{
    post([this, request] {
        if (request == ShellRequest::OpenConfigStatus) {
            popups_.configStatus.open();
        } else if (request == ShellRequest::SerialFault) {
            for (Tab tab : {Tab::Edid, Tab::Matrix, Tab::FwUpgrade})
                pages_[index(tab)]->serialPort().requestClose();
            if (generalHooks_)
                generalHooks_->forceComDisconnect();
        }
    });
}

void Shell::postNetConfigStatus(NetConfigStatus status)
{
    post([this, status] {
        if (status == NetConfigStatus::Configured) {
            popups_.configStatus.configAcknowledged = 1;
            showConfigStatus(notice_text::kConfigCompleted);
            configDone_.once(kConfigSuccessMs, [this] {
                showConfigStatus(kSearchingText);
                searchAgain_.once(kSearchAgainMs, [this] {
                    if (generalHooks_)
                        generalHooks_->runSearch();
                    searchTimeout_.once(kSearchTimeoutMs, [this] {
                        showConfigStatus(kSearchFailedText);
                        searchClose_.once(kSearchCloseMs, [this] { popups_.configStatus.close(); });
                    });
                });
            });
        } else if (status == NetConfigStatus::DiscoveryReply) {
            searchTimeout_.stop();
            popups_.configStatus.close();
        }
    });
}

// The configuration status popup's next line, recorded as the notice text.
void Shell::showConfigStatus(const char* text)
{
    popups_.notice.record(text);
    popups_.configStatus.setText(text);
}

}  // namespace matrix
