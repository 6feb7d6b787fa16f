// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Notices.h"
#include "core/app/Page.h"
#include "core/app/PageContext.h"
#include "core/app/PageLink.h"
#include "core/formats/EdidFile.h"
#include "core/link/HexLog.h"
#include "core/protocol/Protocol.h"
#include "core/protocol/Waits.h"
#include "core/transport/ChangeNotifier.h"
#include "core/transport/StreamSocket.h"
#include "core/transport/TimerSet.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace matrix {

class CommandFrame;
class SerialChannel;

// The "EDID" tab: sets what EDID each input presents (a built-in mode or
// the default EDID, a copy of a display's EDID, or an EDID file) on one
// input or all of them, and reads back each input's EDID status. Each
// operation is a short conversation of frames driven by replies and this
// page's timers, under the progress popup.
class EdidPage : public Page, public StreamSocketOwner {
public:
    // Operations as edidOperation holds them.
    enum Operation : int {
        kOpSetMode = 1,
        kOpCopy = 2,
        kOpDownload = 3,
        kOpRefresh = 4,
        kOpStatusQuery = 5,
        kOpNone = 100
    };

    // Timer ids as the page's behaviour names them; first ids retry once,
    // the next id gives up.
    static constexpr int kDataStepTimer = 2;
    static constexpr int kDownloadResultTimer = 3;
    static constexpr int kModeRequestTimer = 5;
    static constexpr int kModeRequestFinalTimer = 6;
    static constexpr int kDefaultAllTimer = 11;
    static constexpr int kModeAllTimer = 13;
    static constexpr int kDefaultOneTimer = 19;
    static constexpr int kModeOneTimer = 21;
    static constexpr int kCopyAllTimer = 23;
    static constexpr int kCopyOneTimer = 25;
    static constexpr int kDownloadOneTimer = 27;
    static constexpr int kDownloadAllTimer = 29;
    static constexpr int kNoticeTimer = 55;
    static constexpr int kCopyQueryTimer = 58;
    static constexpr int kProgressTimer = 60;
    static constexpr int kLastStandbyTimer = 79;
    static constexpr int kSwitchStateTimer = 86;
    static constexpr int kSwitchStateFinalTimer = 87;
    static constexpr int statusFirstTimer(int input) { return 70 + 2 * (input - 1); }
    static constexpr int statusFinalTimer(int input) { return 71 + 2 * (input - 1); }

    static constexpr int kReplyWaitMs = protocol::kReplyWaits.firstMs;
    static constexpr int kDataStepDelayMs = protocol::kEdidBlockDelayMs;
    static constexpr int kNoticeMs = 1500;
    static constexpr int kLongNoticeMs = 2500;  // standby and switch-state notices
    static constexpr int kProgressStepMs = 500;
    static constexpr std::size_t kTransferBlockBytes = protocol::kEdidTransferBytes;
    static constexpr int kStatusInputs = 8;
    static constexpr int kLivePorts = 4;

    explicit EdidPage(PageContext& context);
    ~EdidPage() override;

    // Page
    SerialChannel& serialPort() override { return pageLink_.serial(); }
    void startPage() override;
    void tabSelected(bool shown) override
    {
        if (shown)
            entryPending_ = 1;
    }
    void reconnectTcp() override;
    void activate() override;  // the entry query

    // StreamSocketOwner
    void onSocketConnect(int errorCode) override;
    void onSocketRead() override;
    void onSocketClose() override;

    // Serial receive path, one byte at a time (also wired to the port).

    // --- view model: what the view shows --------------------------------
    static const std::vector<std::string>& modeRows();
    std::vector<std::string> targetRows() const;  // "IN1".."IN4", "All Inputs"
    std::vector<std::string> sourceRows() const;  // "HDMI OUT A".."HDMI OUT D"
    int modeIndex() const { return modeIndex_; }
    int setTargetIndex() const { return setTargetIndex_; }
    int copySourceIndex() const { return copySourceIndex_; }
    int copyTargetIndex() const { return copyTargetIndex_; }
    int downloadTargetIndex() const { return downloadTargetIndex_; }
    const std::string& pathText() const { return edidFilePath_; }
    // Status text of input 1..8 as the last status reply set it.
    const std::string& inputStatusText(int input) const;

    // --- view model: user actions ----------------------------------------
    void clickSetMode();
    void clickCopy();
    void clickDownload();
    void clickStatus();  // the hidden "Status" button
    void selectMode(int row);
    void selectSetTarget(int row);
    void selectCopySource(int row);
    void selectCopyTarget(int row);
    void selectDownloadTarget(int row);
    // A file chosen in the browse dialog.
    void openEdidFile(const std::string& path);

    // --- state, for tests and the hidden logs -----------------------------
    int edidOperation() const { return edidOperation_; }
    int edidBusy() const { return edidBusy_; }
    int portCount() const { return portCount_; }
    const edid::EdidBytes& edidFileData() const { return edidFileData_; }
    const std::array<std::uint8_t, kTransferBlockBytes>& transferBlock() const { return edidTransferBlock_; }
    const HexLog& sentLog() const { return pageLink_.sentLog(); }
    const HexLog& receivedLog() const { return pageLink_.receivedLog(); }
    TimerSet& timers() { return timers_; }

    ChangeNotifier changed;

private:
    enum class FirstStep { ModeRequest, SwitchState, CopyQuery };

    // Senders: arguments command, sub-command, p1, p3, p2.
    void send(const CommandFrame& frame);

    bool startOperation(int operation);
    void sendModeRequest();
    void sendSwitchStateQuery();
    void sendCopyQuery();
    void sendStatusQuery(int input);
    void sendSetCommand();
    void sendCopyCommand();
    void sendDownloadRequest();
    // Re-sends the command a retry timer guards, with the current selections.
    void resendFor(int timerId);

    void dispatch(const CommandFrame& frame);
    bool handleReply(const CommandFrame& frame);
    void onModeReply();
    void onCopyQueryReply(const CommandFrame& frame);
    void onSetOneReply();
    void onDefaultOneReply();
    void onSetAllReply();
    void onDefaultAllReply();
    void onCopyAllReply(const CommandFrame& frame);
    void onCopyOneReply(const CommandFrame& frame);
    void onDownloadReady(int subCommand, int requestTimer);
    void onDownloadResult(const CommandFrame& frame);
    void onStandby();
    void onStatusReply(const CommandFrame& frame);
    void onSwitchStateReply(const CommandFrame& frame);

    void onTimer(int id);
    void dataStep();
    void fullTimeout(int id);
    void shortTimeout(int id, bool clearBusy);
    void animateProgress();

    void showNotice(const std::string& text, int displayMs = kNoticeMs, std::function<void()> whenClosed = {});
    void selectRow(int& index, int row, int rowCount);
    void endOperationWait(int firstTimerId, bool freeTabs = true);
    void showNoticeIfNoneOpen(const std::string& text, int displayMs = kNoticeMs);
    void closePleaseWait();
    void closeProgress();
    void endOperationQuietly();
    bool portOpen() const;

    PageContext& ctx_;
    LinkState& link_;
    TimerSet timers_;
    PageNotice notice_;
    PageLink pageLink_;
    // Until the entry query has gone out, TCP replies belong to the page
    // that held the link before.
    int entryPending_ = 0;

    int edidOperation_ = kOpNone;
    int edidBusy_ = 0;
    int portCount_ = kLivePorts;
    int modeIndex_ = 0;
    int setTargetIndex_ = 0;
    int copySourceIndex_ = 0;
    int copyTargetIndex_ = 0;
    int downloadTargetIndex_ = 0;
    std::string edidFilePath_;
    edid::EdidBytes edidFileData_{};
    std::array<std::uint8_t, kTransferBlockBytes> edidTransferBlock_{};
    std::array<std::string, kStatusInputs> statusTexts_{};
};

}  // namespace matrix
