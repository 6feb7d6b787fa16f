// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cli/CommandLine.h"
#include "cli/RunResult.h"
#include "core/net/Discovery.h"
#include "core/net/NetworkConfig.h"
#include "core/transport/Timer.h"

#include <functional>
#include <memory>
#include <string>

namespace matrix::cli {

// discover and netconfig: the General page's search and the network
// configuration dialog's message, with the window's waits, on their own
// (no link to a matrix, no window).
class NetRunner : private NetHost {
public:
    // How long netconfig waits for the addressed matrix to answer the search;
    // the window's own re-discovery gives up after as long.
    static constexpr int kFindMatrixMs = 5000;
    // How long netconfig waits for the acknowledgement (the window's
    // configuration status popup waits as long).
    static constexpr int kAcknowledgeMs = 10000;

    NetRunner(Platform& platform, const Invocation& invocation);
    ~NetRunner() override;
    NetRunner(const NetRunner&) = delete;
    NetRunner& operator=(const NetRunner&) = delete;

    void start();
    bool finished() const { return finished_; }
    const RunResult& result() const { return result_; }
    std::function<void()> onFinished;

private:
    std::string matrixAddress() const override { return matrixAddress_; }
    void setMatrixAddress(const std::string& address) override { matrixAddress_ = address; }
    void configured() override;

    // False (and the run ended) when the discovery port could not be bound.
    bool search();
    void configure(int row);
    int rowOfMac(const std::string& mac) const;
    void collectMatrices();
    void fail(const std::string& text);
    void succeed(const std::string& message = {});
    void finish(ExitCode exit, const std::string& error, const std::string& message);

    Platform& platform_;
    Invocation inv_;
    std::string matrixAddress_;
    Discovery discovery_;
    NetworkConfig config_;
    Timer wait_;  // the one wait of the run: the answers, the matrix, or its acknowledgement
    RunResult result_;
    bool finished_ = false;
    bool configuring_ = false;
    int subscription_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace matrix::cli
