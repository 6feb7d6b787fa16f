// SPDX-License-Identifier: Apache-2.0
#include "core/pages/edid/EdidPage.h"

#include "core/formats/EdidModes.h"
#include "core/link/CommandFrame.h"
#include "core/protocol/Protocol.h"
#include "core/transport/SerialChannel.h"

#include <algorithm>
#include <functional>

namespace matrix {

namespace {

namespace p = protocol;

using namespace notice_text;

bool isFullTimeout(int id)
{
    switch (id) {
    case EdidPage::kDownloadResultTimer:
    case EdidPage::kModeRequestFinalTimer:
    case EdidPage::kDefaultAllTimer + 1:
    case EdidPage::kModeAllTimer + 1:
    case EdidPage::kDefaultOneTimer + 1:
    case EdidPage::kModeOneTimer + 1:
    case EdidPage::kCopyAllTimer + 1:
    case EdidPage::kCopyOneTimer + 1:
    case EdidPage::kDownloadOneTimer + 1:
    case EdidPage::kDownloadAllTimer + 1: return true;
    default: return false;
    }
}

bool isRetryTimer(int id)
{
    switch (id) {
    case EdidPage::kModeRequestTimer:
    case EdidPage::kDefaultAllTimer:
    case EdidPage::kModeAllTimer:
    case EdidPage::kDefaultOneTimer:
    case EdidPage::kModeOneTimer:
    case EdidPage::kCopyAllTimer:
    case EdidPage::kCopyOneTimer:
    case EdidPage::kDownloadOneTimer:
    case EdidPage::kDownloadAllTimer:
    case EdidPage::kSwitchStateTimer: return true;
    default:
        return id >= EdidPage::statusFirstTimer(1) && id <= EdidPage::statusFirstTimer(EdidPage::kStatusInputs) &&
               id % 2 == 0;
    }
}

bool isStatusFinalTimer(int id)
{
    return id >= EdidPage::statusFinalTimer(1) && id <= EdidPage::statusFinalTimer(EdidPage::kStatusInputs) &&
           id % 2 == 1;
}

}  // namespace

EdidPage::EdidPage(PageContext& context)
    : ctx_(context),
      link_(context.link),
      timers_(context.platform.loop),
      notice_(context.popups, timers_, kNoticeTimer),
      pageLink_(context, FrameSender::Echo::AfterSending)
{
    timers_.setHandler([this](int id) { onTimer(id); });
    pageLink_.onSerialFrame([this](const CommandFrame& frame) { dispatch(frame); });
    pageLink_.serial().setFaultHandler([this] { ctx_.shell.postShellRequest(ShellRequest::SerialFault); });
}

void EdidPage::startPage()
{
    // Nothing is sent until the entry query that follows the tab being shown.
    pageLink_.openChosenPort();
}

EdidPage::~EdidPage() = default;

// --- view model ------------------------------------------------------------

const std::vector<std::string>& EdidPage::modeRows() { return edid::modeRows(); }

std::vector<std::string> EdidPage::targetRows() const
{
    std::vector<std::string> rows;
    for (int i = 1; i <= portCount_; ++i)
        rows.push_back("IN" + std::to_string(i));
    rows.emplace_back("All Inputs");
    return rows;
}

std::vector<std::string> EdidPage::sourceRows() const
{
    std::vector<std::string> rows;
    for (int i = 0; i < portCount_; ++i)
        rows.push_back(std::string("HDMI OUT ") + static_cast<char>('A' + i));
    return rows;
}

const std::string& EdidPage::inputStatusText(int input) const
{
    static const std::string none;
    if (input < 1 || input > kStatusInputs)
        return none;
    return statusTexts_[static_cast<std::size_t>(input - 1)];
}

// Rows outside the list are ignored. The target lists end in "All Inputs",
// one row past the ports.
void EdidPage::selectRow(int& index, int row, int rowCount)
{
    if (row < 0 || row >= rowCount)
        return;
    index = row;
    changed.notifyChanged();
}

void EdidPage::selectMode(int row) { selectRow(modeIndex_, row, edid::kModeRowCount); }

void EdidPage::selectSetTarget(int row) { selectRow(setTargetIndex_, row, portCount_ + 1); }

void EdidPage::selectCopySource(int row) { selectRow(copySourceIndex_, row, portCount_); }

void EdidPage::selectCopyTarget(int row) { selectRow(copyTargetIndex_, row, portCount_ + 1); }

void EdidPage::selectDownloadTarget(int row) { selectRow(downloadTargetIndex_, row, portCount_ + 1); }

void EdidPage::openEdidFile(const std::string& path)
{
    const edid::EdidFileCheck check = edid::checkEdidFile(path);
    switch (check.verdict) {
    case edid::EdidFileVerdict::Accept:
        pageLink_.sender().sentLog().echoSent(check.data.data(), check.echoBytes);
        edidFileData_ = check.data;
        edidFilePath_ = path;
        break;
    case edid::EdidFileVerdict::Reject: showNoticeIfNoneOpen("Please select the correct EDID file!"); break;
    case edid::EdidFileVerdict::Ignore: break;
    }
    changed.notifyChanged();
}

// --- helpers -----------------------------------------------------------------

bool EdidPage::portOpen() const { return pageLink_.serial().isOpen(); }

void EdidPage::send(const CommandFrame& frame) { pageLink_.sender().send(frame); }

void EdidPage::showNotice(const std::string& text, int displayMs, std::function<void()> whenClosed)
{
    notice_.show(displayMs, text, std::move(whenClosed));
}

void EdidPage::showNoticeIfNoneOpen(const std::string& text, int displayMs)
{
    notice_.recordIfNoneOpen(displayMs, text);
}

void EdidPage::closePleaseWait() { notice_.closePleaseWait(); }

void EdidPage::closeProgress() { ctx_.popups.progress.close(); }

// --- frames ------------------------------------------------------------------

void EdidPage::sendModeRequest()
{
    resendFor(kModeRequestTimer);
    timers_.start(kModeRequestTimer, kReplyWaitMs);
}

void EdidPage::sendSwitchStateQuery()
{
    resendFor(kSwitchStateTimer);
    timers_.start(kSwitchStateTimer, kReplyWaitMs);
}

void EdidPage::sendCopyQuery()
{
    send(p::outputCableRequest(Output{copySourceIndex_ + 1}));
    timers_.start(kCopyQueryTimer, kReplyWaitMs);
}

void EdidPage::sendStatusQuery(int input) { send(p::edidStatusRequest(Input{input})); }

void EdidPage::sendSetCommand()
{
    const bool all = setTargetIndex_ == portCount_;
    const bool byDefault = modeIndex_ == edid::kDefaultEdidRow;
    const int timer =
        all ? (byDefault ? kDefaultAllTimer : kModeAllTimer) : (byDefault ? kDefaultOneTimer : kModeOneTimer);
    resendFor(timer);
    timers_.start(timer, kReplyWaitMs);
    edidBusy_ = 1;
}

void EdidPage::sendCopyCommand()
{
    const int timer = copyTargetIndex_ == portCount_ ? kCopyAllTimer : kCopyOneTimer;
    resendFor(timer);
    timers_.start(timer, kReplyWaitMs);
    edidBusy_ = 1;
}

void EdidPage::sendDownloadRequest()
{
    const int timer = downloadTargetIndex_ < portCount_ ? kDownloadOneTimer : kDownloadAllTimer;
    resendFor(timer);
    timers_.start(timer, kReplyWaitMs);
    edidBusy_ = 1;
}

// The frame each retry timer guards, built from the current selections (the
// progress popup is modal, so they cannot change during an operation).
void EdidPage::resendFor(int timerId)
{
    const int mode = modeIndex_ + 1;
    switch (timerId) {
    case kModeRequestTimer: send(p::edidModeRequest()); break;
    case kSwitchStateTimer: send(p::edidSwitchStateRequest()); break;
    case kDefaultAllTimer: send(p::edidDefaultRequest(Input::All)); break;
    case kModeAllTimer: send(p::edidSetModeRequest(mode, Input::All)); break;
    case kDefaultOneTimer: send(p::edidDefaultRequest(Input{setTargetIndex_ + 1})); break;
    case kModeOneTimer: send(p::edidSetModeRequest(mode, Input{setTargetIndex_ + 1})); break;
    case kCopyAllTimer: send(p::edidCopyRequest(Output{copySourceIndex_ + 1}, Input::All)); break;
    case kCopyOneTimer: send(p::edidCopyRequest(Output{copySourceIndex_ + 1}, Input{copyTargetIndex_ + 1})); break;
    case kDownloadOneTimer: send(p::edidDownloadRequest(Input{downloadTargetIndex_ + 1})); break;
    case kDownloadAllTimer: send(p::edidDownloadRequest(Input::All)); break;
    default:
        if (timerId >= statusFirstTimer(1) && timerId <= statusFirstTimer(kStatusInputs))
            sendStatusQuery((timerId - statusFirstTimer(1)) / 2 + 1);
        break;
    }
}

// --- buttons -----------------------------------------------------------------

bool EdidPage::startOperation(int operation)
{
    entryPending_ = 0;
    if (edidBusy_ == 1) {
        showNotice(kPleaseWait);
        return false;
    }
    edidOperation_ = operation;
    const bool connected = link_.tcpMode() ? link_.socketConnected : portOpen();
    if (!notice_.guard(connected))
        return false;
    if (operation == kOpDownload && edidFilePath_.empty()) {
        showNotice("Select the file!");
        return false;
    }

    if (!link_.tcpMode()) {
        sendSwitchStateQuery();
        if (operation != kOpCopy)
            edidBusy_ = 1;
    } else if (operation == kOpCopy) {
        sendCopyQuery();
    } else {
        sendModeRequest();
        edidBusy_ = 1;
    }

    switch (operation) {
    case kOpSetMode: link_.progressText = "Setting . . ."; break;
    case kOpCopy: link_.progressText = "Copying . . ."; break;
    default: link_.progressText = "Downloading . . ."; break;
    }
    timers_.start(kProgressTimer, kProgressStepMs);
    ctx_.popups.progress.open();
    return true;
}

void EdidPage::clickSetMode()
{
    startOperation(kOpSetMode);
    changed.notifyChanged();
}

void EdidPage::clickCopy()
{
    startOperation(kOpCopy);
    changed.notifyChanged();
}

void EdidPage::clickDownload()
{
    startOperation(kOpDownload);
    changed.notifyChanged();
}

void EdidPage::clickStatus()
{
    entryPending_ = 0;
    edidOperation_ = kOpStatusQuery;
    const bool connected = link_.tcpMode() ? link_.socketConnected : portOpen();
    if (notice_.guard(connected)) {
        link_.progressText = kGettingStatus;
        timers_.start(kProgressTimer, kProgressStepMs);
        sendStatusQuery(1);
        edidBusy_ = 1;
        timers_.start(statusFirstTimer(1), kReplyWaitMs);
        ctx_.popups.progress.open();
    }
    changed.notifyChanged();
}

// --- tab hand-over -------------------------------------------------------------

void EdidPage::reconnectTcp()
{
    StreamSocket& socket = ctx_.platform.linkSocket;
    link_.linkSocket = &socket;
    pageLink_.reconnect(socket, *this);
}

void EdidPage::activate()
{
    // A click in the 150 ms before activation has started an operation
    // (its progress animation runs): the entry query must not take its
    // place, or the operation's replies would find no operation to go on
    // with and leave the progress popup up for good.
    const bool operationRunning = timers_.isRunning(kProgressTimer);
    if (link_.tcpMode()) {
        if (!link_.socketConnected)
            showNotice(kConnectFailed);
        if (!operationRunning) {
            edidOperation_ = kOpRefresh;
            sendStatusQuery(1);
        }
        entryPending_ = 0;
        changed.notifyChanged();
        return;
    }
    if (!link_.comOpen) {
        showNotice(kOpenComFailed);
        changed.notifyChanged();
        return;
    }
    link_.pageStopBits = 2;
    SerialSettings settings = liveSerialSettings();
    settings.stopBits = link_.pageStopBits;
    if (pageLink_.serial().open(link_.comPort, settings))
        pageLink_.serial().startWorker();
    else
        showNotice(kOpenComFailed);
    pageLink_.dropSerialTail();
    if (!operationRunning) {
        edidOperation_ = kOpRefresh;
        sendStatusQuery(1);
    }
    changed.notifyChanged();
}

// --- receive paths -------------------------------------------------------------

void EdidPage::onSocketConnect(int errorCode) { pageLink_.socketConnectDone(errorCode); }

void EdidPage::onSocketClose() { pageLink_.socketClosed(); }

void EdidPage::onSocketRead()
{
    pageLink_.drainSocket(ctx_.platform.linkSocket, [this](const std::uint8_t* data, std::size_t length) {
        pageLink_.feedSocket(
            data, length, [this](const CommandFrame& frame) { dispatch(frame); }, true);
    });
}

void EdidPage::dispatch(const CommandFrame& frame)
{
    // Until the entry query has gone out, TCP replies belong to the page
    // that held the link before.
    if (entryPending_ == 1 && link_.tcpMode())
        return;
    if (!frame.headerOk())
        return;
    if (handleReply(frame))
        changed.notifyChanged();
}

// The first matching row acts, in this order. A step's answer counts only
// while that step waits for it (its timer or its retry's runs): a late one,
// after a standby or a time-out ended the operation, would carry it on
// without its popup, and on whatever link the shown tab holds by then.
bool EdidPage::handleReply(const CommandFrame& f)
{
    constexpr int kAlways = -1;  // the row acts whatever waits
    struct Row {
        bool matches;
        int timerId;
        bool retryToo;  // the step's retry timer (timerId + 1) counts as waiting too
        std::function<void()> act;
    };
    const auto oneSub = p::kEdidDownloadOneSub;
    const auto allSub = p::kEdidDownloadAllSub;
    const Row rows[] = {
        {p::isEdidReply(f, p::kEdidModeRequestSub), kModeRequestTimer, true, [&] { onModeReply(); }},
        {f.is(p::kStatusCommand, p::kOutputCableSub) && f.p1() == copySourceIndex_ + 1, kCopyQueryTimer, false,
         [&] { onCopyQueryReply(f); }},
        {p::isEdidReply(f, p::kEdidModeOneSub) && f.p3() == setTargetIndex_ + 1, kModeOneTimer, true,
         [&] { onSetOneReply(); }},
        {p::isEdidReply(f, p::kEdidDefaultOneSub), kDefaultOneTimer, true, [&] { onDefaultOneReply(); }},
        {p::isEdidReply(f, p::kEdidModeAllSub), kModeAllTimer, true, [&] { onSetAllReply(); }},
        {p::isEdidReply(f, p::kEdidDefaultAllSub), kDefaultAllTimer, true, [&] { onDefaultAllReply(); }},
        {p::isEdidReply(f, p::kEdidCopyAllSub), kCopyAllTimer, true, [&] { onCopyAllReply(f); }},
        {p::decodeEdidCopyOne(f, Input{copyTargetIndex_ + 1}).has_value(), kCopyOneTimer, true,
         [&] { onCopyOneReply(f); }},
        {p::isEdidDownloadReady(f, oneSub), kDownloadOneTimer, true,
         [&] { onDownloadReady(oneSub, kDownloadOneTimer); }},
        {p::decodeEdidDownloadResult(f, oneSub).has_value(), kDownloadResultTimer, false, [&] { onDownloadResult(f); }},
        {p::isEdidDownloadReady(f, allSub), kDownloadAllTimer, true,
         [&] { onDownloadReady(allSub, kDownloadAllTimer); }},
        {p::decodeEdidDownloadResult(f, allSub).has_value(), kDownloadResultTimer, false, [&] { onDownloadResult(f); }},
        {p::isStandby(f), kAlways, false, [&] { onStandby(); }},
        {p::decodeEdidStatus(f).has_value(), kAlways, false, [&] { onStatusReply(f); }},
        {p::decodeEdidSwitchState(f).has_value(), kSwitchStateTimer, true, [&] { onSwitchStateReply(f); }},
    };
    for (const Row& row : rows) {
        if (!row.matches)
            continue;
        const bool waiting = row.timerId == kAlways || timers_.isRunning(row.timerId) ||
                             (row.retryToo && timers_.isRunning(row.timerId + 1));
        if (waiting)
            row.act();
        return true;
    }
    return false;
}

void EdidPage::onModeReply()
{
    timers_.kill(kModeRequestTimer);
    timers_.kill(kModeRequestFinalTimer);
    edidBusy_ = 0;
    switch (edidOperation_) {
    case kOpSetMode: sendSetCommand(); break;
    case kOpCopy: sendCopyCommand(); break;
    case kOpDownload: sendDownloadRequest(); break;
    default: break;
    }
}

void EdidPage::onCopyQueryReply(const CommandFrame& f)
{
    timers_.kill(kCopyQueryTimer);
    if (!p::stateIsOn(f.p3())) {
        timers_.kill(kProgressTimer);
        closeProgress();
        showNotice(std::string("HDMI OUT ") + static_cast<char>('A' + copySourceIndex_) + " is not connected" + "!");
        return;
    }
    sendModeRequest();
    edidBusy_ = 1;
}

// An operation's answer came: its two waits and the animation stop, the
// busy flag drops (freeing the tab buttons) and the progress popup closes.
void EdidPage::endOperationWait(int firstTimerId, bool freeTabs)
{
    timers_.kill(firstTimerId);
    timers_.kill(firstTimerId + 1);
    timers_.kill(kProgressTimer);
    edidBusy_ = 0;
    if (freeTabs)
        ctx_.shell.postPageBusy(edidBusy_);
    closeProgress();
}

void EdidPage::onSetOneReply()
{
    endOperationWait(kModeOneTimer);
    closePleaseWait();
    const int input = setTargetIndex_ + 1;
    showNotice(kSetSuccessfully, kNoticeMs, [this, input] {
        sendStatusQuery(input);
        changed.notifyChanged();
    });
}

void EdidPage::onDefaultOneReply()
{
    endOperationWait(kDefaultOneTimer);
    sendStatusQuery(setTargetIndex_ + 1);
    closePleaseWait();
}

void EdidPage::onSetAllReply()
{
    endOperationWait(kModeAllTimer);
    closePleaseWait();
    showNotice(kSetSuccessfully, kNoticeMs, [this] {
        edidOperation_ = kOpRefresh;
        sendStatusQuery(1);
        changed.notifyChanged();
    });
}

void EdidPage::onDefaultAllReply()
{
    endOperationWait(kDefaultAllTimer);
    edidOperation_ = kOpRefresh;
    sendStatusQuery(1);
    closePleaseWait();
}

void EdidPage::onCopyAllReply(const CommandFrame& f)
{
    endOperationWait(kCopyAllTimer);
    closePleaseWait();
    // The matrix reports a refused copy with a non-zero p1, as it does for
    // a single input; it must not read as a success.
    if (f.p1() != p::kEdidResultOk) {
        showNotice("Copy failed!");
        return;
    }
    showNotice("Copy successfully!", kNoticeMs, [this] {
        edidOperation_ = kOpRefresh;
        sendStatusQuery(1);
        changed.notifyChanged();
    });
}

void EdidPage::onCopyOneReply(const CommandFrame& f)
{
    // A single copy never held the tab buttons.
    endOperationWait(kCopyOneTimer, false);
    closePleaseWait();
    if (ctx_.popups.notice.held())
        return;
    if (f.p1() == p::kEdidResultOk) {
        const int input = copyTargetIndex_ + 1;
        showNotice("Copy successfully!", kNoticeMs, [this, input] {
            sendStatusQuery(input);
            changed.notifyChanged();
        });
    } else {
        showNotice("Copy failed!");
    }
}

void EdidPage::onDownloadReady(int subCommand, int requestTimer)
{
    timers_.kill(requestTimer);
    timers_.kill(requestTimer + 1);
    send(p::edidDownloadAnnounce(subCommand));
    edidTransferBlock_ = p::edidTransferBlock(edidFileData_.data());
    timers_.start(kDataStepTimer, kDataStepDelayMs);
    edidBusy_ = 1;
}

void EdidPage::onDownloadResult(const CommandFrame& f)
{
    timers_.kill(kDownloadResultTimer);
    timers_.kill(kProgressTimer);
    edidBusy_ = 0;
    if (f.p1() == p::kEdidResultFailed) {
        closeProgress();
        showNotice("Download failed!");
    } else if (f.p1() == p::kEdidResultOk) {
        closeProgress();
        std::function<void()> refresh;
        if (f.subCommand() == p::kEdidDownloadAllSub) {
            refresh = [this] {
                edidOperation_ = kOpRefresh;
                sendStatusQuery(1);
                changed.notifyChanged();
            };
        } else if (downloadTargetIndex_ < portCount_) {
            const int input = downloadTargetIndex_ + 1;
            refresh = [this, input] {
                sendStatusQuery(input);
                changed.notifyChanged();
            };
        }
        showNotice("Download successfully!", kNoticeMs, std::move(refresh));
    }
    closeProgress();
    ctx_.shell.postPageBusy(edidBusy_);
    closePleaseWait();
}

void EdidPage::onStandby()
{
    timers_.killRange(1, kLastStandbyTimer);
    // The switch-state timers lie above that range; left running, they would
    // resume the ended operation 5 s later, with no progress popup.
    timers_.kill(kSwitchStateTimer);
    timers_.kill(kSwitchStateFinalTimer);
    closeProgress();
    edidBusy_ = 0;
    ctx_.popups.notice.close();
    showNoticeIfNoneOpen(kStandby, kLongNoticeMs);
}

void EdidPage::onStatusReply(const CommandFrame& f)
{
    const int n = f.p1();
    timers_.kill(statusFirstTimer(n));
    timers_.kill(statusFinalTimer(n));
    statusTexts_[static_cast<std::size_t>(n - 1)] = edid::statusText(f.p3());
    // A late answer of an earlier refresh, while a set, copy or download
    // runs, updates its row only: the popup, busy and the chain are that
    // operation's, and closing them would leave its retries running unseen.
    const bool statusChain = edidOperation_ == kOpRefresh || edidOperation_ == kOpStatusQuery;
    if (!statusChain && timers_.isRunning(kProgressTimer))
        return;
    if (n == 4 || n == 8) {
        timers_.kill(kProgressTimer);
        closeProgress();
        edidBusy_ = 0;
        return;
    }
    if (edidOperation_ == kOpRefresh) {
        sendStatusQuery(n + 1);
    } else if (edidOperation_ == kOpStatusQuery) {
        sendStatusQuery(n + 1);
        timers_.start(statusFirstTimer(n + 1), kReplyWaitMs);
    }
}

void EdidPage::onSwitchStateReply(const CommandFrame& f)
{
    timers_.kill(kSwitchStateTimer);
    timers_.kill(kSwitchStateFinalTimer);
    if (f.p1() == p::kEdidSwitchRefused) {
        timers_.kill(kProgressTimer);
        closeProgress();
        edidBusy_ = 0;
        ctx_.popups.notice.close();
        showNoticeIfNoneOpen("Please set the EDID to [1111]!", kLongNoticeMs);
        return;
    }
    switch (edidOperation_) {
    case kOpSetMode:
    case kOpDownload: sendModeRequest(); break;
    case kOpCopy: sendCopyQuery(); break;
    default: break;
    }
}

// --- timers ----------------------------------------------------------------------

void EdidPage::onTimer(int id)
{
    if (id == kDataStepTimer) {
        dataStep();
    } else if (id == kProgressTimer) {
        animateProgress();
    } else if (isRetryTimer(id)) {
        // Window timers repeat: stop this one so the command goes out only
        // once more and the next timer decides.
        timers_.kill(id);
        resendFor(id);
        timers_.start(id + 1, kReplyWaitMs);
    } else if (isFullTimeout(id)) {
        fullTimeout(id);
    } else if (isStatusFinalTimer(id) || id == kSwitchStateFinalTimer) {
        shortTimeout(id, true);
    } else if (id == kCopyQueryTimer) {
        shortTimeout(id, false);
    } else {
        timers_.kill(id);
    }
    changed.notifyChanged();
}

void EdidPage::dataStep()
{
    timers_.kill(kDataStepTimer);
    if (link_.tcpMode() && !link_.socketConnected) {
        // Nothing will answer a block that was never sent: end the download
        // here instead of leaving the progress popup up for good.
        endOperationQuietly();
        showNotice(kConnectFailed);
        return;
    }
    pageLink_.sender().sendRaw(edidTransferBlock_.data(), edidTransferBlock_.size(), true);
    timers_.start(kDownloadResultTimer, kReplyWaitMs);
}

void EdidPage::endOperationQuietly()
{
    timers_.kill(kProgressTimer);
    closeProgress();
    edidBusy_ = 0;
    ctx_.shell.postPageBusy(edidBusy_);
}

void EdidPage::fullTimeout(int id)
{
    timers_.kill(id);
    timers_.kill(kProgressTimer);
    edidBusy_ = 0;
    closeProgress();
    if (ctx_.popups.notice.isOpen() && ctx_.popups.notice.text() == kPleaseWait) {
        ctx_.shell.postPageBusy(edidBusy_);
        notice_.showIfNoneOpen(kNoticeMs, kTimeOut);
        ctx_.popups.notice.close();
        return;
    }
    showNoticeIfNoneOpen(kTimeOut);
    ctx_.shell.postPageBusy(edidBusy_);
}

void EdidPage::shortTimeout(int id, bool clearBusy)
{
    timers_.kill(id);
    timers_.kill(kProgressTimer);
    if (clearBusy)
        edidBusy_ = 0;
    closeProgress();
    showNoticeIfNoneOpen(kTimeOut);
}

void EdidPage::animateProgress()
{
    const char* word = nullptr;
    switch (edidOperation_) {
    case kOpSetMode: word = "Setting"; break;
    case kOpCopy: word = "Copying"; break;
    case kOpDownload: word = "Downloading"; break;
    case kOpStatusQuery: word = "Getting status"; break;
    default: return;
    }
    static const char* const kDots[] = {"", " .    ", " . .  ", " . . ."};
    const int count = link_.nextProgressDot();
    link_.progressText = std::string(word) + kDots[count];
    ctx_.popups.progress.refresh();
}

}  // namespace matrix
