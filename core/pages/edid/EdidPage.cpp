// SPDX-License-Identifier: Apache-2.0
#include "core/pages/edid/EdidPage.h"

#include "core/protocol/Protocol.h"

namespace matrix {

namespace p = protocol;
using namespace notice_text;

namespace {
// The progress popup's word for an operation, none for the refresh.
const char* progressWord(int operation)
{
    static const char* const kWords[] = {nullptr, "Setting", "Copying", "Downloading", nullptr, "Getting status"};
    return operation >= EdidPage::kOpSetMode && operation <= EdidPage::kOpStatusQuery ? kWords[operation] : nullptr;
}
}  // namespace

EdidPage::EdidPage(PageContext& context)
    : WindowPage(context, PageId::Edid),
      client_(context.platform.loop, nullptr, nullptr, client::windowPageOptions())
{
    // The client writes frames and the EDID block through the page's sender,
    // so the hex logs and the traffic view see them as the page's own. Only
    // the shown page talks to the matrix: an operation that outlived its tab
    // ends quietly at its next wait.
    client_.attach(
        [this](const std::vector<std::uint8_t>& bytes) {
            if (bytes.size() == CommandFrame::kSize)
                port_.send(CommandFrame::fromBytes(bytes.data()));
            else
                port_.sendRaw(bytes.data(), bytes.size(), true);
        },
        [this] { return link_.activePage == PageId::Edid; });
    port_.setEcho(PagePort::Echo::AfterSending);
    port_.onSerialFrame([this](const CommandFrame& frame) { dispatch(frame); });
    link_.setSocketReader(PageId::Edid,
                          {nullptr, &port_.receivedLog(), [this](const CommandFrame& frame) { dispatch(frame); }});
    port_.serial().setFaultHandler([this] { ctx_.shell.postShellRequest(ShellRequest::SerialFault); });
}

std::vector<std::string> EdidPage::targetRows() const
{
    std::vector<std::string> rows;
    for (int i = 1; i <= portCount(); ++i)
        rows.push_back("IN" + std::to_string(i));
    rows.emplace_back("All Inputs");
    return rows;
}

std::vector<std::string> EdidPage::sourceRows() const
{
    std::vector<std::string> rows;
    for (int i = 0; i < portCount(); ++i)
        rows.push_back(std::string("HDMI OUT ") + static_cast<char>('A' + i));
    return rows;
}

const std::string& EdidPage::inputStatusText(int input) const
{
    static const std::string none;
    return input < 1 || input > kStatusInputs ? none : statusTexts_[static_cast<std::size_t>(input - 1)];
}

// The target lists end in "All Inputs", one row past the ports.
void EdidPage::selectRow(int& index, int row, int rowCount)
{
    if (row < 0 || row >= rowCount)
        return;
    index = row;
    changed.notifyChanged();
}

void EdidPage::openEdidFile(const std::string& path)
{
    const edid::EdidFileCheck check = edid::checkEdidFile(path);
    if (check.verdict == edid::EdidFileVerdict::Accept) {
        port_.sentLog().echoSent(check.data.data(), check.echoBytes);
        edidFileData_ = check.data;
        edidFileBytes_ = check.echoBytes;
        edidFilePath_ = path;
    } else if (check.verdict == edid::EdidFileVerdict::Reject) {
        notice_.recordIfNoneOpen(kNoticeMs, "Please select the correct EDID file!");
    }
    changed.notifyChanged();
}

void EdidPage::stopProgress()
{
    progress_.stop();
    ctx_.popups.progress.close();
    edidBusy_ = 0;
}

// The refreshes after a change and on entry go out without a wait: each
// answer asks for the next input, and a lost one ends the refresh.
void EdidPage::sendStatusQuery(int input) { port_.send(p::edidStatusRequest(Input{input})); }

void EdidPage::startRefresh()
{
    edidOperation_ = kOpRefresh;
    sendStatusQuery(1);
}

// The selections cannot change while an operation runs: the progress popup
// is modal. Only the hidden status button goes in while the page is busy.
void EdidPage::startOperation(int operation)
{
    entryPending_ = 0;
    if (edidBusy_ == 1 && operation != kOpStatusQuery) {
        notice_.show(kNoticeMs, kPleaseWait);
        return;
    }
    edidOperation_ = operation;
    if (!notice_.guard(link_.tcpMode() ? link_.socketConnected() : port_.serial().isOpen()))
        return;
    if (operation == kOpDownload && edidFilePath_.empty()) {
        notice_.show(kNoticeMs, "Select the file!");
        return;
    }
    // A copy holds the tab buttons only from its mode request on.
    edidBusy_ = operation == kOpCopy ? 0 : 1;
    operationRunning_ = true;
    step_ = client::EdidStep::SwitchState;
    client_.setAttachedKind(link_.tcpMode() ? client::LinkTarget::Kind::Tcp : client::LinkTarget::Kind::Com);
    auto done = [this, operation](const auto& result) { operationEnded(operation, result.status, result.message); };
    auto onStep = [this](client::EdidStep step) {
        step_ = step;
        if (step == client::EdidStep::ModeRequest)
            edidBusy_ = 1;
        // Nothing will answer a block that cannot be sent: end the download
        // here instead of waiting for its time-out.
        if (step == client::EdidStep::Block && link_.tcpMode() && !link_.socketConnected())
            client_.cancel();
    };
    const auto targetOf = [this](int row) { return row == portCount() ? Input::All : Input{row + 1}; };
    switch (operation) {
    case kOpSetMode: client_.setEdidMode(modeIndex_, targetOf(setTargetIndex_), done, onStep); break;
    case kOpCopy: client_.copyEdid(Output{copySourceIndex_ + 1}, targetOf(copyTargetIndex_), done, onStep); break;
    case kOpDownload: {
        const auto bytes = edidFileData_.begin();
        client_.uploadEdid({bytes, bytes + static_cast<std::ptrdiff_t>(edidFileBytes_)}, targetOf(downloadTargetIndex_),
                           done, onStep);
        break;
    }
    default: client_.readEdidStatus(done); break;
    }
    ctx_.popups.progress.start(progress_, changed, [this] { return progressWord(edidOperation_); });
}

void EdidPage::activate()
{
    const bool tcp = link_.tcpMode();
    if (!tcp && !link_.comOpen) {
        notice_.showNotConnected();
        changed.notifyChanged();
        return;
    }
    if (!(tcp ? link_.socketConnected() : port_.reopen()))
        notice_.showNotConnected();
    if (!tcp)
        port_.dropSerialTail();
    // A click in the 150 ms before activation has started an operation (its
    // progress animation runs): the entry query must not take its place, or
    // its replies would find no operation and leave the popup up for good.
    if (!progress_.running())
        startRefresh();
    if (tcp)
        entryPending_ = 0;
    changed.notifyChanged();
}

// The page takes what it shows from every frame (the status rows, the
// standby notice); the client's request takes the answer it waits for.
void EdidPage::dispatch(const CommandFrame& frame)
{
    if ((entryPending_ == 1 && link_.tcpMode()) || !frame.headerOk())
        return;
    if (p::isStandby(frame)) {
        endWithLongNotice(kStandby);
    } else if (p::decodeEdidStatus(frame)) {
        const int n = frame.p1();
        statusTexts_[static_cast<std::size_t>(n - 1)] = edid::statusText(frame.p3());
        // While an operation runs, a late answer of an earlier refresh updates
        // its row only: the popup, busy and the next query are the operation's.
        if (!operationRunning_ && (n == 4 || n == 8))
            stopProgress();
        else if (!operationRunning_ && edidOperation_ == kOpRefresh)
            sendStatusQuery(n + 1);
    }
    client_.receive(frame);
    changed.notifyChanged();
}

void EdidPage::operationEnded(int operation, client::Status status, const std::string& message)
{
    operationRunning_ = false;
    const bool statusQuery = operation == kOpStatusQuery;
    switch (status) {
    case client::Status::Ok: changeEnded(operation, true); break;
    case client::Status::TimeOut: timeOut(); break;
    case client::Status::Standby: break;  // it has its own notice
    case client::Status::Rejected:
        if (statusQuery)
            break;
        if (step_ == client::EdidStep::SwitchState) {
            endWithLongNotice("Please set the EDID to [1111]!");
        } else if (step_ == client::EdidStep::CableCheck) {
            // Before the mode request a copy is not busy: only the popup goes.
            stopProgress();
            notice_.show(kNoticeMs, message);
        } else {
            changeEnded(step_ == client::EdidStep::Block ? kOpDownload : kOpCopy, false);
        }
        break;
    default: {
        // The link went (another tab took it, or it fell before the EDID
        // block), or the client turned the request away.
        const bool linkDown = status == client::Status::LinkDown;
        if (statusQuery && !linkDown)
            break;
        stopProgress();
        ctx_.shell.postPageBusy(0);
        if (linkDown && step_ == client::EdidStep::Block && link_.tcpMode() && !link_.socketConnected())
            notice_.show(kNoticeMs, kConnectFailed);
        break;
    }
    }
    changed.notifyChanged();
}

// A built-in mode says so and then reads back, the default EDID reads back
// at once; a single copy never held the tab buttons; a download's notice
// comes before the "Please wait..." box would close, and takes it over.
void EdidPage::changeEnded(int operation, bool ok)
{
    static const char* const kWhat[] = {nullptr, "Set", "Copy", "Download"};
    stopProgress();
    if (operation == kOpStatusQuery)
        return;
    const int row = operation == kOpSetMode ? setTargetIndex_
                    : operation == kOpCopy  ? copyTargetIndex_
                                            : downloadTargetIndex_;
    const bool all = row == portCount();
    const bool freeTabs = operation != kOpCopy || all;
    // What the change reads back once its notice has gone: the input it
    // touched, or every input in turn.
    const auto readBack = [this, all, input = row + 1] {
        if (all)
            startRefresh();
        else
            sendStatusQuery(input);
        changed.notifyChanged();
    };
    if (operation != kOpDownload) {
        if (freeTabs)
            ctx_.shell.postPageBusy(0);
        notice_.closePleaseWait();
        if (!freeTabs && ctx_.popups.notice.held())
            return;
    }
    if (operation == kOpSetMode && modeIndex_ == edid::kDefaultEdidRow)
        readBack();
    else if (ok)
        notice_.show(kNoticeMs, kWhat[operation] + std::string(" successfully!"), readBack);
    else
        notice_.show(kNoticeMs, kWhat[operation] + std::string(" failed!"));
    if (operation == kOpDownload) {
        ctx_.shell.postPageBusy(0);
        notice_.closePleaseWait();
    }
}

// The first steps (the switch state, the copy's cable check) and the status
// query give up with the short time-out, which leaves the tab buttons alone;
// the change itself with the full one, which also ends an open
// "Please wait..." box instead of re-texting it.
void EdidPage::timeOut()
{
    const bool freeTabs = step_ != client::EdidStep::SwitchState && step_ != client::EdidStep::CableCheck;
    stopProgress();
    if (freeTabs && ctx_.popups.notice.isOpen() && ctx_.popups.notice.text() == kPleaseWait) {
        ctx_.shell.postPageBusy(0);
        notice_.showIfNoneOpen(kNoticeMs, kTimeOut);
        ctx_.popups.notice.close();
        return;
    }
    notice_.recordIfNoneOpen(kNoticeMs, kTimeOut);
    if (freeTabs)
        ctx_.shell.postPageBusy(0);
}

// The switch refusal, and the standby (the client ends its request on the
// same frame, without a word of its own): the long notice replaces any box.
void EdidPage::endWithLongNotice(const std::string& text)
{
    stopProgress();
    ctx_.popups.notice.close();
    notice_.recordIfNoneOpen(kLongNoticeMs, text);
}

}  // namespace matrix
