// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/client/MatrixClient.h"
#include "core/formats/FirmwareMerger.h"
#include "core/protocol/Protocol.h"

namespace matrix {

// The "FW Upgrade" tab: loads a firmware container, has the page's client
// upload it part by part (acknowledged 256-byte blocks, the reboot poll
// after each part), and shows the device type, size and version on its
// bottom line.
class FirmwarePage : public WindowPage {
public:
    static constexpr int kNoticeMs = 1500;
    static constexpr int kStandbyNoticeMs = 2500;
    // Block indexes travel in one byte, so a part carries at most 256 blocks.
    static constexpr std::size_t kMaxPartBytes = 65535;

    explicit FirmwarePage(PageContext& context);
    ~FirmwarePage() override;

    void startPage() override { port_.openChosenPort(); }
    void tabSelected(bool shown) override
    {
        entryPending_ = true;
        if (shown) {
            upgradeMode_ = false;
            standbyWatch_ = false;
        }
    }
    void activate() override;

    // User actions.
    // The path chosen in the file dialog. Paths not ending in ".fw" or
    // ".BIN" are ignored; returns true when the file was loaded.
    bool setFilePath(const std::string& path);
    void upgradeClicked();
    void clearClicked();
    // Merge tool.
    FirmwareMerger::PickResult pickMergeSource(int source, const std::string& path);
    void mergeClicked();
    // The standard message box (part 2 rejection) was dismissed.
    void closeMessageBox();

    // What the view shows.
    const std::string& filePath() const { return filePath_; }
    int progressMaximum() const { return progressMaximum_; }
    int progressPosition() const { return progressPosition_; }
    bool upgradeEnabled() const { return upgradeEnabled_; }
    // Loading another file while an upgrade runs would change the image
    // under the transfer, so the browse button waits for the end.
    bool browseEnabled() const { return !link_.firmwareUpgrading; }
    const std::string& messages() const { return messages_; }
    const std::string& deviceLine() const { return deviceLine_; }
    bool messageBoxOpen() const { return messageBoxOpen_; }
    const std::string& messageBoxText() const { return messageBoxText_; }
    const FirmwareMerger& merger() const { return merger_; }

    // Inspection for tests and diagnostics.
    const Bytes& image() const { return image_; }
    const std::string& sentLogText() const { return sentLog_; }
    client::MatrixClient& client() { return client_; }

private:
    void handleFrame(const CommandFrame& frame, bool viaTcp);
    void handleDeviceInfo(const CommandFrame& frame, std::string& infoText);
    void finishIdle();

    void sendFrame(const CommandFrame& frame) { port_.sendRaw(frame.data(), CommandFrame::kSize, false); }

    // Set on every tab selection, cleared by Upgrade: TCP upgrade replies
    // are not ours meanwhile.
    bool entryPending_ = false;
    // Until Upgrade, status replies are the bottom line's device info.
    bool upgradeMode_ = false;
    // TCP standby frames count only once the page's activation has asked.
    bool standbyWatch_ = false;
    std::string sentLog_;

    client::MatrixClient client_;
    Bytes lastWrite_;  // the sent log marks re-sends by what went before

    std::string filePath_;
    Bytes image_;
    int firmwarePart_ = 0;
    int progressPosition_ = 0;
    int progressMaximum_ = 100;
    bool upgradeEnabled_ = true;

    std::string messages_;
    std::string deviceInfoSerial_;
    std::string deviceInfoTcp_;
    std::string deviceLine_;
    bool messageBoxOpen_ = false;
    std::string messageBoxText_;
    FirmwareMerger merger_;
};

}  // namespace matrix
