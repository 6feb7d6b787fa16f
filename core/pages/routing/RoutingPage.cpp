// SPDX-License-Identifier: Apache-2.0
#include "core/pages/routing/RoutingPage.h"

#include "core/link/CommandFrame.h"
#include "core/protocol/Protocol.h"
#include "core/transport/SerialChannel.h"

#include <algorithm>

namespace matrix {

namespace {

namespace p = protocol;

using namespace notice_text;
constexpr const char* kOpenPortFirstText = "请打开串口";
// Each frame of the animation is 17 characters wide.
constexpr const char* kProgressTexts[] = {"Please wait .    ", "Please wait . .  ", "Please wait . . ."};

bool validPort(int n, int count) { return n >= 1 && n <= count; }

}  // namespace

RoutingPage::RoutingPage(PageContext& context)
    : ctx_(context),
      link_(context.link),
      timers_(context.platform.loop),
      notice_(context.popups, timers_, kNoticeTimer),
      pageLink_(context, FrameSender::Echo::BeforeSending)
{
    timers_.setHandler([this](int id) { onTimer(id); });
    pageLink_.onSerialFrame([this](const CommandFrame& frame) { dispatch(frame, Path::Serial); });

    currentInput_.fill(1);
    presetRoute_.fill(1);
    configReady_.fill(1);
    display_.fill("1");
    for (int row = 0; row < kPresetRows; ++row)
        presetCells_[row][0] = "Setting" + std::to_string(row + 1);
    refreshPresetRow();
}

void RoutingPage::startPage()
{
    // Nothing is sent until the refresh that follows the tab being shown.
    pageLink_.openChosenPort();
}

RoutingPage::~RoutingPage() = default;

// --- helpers -----------------------------------------------------------

bool RoutingPage::linkConnected() const { return link_.tcpMode() ? link_.tcpLinkUp : pageLink_.serial().isOpen(); }

bool RoutingPage::anyConfigPending() const
{
    return std::any_of(configReady_.begin(), configReady_.end(), [](int ready) { return ready == 0; });
}

void RoutingPage::setAllConfigReady() { configReady_.fill(1); }

bool RoutingPage::panelReady() const { return recallIdle_ == 1 && !anyConfigPending(); }

bool RoutingPage::gridAcceptsClicks() const { return !link_.busy && panelReady(); }

void RoutingPage::send(const CommandFrame& frame) { pageLink_.sender().send(frame); }

void RoutingPage::showRoute(int input, int output)
{
    if (!validPort(output, kOutputs) || !validPort(input, kInputs))
        return;
    checked_[output - 1] = input;
}

void RoutingPage::setDisplay(int output, int value)
{
    if (validPort(output, kOutputs))
        display_[output - 1] = std::to_string(value);
}

void RoutingPage::showMessageBox(const std::string& text) { messageBox_ = text; }

void RoutingPage::closeProgress() { ctx_.popups.progress.close(); }

int RoutingPage::routeInputFor(int output) const
{
    if (singleRoute_ == 1)
        return pendingInput_;
    return presetRoute_[output - 1] + 1;
}

// --- grid and step buttons -----------------------------------------------

void RoutingPage::runGuard(int output, int input, bool releasesNotice)
{
    // A recall or a panel command in flight shares the route replies with
    // the grid, so the grid waits for it as it waits for its own command.
    if (!gridAcceptsClicks())
        return;
    if (!linkConnected()) {
        notice_.showNotConnected();
        changed.notifyChanged();
        return;
    }
    if (link_.busy)
        return;
    link_.busy = true;
    singleRoute_ = 1;
    pendingInput_ = static_cast<std::int8_t>(input);
    send(p::routeRequest(Output{output}, Input{input}));
    timers_.start(routeFirstTimer(output), kGridFirstWaitMs);
    if (releasesNotice)
        ctx_.popups.notice.release();
    changed.notifyChanged();
}

void RoutingPage::clickGrid(int output, int input)
{
    if (!validPort(output, kOutputs) || !validPort(input, kInputs))
        return;
    runGuard(output, input, true);
}

void RoutingPage::clickPrevious(int output)
{
    if (!validPort(output, kOutputs))
        return;
    const int c = currentInput_[output - 1];
    runGuard(output, c > 1 ? c - 1 : kLiveInputs, true);
}

void RoutingPage::clickNext(int output)
{
    if (!validPort(output, kOutputs))
        return;
    const int c = currentInput_[output - 1];
    // The next buttons of outputs A and E..H never release the notice.
    const bool releasesNotice = output >= 2 && output <= 4;
    runGuard(output, (c >= 1 && c < kLiveInputs) ? c + 1 : 1, releasesNotice);
}

// --- tab hand-over -------------------------------------------------------

void RoutingPage::reconnectSocket()
{
    StreamSocket& socket = ctx_.platform.linkSocket;
    link_.linkSocket = &socket;
    pageLink_.reconnect(socket, *this);
    // A recall or panel command still in flight keeps its mode: its route
    // acknowledgements must step it on and end it, or the panel stays
    // locked for good.
    if (panelReady())
        singleRoute_ = 1;
}

void RoutingPage::startRefresh()
{
    // A command clicked in the 150 ms before activation is still in flight:
    // a refresh would share busy with it, and whichever ended first would
    // free the tabs while the other still sends on the link. The command's
    // own reply shows what it changes.
    const bool commandInFlight = link_.busy || !panelReady();
    if (link_.tcpMode()) {
        if (link_.socketConnected) {
            socketRxEnabled_ = 1;
            if (commandInFlight) {
                changed.notifyChanged();
                return;
            }
            if (panelReady())
                singleRoute_ = 1;
            send(p::routeQueryRequest(Output::A));
            timers_.start(statusFirstTimer(1), kRefreshFirstWaitMs);
            link_.busy = true;
        } else {
            notice_.show(kNoticeMs, kConnectFailed);
        }
        changed.notifyChanged();
        return;
    }
    if (link_.comOpen) {
        link_.pageStopBits = 2;
        if (commandInFlight && pageLink_.serial().isOpen())
            return;
        if (pageLink_.serial().open(link_.comPort, liveSerialSettings())) {
            pageLink_.serial().startWorker();
            send(p::routeQueryRequest(Output::A));
            timers_.start(statusFirstTimer(1), kRefreshFirstWaitMs);
            link_.busy = true;
            if (panelReady())
                singleRoute_ = 1;
            changed.notifyChanged();
            return;
        }
    }
    notice_.show(kNoticeMs, kOpenComFailed);
    changed.notifyChanged();
}

// --- receive paths ---------------------------------------------------------

void RoutingPage::onSocketConnect(int errorCode) { pageLink_.socketConnectDone(errorCode); }

void RoutingPage::onSocketClose() { pageLink_.socketClosed(); }

void RoutingPage::onSocketRead()
{
    pageLink_.drainSocket(ctx_.platform.linkSocket, [this](const std::uint8_t* data, std::size_t length) {
        if (socketRxEnabled_ == 0) {
            // Data for a page that is not listening; a half frame of it
            // must not prefix the next reply.
            pageLink_.dropSocketTail();
            return;
        }
        pageLink_.feedSocket(
            data, length, [this](const CommandFrame& frame) { dispatch(frame, Path::Socket); }, true);
    });
}

void RoutingPage::dispatch(const CommandFrame& frame, Path path)
{
    if (path == Path::Socket && !link_.tcpMode())
        return;
    static_assert(kOutputs == p::kProtocolPorts, "replies are taken for every output the protocol names");
    if (p::decodeRouteStatus(frame))
        statusStep(frame, path);
    else if (p::decodeRouteAck(frame))
        routeStep(frame, path);
    else if (p::isStandby(frame))
        standby();
    else
        return;
    changed.notifyChanged();
}

bool RoutingPage::takeAnswer(int firstTimer, int secondTimer)
{
    if (!timers_.isRunning(firstTimer) && !timers_.isRunning(secondTimer))
        return false;
    timers_.kill(kProgressTimer);
    closeProgress();
    timers_.kill(firstTimer);
    timers_.kill(secondTimer);
    return true;
}

void RoutingPage::statusStep(const CommandFrame& frame, Path path)
{
    const int k = frame.p1();
    const int input = frame.p3();
    // Only the answer to the query in flight counts: a late one, after the
    // refresh gave up, would start the chain again with nothing holding
    // the tabs, and it would go on sending on whatever link is shown.
    if (!takeAnswer(statusFirstTimer(k), statusSecondTimer(k)))
        return;

    setDisplay(k, input);
    // The serial path trusts only the live inputs; the socket path takes
    // any input the protocol can name. Outside that, only the display shows it.
    const int lastInput = path == Path::Serial ? kLiveInputs : kInputs;
    if (validPort(input, lastInput)) {
        pendingInput_ = static_cast<std::int8_t>(input);
        showRoute(input, k);
        currentInput_[k - 1] = static_cast<std::int8_t>(input);
    }
    if (path == Path::Socket && k <= 3)
        ctx_.shell.postPageBusy(link_.busy);

    switch (k) {
    case 1:
    case 2:
    case 3:
    case 5:
    case 6:
    case 7:
        send(p::routeQueryRequest(Output{k + 1}));
        timers_.start(statusFirstTimer(k + 1), kStatusFirstWaitMs);
        break;
    case 4:
        // The refresh ends with the last live output.
        link_.busy = false;
        if (path == Path::Socket)
            ctx_.shell.postPageBusy(0);
        break;
    case 8:
        link_.busy = false;
        if (path == Path::Socket || validPort(input, kLiveInputs))
            ctx_.shell.postPageBusy(0);
        break;
    default: break;
    }
}

void RoutingPage::finishSingleRoute(int output)
{
    setAllConfigReady();
    setDisplay(output, pendingInput_);
    link_.busy = false;
    currentInput_[output - 1] = pendingInput_;
    showRoute(pendingInput_, output);
    checksumRetry_ = 0;
}

void RoutingPage::routeStep(const CommandFrame& frame, Path path)
{
    const int k = frame.p3();
    // Likewise a route acknowledgement counts only while its route waits:
    // a late one would free busy in the middle of a refresh and light the
    // grid with an input the matrix was never told for this output.
    if (!takeAnswer(routeFirstTimer(k), routeSecondTimer(k)))
        return;

    if (path == Path::Socket || k > kLiveOutputs) {
        // No sum test and no recall step on this path.
        finishSingleRoute(k);
        if (singleRoute_ == 0)
            endRecall();
        if (path == Path::Socket)
            ctx_.shell.postPageBusy(0);
        return;
    }

    if (frame.checksumOk()) {
        if (singleRoute_ == 1) {
            finishSingleRoute(k);
            ctx_.shell.postPageBusy(0);
        } else {
            recallAdvance(k, true);
        }
        return;
    }

    if (checksumRetry_ == 0) {
        // One re-send of the same command, watched like a first-wait re-send.
        send(p::routeRequest(Output{k}, Input{routeInputFor(k)}));
        timers_.start(routeSecondTimer(k), kSecondWaitMs);
        checksumRetry_ = 1;
        return;
    }
    checksumRetry_ = 0;
    if (singleRoute_ == 0)
        recallAdvance(k, false);
    else
        giveUp(true);
}

// A recall step of output k is over: acknowledged (the grid follows it) or
// skipped after two bad sums. The sequence covers the live outputs only.
void RoutingPage::recallAdvance(int output, bool acknowledged)
{
    if (acknowledged) {
        const int input = presetRoute_[output - 1] + 1;
        setDisplay(output, input);
        if (validPort(input, kInputs)) {
            showRoute(input, output);
            currentInput_[output - 1] = static_cast<std::int8_t>(input);
        }
    }
    checksumRetry_ = 0;
    if (output >= kLiveOutputs) {
        endRecall();
        return;
    }
    const int next = output + 1;
    send(p::routeRequest(Output{next}, Input{presetRoute_[next - 1] + 1}));
    timers_.start(routeFirstTimer(next), kOtherFirstWaitMs);
}

void RoutingPage::startRecall(int firstInput)
{
    singleRoute_ = 0;
    checksumRetry_ = 0;
    send(p::routeRequest(Output::A, Input{firstInput}));
    timers_.start(routeFirstTimer(1), kOtherFirstWaitMs);
}

void RoutingPage::endRecall()
{
    recallIdle_ = 1;
    setAllConfigReady();
}

void RoutingPage::standby()
{
    timers_.killRange(1, kLastPageTimer);
    closeProgress();
    if (ctx_.popups.notice.held())
        ctx_.popups.notice.close();
    notice_.recordIfNoneOpen(kStandbyNoticeMs, kStandby);
    // Nothing is in flight any more: every command's state is released.
    link_.busy = false;
    checksumRetry_ = 0;
    endRecall();
    ctx_.shell.postPageBusy(0);
}

// The second wait of a route (or, with routeTimer false, a status query)
// expired, or a single route got a second bad sum.
void RoutingPage::giveUp(bool routeTimer)
{
    timers_.kill(kProgressTimer);
    closeProgress();
    const bool recall = routeTimer && singleRoute_ == 0;
    notice_.recordIfNoneOpen(kNoticeMs, kTimeOut, [this, routeTimer, recall] {
        link_.busy = false;
        if (routeTimer)
            setAllConfigReady();
        if (recall)
            endRecall();
        ctx_.shell.postPageBusy(0);
        changed.notifyChanged();
    });
}

void RoutingPage::onTimer(int id)
{
    const bool chainTimer = id >= routeFirstTimer(1) && id <= statusSecondTimer(kOutputs);
    // Only the shown page talks to the matrix. A preset recall or an output
    // configuration holds no busy, so the user may take another tab while
    // it waits; it then ends quietly at its next step instead of sending,
    // and opening its progress popup, over the page shown now.
    if (chainTimer && link_.activePage != PageId::Routing) {
        timers_.killRange(routeFirstTimer(1), statusSecondTimer(kOutputs));
        timers_.kill(kProgressTimer);
        checksumRetry_ = 0;
        endRecall();
        changed.notifyChanged();
        return;
    }
    if (id == kProgressTimer) {
        const int dots = link_.nextProgressDot();
        link_.progressText = kProgressTexts[dots - 1];
        ctx_.popups.progress.refresh();
    } else if (id >= routeFirstTimer(1) && id <= routeSecondTimer(kOutputs)) {
        const int k = (id + 1) / 2;
        if (id % 2 == 1) {
            retryOnce(id, p::routeRequest(Output{k}, Input{routeInputFor(k)}), routeSecondTimer(k));
        } else {
            timers_.kill(id);
            giveUp(true);
        }
    } else if (id >= statusFirstTimer(1) && id <= statusSecondTimer(kOutputs)) {
        const int k = (id - 16) / 2;
        if (id % 2 == 0) {
            retryOnce(id, p::routeQueryRequest(Output{k}), statusSecondTimer(k));
        } else {
            timers_.kill(id);
            giveUp(false);
        }
    } else {
        timers_.kill(id);
        return;
    }
    changed.notifyChanged();
}

// A step's first wait ran out: its request goes once more under the
// progress popup, and the second wait starts.
void RoutingPage::retryOnce(int firstTimer, const CommandFrame& request, int secondTimer)
{
    link_.progressText = kProgressTexts[2];
    timers_.start(kProgressTimer, kProgressStepMs);
    timers_.kill(firstTimer);
    send(request);
    timers_.start(secondTimer, kSecondWaitMs);
    if (!link_.progressOpen)
        ctx_.popups.progress.open();
}

// --- presets ---------------------------------------------------------------

int RoutingPage::presetCellValue(const std::string& text)
{
    if (text.empty())
        return -1;
    const char c = text[0];
    int value = 16;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    return value - 1;
}

const std::string& RoutingPage::presetCell(int row, int column) const
{
    static const std::string empty;
    if (row < 0 || row >= kPresetRows || column < 0 || column >= kPresetColumns)
        return empty;
    return presetCells_[row][column];
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
    for (int k = 1; k <= kOutputs; ++k) {
        const std::string& text = presetCells_[row][k];
        if (!text.empty())
            presetRoute_[k - 1] = static_cast<std::int8_t>(presetCellValue(text));
    }
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
    for (int k = 0; k < kOutputs; ++k) {
        if (item == 9)
            editorSelection_[k] = k;
        else if (item >= 1)
            editorSelection_[k] = item - 1;
    }
    changed.notifyChanged();
}

void RoutingPage::editorOk()
{
    if (!editorOpen_)
        return;
    ctx_.popups.notice.release();
    for (int k = 0; k < kOutputs; ++k)
        if (editorSelection_[k] >= 0)
            presetRoute_[k] = static_cast<std::int8_t>(editorSelection_[k]);
    editorOpen_ = false;
    // The list shows what Set will send.
    refreshPresetRow();
    changed.notifyChanged();
}

void RoutingPage::editorCancel()
{
    if (!editorOpen_)
        return;
    editorOpen_ = false;
    changed.notifyChanged();
}

void RoutingPage::clickSet()
{
    if (!pageLink_.serial().isOpen()) {
        showMessageBox(kOpenPortFirstText);
        changed.notifyChanged();
        return;
    }
    if (!panelReady() || link_.busy)
        return;
    recallIdle_ = 0;
    startRecall(presetRoute_[0] + 1);
    changed.notifyChanged();
}

// --- output configuration --------------------------------------------------

const char* RoutingPage::configEntryText(int index)
{
    static const char* const kEntries[kConfigEntries] = {"Output1", "Output2", "Output3", "Output4",    "Output5",
                                                         "Output6", "Output7", "Output8", "All Output", "Port to Port"};
    if (index < 0 || index >= kConfigEntries)
        return "";
    return kEntries[index];
}

void RoutingPage::selectConfigTarget(int index)
{
    if (index < 0 || index >= kConfigEntries)
        return;
    configTarget_ = static_cast<std::int8_t>(index);
    if (index == kConfigPortToPort && panelReady() && !link_.busy) {
        // Checked like the panel's buttons: without the page's port the
        // recall could never be acknowledged past output 1.
        if (!pageLink_.serial().isOpen()) {
            showMessageBox(kOpenPortFirstText);
        } else {
            recallIdle_ = 0;
            for (int k = 0; k < kOutputs; ++k)
                presetRoute_[k] = static_cast<std::int8_t>(k);
            startRecall(1);
        }
    }
    changed.notifyChanged();
}

void RoutingPage::clickConfigInput(int input)
{
    if (!validPort(input, kInputs) || link_.busy)
        return;
    if (!pageLink_.serial().isOpen()) {
        showMessageBox(kOpenPortFirstText);
        changed.notifyChanged();
        return;
    }
    if (configTarget_ == kConfigPortToPort || !panelReady())
        return;
    configReady_[input - 1] = 0;
    singleRoute_ = 1;
    pendingInput_ = static_cast<std::int8_t>(input);
    if (configTarget_ < kOutputs) {
        const int output = configTarget_ + 1;
        send(p::routeRequest(Output{output}, Input{input}));
        timers_.start(routeFirstTimer(output), kOtherFirstWaitMs);
    } else {
        presetRoute_.fill(static_cast<std::int8_t>(input - 1));
        startRecall(input);
    }
    changed.notifyChanged();
}

void RoutingPage::clickClearLog()
{
    pageLink_.receivedLog().clear();
    changed.notifyChanged();
}

void RoutingPage::dismissMessageBox()
{
    messageBox_.clear();
    changed.notifyChanged();
}

// --- getters ---------------------------------------------------------------

int RoutingPage::checkedInput(int output) const { return validPort(output, kOutputs) ? checked_[output - 1] : 0; }

const std::string& RoutingPage::displayText(int output) const
{
    static const std::string empty;
    return validPort(output, kOutputs) ? display_[output - 1] : empty;
}

}  // namespace matrix
