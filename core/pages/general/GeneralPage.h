// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/Page.h"
#include "core/app/PageContext.h"
#include "core/app/WindowLink.h"
#include "core/client/MatrixClient.h"
#include "core/link/CommandFrame.h"
#include "core/link/HexLog.h"
#include "core/protocol/Waits.h"
#include "core/transport/ChangeNotifier.h"
#include "core/transport/SerialChannel.h"
#include "core/transport/Timer.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace matrix {

// The "General" tab as a view model: the connection panel (control mode,
// COM and TCP connect), the cable status of every port with its query
// chain, and the device settings (beep, IR, factory reset).
//
// Views read the getters on every change notification and forward clicks
// to the action methods; a check box the toolkit toggled by itself is
// simply re-read, since the boxes show only what the matrix confirmed.
class GeneralPage : public Page, public GeneralPageHooks {
public:
    // Each query of the status run waits this long, then once more after its re-send.
    static constexpr int kReplyTimeoutMs = protocol::kReplyWaits.firstMs;
    static constexpr int kStatusStartMs = 200;
    static constexpr int kConnectCheckMs = 100;
    static constexpr int kAnimationMs = 500;
    static constexpr int kRescanMs = 500;

    static constexpr int kGuardNoticeMs = kNotConnectedNoticeMs;
    static constexpr int kTimeoutNoticeMs = 1000;
    static constexpr int kConnectFailedNoticeMs = 1000;
    static constexpr int kSuccessNoticeMs = 1500;
    static constexpr int kStandbyNoticeMs = 2500;

    static constexpr int kPortCount = 8;  // labels exist for eight of each
    static constexpr int kQueriedPorts = client::kPortCount;

    explicit GeneralPage(PageContext& context);

    // Page.
    SerialChannel& serialPort() override { return port_.serial(); }
    void activate() override;
    void tabSelected(bool shown) override;

    // GeneralPageHooks.
    void forceComDisconnect() override;
    void runSearch() override;

    // ---- What the view shows ----
    // Control mode radios.
    bool comModeSelected() const { return !link_.tcpMode(); }
    bool tcpModeSelected() const { return !comModeSelected(); }
    // COM group: the port list ("COMn" rows), its selection (-1: none).
    const std::vector<std::string>& comPorts() const { return comPorts_; }
    int comSelection() const { return comSelection_; }
    std::string comSelectedText() const;
    bool comGroupEnabled() const { return comGroupEnabled_; }  // group, "Port" label, Connect
    bool comListEnabled() const { return comListEnabled_; }
    const char* comConnectText() const { return comConnected_ ? "Disconnect" : "Connect"; }
    bool comIndicatorConnected() const { return comConnected_; }
    // TCP group: the editable IP list, "Search", "Config...", Connect.
    const std::vector<std::string>& ipEntries() const { return ipEntries_; }
    int ipSelection() const { return ipSelection_; }
    const std::string& ipText() const { return ipText_; }
    bool tcpGroupEnabled() const { return tcpGroupEnabled_; }
    const char* tcpConnectText() const { return tcpIndicatorConnected_ ? "Disconnect" : "Connect"; }
    bool tcpIndicatorConnected() const { return tcpIndicatorConnected_; }
    // Device information: n is 1..8. Empty text: nothing known.
    const std::string& inputLabel(int n) const { return inputLabel_.at(n - 1); }
    const std::string& outputLabel(int n) const { return outputLabel_.at(n - 1); }
    bool inputConnected(int n) const { return inputState_.at(n - 1) != 0; }
    bool outputConnected(int n) const { return outputState_.at(n - 1) != 0; }
    const std::string& deviceTypeText() const { return deviceTypeLabel_; }
    const std::string& versionText() const { return versionLabel_; }
    // Device settings.
    bool beepChecked() const { return beepChecked_; }
    bool irChecked() const { return irChecked_; }
    bool factoryResetRunning() const { return resetRunning_; }
    bool statusPending() const { return tcpStatusPending_ != 0; }
    // A status run is under way: about to start, running, or its popup animating.
    bool statusBusy() const;
    // The COM port list is read again every kRescanMs.
    bool comListRescanning() const { return rescan_.running(); }
    // The hidden hex logs.
    const HexLog& receivedLog() const { return port_.receivedLog(); }
    const HexLog& sentLog() const { return port_.sentLog(); }
    HexLog& receivedLog() { return port_.receivedLog(); }

    // ---- What the user does ----
    void selectComMode() { selectMode(ControlMode::Com); }
    void selectTcpMode() { selectMode(ControlMode::Tcp); }
    void selectComPort(const std::string& text);
    void comConnectClicked();
    void setIpText(const std::string& text);  // typing into the IP list
    void selectIpEntry(int index);
    void tcpConnectClicked();
    void statusClicked();
    void clearClicked();
    void beepClicked() { toggleSetting(client::Setting::Beep, beepChecked_); }
    void irClicked() { toggleSetting(client::Setting::Ir, irChecked_); }
    void factoryResetClicked();
    void searchClicked() { runSearch(); }
    void configClicked();

    // ---- Hooks for discovery and network configuration ----
    // Runs after "Search" (or the shell's re-discovery) dropped the TCP link
    // and emptied the IP list: the discovery sends its request here.
    void setSearchHook(std::function<void()> hook) { searchHook_ = std::move(hook); }
    // "Config..." opens the network configuration.
    void setConfigHook(std::function<void()> hook) { configHook_ = std::move(hook); }
    // A new IP-list selection, after the page dropped the link; the
    // discovery records which matrix (MAC) the configuration addresses.
    void setIpSelectedHook(std::function<void(int index)> hook) { ipSelectedHook_ = std::move(hook); }
    // A valid discovery reply: appends the address, selects the first row
    // and takes its text as matrixAddress.
    void addDiscoveredAddress(const std::string& dottedAddress);

    // The conversations the page has moved onto the client run here, over
    // the page's link.
    client::MatrixClient& client() { return client_; }
    ChangeNotifier changed;

private:
    void handleReply(const CommandFrame& frame, bool serialPath);
    void handleStatusReply(const CommandFrame& frame, bool serialPath);
    void settingReported(const client::SettingReport& report);

    bool guard();
    void later(Timer& timer, int ms, void (GeneralPage::*step)());

    void selectMode(ControlMode mode);
    void startRescan() { later(rescan_, kRescanMs, &GeneralPage::rescanPorts); }
    std::vector<std::string> probePorts();
    void takePorts(std::vector<std::string> found, const std::string& keep);
    void rescanPorts();
    void tcpConnectOperation();
    void dropTcpLink();
    void emptyStateLabels();
    void startStatusRun();
    void toggleSetting(client::Setting setting, bool checked);

    void acceptPortState(bool output, int port, int p3);
    void startCableRun();
    void portAnswered(int port, bool output);
    void startDue(Timer& start, void (GeneralPage::*due)());
    void animate(Timer& animation, const char* const* frames);
    void endChainsQuietly();
    void statusEnded(client::Status status);
    void onStandby();
    void acceptDeviceType(int p1);
    bool tcpLinkConfirmed();
    void statusConnectChecked();
    void statusStartDue();
    void connectChecked();

    void resetEnded(client::Status status);

    PageContext& ctx_;
    WindowLink& link_;
    Popups& popups_;
    PagePort& port_;
    Timer noticeClose_{ctx_.platform.loop};
    PageNotice notice_;
    Timer statusConnectCheck_{ctx_.platform.loop};  // a Status click's TCP connect is checked
    Timer tcpStatusStart_{ctx_.platform.loop};      // the run starts after the IR query
    Timer comStatusStart_{ctx_.platform.loop};      // the run starts after a COM Status click
    Timer connectCheck_{ctx_.platform.loop};        // a Connect click's TCP connect is checked
    Timer statusAnimation_{ctx_.platform.loop};     // "Getting status" dots
    Timer resetAnimation_{ctx_.platform.loop};      // "Setting" dots
    Timer rescan_{ctx_.platform.loop};              // the COM port list is read again
    client::MatrixClient client_;
    bool resetRunning_ = false;
    bool frameFromSerial_ = false;  // the frame being handled came in on the serial line
    // A status run or the identification is the client's request in flight.
    bool statusRunning_ = false;

    SerialSettings settings_;
    int portNumber_ = 0;         // the page's own port number
    bool comConnected_ = false;  // the page's COM-connected flag
    std::vector<std::string> comPorts_;
    int comSelection_ = -1;
    bool comGroupEnabled_ = true;
    bool comListEnabled_ = true;

    std::vector<std::string> ipEntries_;
    int ipSelection_ = -1;
    std::string ipText_;
    bool tcpGroupEnabled_ = false;
    bool tcpIndicatorConnected_ = false;

    std::array<std::string, kPortCount> inputLabel_{};
    std::array<std::string, kPortCount> outputLabel_{};
    std::array<int, kPortCount> inputState_{};
    std::array<int, kPortCount> outputState_{};
    std::string deviceTypeName_;
    std::string deviceTypeLabel_ = "Not Known";
    std::string versionLabel_ = "Not Known";
    int tcpStatusPending_ = 0;
    // While 1 the TCP reply handler ignores port-state replies.
    int statusIdle_ = 1;
    // The tab was shown again since the last Status click.
    int shownAgain_ = 0;

    bool beepChecked_ = false;
    bool irChecked_ = false;

    std::function<void()> searchHook_;
    std::function<void()> configHook_;
    std::function<void(int)> ipSelectedHook_;
};

}  // namespace matrix
