// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cli/CommandLine.h"
#include "cli/RunResult.h"
#include "core/client/MatrixClient.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace matrix::cli {

// Runs one matrix command on the direct client: open the link, run the
// operation(s), and turn the typed results into what matrixctl prints. The
// client carries every frame, wait and re-send; the runner has no timer.
class CommandRunner {
public:
    CommandRunner(client::MatrixClient& client, const Invocation& invocation);
    ~CommandRunner();
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    // Whether the command runs on the client.
    static bool handles(Command command);

    void start();
    bool finished() const { return finished_; }
    const RunResult& result() const { return result_; }

    // Called once when the run has ended.
    std::function<void()> onFinished;
    // Firmware upgrade: the progress bar and the "Messages" lines as they come.
    std::function<void(std::int64_t done, std::int64_t total)> onProgress;
    std::function<void(const std::string& line)> onMessageLine;

private:
    // False when `status` is Ok; otherwise ends the run with its text and exit status.
    bool failed(client::Status status, const std::string& message);
    void succeed(const std::string& message = {});
    void finish();

    void run();
    void runStatus();
    void runRouting();
    void reportRoutingAfter(client::Status status, const std::string& message);
    void runBeep();
    void collectCables();
    void runEdidStatus();
    void collectEdid();
    void runFirmwareUpgrade();
    // Bad input found before the link is opened; reads the command's file.
    bool checkInput();

    client::MatrixClient& client_;
    Invocation inv_;
    RunResult result_;
    bool finished_ = false;
    std::vector<std::uint8_t> fileBytes_;  // the EDID or firmware file
    // The client may end requests after the runner has gone (when it closes).
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The exit status of a client result that is not Ok.
ExitCode exitCodeFor(client::Status status);

}  // namespace matrix::cli
