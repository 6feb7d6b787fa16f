// SPDX-License-Identifier: Apache-2.0
#include "cli/drive/SessionDriver.h"

#include "core/session/MatrixSession.h"
#include "core/transport/ComPorts.h"

#include <algorithm>

namespace matrix::cli {

SessionDriver::SessionDriver(MatrixSession& session, const Invocation& invocation)
    : session_(session), inv_(invocation), timers_(session.platform.loop)
{
}

SessionDriver::~SessionDriver()
{
    *alive_ = false;
    if (noticeSubscription_)
        session_.popups.notice.changed.unsubscribe(noticeSubscription_);
}

void SessionDriver::start()
{
    if (started_)
        return;
    started_ = true;
    noticesSeen_ = session_.popups.notice.timesOpened();
    noticeSubscription_ = session_.popups.notice.changed.subscribe([this] { onNoticeChanged(); });
    timers_.start(kPollTimer, kPollMs, [this] { poll(); });

    switch (inv_.command) {
    case Command::Status: connect([this] { runStatus(); }); break;
    case Command::Beep: connect([this] { runBeep(); }); break;
    case Command::FactoryReset: connect([this] { runFactoryReset(); }); break;
    case Command::Routing: connect([this] { runRouting(); }); break;
    case Command::Route: connect([this] { runRoute({{inv_.output, inv_.input}}); }); break;
    case Command::RouteAll:
        connect([this] { runRoute({{1, inv_.input}, {2, inv_.input}, {3, inv_.input}, {4, inv_.input}}); });
        break;
    case Command::PortToPort: connect([this] { runRoute({{1, 1}, {2, 2}, {3, 3}, {4, 4}}); }); break;
    case Command::EdidStatus: connect([this] { runEdidStatus(); }); break;
    case Command::EdidSet: connect([this] { runEdidSet(); }); break;
    case Command::EdidCopy: connect([this] { runEdidCopy(); }); break;
    case Command::EdidUpload: runEdidUpload(); break;  // checks its file before connecting
    case Command::FirmwareUpgrade: runFirmwareUpgrade(); break;
    case Command::Discover: runDiscover(); break;
    case Command::NetConfig: runNetConfig(); break;
    case Command::FirmwareMerge: notAvailable(); break;
    }
}

void SessionDriver::waitUntil(Check done, std::int64_t limitMs, Step then, std::string limitText, ExitCode limitCode)
{
    waitCheck_ = std::move(done);
    waitThen_ = std::move(then);
    limitText_ = std::move(limitText);
    limitCode_ = limitCode;
    timers_.start(kLimitTimer, static_cast<int>(limitMs), [this] {
        timers_.kill(kLimitTimer);
        fail(limitCode_, limitText_);
    });
}

void SessionDriver::expectNotice(const std::string& text, Step action) { expected_[text] = std::move(action); }

void SessionDriver::onNoticeChanged()
{
    const NoticePopup& notice = session_.popups.notice;
    // A notice counts when a box opens, or when an open box is given a new text.
    bool opened = notice.timesOpened() != noticesSeen_;
    bool retitled = notice.isOpen() && lastNoticeOpen_ && notice.text() != lastNoticeText_;
    noticesSeen_ = notice.timesOpened();
    lastNoticeOpen_ = notice.isOpen();
    lastNoticeText_ = notice.text();
    if (finished_ || !(opened || retitled) || !notice.isOpen())
        return;
    const std::string text = notice.text();
    // Decide after the page's handler has returned, so its state is whole.
    session_.platform.loop.post([this, alive = alive_, text] {
        if (!*alive || finished_)
            return;
        auto it = expected_.find(text);
        if (it != expected_.end()) {
            Step action = it->second;
            action();
            return;
        }
        fail(exitCodeForNotice(text), text);
    });
}

void SessionDriver::poll()
{
    if (finished_ || !waitCheck_)
        return;
    // The check may end the run (and drop itself): call a copy.
    Check check = waitCheck_;
    bool done = check();
    if (finished_)
        return;
    if (done) {
        timers_.kill(kLimitTimer);
        waitCheck_ = nullptr;
        Step then = std::move(waitThen_);
        waitThen_ = nullptr;
        then();
    }
}

void SessionDriver::fail(ExitCode code, const std::string& text)
{
    if (finished_)
        return;
    if (inv_.command == Command::FirmwareUpgrade)
        takeMessageLines();
    result_.exit = code;
    result_.error = text;
    finish();
}

void SessionDriver::succeed(const std::string& message)
{
    if (finished_)
        return;
    result_.exit = ExitCode::Success;
    if (!message.empty())
        result_.message = message;
    finish();
}

void SessionDriver::finish()
{
    finished_ = true;
    waitCheck_ = nullptr;
    waitThen_ = nullptr;
    expected_.clear();
    timers_.kill(kPollTimer);
    timers_.kill(kLimitTimer);
    session_.platform.loop.post([this, alive = alive_] {
        if (*alive && onFinished)
            onFinished();
    });
}

void SessionDriver::notAvailable() { fail(ExitCode::MatrixFailed, "this command is not available in this build"); }

// ---- Connecting, as on the General page's connection panel ----

void SessionDriver::connect(Step then)
{
    GeneralPage& general = session_.general;
    if (inv_.link == LinkKind::Com) {
        general.selectComMode();
        const std::string name = comPortName(inv_.comPort);
        const auto& ports = general.comPorts();
        // The page connects whatever its list shows; a port that is not in
        // the list would silently connect another one, so refuse it as the
        // page refuses a port it cannot open.
        if (std::find(ports.begin(), ports.end(), name) == ports.end()) {
            fail(ExitCode::LinkFailed, "Open COM failed!");
            return;
        }
        general.selectComPort(name);
        general.comConnectClicked();
        if (!general.comIndicatorConnected()) {
            // The page shows "Open COM failed!", which ends the run.
            waitUntil([] { return false; }, kConnectLimitMs, [] {}, "Open COM failed!", ExitCode::LinkFailed);
            return;
        }
        then();
        return;
    }
    general.selectTcpMode();
    general.setIpText(inv_.address);
    general.tcpConnectClicked();
    // The page's connect check decides after 100 ms: "Disconnect" or the
    // notice "Connect to Matrix failed!".
    waitUntil([&general] { return general.tcpIndicatorConnected(); }, kConnectLimitMs, std::move(then),
              "Connect to Matrix failed!", ExitCode::LinkFailed);
}

// ---- General page ----

void SessionDriver::collectCables()
{
    GeneralPage& general = session_.general;
    result_.cables.clear();
    auto add = [&](const std::string& port, const std::string& label, bool connected) {
        RunResult::Cable cable;
        cable.port = port;
        cable.text = label;
        cable.known = !label.empty();
        cable.connected = cable.known && connected;
        result_.cables.push_back(cable);
    };
    for (int n = 1; n <= 4; ++n)
        add("IN" + std::to_string(n), general.inputLabel(n), general.inputConnected(n));
    for (int n = 1; n <= 4; ++n)
        add("OUT" + outputLetter(n), general.outputLabel(n), general.outputConnected(n));
}

void SessionDriver::runStatus()
{
    GeneralPage& general = session_.general;
    general.statusClicked();
    // The chain ends with output D's reply, which closes the progress popup.
    waitUntil(
        [this, &general] {
            return !general.outputLabel(4).empty() && !session_.popups.progress.isOpen();
        },
        kPageRunLimitMs, [this] {
            collectCables();
            succeed();
        });
    // A time-out keeps what was already filled in.
    expectNotice("Time out!", [this] {
        collectCables();
        fail(ExitCode::MatrixFailed, "Time out!");
    });
}

bool SessionDriver::beepStateKnown() const
{
    // The beep-state reply (1/0x0B) that every connect asks for has arrived
    // once it shows in the page's received-bytes echo.
    return session_.general.receivedLog().boundText().find("A5 5B 01 0B ") != std::string::npos;
}

void SessionDriver::runBeep()
{
    GeneralPage& general = session_.general;
    // The check box shows the last state the matrix confirmed, and a click
    // asks for the opposite: learn the state before clicking.
    waitUntil([this] { return beepStateKnown(); }, kBeepReplyLimitMs, [this, &general] {
        if (general.beepChecked() == inv_.beepOn) {
            result_.beep = inv_.beepOn;
            succeed();
            return;
        }
        general.beepClicked();
        waitUntil([this, &general] { return general.beepChecked() == inv_.beepOn; }, kBeepReplyLimitMs,
                  [this] {
                      result_.beep = inv_.beepOn;
                      succeed();
                  });
    });
}

void SessionDriver::runFactoryReset()
{
    GeneralPage& general = session_.general;
    expectNotice("Set successfully!", [this] { succeed("Set successfully!"); });
    general.factoryResetClicked();
    // The chain ends in a notice either way; the backstop only guards a page
    // that would never show one.
    waitUntil([] { return false; }, kPageRunLimitMs, [] {});
}

}  // namespace matrix::cli
