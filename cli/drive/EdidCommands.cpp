// SPDX-License-Identifier: Apache-2.0
// The "EDID" tab: read the inputs' EDID status, set a mode, copy, upload.
#include "cli/drive/SessionDriver.h"

#include "core/pages/edid/EdidFile.h"
#include "core/pages/edid/EdidModes.h"
#include "core/session/MatrixSession.h"

namespace matrix::cli {

namespace {

// The entry query's status chain has no timers of its own: when it has not
// filled input 4 by then, the hidden "Status" button, which has them, asks
// again and decides.
constexpr int kEntryChainWaitMs = 2000;
constexpr int kAllInputsRow = 4;  // "All Inputs" in the target combos

}  // namespace


void SessionDriver::collectEdid()
{
    result_.edid.clear();
    for (int n = 1; n <= EdidPage::kLivePorts; ++n)
        result_.edid.push_back({n, session_.edid.inputStatusText(n)});
}

void SessionDriver::showEdidTab(Step then)
{
    if (!session_.shell.selectTab(Tab::Edid)) {
        fail(ExitCode::MatrixFailed, "the matrix is busy");
        return;
    }
    waitUntil([this] { return !session_.shell.timers().isRunning(Shell::kActivateEdidTimer); }, kConnectLimitMs,
              [this, then] {
                  entryStartMs_ = session_.platform.loop.nowMs();
                  // Let the entry chain finish, so that no reply of it is
                  // taken for one of the operation's.
                  waitUntil(
                      [this] {
                          return !session_.edid.inputStatusText(EdidPage::kLivePorts).empty() ||
                                 session_.platform.loop.nowMs() - entryStartMs_ >= kEntryChainWaitMs;
                      },
                      kEntryChainWaitMs + 1000, then);
              });
}

void SessionDriver::runEdidStatus()
{
    showEdidTab([this] {
        EdidPage& page = session_.edid;
        if (!page.inputStatusText(EdidPage::kLivePorts).empty()) {
            collectEdid();
            succeed();
            return;
        }
        page.clickStatus();
        expectNotice("Time out!", [this] {
            collectEdid();
            fail(ExitCode::MatrixFailed, "Time out!");
        });
        waitUntil(
            [this, &page] {
                return page.edidBusy() == 0 && !session_.popups.progress.isOpen() &&
                       !session_.popups.notice.isOpen();
            },
            kPageRunLimitMs, [this] {
                collectEdid();
                succeed();
            });
    });
}

void SessionDriver::waitEdidOperation(const std::string& successNotice)
{
    EdidPage& page = session_.edid;
    if (!successNotice.empty())
        expectNotice(successNotice, [this, successNotice] { succeed(successNotice); });
    // The default EDID commands end without a notice: the page is idle again
    // and nothing complained.
    waitUntil(
        [this, &page, successNotice] {
            return successNotice.empty() && page.edidBusy() == 0 && !session_.popups.progress.isOpen() &&
                   !session_.popups.notice.isOpen();
        },
        kPageRunLimitMs, [this] { succeed("Set successfully!"); });
}

void SessionDriver::runEdidSet()
{
    showEdidTab([this] {
        EdidPage& page = session_.edid;
        page.selectMode(inv_.modeRow);
        page.selectSetTarget(inv_.edidTarget == kAllInputs ? kAllInputsRow : inv_.edidTarget - 1);
        page.clickSetMode();
        waitEdidOperation(inv_.modeRow == edid::kDefaultEdidRow ? "" : "Set successfully!");
    });
}

void SessionDriver::runEdidCopy()
{
    showEdidTab([this] {
        EdidPage& page = session_.edid;
        page.selectCopySource(inv_.output - 1);
        page.selectCopyTarget(inv_.edidTarget == kAllInputs ? kAllInputsRow : inv_.edidTarget - 1);
        page.clickCopy();
        waitEdidOperation("Copy successfully!");
    });
}

void SessionDriver::runEdidUpload()
{
    // The page's own check, before any link is opened, so that a wrong
    // file is bad input rather than a failure of the matrix.
    auto check = edid::checkEdidFile(inv_.file);
    if (check.verdict == edid::EdidFileVerdict::Reject) {
        fail(ExitCode::Usage, "Please select the correct EDID file!");
        return;
    }
    if (check.verdict == edid::EdidFileVerdict::Ignore) {
        fail(ExitCode::Usage, "EDID file with more than one extension block: " + inv_.file);
        return;
    }
    connect([this] {
        showEdidTab([this] {
            EdidPage& page = session_.edid;
            page.openEdidFile(inv_.file);
            page.selectDownloadTarget(inv_.edidTarget == kAllInputs ? kAllInputsRow : inv_.edidTarget - 1);
            page.clickDownload();
            waitEdidOperation("Download successfully!");
        });
    });
}


}  // namespace matrix::cli
