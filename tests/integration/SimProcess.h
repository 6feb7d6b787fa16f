// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QProcess>
#include <QStringList>

#include <string>
#include <vector>

namespace matrix::testing {

// The matrix-sim program run by a test: started with arguments, read line
// by line, steered through its control channel, stopped at the end.
class SimProcess {
public:
    explicit SimProcess(const QStringList& arguments);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Waits for the next output line starting with prefix; returns it, or
    // an empty text when the deadline passes or the program ends first.
    std::string waitForLine(const std::string& prefix, int timeoutMs = 5000);
    // Sends a control line and returns the program's answer ("ok ...").
    std::string command(const std::string& line, int timeoutMs = 3000);
    // Asks "links" until the simulator reports `count` open links.
    bool waitForLinks(std::size_t count, int timeoutMs = 3000);
    // SIGTERM; returns the exit code, or -1 when it did not end cleanly in time.
    int terminate(int timeoutMs = 5000);
    bool running() const { return process_.state() != QProcess::NotRunning; }
    std::string errors();

private:
    bool nextLine(std::string& line, int timeoutMs);

    QProcess process_;
    std::string partial_;
    std::vector<std::string> lines_;
    std::size_t cursor_ = 0;
};

}  // namespace matrix::testing
