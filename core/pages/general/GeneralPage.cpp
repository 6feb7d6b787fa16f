// SPDX-License-Identifier: Apache-2.0
#include "core/pages/general/GeneralPage.h"

#include "core/protocol/DeviceTypes.h"
#include "core/protocol/Protocol.h"
#include "core/transport/ComPorts.h"

#include <algorithm>

namespace matrix {

namespace {

namespace p = protocol;

using namespace notice_text;
constexpr const char* kStatusWord = "Getting status";

int indexOf(const std::vector<std::string>& list, const std::string& text)
{
    auto it = std::find(list.begin(), list.end(), text);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

}  // namespace

GeneralPage::GeneralPage(PageContext& context)
    : WindowPage(context, PageId::General),
      client_(context.platform.loop, nullptr, nullptr, client::windowPageOptions()),
      settings_(probeSerialSettings())
{
    // Only the shown page talks to the matrix: a conversation that outlived
    // its tab ends quietly at its next wait, and replies that reach the
    // socket while another tab is shown are not ours to act on.
    auto shown = [this] { return link_.activePage == PageId::General; };
    client_.attach(
        [this](const std::vector<std::uint8_t>& bytes) { port_.send(CommandFrame::fromBytes(bytes.data())); }, shown);
    client_.onSetting = [this](const client::SettingReport& report) { settingReported(report); };
    client_.onStandby = [this] { onStandby(); };
    port_.onSerialFrame([this](const CommandFrame& frame) {
        handleReply(frame, true);
        changed.notifyChanged();
    });
    // The log shows whole frames only.
    auto onSocketFrame = [this](const CommandFrame& frame) {
        if (link_.tcpMode())
            handleReply(frame, false);
        for (std::size_t i = 0; i < CommandFrame::kSize; ++i)
            port_.receivedLog().appendByte(frame[i], i + 1 == CommandFrame::kSize);
        changed.notifyChanged();
    };
    link_.setSocketReader(PageId::General, {shown, nullptr, onSocketFrame});

    rescanPorts(link_.comPort != 0 ? comPortName(link_.comPort) : std::string());
}

void GeneralPage::later(Timer& timer, int ms, std::function<void()> step)
{
    timer.once(ms, [this, step = std::move(step)] {
        step();
        changed.notifyChanged();
    });
}

void GeneralPage::selectMode(ControlMode mode)
{
    const bool com = mode == ControlMode::Com;
    if (com && !link_.comOpen)
        startRescan();
    link_.controlMode = mode;
    comGroupEnabled_ = com;
    comListEnabled_ = com && !link_.comOpen;
    tcpGroupEnabled_ = !com;
    changed.notifyChanged();
}

void GeneralPage::selectComPort(const std::string& text)
{
    const int index = indexOf(comPorts_, text);
    if (index < 0)
        return;
    comSelection_ = index;
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
        port_.serial().requestClose();
        startRescan();
        comListEnabled_ = true;
    } else if (port_.serial().open(portNumber_, settings_)) {
        port_.serial().startWorker();
        rescan_.stop();
        comListEnabled_ = false;
        comConnected_ = true;
        link_.comOpen = true;
        client_.askSetting(client::Setting::Beep);
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

void GeneralPage::startRescan()
{
    later(rescan_, kRescanMs, [this] { rescanPorts(comSelectedText()); });
}

// The selection stays on keep while it is listed, else goes to the first row.
void GeneralPage::rescanPorts(const std::string& keep)
{
    std::vector<std::string> found;
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        if (port_.serial().open(n, settings_)) {
            found.push_back(comPortName(n));
            // A probe must not keep the port from other programs or pages.
            port_.serial().requestClose();
        }
    }
    const int kept = indexOf(found, keep);
    comSelection_ = kept >= 0 ? kept : (found.empty() ? -1 : 0);
    comPorts_ = std::move(found);
    startRescan();
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
    link_.dropTcp();
    tcpIndicatorConnected_ = false;
}

void GeneralPage::tcpConnectClicked()
{
    statusIdle_ = true;
    if (link_.socketConnected()) {
        dropTcpLink();
    } else {
        link_.matrixAddress = ipText_;
        link_.reconnect(PageId::General);
        later(connectCheck_, kConnectCheckMs, [this] {
            // Only the shown page talks to the matrix.
            if (tcpLinkConfirmed() && link_.activePage == PageId::General)
                client_.askSetting(client::Setting::Beep);
        });
    }
    changed.notifyChanged();
}

void GeneralPage::tabSelected(bool shown)
{
    if (shown) {
        statusIdle_ = true;
        shownAgain_ = true;
    }
}

void GeneralPage::activate()
{
    if (link_.tcpMode()) {
        if (!link_.socketConnected())
            notice_.showNotConnected();
    } else if (!link_.comOpen) {
        startRescan();
        notice_.showNotConnected();
    } else {
        settings_ = liveSerialSettings();
        if (!port_.serial().open(link_.comPort, settings_) || !port_.serial().startWorker())
            notice_.showNotConnected();
    }
    changed.notifyChanged();
}

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

void GeneralPage::clearClicked()
{
    inputLabel_.fill({});
    outputLabel_.fill({});
    changed.notifyChanged();
}

void GeneralPage::statusClicked()
{
    inputLabel_.fill({});
    outputLabel_.fill({});
    if (link_.tcpMode() && !link_.socketConnected()) {
        statusIdle_ = true;
        tcpStatusPending_ = true;
        link_.matrixAddress = ipText_;
        link_.reconnect(PageId::General);
        later(statusConnectCheck_, kConnectCheckMs, [this] { statusConnectChecked(); });
    } else if (link_.tcpMode()) {
        statusIdle_ = false;
        if (!tcpStatusPending_) {
            ctx_.popups.progress.start(statusAnimation_, changed, [] { return kStatusWord; });
            startCableRun(false);
        }
    } else {
        if (!link_.comOpen || shownAgain_) {
            if (shownAgain_)
                comConnected_ = false;  // so that Connect re-opens the port
            shownAgain_ = false;
            comConnectClicked();
            if (!comConnected_)
                return;  // "Open COM failed!" is up
        }
        ctx_.popups.progress.start(statusAnimation_, changed, [] { return kStatusWord; });
        startDue(comStatusStart_, [this] { startCableRun(false); });
    }
    changed.notifyChanged();
}

// The cable run, after the matrix size and version when identifying.
void GeneralPage::startCableRun(bool identify)
{
    statusRunning_ = true;
    auto ended = [this](const auto& result) { statusEnded(result.status); };
    // Over TCP the popup names the port asked next.
    auto answered = [this](int port, bool output) {
        if (link_.tcpMode() && !(output && port == kQueriedPorts))
            ctx_.popups.progress.setText(output ? "Getting In" + std::to_string(port + 1) + "..."
                                                : "Getting Out" + std::to_string(port) + "...");
    };
    if (identify)
        client_.readSizeVersionCables(ended, answered);
    else
        client_.readCables(ended, answered);
}

void GeneralPage::statusEnded(client::Status status)
{
    statusRunning_ = false;
    if (status == client::Status::Ok || status == client::Status::TimeOut) {
        ctx_.shell.postPageBusy(0);
        // Both end the dots with the popup, or they would refresh a popup that
        // is gone. A "Please wait..." box goes without a "Time out!".
        statusAnimation_.stop();
        const bool timedOut = status == client::Status::TimeOut;
        if (timedOut)
            notice_.armClose(kTimeoutNoticeMs);
        ctx_.popups.progress.close();
        if (!notice_.closePleaseWait() && timedOut && !ctx_.popups.notice.held())
            ctx_.popups.notice.show(kTimeOut);
    } else if (status == client::Status::LinkDown) {
        endChainsQuietly();  // another tab took the link
    }
    // A standby has its own notice.
    changed.notifyChanged();
}

void GeneralPage::onStandby()
{
    // The COM start and the reset dots go on to their own ends.
    for (Timer* timer :
         {&statusConnectCheck_, &tcpStatusStart_, &connectCheck_, &noticeClose_, &statusAnimation_, &rescan_})
        timer->stop();
    // A pending TCP run lost its connect check just now: it is over, or
    // Status would ignore every later click.
    tcpStatusPending_ = false;
    // The client ended a factory reset too; its popup goes with it.
    ctx_.popups.progress.close();
    ctx_.popups.notice.close();
    notice_.showIfNoneOpen(kStandbyNoticeMs, kStandby);
}

void GeneralPage::toggleSetting(client::Setting setting, bool checked)
{
    if (guard())
        client_.sendSetting(setting, !checked);
    // The box shows the last confirmed state; the view re-reads it.
    changed.notifyChanged();
}

void GeneralPage::factoryResetClicked()
{
    // A TCP status run waiting for its connect check will take the popup; a
    // reset started now would lose it when that run ends and go on unseen.
    if (!tcpStatusPending_ && guard()) {
        resetRunning_ = true;
        client_.factoryReset([this](const client::Result<client::Nothing>& result) { resetEnded(result.status); });
        ctx_.popups.progress.start(resetAnimation_, changed, [] { return "Setting"; });
    }
    changed.notifyChanged();
}

void GeneralPage::resetEnded(client::Status status)
{
    resetRunning_ = false;
    resetAnimation_.stop();
    if (status == client::Status::Ok) {
        ctx_.popups.progress.close();
        // The matrix is back to beep on; the box says so once the notice is gone.
        notice_.show(kSuccessNoticeMs, kSetSuccessfully, [this] {
            beepChecked_ = true;
            changed.notifyChanged();
        });
    } else if (status == client::Status::TimeOut) {
        ctx_.popups.progress.close();
        notice_.showIfNoneOpen(kTimeoutNoticeMs, kTimeOut);
    } else if (status == client::Status::LinkDown) {
        endChainsQuietly();  // another tab took the link
    }
    // A standby has its own notice.
    changed.notifyChanged();
}

void GeneralPage::handleReply(const CommandFrame& frame, bool serialPath)
{
    frameFromSerial_ = serialPath;
    if (frame.command() == p::kStatusCommand)
        handleStatusReply(frame);
    // The client's conversations see the frame after the page: the reset's
    // beep acknowledgement must find the reset still running.
    client_.receive(frame);
}

// Identification and port state: only with a good sum; over TCP only the
// port states, and only in a run. The label follows every port state the
// page takes; only the client's run, which takes just the answer to its
// query in flight, moves on.
void GeneralPage::handleStatusReply(const CommandFrame& frame)
{
    const int sub = frame.subCommand();
    const int p1 = frame.p1();
    if (sub < p::kDeviceTypeSub || sub > p::kOutputCableSub || !frame.checksumOk())
        return;
    if (sub == p::kInputCableSub || sub == p::kOutputCableSub) {
        if (p1 < 1 || p1 > kQueriedPorts || (!frameFromSerial_ && statusIdle_))
            return;
        const bool output = sub == p::kOutputCableSub;
        const bool connected = p::stateIsOn(frame.p3());
        const std::string name =
            output ? std::string("HDMI OUT") + static_cast<char>('A' + p1 - 1) : "HDMI IN" + std::to_string(p1);
        (output ? outputLabel_ : inputLabel_)[p1 - 1] = name + (connected ? ": Connect" : ": Disconnect");
        (output ? outputState_ : inputState_)[p1 - 1] = connected;
    } else if (!frameFromSerial_) {
        return;
    } else if (sub == p::kDeviceTypeSub) {
        // On the serial line it runs the rest of the identification, without a popup.
        if (const char* name = protocol::deviceTypeName(p1))
            deviceTypeName_ = name;
        if (!deviceTypeName_.empty())
            deviceTypeLabel_ = deviceTypeName_;
        if (!statusRunning_)
            startCableRun(true);
    } else if (sub == p::kMatrixSizeSub) {
        deviceTypeLabel_ = deviceTypeName_ + " " + std::to_string(p1) + "X" + std::to_string(frame.p3());
    } else {
        versionLabel_ = std::to_string(p1) + "." + std::to_string(frame.p3());
    }
}

// The boxes show what the matrix says: a state reply sets one (the IR's then
// asks for the beep's), an acknowledgement flips it; over TCP only the
// matrix's own answers (p1 0) count, except a beep state. During a factory
// reset the beep's acknowledgement belongs to the reset.
void GeneralPage::settingReported(const client::SettingReport& report)
{
    const bool ir = report.setting == client::Setting::Ir;
    const bool trusted = frameFromSerial_ || report.p1 == 0;
    bool& box = ir ? irChecked_ : beepChecked_;
    if (!report.acknowledged && (!ir || trusted)) {
        box = report.on;
        if (ir)
            client_.askSetting(client::Setting::Beep);
    } else if (report.acknowledged && (ir || !resetRunning_) && trusted) {
        box = !box;
    }
}

bool GeneralPage::statusBusy() const
{
    return statusRunning_ || statusConnectCheck_.running() || tcpStatusStart_.running() || comStatusStart_.running() ||
           statusAnimation_.running();
}

void GeneralPage::endChainsQuietly()
{
    comStatusStart_.stop();
    tcpStatusStart_.stop();
    statusAnimation_.stop();
    tcpStatusPending_ = false;
    // The client's requests (status run, reset) end with LinkDown, quietly.
    client_.cancel();
}

// A run that outlived its tab (the identification has no popup, so the user
// may leave) ends quietly rather than send into the conversation of the page
// shown now, on whatever link that is.
void GeneralPage::startDue(Timer& start, std::function<void()> due)
{
    later(start, kStatusStartMs, [this, due = std::move(due)] {
        if (link_.activePage != PageId::General)
            endChainsQuietly();
        else
            due();
    });
}

// 100 ms after a connect the indicator follows the socket; a failure says so.
bool GeneralPage::tcpLinkConfirmed()
{
    link_.confirmTcp();
    tcpIndicatorConnected_ = link_.tcpLinkUp();
    if (!tcpIndicatorConnected_)
        notice_.show(kConnectFailedNoticeMs, kConnectFailed);
    return tcpIndicatorConnected_;
}

void GeneralPage::statusConnectChecked()
{
    // Another tab shown within the 100 ms owns the link: our queries would go
    // into its conversation (between a firmware block's announce and its data).
    if (link_.activePage == PageId::General && tcpLinkConfirmed()) {
        client_.askSetting(client::Setting::Ir);
        startDue(tcpStatusStart_, [this] {
            if (link_.socketConnected()) {
                startCableRun(false);
            } else {
                // The link fell between the check and the start: end the run
                // here rather than leave the popup and its animation up.
                tcpStatusPending_ = false;
                statusAnimation_.stop();
                ctx_.popups.progress.close();
            }
        });
        statusIdle_ = false;
        ctx_.popups.progress.start(statusAnimation_, changed, [] { return kStatusWord; });
    }
    tcpStatusPending_ = false;
}

}  // namespace matrix
