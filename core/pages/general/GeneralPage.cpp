// SPDX-License-Identifier: Apache-2.0
#include "core/pages/general/GeneralPage.h"

#include "core/app/CommandGuard.h"
#include "core/link/LinkState.h"
#include "core/protocol/Protocol.h"
#include "core/transport/ComPorts.h"

#include <algorithm>

namespace matrix {

namespace {

namespace p = protocol;

// Factory settings: input n to output n on the four outputs, then this
// built-in EDID mode on all inputs, then the beep on.
constexpr int kResetRoutes = 4;
constexpr int kFactoryEdidMode = 4;

constexpr const char* kOpenComFailed = "Open COM failed!";
constexpr const char* kConnectFailed = "Connect to Matrix failed!";
constexpr const char* kTimeOut = "Time out!";
constexpr const char* kStandbyText = "Matrix is in standby mode!";
constexpr const char* kSetSuccessfully = "Set successfully!";
constexpr const char* kPleaseWait = "Please wait...";
constexpr const char* kGettingStatus = "Getting status . . .";
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

int inputFirstTimer(int n) { return GeneralPage::kFirstPortTimer + 4 * (n - 1); }
int outputFirstTimer(int n) { return GeneralPage::kFirstPortTimer + 2 + 4 * (n - 1); }

// Factory-reset steps 1..7: the first timer of each step's pair.
int resetFirstTimer(int step)
{
    if (step <= 4)
        return GeneralPage::kFirstRouteResetTimer + 2 * (step - 1);
    if (step == 5)
        return GeneralPage::kEdidModeResetTimer;
    if (step == 6)
        return GeneralPage::kEdidSetResetTimer;
    return GeneralPage::kBeepResetTimer;
}

// The reset step whose pair contains this timer id, or 0.
int resetStepOfTimer(int id)
{
    for (int step = 1; step <= 7; ++step) {
        int first = resetFirstTimer(step);
        if (id == first || id == first + 1)
            return step;
    }
    return 0;
}

}  // namespace

GeneralPage::GeneralPage(PageContext& context)
    : ctx_(context),
      link_(context.link),
      shared_(context.shared),
      popups_(context.popups),
      serial_(context.platform.makeSerial()),
      timers_(context.platform.loop),
      sender_(context.link, *serial_, FrameSender::Echo::BeforeSending),
      settings_(probeSerialSettings())
{
    timers_.setHandler([this](int id) { onTimer(id); });
    serial_->setByteHandler([this](std::uint8_t byte, int port) { onSerialByte(byte, port); });

    // Page creation: list the ports that can be opened, COM mode selected,
    // the TCP controls disabled, the rescan running.
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        if (serial_->open(n, settings_)) {
            comPorts_.push_back(comPortName(n));
            // A probe must not keep the port from other programs or pages.
            serial_->requestClose();
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

void GeneralPage::send(const CommandFrame& frame) { sender_.send(frame); }

bool GeneralPage::guard()
{
    const bool connected = link_.tcpMode() ? link_.socketConnected == 1 : link_.comOpen == 1;
    return commandGuard(connected, link_, popups_, timers_, kNoticeTimer);
}

void GeneralPage::notice(int displayMs, const std::string& text, std::function<void()> whenClosed)
{
    showNotice(popups_, timers_, kNoticeTimer, displayMs, text, std::move(whenClosed));
}

void GeneralPage::noticeIfNoneOpen(int displayMs, const std::string& text)
{
    showNoticeIfNoneOpen(popups_, timers_, kNoticeTimer, displayMs, text);
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
    if (link_.comOpen == 0)
        timers_.start(kRescanTimer, kRescanMs);
    link_.controlMode = ControlMode::Com;
    comGroupEnabled_ = true;
    comListEnabled_ = link_.comOpen == 0;
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
        link_.comOpen = 0;
        comConnected_ = false;
        serial_->requestClose();
        timers_.start(kRescanTimer, kRescanMs);
        comListEnabled_ = true;
    } else if (serial_->open(portNumber_, settings_)) {
        serial_->startWorker();
        timers_.kill(kRescanTimer);
        comListEnabled_ = false;
        comConnected_ = true;
        link_.comOpen = 1;
        send(p::beepStateRequest());
    } else {
        notice(kGuardNoticeMs, kOpenComFailed);
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
        if (serial_->open(n, settings_)) {
            found.push_back(comPortName(n));
            serial_->requestClose();
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
    link_.socketConnected = 0;
    if (link_.linkSocket)
        link_.linkSocket->close();
    showTcpConnected(false);
    link_.tcpLinkUp = 0;
}

void GeneralPage::tcpConnectOperation(bool readIpList)
{
    if (!link_.linkSocket)
        return;
    link_.linkSocket->recreate(this);
    // A new socket is a new stream: a partial reply of the old one must not
    // prefix the first reply on this one.
    tcpAssembler_.reset();
    if (readIpList)
        link_.matrixAddress = ipText_;
    link_.linkSocket->connectTo(link_.matrixAddress, kMatrixTcpPort);
    link_.socketConnected = 0;
}

void GeneralPage::tcpConnectClicked()
{
    shared_.statusIdle = 1;
    if (link_.socketConnected == 1) {
        dropTcpLink();
    } else {
        tcpConnectOperation(true);
        timers_.start(kConnectCheckTimer, kConnectCheckMs);
    }
    changed.notifyChanged();
}

void GeneralPage::reconnectTcp() { tcpConnectOperation(false); }

void GeneralPage::activate()
{
    if (link_.tcpMode()) {
        if (link_.socketConnected == 0)
            notice(kGuardNoticeMs, kConnectFailed);
    } else if (link_.comOpen == 0) {
        timers_.start(kRescanTimer, kRescanMs);
        notice(kGuardNoticeMs, kOpenComFailed);
    } else {
        settings_ = liveSerialSettings();
        if (!serial_->open(link_.comPort, settings_) || !serial_->startWorker())
            notice(kGuardNoticeMs, kOpenComFailed);
    }
    changed.notifyChanged();
}

void GeneralPage::onSocketConnect(int errorCode)
{
    if (errorCode == 0)
        link_.socketConnected = 1;
}

void GeneralPage::onSocketClose() { link_.socketConnected = 0; }

void GeneralPage::onSocketRead()
{
    if (!link_.linkSocket)
        return;
    std::uint8_t buffer[kTcpBufferBytes];
    bool any = false;
    for (;;) {
        // The held tail and a read never exceed the 1024-byte buffer.
        const std::size_t capacity = kTcpBufferBytes - tcpAssembler_.pendingBytes();
        const long n = link_.linkSocket->receive(buffer, capacity);
        if (n <= 0)
            break;
        tcpAssembler_.feed(buffer, static_cast<std::size_t>(n), [this, &any](const CommandFrame& frame) {
            // Replies that reach this socket while another tab is shown
            // are not ours to act on.
            if (link_.activePage != PageId::General)
                return;
            any = true;
            if (link_.tcpMode())
                handleTcpFrame(frame);
            for (std::size_t i = 0; i < CommandFrame::kSize; ++i)
                receivedLog_.appendByte(frame[i], i + 1 == CommandFrame::kSize);
        });
    }
    if (any)
        changed.notifyChanged();
}

void GeneralPage::onSerialByte(std::uint8_t byte, int portNumber)
{
    if (link_.tcpMode())
        return;
    if (portNumber < 1 || portNumber > 255)
        return;
    if (auto frame = serialAssembler_.feed(byte, &receivedLog_)) {
        handleSerialFrame(*frame);
        changed.notifyChanged();
    }
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
    receivedLog_.clear();
    sender_.sentLog().clear();
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
        if (link_.socketConnected == 0) {
            shared_.statusIdle = 1;
            tcpStatusPending_ = 1;
            tcpConnectOperation(true);
            timers_.start(kStatusConnectCheckTimer, kConnectCheckMs);
            changed.notifyChanged();
            return;
        }
        shared_.statusIdle = 0;
        if (tcpStatusPending_ == 1) {
            changed.notifyChanged();
            return;
        }
        startStatusRun();
        send(p::inputCableRequest(1));
        timers_.start(inputFirstTimer(1), kReplyTimeoutMs);
    } else {
        if (link_.comOpen == 0 || shared_.generalShownAgain == 1) {
            if (shared_.generalShownAgain == 1)
                comConnected_ = false;  // so that Connect re-opens the port
            shared_.generalShownAgain = 0;
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
    // Only the answer to the query in flight moves the run on: a late one,
    // after a standby or a time-out ended the run, would start the chain
    // again without its popup, sending on whatever link the shown tab holds.
    const int firstTimer = output ? outputFirstTimer(port) : inputFirstTimer(port);
    const bool asked = timers_.isRunning(firstTimer) || timers_.isRunning(firstTimer + 1);
    if (output) {
        outputLabel_[port - 1] = outputText(port, connected);
        outputState_[port - 1] = connected ? 1 : 0;
        timers_.kill(outputFirstTimer(port));
        timers_.kill(outputFirstTimer(port) + 1);
        if (!asked)
            return;
        if (port == kQueriedPorts) {
            statusRunEnded();
            return;
        }
        send(p::inputCableRequest(port + 1));
        timers_.start(inputFirstTimer(port + 1), kReplyTimeoutMs);
        if (!serialPath)
            link_.progressText = "Getting In" + std::to_string(port + 1) + "...";
    } else {
        inputLabel_[port - 1] = inputText(port, connected);
        inputState_[port - 1] = connected ? 1 : 0;
        timers_.kill(inputFirstTimer(port));
        timers_.kill(inputFirstTimer(port) + 1);
        if (!asked)
            return;
        send(p::outputCableRequest(port));
        timers_.start(outputFirstTimer(port), kReplyTimeoutMs);
        if (!serialPath)
            link_.progressText = "Getting Out" + std::to_string(port) + "...";
    }
}

void GeneralPage::statusRunEnded()
{
    ctx_.shell.postPageBusy(0);
    // The animation and the popup end in either case, so that no timer is
    // left refreshing a popup that is gone.
    timers_.kill(kStatusAnimationTimer);
    if (popups_.notice.isOpen() && popups_.notice.text() == kPleaseWait) {
        popups_.notice.close();
        popups_.progress.close();
        return;
    }
    popups_.progress.close();
}

void GeneralPage::statusGiveUp(int timerId)
{
    timers_.kill(timerId);
    timers_.kill(kStatusAnimationTimer);
    NoticePopup* box = &popups_.notice;
    TimerSet* owner = &timers_;
    timers_.start(kNoticeTimer, kTimeoutNoticeMs, [box, owner] {
        owner->kill(kNoticeTimer);
        box->close();
    });
    popups_.progress.close();
    if (popups_.notice.isOpen() && popups_.notice.text() == kPleaseWait) {
        ctx_.shell.postPageBusy(0);
        popups_.notice.close();
        return;
    }
    if (link_.noticeOpen == 0)
        popups_.notice.show(kTimeOut);
    ctx_.shell.postPageBusy(0);
}

void GeneralPage::portChainTimeout(int firstTimerId)
{
    timers_.kill(firstTimerId);
    const int index = (firstTimerId - kFirstPortTimer) / 2;  // 0 IN1, 1 OUT1, 2 IN2, ...
    const int port = index / 2 + 1;
    const bool output = index % 2 == 1;
    send(p::cableRequest(output, port));
    timers_.start(firstTimerId + 1, kReplyTimeoutMs);
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
    stopFactoryReset();
    popups_.progress.close();
    popups_.notice.close();
    noticeIfNoneOpen(kStandbyNoticeMs, kStandbyText);
}

void GeneralPage::acceptDeviceType(int p1)
{
    timers_.kill(kDeviceTypeTimer);
    timers_.kill(kDeviceTypeTimer + 1);
    if (p1 == 1)
        deviceTypeName_ = "HDMI MATRIX";
    else if (p1 == 2)
        deviceTypeName_ = "HDBT MATRIX";
    else if (p1 == 3)
        deviceTypeName_ = "HDMI+HDBT etc MATRIX";
    if (!deviceTypeName_.empty())
        deviceTypeLabel_ = deviceTypeName_;
    send(p::matrixSizeRequest());
    timers_.start(kMatrixSizeTimer, kReplyTimeoutMs);
}

void GeneralPage::acceptMatrixSize(int p1, int p3)
{
    timers_.kill(kMatrixSizeTimer);
    timers_.kill(kMatrixSizeTimer + 1);
    deviceTypeLabel_ = deviceTypeName_ + " " + std::to_string(p1) + "X" + std::to_string(p3);
    send(p::versionRequest());
    timers_.start(kVersionTimer, kReplyTimeoutMs);
}

void GeneralPage::acceptVersion(int p1, int p3)
{
    timers_.kill(kVersionTimer);
    timers_.kill(kVersionTimer + 1);
    versionLabel_ = std::to_string(p1) + "." + std::to_string(p3);
    send(p::inputCableRequest(1));
    timers_.start(inputFirstTimer(1), kReplyTimeoutMs);
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

void GeneralPage::sendResetRequest(int step)
{
    if (step <= kResetRoutes)
        send(p::routeRequest(step, step));  // input n to output n
    else if (step == 5)
        send(p::edidModeRequest());
    else if (step == 6)
        send(p::edidSetModeAllRequest(kFactoryEdidMode));
    else
        send(p::beepRequest(true));
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
    factoryResetRunning_ = 1;
    sendResetRequest(1);
    timers_.start(resetFirstTimer(1), kReplyTimeoutMs);
    link_.progressText = kSetting;
    timers_.start(kResetAnimationTimer, kAnimationMs);
    openProgress();
    changed.notifyChanged();
}

void GeneralPage::acceptResetStep(int step)
{
    // Only the step that waits takes an acknowledgement: a late one, from an
    // earlier reset or an earlier try, would skip steps and end the run
    // while the waiting step's timers go on sending.
    const int first = resetFirstTimer(step);
    if (!timers_.isRunning(first) && !timers_.isRunning(first + 1))
        return;
    timers_.kill(first);
    timers_.kill(first + 1);
    if (step == 7) {
        resetEnded();
        return;
    }
    sendResetRequest(step + 1);
    timers_.start(resetFirstTimer(step + 1), kReplyTimeoutMs);
}

// The reset's animation and every step timer stop together, whichever way
// the reset ends.
void GeneralPage::stopFactoryReset()
{
    factoryResetRunning_ = 0;
    timers_.killRange(kResetAnimationTimer, kBeepResetTimer + 1);
}

void GeneralPage::resetEnded()
{
    stopFactoryReset();
    popups_.progress.close();
    // The matrix is back to beep on; the box says so once the notice is gone.
    notice(kSuccessNoticeMs, kSetSuccessfully, [this] {
        beepChecked_ = true;
        changed.notifyChanged();
    });
}

void GeneralPage::resetStepTimeout(int timerId)
{
    const int step = resetStepOfTimer(timerId);
    timers_.kill(timerId);
    sendResetRequest(step);
    timers_.start(timerId + 1, kReplyTimeoutMs);
}

void GeneralPage::resetGiveUp(int timerId)
{
    stopFactoryReset();
    popups_.progress.close();
    noticeIfNoneOpen(kTimeoutNoticeMs, kTimeOut);
}

// --------------------------------------------------------------- replies

void GeneralPage::handleSerialFrame(const CommandFrame& frame) { handleReply(frame, true); }

void GeneralPage::handleTcpFrame(const CommandFrame& frame) { handleReply(frame, false); }

void GeneralPage::handleReply(const CommandFrame& frame, bool serialPath)
{
    const int command = frame.command();
    const int sub = frame.subCommand();
    const int p1 = frame.p1();
    const int p3 = frame.p3();

    if (p::isStandby(frame)) {
        onStandby();
        return;
    }

    switch (command) {
    case p::kStatusCommand:
        if (sub >= p::kDeviceTypeSub && sub <= p::kOutputCableSub) {
            // Identification and port state: over the serial line only with
            // a good sum; over TCP only the port states, and only in a run.
            if (serialPath && !frame.checksumOk())
                return;
            if (sub == p::kInputCableSub || sub == p::kOutputCableSub) {
                if (p1 < 1 || p1 > kQueriedPorts)
                    return;
                if (!serialPath && shared_.statusIdle != 0)
                    return;
                acceptPortState(sub == p::kOutputCableSub, p1, p3, serialPath);
                return;
            }
            if (!serialPath)
                return;
            if (sub == p::kDeviceTypeSub)
                acceptDeviceType(p1);
            else if (sub == p::kMatrixSizeSub)
                acceptMatrixSize(p1, p3);
            else
                acceptVersion(p1, p3);
        } else if (sub == p::kIrStateSub) {
            if (!serialPath && p1 != 0)
                return;
            irChecked_ = p::stateIsOn(frame.p3());
            send(p::beepStateRequest());
        } else if (sub == p::kBeepStateSub) {
            beepChecked_ = p::stateIsOn(frame.p3());
        }
        return;
    case p::kRoutingCommand:
        if (sub == p::kRouteSub && factoryResetRunning_ == 1 && p1 == 0 && p3 >= 1 && p3 <= kResetRoutes)
            acceptResetStep(p3);
        return;
    case p::kEdidCommand:
        if (factoryResetRunning_ == 1 && p1 == 0 && p3 == 0) {
            if (sub == p::kEdidModeRequestSub)
                acceptResetStep(5);
            else if (sub == p::kEdidModeAllSub)
                acceptResetStep(6);
        }
        return;
    case p::kIrCommand:
        if (p::isSwitchAck(frame, p::kIrCommand) && (serialPath || p1 == 0))
            irChecked_ = !irChecked_;
        return;
    case p::kBeepCommand:
        if (!p::isSwitchAck(frame, p::kBeepCommand))
            return;
        if (factoryResetRunning_ == 1) {
            if (p1 == 0)
                acceptResetStep(7);
        } else if (serialPath || p1 == 0) {
            beepChecked_ = !beepChecked_;
        }
        return;
    default:
        return;
    }
}

// ----------------------------------------------------------------- timers

bool GeneralPage::isChainTimer(int id)
{
    return (id >= kDeviceTypeTimer && id <= kLastPortTimer) || id == kComStatusStartTimer ||
           id == kStatusStartTimer || resetStepOfTimer(id) != 0;
}

void GeneralPage::endChainsQuietly()
{
    timers_.killRange(kDeviceTypeTimer, kLastPortTimer);
    timers_.kill(kComStatusStartTimer);
    timers_.kill(kStatusStartTimer);
    timers_.kill(kStatusAnimationTimer);
    tcpStatusPending_ = 0;
    stopFactoryReset();
}

void GeneralPage::onTimer(int id)
{
    // Only the shown page talks to the matrix. A chain that outlived its tab
    // (the identification after a COM connect has no popup, so the user may
    // leave) ends quietly at its next step rather than send into the
    // conversation of the page shown now, on whatever link that is.
    if (link_.activePage != PageId::General && isChainTimer(id)) {
        endChainsQuietly();
        changed.notifyChanged();
        return;
    }
    if (id == kDeviceTypeTimer || id == kMatrixSizeTimer || id == kVersionTimer) {
        timers_.kill(id);
        send(id == kDeviceTypeTimer    ? p::deviceTypeRequest()
             : id == kMatrixSizeTimer ? p::matrixSizeRequest()
                                      : p::versionRequest());
        timers_.start(id + 1, kReplyTimeoutMs);
    } else if (id == kDeviceTypeTimer + 1 || id == kMatrixSizeTimer + 1 || id == kVersionTimer + 1) {
        statusGiveUp(id);
    } else if (id >= kFirstPortTimer && id <= kLastPortTimer) {
        if ((id - kFirstPortTimer) % 2 == 0)
            portChainTimeout(id);
        else
            statusGiveUp(id);
    } else if (id == kStatusConnectCheckTimer) {
        timers_.kill(id);
        if (link_.activePage != PageId::General) {
            // Another tab was shown within the 100 ms and owns the link now:
            // a status run started here would put our queries into its
            // conversation (between a firmware block's announce and its
            // data, say). The click is dropped.
            tcpStatusPending_ = 0;
        } else if (link_.socketConnected == 0) {
            tcpStatusPending_ = 0;
            showTcpConnected(false);
            link_.tcpLinkUp = 0;
            notice(kConnectFailedNoticeMs, kConnectFailed);
        } else {
            showTcpConnected(true);
            link_.tcpLinkUp = 1;
            send(p::irStateRequest());
            timers_.start(kStatusStartTimer, kStatusStartMs);
            shared_.statusIdle = 0;
            startStatusRun();
            tcpStatusPending_ = 0;
            openProgress();
        }
    } else if (id == kStatusStartTimer) {
        timers_.kill(id);
        if (link_.socketConnected == 1) {
            send(p::inputCableRequest(1));
            timers_.start(inputFirstTimer(1), kReplyTimeoutMs);
        } else {
            // The link fell between the check and the start: end the run
            // here rather than leave the popup and its animation up.
            tcpStatusPending_ = 0;
            timers_.kill(kStatusAnimationTimer);
            popups_.progress.close();
        }
    } else if (id == kConnectCheckTimer) {
        timers_.kill(id);
        if (link_.socketConnected == 1) {
            showTcpConnected(true);
            link_.tcpLinkUp = 1;
            // Only the shown page talks to the matrix.
            if (link_.activePage == PageId::General)
                send(p::beepStateRequest());
        } else {
            showTcpConnected(false);
            link_.tcpLinkUp = 0;
            notice(kConnectFailedNoticeMs, kConnectFailed);
        }
    } else if (id == kStatusAnimationTimer) {
        link_.progressText = kStatusFrames[nextProgressDot(shared_) - 1];
        popups_.progress.refresh();
    } else if (id == kResetAnimationTimer) {
        link_.progressText = kSettingFrames[nextProgressDot(shared_) - 1];
        popups_.progress.refresh();
    } else if (id == kRescanTimer) {
        rescanPorts();
    } else if (id == kComStatusStartTimer) {
        timers_.kill(id);
        send(p::inputCableRequest(1));
        timers_.start(inputFirstTimer(1), kReplyTimeoutMs);
    } else if (int step = resetStepOfTimer(id)) {
        if (id == resetFirstTimer(step))
            resetStepTimeout(id);
        else
            resetGiveUp(id);
    } else {
        timers_.kill(id);
    }
    changed.notifyChanged();
}

}  // namespace matrix
