// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cli/CommandLine.h"
#include "cli/RunResult.h"
#include "core/transport/TimerSet.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace matrix {
class MatrixSession;
}

namespace matrix::cli {

// Runs one command the way a user would in the window: choose the control
// mode, connect, show the tab the command needs and press its button. It
// then watches the view models and popups ("Time out!", "Set successfully!")
// until the page has finished, and reports what the page showed. All frames,
// timers and re-sends are the pages' own; the driver only keeps a safety
// limit for the few page actions that have no time-out of their own.
class SessionDriver {
public:
    static constexpr int kPollTimer = 1;
    static constexpr int kLimitTimer = 2;
    static constexpr int kPollMs = 10;
    // The General page answers a connect check after 100 ms.
    static constexpr int kConnectLimitMs = 3000;
    // The beep command and the beep-state query arm no timer in the page;
    // the page's usual reply time stands in for one.
    static constexpr int kBeepReplyLimitMs = 5000;
    // Backstop for page runs that carry their own time-outs: well past the
    // longest of them, so that it never decides a run the page would decide.
    static constexpr int kPageRunLimitMs = 60000;

    SessionDriver(MatrixSession& session, const Invocation& invocation);
    ~SessionDriver();
    SessionDriver(const SessionDriver&) = delete;
    SessionDriver& operator=(const SessionDriver&) = delete;

    void start();
    bool finished() const { return finished_; }
    const RunResult& result() const { return result_; }

    // Called once, on the loop, when the run has ended.
    std::function<void()> onFinished;
    // Firmware upgrade: the progress bar and the "Messages" lines as they come.
    std::function<void(std::int64_t done, std::int64_t total)> onProgress;
    std::function<void(const std::string& line)> onMessageLine;

private:
    using Check = std::function<bool()>;
    using Step = std::function<void()>;

    // Runs `then` once `done` holds (checked every poll). After limitMs the
    // run fails with limitText and limitCode.
    void waitUntil(Check done, std::int64_t limitMs, Step then, std::string limitText = "Time out!",
                   ExitCode limitCode = ExitCode::MatrixFailed);
    // Notices the current step expects; any other notice ends the run as a
    // failure carrying the notice's text.
    void expectNotice(const std::string& text, Step action);
    void clearExpectedNotices() { expected_.clear(); }
    void onNoticeChanged();
    void poll();
    void fail(ExitCode code, const std::string& text);
    void succeed(const std::string& message = {});
    void finish();

    void connect(Step then);

    // Commands.
    void runStatus();
    void runBeep();
    void runFactoryReset();
    void runRouting();
    void runRoute(const std::vector<std::pair<int, int>>& routes);  // (output, input)
    void clickNextRoute();
    void runEdidStatus();
    void runEdidSet();
    void runEdidCopy();
    void runEdidUpload();
    void runFirmwareUpgrade();
    void startUpgrade();
    void takeMessageLines();
    void showEdidTab(Step then);
    void waitEdidOperation(const std::string& successNotice);
    void runDiscover();
    void runNetConfig();
    void notAvailable();

    void collectCables();
    void collectRouting();
    void collectEdid();
    void collectMatrices();
    void search();
    int rowOfMac(const std::string& mac) const;
    bool beepStateKnown() const;

    MatrixSession& session_;
    Invocation inv_;
    TimerSet timers_;
    RunResult result_;
    bool finished_ = false;
    bool started_ = false;

    Check waitCheck_;
    Step waitThen_;
    std::string limitText_;
    ExitCode limitCode_ = ExitCode::MatrixFailed;
    std::map<std::string, Step> expected_;
    int noticeSubscription_ = 0;
    int noticesSeen_ = 0;
    std::string lastNoticeText_;
    bool lastNoticeOpen_ = false;
    std::size_t messagesSeen_ = 0;
    std::int64_t entryStartMs_ = 0;
    std::vector<std::pair<int, int>> routePlan_;
    std::int64_t routeIndex_ = 0;
    // Tasks posted to the loop may outlive the driver; they check this first.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace matrix::cli
