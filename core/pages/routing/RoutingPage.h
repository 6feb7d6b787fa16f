// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/client/MatrixClient.h"

namespace matrix {

// The "Matrix" tab: routes one input to each output, reads the matrix's
// routing each time the tab is shown, recalls presets and runs the output
// configuration panel. The protocol tables and timers cover eight outputs
// and eight inputs; the box and the view show four of each.
class RoutingPage : public WindowPage {
public:
    static constexpr int kOutputs = 8;
    static constexpr int kInputs = 8;
    static constexpr int kLiveOutputs = 4;
    static constexpr int kLiveInputs = 4;
    static constexpr int kPresetRows = 8;
    static constexpr int kPresetColumns = 1 + kOutputs;  // name, then Output1..Output8

    static constexpr int kNoticeMs = 1500;
    static constexpr int kStandbyNoticeMs = 2500;

    enum ConfigEntry : int { kConfigAllOutputs = 8, kConfigPortToPort = 9, kConfigEntries = 10 };

    explicit RoutingPage(PageContext& context);

    void startPage() override { port_.openChosenPort(); }  // nothing is sent before the tab's refresh
    void tabSelected(bool) override { socketRxEnabled_ = false; }
    void activate() override;

    // --- User actions -------------------------------------------------
    void clickGrid(int output, int input) { runGuard(output, input, true); }
    void clickPrevious(int output) { step(output, false); }
    void clickNext(int output) { step(output, true); }
    void clickPresetRow(int row);  // -1: no row selected
    void clickEdit();
    void clickSet();
    // Preset editor (open after clickEdit).
    void editorSelectInput(int output, int inputIndex);  // inputIndex 0 = input 1
    void editorChooseAllFrom(int item);                  // 0 "Select Input", 1..8 In1..In8, 9 "Port to Port"
    void editorOk() { closeEditor(true); }
    void editorCancel() { closeEditor(false); }
    // Output configuration panel.
    void selectConfigTarget(int index);
    void clickConfigInput(int input);
    // The message box ("请打开串口") was acknowledged.
    void dismissMessageBox();

    // --- View-model getters ---------------------------------------------
    // Input (1..8) checked in an output's column; 0 before its first reply.
    int checkedInput(int output) const { return output >= 1 && output <= kOutputs ? checked_[output - 1] : 0; }
    std::string displayText(int output) const { return output >= 1 && output <= kOutputs ? display_[output - 1] : ""; }
    // The grid and step buttons stay enabled, but ignore clicks while this is false.
    bool gridAcceptsClicks() const { return !link_.busy && panelReady(); }
    // The preset list, Edit, Set and the panel's buttons would act now.
    bool panelReady() const { return recallIdle_ == 1 && configPending_ == 0; }

    std::string presetCell(int row, int column) const
    {
        const bool valid = row >= 0 && row < kPresetRows && column >= 0 && column < kPresetColumns;
        return valid ? presetCells_[row][column] : "";
    }
    // Puts any text in a list cell, as tests and tools do.
    void setPresetCell(int row, int column, const std::string& text);
    int presetRow() const { return presetRow_; }
    const std::string& presetName() const { return presetName_; }
    int presetRoute(int output) const { return presetRoute_[output - 1]; }

    bool editorOpen() const { return editorOpen_; }
    const std::string& editorName() const { return editorName_; }
    int editorSelection(int output) const { return editorSelection_[output - 1]; }
    int editorAllFrom() const { return editorAllFrom_; }

    int configTarget() const { return configTarget_; }
    static const char* configEntryText(int index);
    bool configReady(int input) const { return configPending_ != input; }
    int recallIdle() const { return recallIdle_; }

    bool messageBoxOpen() const { return !messageBox_.empty(); }
    const std::string& messageBoxText() const { return messageBox_; }

    // Page state, for the shell and tests.
    int currentInput(int output) const { return checked_[output - 1] != 0 ? checked_[output - 1] : 1; }
    int pendingInput() const { return pendingInput_; }

    // A preset cell's first character as a hex digit, minus one (a non-digit counts 16).
    static int presetCellValue(const std::string& text);

private:
    enum class Path { Serial, Socket };
    // What a conversation of the page was for, as its ending shows it.
    enum class Conversation { Refresh, Route, Series };

    void step(int output, bool forward);
    void closeEditor(bool keep);
    void runGuard(int output, int input, bool releasesNotice);
    bool showAnswer(int output, int input, int lastInput);
    void refreshPresetRow();
    void startRecall();
    void endRecall();

    void dispatch(const CommandFrame& frame, Path path);
    void runRefresh();
    void routeTo(int output, int input, protocol::Waits waits);
    void ended(Conversation conversation, int output, client::Status status);
    void resent(client::Resend why);
    void stopProgress();
    void standby();

    Timer progress_{ctx_.platform.loop};  // the progress popup's dots
    client::MatrixClient client_;
    // The path of the frame the client is given now: the refresh trusts
    // other inputs on it, and only the socket path frees the tab buttons.
    Path rxPath_ = Path::Serial;
    // TCP replies are taken only from the refresh that follows this tab's
    // activation until any tab is selected again.
    bool socketRxEnabled_ = false;

    std::int8_t pendingInput_ = 1;
    std::array<int, kOutputs> checked_{};
    std::array<std::string, kOutputs> display_{"1", "1", "1", "1", "1", "1", "1", "1"};

    std::array<std::int8_t, kOutputs> presetRoute_{1, 1, 1, 1, 1, 1, 1, 1};
    std::string presetName_ = "Setting1";
    int presetRow_ = 0;
    int recallIdle_ = 1;
    std::array<std::array<std::string, kPresetColumns>, kPresetRows> presetCells_;

    bool editorOpen_ = false;
    std::string editorName_;
    std::array<int, kOutputs> editorSelection_{};
    int editorAllFrom_ = 0;

    std::int8_t configTarget_ = 0;
    int configPending_ = 0;  // the panel's input in flight; one at a time, as the panel waits for it

    std::string messageBox_;
};

}  // namespace matrix
