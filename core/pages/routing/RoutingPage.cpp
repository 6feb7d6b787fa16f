// SPDX-License-Identifier: Apache-2.0
#include "core/pages/routing/RoutingPage.h"

#include <charconv>

namespace matrix {

namespace {

using namespace notice_text;
constexpr const char* kOpenPortFirstText = "请打开串口";

bool validPort(int n, int count) { return n >= 1 && n <= count; }

}  // namespace

RoutingPage::RoutingPage(PageContext& context)
    : WindowPage(context, PageId::Routing),
      client_(context.platform.loop, nullptr, nullptr, client::windowPageOptions())
{
    // Only the shown page talks to the matrix. A recall or a panel command
    // holds no busy, so the user may take another tab while it waits; it then
    // ends quietly at its next wait instead of sending over that page.
    client_.attach(
        [this](const std::vector<std::uint8_t>& bytes) { port_.send(CommandFrame::fromBytes(bytes.data())); },
        [this] { return link_.activePage == PageId::Routing; });
    client_.onResend = [this](client::Resend why) { resent(why); };
    client_.onStandby = [this] { standby(); };
    port_.onSerialFrame([this](const CommandFrame& frame) { dispatch(frame, Path::Serial); });
    // Until the refresh, socket data is for a page that is not listening;
    // a half frame of it must not prefix the next reply.
    link_.setSocketReader(PageId::Routing, {[this] { return socketRxEnabled_; }, &port_.receivedLog(),
                                            [this](const CommandFrame& frame) { dispatch(frame, Path::Socket); }});

    for (int row = 0; row < kPresetRows; ++row)
        presetCells_[row][0] = "Setting" + std::to_string(row + 1);
    refreshPresetRow();
}

// The display shows every answer; the grid takes it (true) only up to lastInput.
bool RoutingPage::showAnswer(int output, int input, int lastInput)
{
    stopProgress();
    if (!validPort(output, kOutputs))
        return false;
    display_[output - 1] = std::to_string(input);
    if (!validPort(input, lastInput))
        return false;
    checked_[output - 1] = input;
    return true;
}

void RoutingPage::stopProgress()
{
    progress_.stop();
    ctx_.popups.progress.close();
}

void RoutingPage::runGuard(int output, int input, bool releasesNotice)
{
    // A recall or a panel command in flight shares the route replies with
    // the grid, so the grid waits for it as it waits for its own command.
    if (!validPort(output, kOutputs) || !validPort(input, kInputs) || !gridAcceptsClicks())
        return;
    if (notice_.guard(link_.tcpMode() ? link_.tcpLinkUp() : port_.serial().isOpen())) {
        link_.busy = true;
        routeTo(output, input, protocol::kRouteWaits);
        if (releasesNotice)
            ctx_.popups.notice.release();
    }
    changed.notifyChanged();
}

void RoutingPage::routeTo(int output, int input, protocol::Waits waits)
{
    pendingInput_ = static_cast<std::int8_t>(input);
    client_.route(Output{output}, Input{input}, waits, [this, output](const client::Result<client::Nothing>& result) {
        ended(Conversation::Route, output, result.status);
    });
}

// The step buttons go round the live inputs. The next buttons of outputs A
// and E..H never release the notice.
void RoutingPage::step(int output, bool forward)
{
    if (!validPort(output, kOutputs))
        return;
    const int c = currentInput(output);
    if (forward)
        runGuard(output, c < kLiveInputs ? c + 1 : 1, output >= 2 && output <= 4);
    else
        runGuard(output, c > 1 ? c - 1 : kLiveInputs, true);
}

void RoutingPage::activate()
{
    // A command clicked in the 150 ms before activation is still in flight: a
    // refresh would share busy with it, and whichever ended first would free
    // the tabs while the other still sends. Its own reply shows what it changes.
    const bool commandInFlight = link_.busy || !panelReady();
    const bool tcp = link_.tcpMode();
    if (tcp && link_.socketConnected()) {
        socketRxEnabled_ = true;
        if (!commandInFlight)
            runRefresh();
    } else if (!tcp && link_.comOpen && commandInFlight && port_.serial().isOpen()) {
        link_.pageStopBits = 2;
        return;
    } else if (!tcp && port_.reopen()) {
        // A command left on the port that closed meanwhile ends here;
        // the refresh reads what it changed.
        client_.cancel();
        runRefresh();
    } else {
        notice_.showNotConnected();
    }
    changed.notifyChanged();
}

void RoutingPage::runRefresh()
{
    client_.readRouting(
        [this](const client::Result<client::Routing>& result) { ended(Conversation::Refresh, 0, result.status); },
        // One output's answer, before the next query goes out. The serial
        // path trusts only the live inputs; the socket path takes any input
        // the protocol can name. Outside that, only the display shows it.
        [this](Output output, Input input) {
            if (showAnswer(output.number(), input.number(), rxPath_ == Path::Serial ? kLiveInputs : kInputs))
                pendingInput_ = static_cast<std::int8_t>(input.number());
            if (rxPath_ == Path::Socket && output.number() < kLiveOutputs)
                ctx_.shell.postPageBusy(link_.busy);
        });
    link_.busy = true;
}

void RoutingPage::dispatch(const CommandFrame& frame, Path path)
{
    if (path == Path::Socket && !link_.tcpMode())
        return;
    rxPath_ = path;
    client_.receive(frame);
    changed.notifyChanged();
}

void RoutingPage::ended(Conversation conversation, int output, client::Status status)
{
    const bool ok = status == client::Status::Ok;
    if (ok && conversation == Conversation::Route) {
        showAnswer(output, pendingInput_, kInputs);
        configPending_ = 0;
        link_.busy = false;
        ctx_.shell.postPageBusy(0);
    } else if (ok && conversation == Conversation::Series) {
        endRecall();
    } else if (ok) {
        // The refresh ends with the last live output.
        link_.busy = false;
        if (rxPath_ == Path::Socket)
            ctx_.shell.postPageBusy(0);
    } else if (status == client::Status::TimeOut) {
        // No sound answer after the re-send; a route or recall frees the panel too.
        stopProgress();
        notice_.recordIfNoneOpen(kNoticeMs, kTimeOut, [this, conversation] {
            link_.busy = false;
            if (conversation != Conversation::Refresh)
                endRecall();
            ctx_.shell.postPageBusy(0);
            changed.notifyChanged();
        });
    } else if (status == client::Status::LinkDown) {
        // Another tab holds the link now: what was in flight ends without a word.
        progress_.stop();
        endRecall();
    }
    // A standby has its own notice.
    changed.notifyChanged();
}

// A request went out again: after its first wait under the progress popup;
// after an answer that did not add up, the answer ended the popup.
void RoutingPage::resent(client::Resend why)
{
    if (why == client::Resend::AfterBadSum)
        stopProgress();
    else
        ctx_.popups.progress.start(progress_, changed, [] { return "Please wait"; });
    changed.notifyChanged();
}

void RoutingPage::startRecall()
{
    std::vector<std::pair<Output, Input>> routes;
    for (int k = 1; k <= kLiveOutputs; ++k)
        routes.emplace_back(Output{k}, Input{presetRoute_[k - 1] + 1});
    client_.routeSeries(
        routes,
        [this](const client::Result<client::Nothing>& result) { ended(Conversation::Series, 0, result.status); },
        [this, routes](Output output) {
            showAnswer(output.number(), routes[output.number() - 1].second.number(), kInputs);
        });
}

void RoutingPage::endRecall()
{
    recallIdle_ = 1;
    configPending_ = 0;
}

void RoutingPage::standby()
{
    noticeClose_.stop();
    stopProgress();
    if (ctx_.popups.notice.held())
        ctx_.popups.notice.close();
    notice_.recordIfNoneOpen(kStandbyNoticeMs, kStandby);
    // Nothing is in flight any more: every command's state is released.
    link_.busy = false;
    endRecall();
    ctx_.shell.postPageBusy(0);
    changed.notifyChanged();
}

int RoutingPage::presetCellValue(const std::string& text)
{
    if (text.empty())
        return -1;
    int value = 16;  // left as it is when the character is not a hex digit
    std::from_chars(text.data(), text.data() + 1, value, 16);
    return value - 1;
}

void RoutingPage::setPresetCell(int row, int column, const std::string& text)
{
    if (row < 0 || row >= kPresetRows || column < 0 || column >= kPresetColumns)
        return;
    presetCells_[row][column] = text;
    changed.notifyChanged();
}

void RoutingPage::refreshPresetRow()
{
    for (int k = 1; k <= kOutputs; ++k)
        presetCells_[presetRow_][k] = std::to_string(presetRoute_[k - 1] + 1);
}

void RoutingPage::clickPresetRow(int row)
{
    if (!panelReady() || row < 0 || row >= kPresetRows)
        return;
    presetRow_ = row;
    presetName_ = presetCells_[row][0];
    for (int k = 1; k <= kOutputs; ++k)
        if (!presetCells_[row][k].empty())
            presetRoute_[k - 1] = static_cast<std::int8_t>(presetCellValue(presetCells_[row][k]));
    changed.notifyChanged();
}

void RoutingPage::clickEdit()
{
    editorOpen_ = true;
    editorName_ = presetName_;
    editorAllFrom_ = 0;
    for (int k = 0; k < kOutputs; ++k)
        editorSelection_[k] = (presetRoute_[k] >= 0 && presetRoute_[k] < kInputs) ? presetRoute_[k] : -1;
    changed.notifyChanged();
}

void RoutingPage::editorSelectInput(int output, int inputIndex)
{
    if (!editorOpen_ || !validPort(output, kOutputs) || inputIndex < 0 || inputIndex >= kInputs)
        return;
    editorSelection_[output - 1] = inputIndex;
    changed.notifyChanged();
}

void RoutingPage::editorChooseAllFrom(int item)
{
    if (!editorOpen_ || item < 0 || item > 9)
        return;
    editorAllFrom_ = item;
    for (int k = 0; item >= 1 && k < kOutputs; ++k)
        editorSelection_[k] = item == 9 ? k : item - 1;
    changed.notifyChanged();
}

// OK keeps the editor's routes for Set; Cancel drops them.
void RoutingPage::closeEditor(bool keep)
{
    if (!editorOpen_)
        return;
    editorOpen_ = false;
    if (keep) {
        ctx_.popups.notice.release();
        for (int k = 0; k < kOutputs; ++k)
            if (editorSelection_[k] >= 0)
                presetRoute_[k] = static_cast<std::int8_t>(editorSelection_[k]);
        // The list shows what Set will send.
        refreshPresetRow();
    }
    changed.notifyChanged();
}

void RoutingPage::clickSet()
{
    if (!port_.serial().isOpen()) {
        messageBox_ = kOpenPortFirstText;
    } else if (!panelReady() || link_.busy) {
        return;
    } else {
        recallIdle_ = 0;
        startRecall();
    }
    changed.notifyChanged();
}

const char* RoutingPage::configEntryText(int index)
{
    static const char* const kEntries[kConfigEntries] = {"Output1", "Output2", "Output3", "Output4",    "Output5",
                                                         "Output6", "Output7", "Output8", "All Output", "Port to Port"};
    return index >= 0 && index < kConfigEntries ? kEntries[index] : "";
}

void RoutingPage::selectConfigTarget(int index)
{
    if (index < 0 || index >= kConfigEntries)
        return;
    configTarget_ = static_cast<std::int8_t>(index);
    if (index == kConfigPortToPort && panelReady() && !link_.busy) {
        // Checked like the panel's buttons: without the page's port the
        // recall could never be acknowledged past output 1.
        if (!port_.serial().isOpen()) {
            messageBox_ = kOpenPortFirstText;
        } else {
            recallIdle_ = 0;
            for (int k = 0; k < kOutputs; ++k)
                presetRoute_[k] = static_cast<std::int8_t>(k);
            startRecall();
        }
    }
    changed.notifyChanged();
}

void RoutingPage::clickConfigInput(int input)
{
    if (!validPort(input, kInputs) || link_.busy)
        return;
    if (!port_.serial().isOpen()) {
        messageBox_ = kOpenPortFirstText;
    } else if (configTarget_ == kConfigPortToPort || !panelReady()) {
        return;
    } else {
        configPending_ = input;
        pendingInput_ = static_cast<std::int8_t>(input);
        if (configTarget_ < kOutputs) {
            // The panel's single route waits as a recall step does.
            routeTo(configTarget_ + 1, input, protocol::kReplyWaits);
        } else {
            presetRoute_.fill(static_cast<std::int8_t>(input - 1));
            startRecall();
        }
    }
    changed.notifyChanged();
}

void RoutingPage::dismissMessageBox()
{
    messageBox_.clear();
    changed.notifyChanged();
}

}  // namespace matrix
