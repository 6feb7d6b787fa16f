// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Notices.h"
#include "core/app/Page.h"
#include "core/app/PageContext.h"
#include "core/app/PageLink.h"
#include "core/formats/FirmwareContainer.h"
#include "core/formats/FirmwareMerger.h"
#include "core/link/CommandFrame.h"
#include "core/link/HexLog.h"
#include "core/protocol/Protocol.h"
#include "core/protocol/Waits.h"
#include "core/transport/ChangeNotifier.h"
#include "core/transport/SerialChannel.h"
#include "core/transport/StreamSocket.h"
#include "core/transport/TimerSet.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace matrix {

// The "FW Upgrade" tab: loads a firmware container, uploads it part by part
// in acknowledged 256-byte blocks, polls the matrix through its reboot, and
// shows the device type, size and version on its bottom line. The view
// model of the page: getters, user actions and one change notification.
class FirmwarePage : public Page, public StreamSocketOwner {
public:
    // Timer ids and periods of the page.
    static constexpr TimerPeriod kPrepareDelay{1, protocol::kFirmwarePrepareDelayMs};
    static constexpr TimerPeriod kFirstBlock{2, protocol::kFirmwareFirstBlockDelayMs};
    static constexpr TimerPeriod kNextBlock{3, protocol::kFirmwareBlockDelayMs};
    static constexpr int kRebootPollFirstTimer = 4;
    static constexpr int kRebootPollLastTimer = 11;
    static constexpr int kRebootPollMs = protocol::kRebootPollWaits.firstMs;
    static constexpr int kStartPart1Timer = 15;
    static constexpr int kStartPart1FinalTimer = 16;
    static constexpr int kStartPart2Timer = 17;
    static constexpr int kStartPart2FinalTimer = 18;
    static constexpr int kStartReplyMs = protocol::kFirmwareStartWaits.firstMs;
    static constexpr int kBlockAckTimer = 33;
    static constexpr int kBlockAckMs = protocol::kFirmwareBlockWaits.firstMs;
    static constexpr int kBlockAckFinalTimer = 34;
    static constexpr int kBlockAckFinalMs = protocol::kFirmwareBlockWaits.secondMs;
    static constexpr int kSecondPrepareTimer = 36;
    static constexpr int kSecondPrepareFinalTimer = 37;
    static constexpr int kSecondPrepareMs = protocol::kFirmwareSecondPrepareWaits.firstMs;
    static constexpr int kFirstPrepareTimer = 38;
    static constexpr int kFirstPrepareFinalTimer = 39;
    static constexpr int kFirstPrepareMs = protocol::kFirmwarePrepareWaits.firstMs;
    static constexpr int kFirstBlockAckTimer = 40;
    static constexpr int kFirstBlockAckFinalTimer = 41;
    static constexpr int kFirstBlockAckMs = protocol::kFirmwareFirstBlockWaits.firstMs;
    static constexpr int kNoticeTimer = 55;
    static constexpr int kNoticeMs = 1500;
    static constexpr int kStandbyNoticeMs = 2500;
    static constexpr int kLastPageTimer = 79;

    static constexpr std::size_t kBlockDataBytes = protocol::kFirmwareBlockDataBytes;
    static constexpr std::size_t kBlockBytes = protocol::kFirmwareBlockBytes;
    // Block indexes travel in one byte, so a part carries at most 256 blocks.
    static constexpr std::size_t kMaxPartBytes = 65535;

    explicit FirmwarePage(PageContext& context);
    ~FirmwarePage() override;

    // Page
    SerialChannel& serialPort() override { return pageLink_.serial(); }
    void startPage() override;
    void tabSelected(bool shown) override;
    void reconnectTcp() override;
    void activate() override;

    // StreamSocketOwner
    void onSocketConnect(int errorCode) override;
    void onSocketRead() override;
    void onSocketClose() override;

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
    int progressPosition() const;
    bool upgradeEnabled() const { return upgradeEnabled_; }
    // Loading another file while an upgrade runs would change the image
    // under the transfer, so the browse button waits for the end.
    bool browseEnabled() const { return !context_.link.firmwareUpgrading; }
    const std::string& messages() const { return messages_; }
    const std::string& deviceLine() const { return deviceLine_; }
    bool messageBoxOpen() const { return messageBoxOpen_; }
    const std::string& messageBoxText() const { return messageBoxText_; }
    const FirmwareMerger& merger() const { return merger_; }

    // Inspection for tests and diagnostics.
    const Bytes& image() const { return image_; }
    int firmwarePart() const { return firmwarePart_; }
    int blockIndex() const { return blockIndex_; }
    int handshakeStep() const { return handshakeStep_; }
    const std::array<std::uint8_t, kBlockBytes>& block() const { return block_; }
    const std::string& sentLogText() const { return sentLog_; }
    const HexLog& receivedLog() const { return pageLink_.receivedLog(); }
    TimerSet& timers() { return timers_; }

    ChangeNotifier changed;

private:
    struct PartInfo {
        std::size_t dataStart = 0;
        std::size_t end = 0;
        std::size_t length() const { return end - dataStart; }
        int blockTotal() const { return static_cast<int>(length() / kBlockDataBytes); }
    };

    void handleFrame(const CommandFrame& frame, bool viaTcp);
    void handleDeviceInfo(const CommandFrame& frame, std::string& infoText);
    void handleUpgradeReply(const CommandFrame& frame);
    void handleStartReply(std::uint8_t sub, protocol::FirmwareStart start);
    void handlePrepareAck();
    void handleBlockReply(const CommandFrame& frame);
    void startBlocks();
    void onHandshakeTimer(int id);
    void onBlockTimer(int id);
    void handleStandby();
    void handleRebootAnswer();
    void onTimer(int id);

    void startPart(std::size_t markerPosition);
    void refuse(const std::string& logLine);
    void endUpgrade(const std::string& logLine);
    void failAfterTimeOut(const std::string& logLine);
    void finishIdle();

    int partSub() const { return firmwarePart_ == 2 ? protocol::kFirmwarePart2Sub : protocol::kFirmwarePart1Sub; }
    std::string partName() const;
    void sendFrame(const CommandFrame& frame) { pageLink_.sender().sendRaw(frame.data(), CommandFrame::kSize, false); }
    void sendStartCommand();
    void sendAnnounce(int index);
    void sendBlock();
    void sendRebootPoll();
    void fillBlock();
    void appendMessage(const std::string& text);
    void appendSentLog(const std::string& text);
    void showPageNotice(const std::string& text, int ms = kNoticeMs);

    PageContext& context_;
    PageLink pageLink_;
    // Set on every tab selection, cleared by Upgrade: TCP upgrade replies
    // are not ours meanwhile.
    int entryPending_ = 0;
    // 0 until Upgrade: status replies are the bottom line's device info.
    int upgradeMode_ = 0;
    // TCP standby frames count only once the page's activation has asked.
    int standbyWatch_ = 0;
    std::string sentLog_;
    TimerSet timers_;
    PageNotice notice_;

    std::string filePath_;
    Bytes image_;
    std::array<std::size_t, 5> partEnd_{};  // by part number, 1..4
    PartInfo part_;
    int firmwarePart_ = 0;
    int blockIndex_ = 0;
    std::array<std::uint8_t, kBlockBytes> block_{};
    int handshakeStep_ = 0;
    int progressCount_ = 0;
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
