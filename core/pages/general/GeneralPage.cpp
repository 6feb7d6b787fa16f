// SPDX-License-Identifier: Apache-2.0
#include "core/pages/general/GeneralPage.h"

#include "core/link/LinkState.h"
#include "core/protocol/DeviceTypes.h"
#include "core/protocol/Protocol.h"
#include "core/transport/ComPorts.h"

#include <algorithm>

namespace matrix {

namespace {

namespace p = protocol;

using namespace notice_text;
constexpr const char* kSetting = "Setting . . .";

// Animation frames, padded with blanks to the same length.
constexpr const char* kStatusFrames[3] = {"Getting status .    ", "Getting status . .  ", "Getting status . . ."};
constexpr const char* kSettingFrames[3] = {"Setting .    ", "Setting . .  ", "Setting . . ."};

std::string inputText(int n, bool connected)
{
    return "HDMI IN" + std::to_string(n) + (connected ? ": Connect" : ": Disconnect");
}

std::string outputText(int n, bool connected)
{
    return std::string("HDMI OUT") + static_cast<char>('A' + n - 1) + (connected ? ": Connect" : ": Disconnect");
}

}  // namespace

GeneralPage::GeneralPage(PageContext& context)
    : ctx_(context),
      link_(context.link),
      popups_(context.popups),
      pageLink_(context, FrameSender::Echo::BeforeSending),
      timers_(context.platform.loop),
      notice_(context.popups, timers_, kNoticeTimer),
      chain_(timers_, [this](const CommandFrame& frame) { send(frame); }),
      reset_(timers_, [this](const CommandFrame& frame) { send(frame); }),
      settings_(probeSerialSettings())
{
    timers_.setHandler([this](int id) { onTimer(id); });
    pageLink_.onSerialFrame([this](const CommandFrame& frame) {
        handleReply(frame, true);
        changed.notifyChanged();
    });

    // Page creation: list the ports that can be opened, COM mode selected,
    // the TCP controls disabled, the rescan running.
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        if (pageLink_.serial().open(n, settings_)) {
            comPorts_.push_back(comPortName(n));
            // A probe must not keep the port from other programs or pages.
            pageLink_.serial().requestClose();
        }
    }
    comSelection_ = comPorts_.empty() ? -1 : 0;
    if (link_.comPort != 0) {
        auto it = std::find(comPorts_.begin(), comPorts_.end(), comPortName(link_.comPort));
        if (it != comPorts_.end())
            comSelection_ = static_cast<int>(it - comPorts_.begin());
    }
    comGroupEnabled_ = true;
    comListEnabled_ = true;
    tcpGroupEnabled_ = false;
    timers_.start(kRescanTimer, kRescanMs);
}

GeneralPage::~GeneralPage() = default;

// ---------------------------------------------------------------- helpers

bool GeneralPage::guard()
{
    const bool connected = link_.tcpMode() ? link_.socketConnected : link_.comOpen;
    return notice_.guard(connected);
}

std::string GeneralPage::comSelectedText() const
{
    if (comSelection_ < 0 || comSelection_ >= static_cast<int>(comPorts_.size()))
        return {};
    return comPorts_[comSelection_];
}

bool GeneralPage::comModeSelected() const { return !link_.tcpMode(); }

void GeneralPage::emptyStateLabels()
{
    for (auto& text : inputLabel_)
        text.clear();
    for (auto& text : outputLabel_)
        text.clear();
}

void GeneralPage::openProgress() { popups_.progress.open(); }

void GeneralPage::showTcpConnected(bool connected) { tcpIndicatorConnected_ = connected; }

// ------------------------------------------------------- connection panel

void GeneralPage::selectComMode()
{
    if (!link_.comOpen)
        timers_.start(kRescanTimer, kRescanMs);
    link_.controlMode = ControlMode::Com;
    comGroupEnabled_ = true;
    comListEnabled_ = !link_.comOpen;
    tcpGroupEnabled_ = false;
    changed.notifyChanged();
}

void GeneralPage::selectTcpMode()
{
    link_.controlMode = ControlMode::Tcp;
    comGroupEnabled_ = false;
    comListEnabled_ = false;
    tcpGroupEnabled_ = true;
    changed.notifyChanged();
}

void GeneralPage::selectComPort(const std::string& text)
{
    auto it = std::find(comPorts_.begin(), comPorts_.end(), text);
    if (it == comPorts_.end())
        return;
    comSelection_ = static_cast<int>(it - comPorts_.begin());
    changed.notifyChanged();
}

void GeneralPage::comConnectClicked()
{
    settings_ = liveSerialSettings();
    if (auto n = comPortNumber(comSelectedText())) {
        portNumber_ = *n;
        link_.comPort = *n;
    }

    if (comConnected_) {
        link_.comOpen = false;
        comConnected_ = false;
        pageLink_.serial().requestClose();
        timers_.start(kRescanTimer, kRescanMs);
        comListEnabled_ = true;
    } else if (pageLink_.serial().open(portNumber_, settings_)) {
        pageLink_.serial().startWorker();
        timers_.kill(kRescanTimer);
        comListEnabled_ = false;
        comConnected_ = true;
        link_.comOpen = true;
        send(p::beepStateRequest());
    } else {
        notice_.show(kGuardNoticeMs, kOpenComFailed);  // the COM button's own failure, whatever the mode
    }
    changed.notifyChanged();
}

void GeneralPage::forceComDisconnect()
{
    comConnected_ = true;
    comConnectClicked();
}

void GeneralPage::rescanPorts()
{
    timers_.kill(kRescanTimer);
    std::vector<std::string> found;
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        if (pageLink_.serial().open(n, settings_)) {
            found.push_back(comPortName(n));
            pageLink_.serial().requestClose();
        }
    }
    if (found.empty()) {
        comPorts_.clear();
        comSelection_ = -1;
    } else {
        // Keep the user's choice when it is still there.
        const std::string current = comSelectedText();
        auto it = current.empty() ? found.end() : std::find(found.begin(), found.end(), current);
        comSelection_ = it == found.end() ? 0 : static_cast<int>(it - found.begin());
        comPorts_ = std::move(found);
    }
    timers_.start(kRescanTimer, kRescanMs);
}

void GeneralPage::setIpText(const std::string& text)
{
    ipText_ = text;
    changed.notifyChanged();
}

void GeneralPage::selectIpEntry(int index)
{
    if (index < 0 || index >= static_cast<int>(ipEntries_.size()))
        return;
    ipSelection_ = index;
    ipText_ = ipEntries_[index];
    link_.matrixAddress = ipText_;
    dropTcpLink();
    if (ipSelectedHook_)
        ipSelectedHook_(index);
    changed.notifyChanged();
}

void GeneralPage::addDiscoveredAddress(const std::string& dottedAddress)
{
    ipEntries_.push_back(dottedAddress);
    ipSelection_ = 0;
    ipText_ = ipEntries_.front();
    link_.matrixAddress = ipText_;
    changed.notifyChanged();
}

void GeneralPage::dropTcpLink()
{
    link_.socketConnected = false;
    if (link_.linkSocket)
        link_.linkSocket->close();
    showTcpConnected(false);
    link_.tcpLinkUp = false;
}

void GeneralPage::tcpConnectOperation(bool readIpList)
{
    if (!link_.linkSocket)
        return;
    if (readIpList)
        link_.matrixAddress = ipText_;
    pageLink_.reconnect(*link_.linkSocket, *this);
}

void GeneralPage::tcpConnectClicked()
{
    statusIdle_ = 1;
    if (link_.socketConnected) {
        dropTcpLink();
    } else {
        tcpConnectOperation(true);
        timers_.start(kConnectCheckTimer, kConnectCheckMs);
    }
    changed.notifyChanged();
}

void GeneralPage::reconnectTcp() { tcpConnectOperation(false); }

void GeneralPage::tabSelected(bool shown)
{
    if (shown) {
        statusIdle_ = 1;
        shownAgain_ = 1;
    }
}

void GeneralPage::activate()
{
    if (link_.tcpMode()) {
        if (!link_.socketConnected)
            notice_.showNotConnected();
    } else if (!link_.comOpen) {
        timers_.start(kRescanTimer, kRescanMs);
        notice_.showNotConnected();
    } else {
        settings_ = liveSerialSettings();
        if (!pageLink_.serial().open(link_.comPort, settings_) || !pageLink_.serial().startWorker())
            notice_.showNotConnected();
    }
    changed.notifyChanged();
}

void GeneralPage::onSocketConnect(int errorCode) { pageLink_.socketConnectDone(errorCode); }

void GeneralPage::onSocketClose() { pageLink_.socketClosed(); }

void GeneralPage::onSocketRead()
{
    if (!link_.linkSocket)
        return;
    bool any = false;
    auto onFrame = [this, &any](const CommandFrame& frame) {
        // Replies that reach this socket while another tab is shown are
        // not ours to act on.
        if (link_.activePage != PageId::General)
            return;
        any = true;
        if (link_.tcpMode())
            handleReply(frame, false);
        for (std::size_t i = 0; i < CommandFrame::kSize; ++i)
            pageLink_.receivedLog().appendByte(frame[i], i + 1 == CommandFrame::kSize);
    };
    pageLink_.drainSocket(*link_.linkSocket, [this, &onFrame](const std::uint8_t* data, std::size_t length) {
        pageLink_.feedSocket(data, length, onFrame, false);
    });
    if (any)
        changed.notifyChanged();
}

void GeneralPage::searchClicked() { runSearch(); }

void GeneralPage::runSearch()
{
    ipEntries_.clear();
    ipSelection_ = -1;
    ipText_.clear();
    dropTcpLink();
    changed.notifyChanged();
    if (searchHook_)
        searchHook_();
}

void GeneralPage::configClicked()
{
    if (configHook_)
        configHook_();
}

void GeneralPage::clearLogsClicked()
{
    pageLink_.receivedLog().clear();
    pageLink_.sentLog().clear();
    changed.notifyChanged();
}

// ------------------------------------------------------------ status run

void GeneralPage::clearClicked()
{
    emptyStateLabels();
    changed.notifyChanged();
}

void GeneralPage::startStatusRun()
{
    link_.progressText = kGettingStatus;
    timers_.start(kStatusAnimationTimer, kAnimationMs);
}

void GeneralPage::statusClicked()
{
    emptyStateLabels();
    if (link_.tcpMode()) {
        if (!link_.socketConnected) {
            statusIdle_ = 1;
            tcpStatusPending_ = 1;
            tcpConnectOperation(true);
            timers_.start(kStatusConnectCheckTimer, kConnectCheckMs);
            changed.notifyChanged();
            return;
        }
        statusIdle_ = 0;
        if (tcpStatusPending_ == 1) {
            changed.notifyChanged();
            return;
        }
        startStatusRun();
        chain_.ask(StatusChain::inputStep(1));
    } else {
        if (!link_.comOpen || shownAgain_ == 1) {
            if (shownAgain_ == 1)
                comConnected_ = false;  // so that Connect re-opens the port
            shownAgain_ = 0;
            comConnectClicked();
            if (!comConnected_)
                return;  // "Open COM failed!" is up
        }
        startStatusRun();
        timers_.start(kComStatusStartTimer, kStatusStartMs);
    }
    openProgress();
    changed.notifyChanged();
}

void GeneralPage::acceptPortState(bool output, int port, int p3, bool serialPath)
{
    const bool connected = p::stateIsOn(static_cast<std::uint8_t>(p3));
    const int step = output ? StatusChain::outputStep(port) : StatusChain::inputStep(port);
    // Only the answer to the query in flight moves the run on: a late one,
    // after a standby or a time-out ended the run, would start the chain
    // again without its popup, sending on whatever link the shown tab holds.
    const bool asked = chain_.waits(step);
    if (output) {
        outputLabel_[port - 1] = outputText(port, connected);
        outputState_[port - 1] = connected ? 1 : 0;
    } else {
        inputLabel_[port - 1] = inputText(port, connected);
        inputState_[port - 1] = connected ? 1 : 0;
    }
    chain_.answered(step);
    if (!asked)
        return;
    if (step == StatusChain::lastStep()) {
        statusRunEnded();
        return;
    }
    chain_.ask(step + 1);
    // Over TCP the popup names the port asked next.
    if (!serialPath)
        link_.progressText = output ? "Getting In" + std::to_string(port + 1) + "..."
                                    : "Getting Out" + std::to_string(port) + "...";
}

void GeneralPage::statusRunEnded()
{
    ctx_.shell.postPageBusy(0);
    // The animation and the popup end in either case, so that no timer is
    // left refreshing a popup that is gone.
    timers_.kill(kStatusAnimationTimer);
    if (notice_.closePleaseWait()) {
        popups_.progress.close();
        return;
    }
    popups_.progress.close();
}

void GeneralPage::statusGiveUp(int timerId)
{
    timers_.kill(timerId);
    timers_.kill(kStatusAnimationTimer);
    armNoticeClose(popups_, timers_, kNoticeTimer, kTimeoutNoticeMs);
    popups_.progress.close();
    if (popups_.notice.isOpen() && popups_.notice.text() == kPleaseWait) {
        ctx_.shell.postPageBusy(0);
        popups_.notice.close();
        return;
    }
    if (!popups_.notice.held())
        popups_.notice.show(kTimeOut);
    ctx_.shell.postPageBusy(0);
}

void GeneralPage::onStandby()
{
    timers_.killRange(1, kStandbyKillLast);
    // The connect check of a pending TCP status run is among the timers
    // just stopped: the run is over, or the Status button would ignore
    // every later click.
    tcpStatusPending_ = 0;
    // A factory reset ends too: its timers lie above that range, and left
    // running they would go on sending without a popup, whatever tab is shown.
    reset_.stop();
    popups_.progress.close();
    popups_.notice.close();
    notice_.showIfNoneOpen(kStandbyNoticeMs, kStandby);
}

void GeneralPage::acceptDeviceType(int p1)
{
    chain_.answered(StatusChain::DeviceType);
    if (const char* name = protocol::deviceTypeName(p1))
        deviceTypeName_ = name;
    if (!deviceTypeName_.empty())
        deviceTypeLabel_ = deviceTypeName_;
    chain_.ask(StatusChain::MatrixSize);
}

void GeneralPage::acceptMatrixSize(int p1, int p3)
{
    chain_.answered(StatusChain::MatrixSize);
    deviceTypeLabel_ = deviceTypeName_ + " " + std::to_string(p1) + "X" + std::to_string(p3);
    chain_.ask(StatusChain::Version);
}

void GeneralPage::acceptVersion(int p1, int p3)
{
    chain_.answered(StatusChain::Version);
    versionLabel_ = std::to_string(p1) + "." + std::to_string(p3);
    chain_.ask(StatusChain::inputStep(1));
}

// ------------------------------------------------------- device settings

void GeneralPage::beepClicked()
{
    if (guard())
        send(p::beepRequest(!beepChecked_));
    // The box shows the last confirmed state; the view re-reads it.
    changed.notifyChanged();
}

void GeneralPage::irClicked()
{
    if (guard())
        send(p::irRequest(!irChecked_));
    changed.notifyChanged();
}

void GeneralPage::factoryResetClicked()
{
    // A TCP status run waiting for its connect check is about to take the
    // progress popup; a reset started now would lose its popup when that
    // run ends and go on sending unseen, on whatever tab is shown by then.
    if (tcpStatusPending_ == 1) {
        changed.notifyChanged();
        return;
    }
    if (!guard()) {
        changed.notifyChanged();
        return;
    }
    reset_.start();
    link_.progressText = kSetting;
    timers_.start(kResetAnimationTimer, kAnimationMs);
    openProgress();
    changed.notifyChanged();
}

void GeneralPage::acceptResetStep(int step)
{
    if (reset_.accept(step))
        resetEnded();
}

void GeneralPage::resetEnded()
{
    reset_.stop();
    popups_.progress.close();
    // The matrix is back to beep on; the box says so once the notice is gone.
    notice_.show(kSuccessNoticeMs, kSetSuccessfully, [this] {
        beepChecked_ = true;
        changed.notifyChanged();
    });
}

void GeneralPage::resetGiveUp()
{
    reset_.stop();
    popups_.progress.close();
    notice_.showIfNoneOpen(kTimeoutNoticeMs, kTimeOut);
}

// --------------------------------------------------------------- replies

void GeneralPage::handleReply(const CommandFrame& frame, bool serialPath)
{
    if (p::isStandby(frame)) {
        onStandby();
        return;
    }
    switch (frame.command()) {
    case p::kStatusCommand:
        handleStatusReply(frame, serialPath);
        return;
    case p::kRoutingCommand:
    case p::kEdidCommand:
        if (reset_.running())
            if (const int step = FactoryReset::stepAckedBy(frame))
                acceptResetStep(step);
        return;
    case p::kIrCommand:
    case p::kBeepCommand:
        handleSettingAck(frame, serialPath);
        return;
    default:
        return;
    }
}

void GeneralPage::handleStatusReply(const CommandFrame& frame, bool serialPath)
{
    const int sub = frame.subCommand();
    const int p1 = frame.p1();
    if (sub == p::kIrStateSub) {
        if (!serialPath && p1 != 0)
            return;
        irChecked_ = p::stateIsOn(frame.p3());
        send(p::beepStateRequest());
        return;
    }
    if (sub == p::kBeepStateSub) {
        beepChecked_ = p::stateIsOn(frame.p3());
        return;
    }
    if (sub < p::kDeviceTypeSub || sub > p::kOutputCableSub)
        return;
    // Identification and port state: over the serial line only with a good
    // sum; over TCP only the port states, and only in a run.
    if (serialPath && !frame.checksumOk())
        return;
    if (sub == p::kInputCableSub || sub == p::kOutputCableSub) {
        if (p1 < 1 || p1 > kQueriedPorts || (!serialPath && statusIdle_ != 0))
            return;
        acceptPortState(sub == p::kOutputCableSub, p1, frame.p3(), serialPath);
    } else if (serialPath) {
        if (sub == p::kDeviceTypeSub)
            acceptDeviceType(p1);
        else if (sub == p::kMatrixSizeSub)
            acceptMatrixSize(p1, frame.p3());
        else
            acceptVersion(p1, frame.p3());
    }
}

// The IR and beep switches flip their box on the matrix's acknowledgement;
// during a factory reset the beep's belongs to the reset.
void GeneralPage::handleSettingAck(const CommandFrame& frame, bool serialPath)
{
    const bool ir = frame.command() == p::kIrCommand;
    if (!p::isSwitchAck(frame, frame.command()))
        return;
    if (!ir && reset_.running()) {
        if (const int step = FactoryReset::stepAckedBy(frame))
            acceptResetStep(step);
        return;
    }
    if (serialPath || frame.p1() == 0)
        (ir ? irChecked_ : beepChecked_) = !(ir ? irChecked_ : beepChecked_);
}

// ----------------------------------------------------------------- timers

bool GeneralPage::isChainTimer(int id)
{
    return StatusChain::ownsTimer(id) || id == kComStatusStartTimer || id == kStatusStartTimer ||
           FactoryReset::stepOfTimer(id) != 0;
}

void GeneralPage::endChainsQuietly()
{
    chain_.stop();
    timers_.kill(kComStatusStartTimer);
    timers_.kill(kStatusStartTimer);
    timers_.kill(kStatusAnimationTimer);
    tcpStatusPending_ = 0;
    reset_.stop();
}

void GeneralPage::onTimer(int id)
{
    // Only the shown page talks to the matrix. A chain that outlived its tab
    // (the identification after a COM connect has no popup, so the user may
    // leave) ends quietly at its next step rather than send into the
    // conversation of the page shown now, on whatever link that is.
    if (link_.activePage != PageId::General && isChainTimer(id)) {
        endChainsQuietly();
    } else if (StatusChain::ownsTimer(id)) {
        if (chain_.expired(id))
            statusGiveUp(id);
    } else if (FactoryReset::stepOfTimer(id) != 0) {
        if (reset_.expired(id))
            resetGiveUp();
    } else {
        onPageTimer(id);
    }
    changed.notifyChanged();
}

void GeneralPage::onPageTimer(int id)
{
    switch (id) {
    case kStatusConnectCheckTimer:
        statusConnectChecked();
        return;
    case kStatusStartTimer:
        statusStartDue();
        return;
    case kConnectCheckTimer:
        connectChecked();
        return;
    case kStatusAnimationTimer:
        link_.progressText = kStatusFrames[link_.nextProgressDot() - 1];
        popups_.progress.refresh();
        return;
    case kResetAnimationTimer:
        link_.progressText = kSettingFrames[link_.nextProgressDot() - 1];
        popups_.progress.refresh();
        return;
    case kRescanTimer:
        rescanPorts();
        return;
    case kComStatusStartTimer:
        timers_.kill(id);
        chain_.ask(StatusChain::inputStep(1));
        return;
    default:
        timers_.kill(id);
        return;
    }
}

void GeneralPage::statusConnectChecked()
{
    timers_.kill(kStatusConnectCheckTimer);
    if (link_.activePage != PageId::General) {
        // Another tab was shown within the 100 ms and owns the link now: a
        // status run started here would put our queries into its
        // conversation (between a firmware block's announce and its data,
        // say). The click is dropped.
        tcpStatusPending_ = 0;
    } else if (!link_.socketConnected) {
        tcpStatusPending_ = 0;
        showTcpConnected(false);
        link_.tcpLinkUp = false;
        notice_.show(kConnectFailedNoticeMs, kConnectFailed);
    } else {
        showTcpConnected(true);
        link_.tcpLinkUp = true;
        send(p::irStateRequest());
        timers_.start(kStatusStartTimer, kStatusStartMs);
        statusIdle_ = 0;
        startStatusRun();
        tcpStatusPending_ = 0;
        openProgress();
    }
}

void GeneralPage::statusStartDue()
{
    timers_.kill(kStatusStartTimer);
    if (link_.socketConnected) {
        chain_.ask(StatusChain::inputStep(1));
    } else {
        // The link fell between the check and the start: end the run here
        // rather than leave the popup and its animation up.
        tcpStatusPending_ = 0;
        timers_.kill(kStatusAnimationTimer);
        popups_.progress.close();
    }
}

void GeneralPage::connectChecked()
{
    timers_.kill(kConnectCheckTimer);
    if (link_.socketConnected) {
        showTcpConnected(true);
        link_.tcpLinkUp = true;
        // Only the shown page talks to the matrix.
        if (link_.activePage == PageId::General)
            send(p::beepStateRequest());
    } else {
        showTcpConnected(false);
        link_.tcpLinkUp = false;
        notice_.show(kConnectFailedNoticeMs, kConnectFailed);
    }
}

}  // namespace matrix
