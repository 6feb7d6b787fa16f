// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/client/MatrixClient.h"
#include "core/formats/EdidFile.h"
#include "core/formats/EdidModes.h"

namespace matrix {

// The "EDID" tab: sets what EDID each input presents (a built-in mode or
// the default EDID, a copy of a display's EDID, or an EDID file) on one
// input or all of them, and reads back each input's EDID status. Each
// operation is a request of the page's client, under the progress popup.
class EdidPage : public WindowPage {
public:
    // Operations as edidOperation holds them.
    enum Operation : int { kOpSetMode = 1, kOpCopy, kOpDownload, kOpRefresh, kOpStatusQuery, kOpNone = 100 };

    static constexpr int kReplyWaitMs = protocol::kReplyWaits.firstMs;
    static constexpr int kDataStepDelayMs = protocol::kEdidBlockDelayMs;
    static constexpr int kNoticeMs = 1500;
    static constexpr int kLongNoticeMs = 2500;  // standby and switch-state notices
    static constexpr int kProgressStepMs = ProgressPopup::kStepMs;
    static constexpr int kStatusInputs = 8;

    explicit EdidPage(PageContext& context);

    // Nothing is sent until the entry query that follows the tab being shown.
    void startPage() override { port_.openChosenPort(); }
    void tabSelected(bool shown) override
    {
        if (shown)
            entryPending_ = 1;
    }
    void activate() override;  // the entry query

    // --- view model: what the view shows --------------------------------
    static const std::vector<std::string>& modeRows() { return edid::modeRows(); }
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
    void clickSetMode() { click(kOpSetMode); }
    void clickCopy() { click(kOpCopy); }
    void clickDownload() { click(kOpDownload); }
    void clickStatus() { click(kOpStatusQuery); }  // the hidden "Status" button
    void selectMode(int row) { selectRow(modeIndex_, row, edid::kModeRowCount); }
    void selectSetTarget(int row) { selectRow(setTargetIndex_, row, portCount() + 1); }
    void selectCopySource(int row) { selectRow(copySourceIndex_, row, portCount()); }
    void selectCopyTarget(int row) { selectRow(copyTargetIndex_, row, portCount() + 1); }
    void selectDownloadTarget(int row) { selectRow(downloadTargetIndex_, row, portCount() + 1); }
    // A file chosen in the browse dialog.
    void openEdidFile(const std::string& path);

    // --- state, for tests and the hidden logs -----------------------------
    int edidOperation() const { return edidOperation_; }
    int edidBusy() const { return edidBusy_; }
    int portCount() const { return client::kPortCount; }
    const edid::EdidBytes& edidFileData() const { return edidFileData_; }
    client::MatrixClient& client() { return client_; }

private:
    void sendStatusQuery(int input);
    void startRefresh();

    void click(int operation)
    {
        startOperation(operation);
        changed.notifyChanged();
    }
    void startOperation(int operation);
    void operationEnded(int operation, client::Status status, const std::string& message);
    void changeEnded(int operation, bool ok);
    void timeOut();
    void endWithLongNotice(const std::string& text);

    void dispatch(const CommandFrame& frame);

    void stopProgress();
    void selectRow(int& index, int row, int rowCount);

    Timer progress_{ctx_.platform.loop};  // the progress popup's dots
    client::MatrixClient client_;
    // The request of the operation the user started runs; its last step sent.
    bool operationRunning_ = false;
    client::EdidStep step_ = client::EdidStep::SwitchState;
    // Until the entry query has gone out, TCP replies belong to the page
    // that held the link before.
    int entryPending_ = 0;

    int edidOperation_ = kOpNone;
    int edidBusy_ = 0;
    int modeIndex_ = 0;
    int setTargetIndex_ = 0;
    int copySourceIndex_ = 0;
    int copyTargetIndex_ = 0;
    int downloadTargetIndex_ = 0;
    std::string edidFilePath_;
    edid::EdidBytes edidFileData_{};
    std::size_t edidFileBytes_ = 0;  // the accepted file's length, 128 or 256
    std::array<std::string, kStatusInputs> statusTexts_{};
};

}  // namespace matrix
