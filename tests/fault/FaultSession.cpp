// SPDX-License-Identifier: Apache-2.0
#include "tests/fault/FaultSession.h"

#include "core/formats/EdidModes.h"
#include "core/formats/FirmwareContainer.h"

#include <algorithm>
#include <memory>
#include <sstream>

namespace matrix::testing {

namespace {

constexpr const char* kSuccessLine = "Firmware upgrade Successfully";
constexpr int kLiveOutputs = 4;
constexpr int kLiveInputs = 4;
// The longest a modal notice stays up (the standby notice), with margin.
constexpr int kNoticeWaitMs = 10000;
// A refresh of four outputs with every wait and retry used up.
constexpr int kRefreshWaitMs = 40000;
// A port that exists with nothing on the far end, and an address where
// nobody listens.
constexpr int kSilentComPort = 5;
constexpr const char* kNobodyAddress = "127.0.0.9";

std::size_t countOf(const std::string& text, const std::string& word)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size()))
        ++n;
    return n;
}

const char* tabName(Tab tab) { return Shell::tabTitle(tab); }

}  // namespace

FaultSession::FaultSession(std::uint32_t seed, const FaultFiles& files)
    : seed_(seed),
      files_(files),
      choices_(seed),
      session_(rig_.platform)
{
    rig_.serialHub.addPort(kSilentComPort);
    firmwareListener_ = session_.firmware.changed.subscribe([this] { checkFirmwareClaim(); });
    // Only the page that is shown talks to the matrix: every frame that
    // reaches it must be one the shown page sends.
    for (sim::MatrixResponder* m : {&rig_.serialMatrix, &rig_.tcpMatrix}) {
        for (int command : {0x01, 0x02, 0x03, 0x05, 0x06, 0x20})
            m->onCommand(static_cast<std::uint8_t>(command), [this, m](const CommandFrame& f) { checkSender(*m, f); });
    }
    // Popups opening and closing, for the journal. The notifier calls a
    // copy of each listener, so the last state seen lives outside it.
    auto seen = std::make_shared<std::pair<bool, bool>>(false, false);
    session_.popups.notice.changed.subscribe([this, seen] {
        const auto& notice = session_.popups.notice;
        if (notice.isOpen() != seen->first)
            note(notice.isOpen() ? "notice \"" + notice.text() + "\"" : "notice closed");
        seen->first = notice.isOpen();
    });
    session_.popups.progress.changed.subscribe([this, seen] {
        if (session_.popups.progress.isOpen() != seen->second)
            note(session_.popups.progress.isOpen() ? "progress opens" : "progress closes");
        seen->second = session_.popups.progress.isOpen();
    });
    // The upgrade frames the matrix takes, for the journal of a failing seed.
    for (sim::MatrixResponder* m : {&rig_.serialMatrix, &rig_.tcpMatrix}) {
        const std::string side = m == &rig_.serialMatrix ? "serial" : "tcp";
        m->onCommand(0x20, [this, side](const CommandFrame& f) {
            static const char* digits = "0123456789ABCDEF";
            std::string hex;
            for (std::size_t i = 2; i < CommandFrame::kSize - 1; ++i) {
                hex += digits[f[i] >> 4];
                hex += digits[f[i] & 15];
                hex += ' ';
            }
            note(side + " matrix got " + hex);
        });
    }
}

FaultSession::~FaultSession() { session_.firmware.changed.unsubscribe(firmwareListener_); }

bool FaultSession::chance(double p) { return choices_.chance(p); }

int FaultSession::between(int low, int high) { return choices_.between(low, high); }

void FaultSession::note(const std::string& line)
{
    journal_.push_back("t=" + std::to_string(rig_.loop.nowMs()) + " " + line);
}

void FaultSession::violation(const std::string& line)
{
    violations_.push_back(line);
    note("VIOLATION " + line);
}

void FaultSession::advance(std::int64_t ms) { rig_.loop.advance(ms); }

// ------------------------------------------------------------ the session

std::vector<std::string> FaultSession::run()
{
    if (chance(0.5))
        connectCom();
    else
        connectTcp();

    // Some sessions run on a nearly good line, others on a very bad one.
    const double faultRate = between(5, 70) / 100.0;
    const int steps = between(15, 60);
    // Short pauses put clicks inside the 150 ms activation and between a
    // command and its reply; long ones let retries and time-outs run.
    static constexpr int kPauses[] = {0, 1, 5, 20, 50, 100, 150, 200, 500, 1000, 2000, 3500, 6000, 12000};
    for (int step = 0; step < steps; ++step) {
        if (chance(faultRate))
            injectFault();
        userStep();
        advance(kPauses[between(0, static_cast<int>(std::size(kPauses)) - 1)]);
    }

    stopFaults();
    // The user only dismisses the boxes that wait for them; everything else
    // must end by itself.
    for (int waited = 0; waited < kQuietMs; waited += 5000) {
        settleUserBoxes();
        advance(5000);
    }
    settleUserBoxes();
    checkIdle("after the faults stopped");
    if (violations_.empty())
        finalRefresh();
    return violations_;
}

void FaultSession::connectCom()
{
    note("connect COM3");
    GeneralPage& page = session_.general;
    page.selectComMode();
    page.selectComPort("COM3");
    page.comConnectClicked();
    advance(10);
}

void FaultSession::connectTcp()
{
    note("connect TCP");
    GeneralPage& page = session_.general;
    page.selectTcpMode();
    page.setIpText(TestRig::kAddress);
    page.tcpConnectClicked();
    advance(GeneralPage::kConnectCheckMs);
}

// ------------------------------------------------------------ user steps

void FaultSession::settleUserBoxes()
{
    if (session_.routing.editorOpen())
        session_.routing.editorCancel();
    if (session_.routing.messageBoxOpen())
        session_.routing.dismissMessageBox();
    if (session_.firmware.messageBoxOpen())
        session_.firmware.closeMessageBox();
}

void FaultSession::userStep()
{
    // A modal popup takes every click.
    if (session_.popups.anyModalOpen())
        return;
    if (session_.routing.messageBoxOpen()) {
        if (chance(0.7)) {
            note("dismiss routing message box");
            session_.routing.dismissMessageBox();
        }
        return;
    }
    if (session_.firmware.messageBoxOpen()) {
        if (chance(0.7)) {
            note("dismiss firmware message box");
            session_.firmware.closeMessageBox();
        }
        return;
    }
    if (session_.routing.editorOpen()) {
        editorAction();
        return;
    }
    if (chance(0.25)) {
        selectTab(static_cast<Tab>(between(0, kTabCount - 1)));
        return;
    }
    switch (session_.shell.shownTab()) {
    case Tab::General: generalAction(); break;
    case Tab::Matrix: routingAction(); break;
    case Tab::Edid: edidAction(); break;
    case Tab::FwUpgrade: firmwareAction(); break;
    }
}

void FaultSession::selectTab(Tab tab)
{
    const bool taken = session_.shell.selectTab(tab);
    note(std::string("tab ") + tabName(tab) + (taken ? "" : " (refused)"));
}

void FaultSession::pickOne(std::initializer_list<Choice> choices)
{
    int total = 0;
    for (const Choice& c : choices)
        total += c.weight;
    int drawn = between(0, total - 1);
    for (const Choice& c : choices) {
        if (drawn < c.weight) {
            c.act();
            return;
        }
        drawn -= c.weight;
    }
}

void FaultSession::generalAction()
{
    GeneralPage& page = session_.general;
    pickOne({
        {2,
         [&] {
             if (page.comModeSelected() && page.comGroupEnabled()) {
                 // Now and then the user picks the port where no matrix answers.
                 if (page.comListEnabled())
                     page.selectComPort(chance(0.85) ? "COM3" : "COM5");
                 note(std::string("COM ") + page.comConnectText() + " " + page.comSelectedText());
                 page.comConnectClicked();
             } else if (page.tcpModeSelected() && page.tcpGroupEnabled()) {
                 if (page.tcpConnectText() == std::string("Connect")) {
                     // Now and then an address where nobody listens, or a typo.
                     const int which = between(0, 19);
                     page.setIpText(which < 17 ? TestRig::kAddress : which < 19 ? kNobodyAddress : "127.0.0");
                     note("IP text " + page.ipText());
                 }
                 note(std::string("TCP ") + page.tcpConnectText());
                 page.tcpConnectClicked();
             }
         }},
        {1,
         [&] {
             if (chance(0.5)) {
                 note("select COM mode");
                 page.selectComMode();
             } else {
                 note("select TCP mode");
                 page.selectTcpMode();
             }
         }},
        {3,
         [&] {
             note("status");
             page.statusClicked();
         }},
        {1,
         [&] {
             note("beep");
             page.beepClicked();
         }},
        {1,
         [&] {
             note("IR");
             page.irClicked();
         }},
        {1,
         [&] {
             note("factory reset");
             page.factoryResetClicked();
         }},
        {1,
         [&] {
             if (page.tcpModeSelected() && page.tcpGroupEnabled() && chance(0.3)) {
                 note("search");
                 page.searchClicked();
             } else {
                 note("clear");
                 page.clearClicked();
             }
         }},
    });
}

void FaultSession::routingAction()
{
    RoutingPage& page = session_.routing;
    pickOne({
        {4,
         [&] {
             const int output = between(1, kLiveOutputs);
             const int input = between(1, kLiveInputs);
             note("grid out " + std::to_string(output) + " in " + std::to_string(input));
             page.clickGrid(output, input);
         }},
        {1,
         [&] {
             const int output = between(1, kLiveOutputs);
             const bool next = chance(0.5);
             note(std::string(next ? "next" : "previous") + " out " + std::to_string(output));
             if (next)
                 page.clickNext(output);
             else
                 page.clickPrevious(output);
         }},
        {1,
         [&] {
             const int row = between(0, RoutingPage::kPresetRows - 1);
             note("preset row " + std::to_string(row));
             page.clickPresetRow(row);
         }},
        {1,
         [&] {
             note("preset edit");
             page.clickEdit();
         }},
        {2,
         [&] {
             note("preset set");
             page.clickSet();
         }},
        {1,
         [&] {
             static constexpr int kTargets[] = {
                 0, 1, 2, 3, RoutingPage::kConfigAllOutputs, RoutingPage::kConfigPortToPort};
             const int target = kTargets[between(0, static_cast<int>(std::size(kTargets)) - 1)];
             note("config target " + std::to_string(target));
             page.selectConfigTarget(target);
         }},
        {2,
         [&] {
             const int input = between(1, kLiveInputs);
             note("config input " + std::to_string(input));
             page.clickConfigInput(input);
         }},
    });
}

void FaultSession::editorAction()
{
    RoutingPage& page = session_.routing;
    pickOne({
        {2, [&] { page.editorSelectInput(between(1, kLiveOutputs), between(0, kLiveInputs - 1)); }},
        {1, [&] { page.editorChooseAllFrom(chance(0.2) ? 9 : between(0, kLiveInputs)); }},
        {2,
         [&] {
             note("editor OK");
             page.editorOk();
         }},
        {1,
         [&] {
             note("editor cancel");
             page.editorCancel();
         }},
    });
}

void FaultSession::edidAction()
{
    EdidPage& page = session_.edid;
    pickOne({
        {1,
         [&] {
             page.selectMode(between(0, static_cast<int>(EdidPage::modeRows().size()) - 1));
             page.selectSetTarget(between(0, page.portCount()));
         }},
        {1,
         [&] {
             page.selectCopySource(between(0, page.portCount() - 1));
             page.selectCopyTarget(between(0, page.portCount()));
         }},
        {1, [&] { page.selectDownloadTarget(between(0, page.portCount())); }},
        {1,
         [&] {
             if (!files_.edidFiles.empty()) {
                 const auto& path = files_.edidFiles[between(0, static_cast<int>(files_.edidFiles.size()) - 1)];
                 note("EDID file " + path.substr(path.rfind('/') + 1));
                 page.openEdidFile(path);
             }
         }},
        {2,
         [&] {
             note("EDID set target " + std::to_string(page.setTargetIndex()) + " mode " +
                  std::to_string(page.modeIndex()));
             page.clickSetMode();
         }},
        {2,
         [&] {
             note("EDID copy " + std::to_string(page.copySourceIndex()) + " -> " +
                  std::to_string(page.copyTargetIndex()));
             page.clickCopy();
         }},
        {2,
         [&] {
             note("EDID download target " + std::to_string(page.downloadTargetIndex()));
             page.clickDownload();
         }},
    });
}

void FaultSession::firmwareAction()
{
    FirmwarePage& page = session_.firmware;
    if (page.browseEnabled() && !files_.firmwareFiles.empty() && (page.filePath().empty() || chance(0.3))) {
        const auto& path = files_.firmwareFiles[between(0, static_cast<int>(files_.firmwareFiles.size()) - 1)];
        note("firmware file " + path.substr(path.rfind('/') + 1));
        page.setFilePath(path);
        return;
    }
    if (page.upgradeEnabled()) {
        note("upgrade");
        page.upgradeClicked();
    }
}

// ------------------------------------------------------------ faults

sim::MatrixResponder& FaultSession::someMatrix() { return chance(0.5) ? rig_.serialMatrix : rig_.tcpMatrix; }

void FaultSession::injectFault()
{
    sim::MatrixResponder& m = someMatrix();
    const std::string side = &m == &rig_.serialMatrix ? "serial" : "tcp";
    sim::MatrixDevice& device = rig_.device;
    // A setting of the chosen side's line, noted with the value drawn for it.
    const auto setLine = [&](const char* what, int value, const std::function<void(int)>& apply) {
        note(side + ": " + what + " " + std::to_string(value));
        apply(value);
    };
    pickOne({
        {2, [&] { setLine("drop next", between(1, 3), [&](int n) { m.dropNextReplies(n); }); }},
        {1, [&] { setLine("corrupt next", between(1, 2), [&](int n) { m.corruptNextChecksum(n); }); }},
        {1, [&] { setLine("delay", chance(0.3) ? 0 : between(1, 6000), [&](int ms) { m.setReplyDelayMs(ms); }); }},
        {1,
         [&] {
             setLine("split", chance(0.3) ? 0 : between(1, 12),
                     [&](int bytes) { m.setSplitSize(static_cast<std::size_t>(bytes)); });
         }},
        {1, [&] { setLine("coalesce", chance(0.4) ? 0 : between(2, 3), [&](int count) { m.setCoalesce(count); }); }},
        {2,
         [&] {
             sim::MatrixResponder::Bytes noise(static_cast<std::size_t>(between(1, 20)));
             for (auto& b : noise)
                 b = static_cast<std::uint8_t>(between(0, 255));
             // Sometimes a false frame start, which swallows part of the next reply.
             if (chance(0.3)) {
                 noise[0] = 0xA5;
                 if (noise.size() > 1)
                     noise[1] = 0x5B;
             }
             note(side + ": noise " + std::to_string(noise.size()) + " bytes");
             m.sendNoise(noise);
         }},
        {1,
         [&] {
             note(side + ": standby");
             m.sendStandby();
         }},
        {1,
         [&] {
             note("tcp: link closed");
             rig_.tcpMatrix.closeLink();
         }},
        {1,
         [&] {
             if (unplugged_) {
                 note("serial: plugged back");
                 rig_.serialHub.addPort(TestRig::kComPort, &rig_.serialMatrix);
                 unplugged_ = false;
             } else {
                 note("serial: unplugged");
                 rig_.serialHub.unplug(TestRig::kComPort);
                 unplugged_ = true;
             }
         }},
        {1,
         [&] {
             device.rejectEdidCopy = !device.rejectEdidCopy;
             note(std::string("device: EDID copy ") + (device.rejectEdidCopy ? "refused" : "accepted"));
         }},
        {1,
         [&] {
             device.edidSwitchState = device.edidSwitchState == 0 ? 15 : 0;
             note("device: EDID switches " + std::to_string(device.edidSwitchState));
         }},
        {1,
         [&] {
             const int output = between(1, kLiveOutputs);
             device.outputCable[output - 1] = !device.outputCable[output - 1];
             note("device: display on output " + std::to_string(output) +
                  (device.outputCable[output - 1] ? " plugged" : " unplugged"));
         }},
        {1,
         [&] {
             device.dropFirmwareAckOfBlock = between(0, 4);
             note("device: lose the acknowledgement of block " + std::to_string(device.dropFirmwareAckOfBlock));
         }},
        {1,
         [&] {
             if (chance(0.5)) {
                 device.rejectFirmwarePart1 = !device.rejectFirmwarePart1;
                 note(std::string("device: part 1 ") + (device.rejectFirmwarePart1 ? "refused" : "accepted"));
             } else {
                 device.rejectFirmwarePart2 = !device.rejectFirmwarePart2;
                 note(std::string("device: part 2 ") + (device.rejectFirmwarePart2 ? "refused" : "accepted"));
             }
         }},
    });
}

void FaultSession::stopFaults()
{
    note("faults stop");
    rig_.serialMatrix.clearFaults();
    rig_.tcpMatrix.clearFaults();
    if (unplugged_) {
        rig_.serialHub.addPort(TestRig::kComPort, &rig_.serialMatrix);
        unplugged_ = false;
    }
    sim::MatrixDevice& device = rig_.device;
    device.rejectEdidCopy = false;
    device.edidSwitchState = 0;
    device.dropFirmwareAckOfBlock = -1;
    device.rejectFirmwarePart1 = false;
    device.rejectFirmwarePart2 = false;
}

// ------------------------------------------------------------ invariants

void FaultSession::checkFirmwareClaim()
{
    const FirmwarePage& page = session_.firmware;
    const std::size_t successes = countOf(page.messages(), kSuccessLine);
    if (successes <= successesSeen_)
        return;
    successesSeen_ = successes;
    // The files the sessions load hold one part and no stray marker, so
    // the part's data is everything after its marker.
    const Bytes& image = page.image();
    const int part = partAtMarker(image, 0);
    if (part != 1 && part != 2) {
        violation("upgrade reported successful for an image without a part 1 or 2 marker");
        return;
    }
    const Bytes data(image.begin() + 2, image.end());
    const Bytes& received = rig_.device.firmwarePart[static_cast<std::size_t>(part)];
    bool same = received.size() >= data.size() && std::equal(data.begin(), data.end(), received.begin());
    same = same && std::all_of(received.begin() + static_cast<long>(std::min(data.size(), received.size())),
                               received.end(), [](std::uint8_t b) { return b == 0; });
    if (!same) {
        std::size_t first = 0;
        while (first < data.size() && first < received.size() && data[first] == received[first])
            ++first;
        violation("upgrade reported successful but the matrix holds " + std::to_string(received.size()) +
                  " bytes of part " + std::to_string(part) + " that differ from the file's " +
                  std::to_string(data.size()) + " from byte " + std::to_string(first));
        note("firmware messages: " + page.messages());
    } else
        note("upgrade successful, image verified");
}

void FaultSession::checkSender(sim::MatrixResponder& matrix, const CommandFrame& f)
{
    const int command = f.command();
    const int sub = f.subCommand();
    const PageId shown = session_.link.activePage;
    auto shownIs = [shown](std::initializer_list<PageId> pages) {
        return std::find(pages.begin(), pages.end(), shown) != pages.end();
    };
    bool fits = true;
    switch (command) {
    case 0x01:
        if (sub >= 1 && sub <= 3)
            fits = shownIs({PageId::General, PageId::Firmware});  // identification, reboot poll
        else if (sub == 0x05)
            fits = shownIs({PageId::General, PageId::Edid});  // cable state, copy source query
        else if (sub == 0x0C)
            fits = shownIs({PageId::Edid});
        else
            fits = shownIs({PageId::General});
        break;
    case 0x02:
        fits = sub == 0x01 ? shownIs({PageId::Routing}) : shownIs({PageId::Routing, PageId::General});  // reset routes
        break;
    case 0x03:
        fits = shownIs({PageId::Edid, PageId::General});  // the reset sets the EDID too
        break;
    case 0x05:
    case 0x06: fits = shownIs({PageId::General}); break;
    case 0x20: fits = shownIs({PageId::Firmware}); break;
    default: break;
    }
    if (!fits)
        violation(std::string(&matrix == &rig_.serialMatrix ? "serial" : "TCP") + " matrix got " +
                  std::to_string(command) + "/" + std::to_string(sub) + "/" + std::to_string(f.p1()) + " while page " +
                  std::to_string(static_cast<int>(shown)) + " is shown");
}

void FaultSession::checkIdle(const std::string& when)
{
    auto expect = [&](bool ok, const std::string& what) {
        if (!ok)
            violation(when + ": " + what);
    };
    const Popups& popups = session_.popups;
    const WindowLink& link = session_.link;
    expect(!popups.notice.isOpen(), "notice still open (\"" + popups.notice.text() + "\")");
    expect(!popups.progress.isOpen(), "progress popup still open (\"" + popups.progress.text() + "\")");
    expect(!popups.configStatus.isOpen(), "configuration status popup still open");
    expect(!popups.notice.held(), "the notice is still held");
    expect(link.busy == 0, "busy is " + std::to_string(link.busy));
    expect(session_.edid.edidBusy() == 0, "edidBusy is " + std::to_string(session_.edid.edidBusy()));
    expect(session_.link.firmwareUpgrading == 0,
           "firmwareUpgrading is " + std::to_string(session_.link.firmwareUpgrading));
    expect(session_.routing.recallIdle() == 1, "recallIdle is " + std::to_string(session_.routing.recallIdle()));
    expect(session_.routing.panelReady(), "the routing panel is not ready (an output configuration in flight)");
    expect(session_.routing.gridAcceptsClicks(), "the routing grid refuses clicks");
    expect(!session_.general.factoryResetRunning(), "a factory reset still runs");
    expect(!session_.general.statusPending(), "a TCP status run is still pending");
    expect(session_.firmware.upgradeEnabled(), "the Upgrade button stays disabled");
    expect(session_.shell.tabButtonsEnabled(), "the tab buttons stay disabled");

    // Only the documented periodic timer may run: the General page's COM rescan.
    const std::size_t allowed = session_.general.comListRescanning() ? 1 : 0;
    const std::size_t total = rig_.loop.runningTimerCount();
    expect(total == allowed, std::to_string(total - allowed) + " timer(s) still run");
}

std::string FaultSession::holderName(int port)
{
    const SerialChannel* holder = rig_.serialHub.holder(port);
    if (!holder)
        return "nobody";
    if (holder == &session_.general.serialPort())
        return "General";
    if (holder == &session_.routing.serialPort())
        return "Matrix";
    if (holder == &session_.edid.serialPort())
        return "EDID";
    if (holder == &session_.firmware.serialPort())
        return "FW Upgrade";
    return "another object";
}

void FaultSession::finalRefresh()
{
    note("final refresh");
    auto waitForNoModal = [&] {
        if (!rig_.loop.advanceUntil([&] { return !session_.popups.anyModalOpen(); }, kNoticeWaitMs, 50))
            violation("final refresh: a popup does not close (\"" + session_.popups.notice.text() + "\")");
    };
    if (!session_.shell.selectTab(Tab::General)) {
        violation("final refresh: the General tab cannot be selected");
        return;
    }
    advance(Shell::kActivationMs + 50);
    waitForNoModal();

    GeneralPage& page = session_.general;
    note(std::string("final refresh on ") + (page.comModeSelected() ? "COM" : "TCP") + ": comOpen " +
         std::to_string(session_.link.comOpen) + " COM" + std::to_string(session_.link.comPort) + " selected " +
         page.comSelectedText() + ", socket " + std::to_string(session_.link.socketConnected()) + " link up " +
         std::to_string(session_.link.tcpLinkUp()) + " address " + session_.link.matrixAddress + ", COM3 held by " +
         holderName(TestRig::kComPort));
    if (page.comModeSelected()) {
        // As a user does it, from what the panel shows: off a port where
        // nothing answers, then Connect on COM3.
        for (int click = 0; click < 4; ++click) {
            const bool showsConnected = page.comConnectText() == std::string("Disconnect");
            if (showsConnected && page.comSelectedText() == "COM3" && session_.link.comOpen == 1)
                break;
            if (!showsConnected && page.comListEnabled())
                page.selectComPort("COM3");
            note(std::string("final refresh: COM ") + page.comConnectText() + " " + page.comSelectedText() +
                 (page.comListEnabled() ? "" : " (list disabled)"));
            page.comConnectClicked();
            // The port list is read again every 500 ms while disconnected.
            advance(GeneralPage::kRescanMs + 50);
            waitForNoModal();
        }
        if (session_.link.comOpen == 0 || session_.link.comPort != TestRig::kComPort) {
            violation("final refresh: COM3 does not open (COM" + std::to_string(session_.link.comPort) +
                      (session_.link.comOpen ? " open)" : " closed)"));
            return;
        }
    } else {
        if (session_.link.socketConnected() == 1 &&
            (session_.link.tcpLinkUp() == 0 || session_.link.matrixAddress != TestRig::kAddress)) {
            page.tcpConnectClicked();  // drops the half-confirmed link first
            advance(50);
        }
        if (session_.link.socketConnected() == 0) {
            page.setIpText(TestRig::kAddress);
            page.tcpConnectClicked();
            advance(GeneralPage::kConnectCheckMs + 50);
        }
        if (session_.link.tcpLinkUp() == 0) {
            violation("final refresh: the TCP link does not come up");
            return;
        }
    }
    waitForNoModal();
    advance(500);

    const int noticesBefore = session_.popups.notice.timesOpened();
    const std::size_t serialFramesBefore = rig_.serialMatrix.received().size();
    const std::size_t tcpFramesBefore = rig_.tcpMatrix.received().size();
    // On a failure, say what reached the matrix during the refresh.
    struct WireNote {
        FaultSession& self;
        std::size_t serialBefore, tcpBefore, violationsBefore;
        ~WireNote()
        {
            if (self.violations_.size() == violationsBefore)
                return;
            auto list = [](const std::vector<CommandFrame>& frames, std::size_t from) {
                std::string text;
                for (std::size_t i = from; i < frames.size(); ++i)
                    text += " " + std::to_string(frames[i].command()) + "/" + std::to_string(frames[i].subCommand()) +
                            "/" + std::to_string(frames[i].p1());
                return text;
            };
            self.note("frames at the serial matrix during the refresh:" +
                      list(self.rig_.serialMatrix.received(), serialBefore));
            self.note("frames at the TCP matrix during the refresh:" + list(self.rig_.tcpMatrix.received(), tcpBefore));
        }
    } wireNote{*this, serialFramesBefore, tcpFramesBefore, violations_.size()};
    if (!session_.shell.selectTab(Tab::Matrix)) {
        violation("final refresh: the Matrix tab cannot be selected");
        return;
    }
    advance(Shell::kActivationMs);
    const bool ended = rig_.loop.advanceUntil(
        [&] { return session_.link.busy == 0 && !session_.popups.anyModalOpen(); }, kRefreshWaitMs, 50);
    advance(200);
    if (!ended) {
        violation("final refresh: the Matrix refresh does not end");
        return;
    }
    // Nothing misbehaves any more: the refresh must not need a notice.
    if (session_.popups.notice.timesOpened() != noticesBefore)
        violation("final refresh: a notice was shown (\"" + session_.popups.notice.text() + "\")");
    for (int output = 1; output <= kLiveOutputs; ++output) {
        const int shown = session_.routing.checkedInput(output);
        const int actual = rig_.device.routing[static_cast<std::size_t>(output - 1)];
        if (shown != actual)
            violation("final refresh: output " + std::to_string(output) + " shows input " + std::to_string(shown) +
                      ", the matrix routes input " + std::to_string(actual));
    }
    checkIdle("after the final refresh");
    if (!violations_.empty())
        return;

    note("final refresh: Matrix tab shows the matrix's routing");
    // The EDID tab's entry query reads every live input's EDID status.
    if (!session_.shell.selectTab(Tab::Edid)) {
        violation("final refresh: the EDID tab cannot be selected");
        return;
    }
    advance(Shell::kActivationMs + 1000);
    for (int input = 1; input <= kLiveInputs; ++input) {
        const std::string expected = edid::statusText(rig_.device.edidStatus[static_cast<std::size_t>(input - 1)]);
        if (session_.edid.inputStatusText(input) != expected)
            violation("final refresh: EDID input " + std::to_string(input) + " shows \"" +
                      session_.edid.inputStatusText(input) + "\", the matrix has \"" + expected + "\"");
    }

    // The General tab's status run shows the matrix's cables.
    if (!session_.shell.selectTab(Tab::General)) {
        violation("final refresh: the General tab cannot be selected again");
        return;
    }
    advance(Shell::kActivationMs + 50);
    waitForNoModal();
    const int noticesBeforeStatus = session_.popups.notice.timesOpened();
    page.statusClicked();
    if (!rig_.loop.advanceUntil([&] { return !session_.popups.anyModalOpen(); }, kRefreshWaitMs, 50)) {
        violation("final refresh: the status run does not end");
        return;
    }
    if (session_.popups.notice.timesOpened() != noticesBeforeStatus)
        violation("final refresh: the status run showed a notice (\"" + session_.popups.notice.text() + "\")");
    for (int port = 1; port <= kLiveInputs; ++port) {
        const auto i = static_cast<std::size_t>(port - 1);
        if (page.inputConnected(port) != rig_.device.inputCable[i] || page.inputLabel(port).empty())
            violation("final refresh: input " + std::to_string(port) + " shows \"" + page.inputLabel(port) + "\"");
        if (page.outputConnected(port) != rig_.device.outputCable[i] || page.outputLabel(port).empty())
            violation("final refresh: output " + std::to_string(port) + " shows \"" + page.outputLabel(port) + "\"");
    }
    note("final refresh: the EDID and General tabs show the matrix's state");
    advance(kQuietMs);
    checkIdle("after the final status run");
}

}  // namespace matrix::testing
