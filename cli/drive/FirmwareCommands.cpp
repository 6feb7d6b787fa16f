// SPDX-License-Identifier: Apache-2.0
// The "FW Upgrade" tab: load a firmware file and press "Upgrade".
#include "cli/drive/SessionDriver.h"

#include "core/pages/firmware/FirmwareContainer.h"
#include "core/session/MatrixSession.h"

namespace matrix::cli {

namespace {

constexpr const char* kUpgradeSucceeded = "Firmware upgrade Successfully";
// The entry query reads type, size and version; a device-type reply that
// arrived after "Upgrade" would be taken for the reboot answer, so the
// upgrade waits for the entry query to be answered, but not for ever.
constexpr int kEntryAnswerWaitMs = 3000;

}  // namespace


void SessionDriver::takeMessageLines()
{
    const std::string& box = session_.firmware.messages();
    if (box.size() < messagesSeen_)
        messagesSeen_ = 0;  // the box was cleared
    for (;;) {
        std::size_t end = box.find("\r\n", messagesSeen_);
        if (end == std::string::npos)
            break;
        std::string line = box.substr(messagesSeen_, end - messagesSeen_);
        messagesSeen_ = end + 2;
        result_.messages.push_back(line);
        if (onMessageLine)
            onMessageLine(line);
    }
}

void SessionDriver::runFirmwareUpgrade()
{
    // Bad input is refused before any link is opened.
    if (!hasFirmwareExtension(inv_.file)) {
        fail(ExitCode::Usage, "not a firmware file (.fw or .BIN): " + inv_.file);
        return;
    }
    Bytes probe;
    switch (readFileBounded(inv_.file, kMaxFirmwareBytes, probe)) {
    case FileReadStatus::Ok: break;
    case FileReadStatus::CannotOpen: fail(ExitCode::Usage, "cannot read " + inv_.file); return;
    case FileReadStatus::TooLarge: fail(ExitCode::Usage, "firmware file too large: " + inv_.file); return;
    }

    connect([this] {
        if (!session_.shell.selectTab(Tab::FwUpgrade)) {
            fail(ExitCode::MatrixFailed, "the matrix is busy");
            return;
        }
        waitUntil([this] { return !session_.shell.timers().isRunning(Shell::kActivateFirmwareTimer); },
                  kConnectLimitMs, [this] {
                      // The entry query's notice (a link that went away) ends
                      // the run through the notice watch.
                      entryStartMs_ = session_.platform.loop.nowMs();
                      waitUntil(
                          [this] {
                              return !session_.firmware.deviceLine().empty() ||
                                     session_.platform.loop.nowMs() - entryStartMs_ >= kEntryAnswerWaitMs;
                          },
                          kEntryAnswerWaitMs + 1000, [this] { startUpgrade(); });
                  });
    });
}

void SessionDriver::startUpgrade()
{
    FirmwarePage& page = session_.firmware;
    if (!page.setFilePath(inv_.file)) {
        fail(ExitCode::Usage, "cannot load " + inv_.file);
        return;
    }
    messagesSeen_ = page.messages().size();
    page.upgradeClicked();
    waitUntil(
        [this, &page] {
            takeMessageLines();
            if (onProgress && page.progressMaximum() > 0)
                onProgress(page.progressPosition(), page.progressMaximum());
            if (page.messageBoxOpen()) {
                fail(ExitCode::MatrixFailed, page.messageBoxText());
                return false;
            }
            return session_.shared.firmwareUpgrading == 0 && !result_.messages.empty() &&
                   result_.messages.back() == kUpgradeSucceeded;
        },
        // Blocks may each wait 7 + 8 s and the reboot poll 24 s: the page's
        // own timers end a silent upload long before this.
        kPageRunLimitMs * 10, [this] { succeed(kUpgradeSucceeded); });
}


}  // namespace matrix::cli
