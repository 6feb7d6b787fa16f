// SPDX-License-Identifier: Apache-2.0
// matrixctl: the matrix from a terminal and from scripts.
#include "cli/CommandLine.h"
#include "cli/FirmwareMergeCommand.h"
#include "cli/ProgressLine.h"
#include "cli/RunResult.h"
#include "cli/run/CommandRunner.h"
#include "cli/run/NetRunner.h"
#include "core/client/MatrixClient.h"
#include "platform/QtDatagramSocket.h"
#include "platform/QtEventLoop.h"
#include "platform/QtLinkSocket.h"
#include "platform/QtSerialPort.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

using namespace matrix;
using namespace matrix::cli;

namespace {

int report(Command command, bool json, const RunResult& result, bool textAlreadyShown)
{
    if (json) {
        std::cout << renderJson(command, result);
    } else if (result.exit == ExitCode::Success && !textAlreadyShown) {
        std::cout << renderText(command, result);
    }
    std::cout.flush();
    if (result.exit != ExitCode::Success)
        std::cerr << result.error << "\n";
    return static_cast<int>(result.exit);
}

// The firmware upgrade's running display: a bar on a terminal, the
// "Messages" lines otherwise.
class UpgradeDisplay {
public:
    explicit UpgradeDisplay(bool terminal) : terminal_(terminal) {}

    void progress(std::int64_t done, std::int64_t total)
    {
        if (!terminal_)
            return;
        auto now = std::chrono::steady_clock::now();
        if (done > 0 && !started_) {
            started_ = true;
            start_ = now;
        }
        if (done == lastDone_ && total == lastTotal_)
            return;
        lastDone_ = done;
        lastTotal_ = total;
        auto elapsedMs = started_ ? std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count() : 0;
        std::string line = formatProgressLine(done, total, elapsedMs);
        std::printf("\r%s\033[K", line.c_str());
        std::fflush(stdout);
        barShown_ = true;
    }

    void line(const std::string& text)
    {
        if (terminal_ && barShown_)
            std::printf("\r\033[K");
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        if (terminal_ && barShown_) {
            lastDone_ = -1;  // redraw the bar below the line
        }
    }

    void end()
    {
        if (terminal_ && barShown_) {
            std::printf("\r\033[K");
            std::fflush(stdout);
        }
    }

private:
    bool terminal_;
    bool started_ = false;
    bool barShown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::int64_t lastDone_ = -1;
    std::int64_t lastTotal_ = -1;
};

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = parseCommandLine(args);
    switch (parsed.kind) {
    case ParseResult::Kind::Help: std::cout << parsed.text; return 0;
    case ParseResult::Kind::Error:
        std::cerr << "matrixctl: " << parsed.text << "\n" << parsed.usage;
        return static_cast<int>(ExitCode::Usage);
    case ParseResult::Kind::Run: break;
    }
    const Invocation& inv = parsed.invocation;
    if (inv.command == Command::FirmwareMerge)
        return report(inv.command, inv.json, runFirmwareMerge(inv), false);

    QCoreApplication app(argc, argv);
    QtEventLoop loop;
    const bool streaming = inv.command == Command::FirmwareUpgrade && !inv.json;
    UpgradeDisplay display(::isatty(STDOUT_FILENO) == 1);

    // Runs a command to its end and reports what it found.
    auto runToEnd = [&](auto& runner) {
        runner.onFinished = [&] { app.quit(); };
        QTimer::singleShot(0, &app, [&] { runner.start(); });
        app.exec();
        if (streaming)
            display.end();
        return report(inv.command, inv.json, runner.result(), streaming);
    };

    if (CommandRunner::handles(inv.command)) {
        client::MatrixClient::Options options;
        options.supervise = false;  // one command, then the process ends
        client::MatrixClient matrixClient(
            loop, [] { return std::make_unique<QtSerialPort>(); }, std::make_unique<QtLinkSocket>(), options);
        CommandRunner runner(matrixClient, inv);
        if (streaming) {
            runner.onProgress = [&](std::int64_t done, std::int64_t total) { display.progress(done, total); };
            runner.onMessageLine = [&](const std::string& line) { display.line(line); };
        }
        return runToEnd(runner);
    }

    // discover and netconfig: UDP only; the link socket is never connected.
    QtLinkSocket linkSocket;
    QtDatagramSocket datagramSocket;
    Platform platform{loop, [] { return std::make_unique<QtSerialPort>(); }, linkSocket, datagramSocket};
    NetRunner runner(platform, inv);
    return runToEnd(runner);
}
