// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/client/MatrixClient.h"

namespace matrix {

// The "General" tab as a view model: the connection panel, the cable status
// of every port, and the device settings. The check boxes show only what the
// matrix confirmed, so one the toolkit toggled by itself is simply re-read.
class GeneralPage : public WindowPage, public GeneralPageHooks {
public:
    // Each query of the status run waits this long, then once more after its re-send.
    static constexpr int kReplyTimeoutMs = protocol::kReplyWaits.firstMs;
    static constexpr int kStatusStartMs = 200;
    static constexpr int kConnectCheckMs = 100;
    static constexpr int kAnimationMs = ProgressPopup::kStepMs;
    static constexpr int kRescanMs = 500;

    static constexpr int kGuardNoticeMs = kNotConnectedNoticeMs;
    static constexpr int kTimeoutNoticeMs = 1000;
    static constexpr int kConnectFailedNoticeMs = 1000;
    static constexpr int kSuccessNoticeMs = 1500;
    static constexpr int kStandbyNoticeMs = 2500;

    static constexpr int kPortCount = 8;  // labels exist for eight of each
    static constexpr int kQueriedPorts = client::kPortCount;

    explicit GeneralPage(PageContext& context);

    void activate() override;
    void tabSelected(bool shown) override;
    void forceComDisconnect() override;
    void runSearch() override;

    // ---- What the view shows ----
    bool comModeSelected() const { return !link_.tcpMode(); }
    bool tcpModeSelected() const { return !comModeSelected(); }
    // COM group: the port list ("COMn" rows), its selection (always a row, or -1: none).
    const std::vector<std::string>& comPorts() const { return comPorts_; }
    int comSelection() const { return comSelection_; }
    std::string comSelectedText() const { return comSelection_ < 0 ? "" : comPorts_[comSelection_]; }
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
    bool inputConnected(int n) const { return inputState_.at(n - 1); }
    bool outputConnected(int n) const { return outputState_.at(n - 1); }
    const std::string& deviceTypeText() const { return deviceTypeLabel_; }
    const std::string& versionText() const { return versionLabel_; }
    bool beepChecked() const { return beepChecked_; }
    bool irChecked() const { return irChecked_; }
    bool factoryResetRunning() const { return resetRunning_; }
    bool statusPending() const { return tcpStatusPending_; }
    // A status run is under way: about to start, running, or its popup animating.
    bool statusBusy() const;
    // The COM port list is read again every kRescanMs.
    bool comListRescanning() const { return rescan_.running(); }

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
    // "Search" (or a re-discovery) dropped the link and emptied the IP list.
    void setSearchHook(std::function<void()> hook) { searchHook_ = std::move(hook); }
    void setConfigHook(std::function<void()> hook) { configHook_ = std::move(hook); }
    // A new IP-list selection, after the page dropped the link.
    void setIpSelectedHook(std::function<void(int index)> hook) { ipSelectedHook_ = std::move(hook); }
    // A valid discovery reply: appends the address and selects the first row.
    void addDiscoveredAddress(const std::string& dottedAddress);

    client::MatrixClient& client() { return client_; }

private:
    void handleReply(const CommandFrame& frame, bool serialPath);
    void handleStatusReply(const CommandFrame& frame);
    void settingReported(const client::SettingReport& report);

    bool guard() { return notice_.guard(link_.tcpMode() ? link_.socketConnected() : link_.comOpen); }
    void later(Timer& timer, int ms, std::function<void()> step);
    void selectMode(ControlMode mode);
    void startRescan();
    void rescanPorts(const std::string& keep);
    void dropTcpLink();
    void toggleSetting(client::Setting setting, bool checked);

    void startCableRun(bool identify);
    void startDue(Timer& start, std::function<void()> due);
    void endChainsQuietly();
    void statusEnded(client::Status status);
    void onStandby();
    bool tcpLinkConfirmed();
    void statusConnectChecked();
    void resetEnded(client::Status status);

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
    bool statusRunning_ = false;    // a status run or the identification is in flight

    SerialSettings settings_;
    int portNumber_ = 0;
    bool comConnected_ = false;
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
    std::array<bool, kPortCount> inputState_{};
    std::array<bool, kPortCount> outputState_{};
    std::string deviceTypeName_;
    std::string deviceTypeLabel_ = "Not Known";
    std::string versionLabel_ = "Not Known";
    bool tcpStatusPending_ = false;
    bool statusIdle_ = true;   // the TCP reply handler ignores port states
    bool shownAgain_ = false;  // the tab was shown again since the last Status click
    bool beepChecked_ = false;
    bool irChecked_ = false;

    std::function<void()> searchHook_;
    std::function<void()> configHook_;
    std::function<void(int)> ipSelectedHook_;
};

}  // namespace matrix
