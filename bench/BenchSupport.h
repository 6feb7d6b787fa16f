// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QProcess>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace matrix::bench {

// Runs the Qt loop until pred() holds or timeoutMs pass; true if it held.
// The loop sleeps between events, so a waiting benchmark does not steal the
// processor from the program it measures; the tick only bounds the sleep.
bool waitFor(const std::function<bool()>& pred, int timeoutMs, int tickMs = 20);

// Argument `index` of the command line, or `fallback` where it is not given.
QString argument(int index, const QString& fallback);

// Starts matrix-sim with the arguments and waits for the output line that
// starts with readyPrefix. Standard error is passed through.
bool startSimulator(QProcess& sim, const QStringList& arguments, const QByteArray& readyPrefix);
// matrix-sim on TCP port 8000 of `address`, with `extra` arguments; when it
// does not start, says so on standard error.
bool startTcpSimulator(QProcess& sim, const QString& address, const QStringList& extra = {});

// The order statistics each timing row reports, from its samples (at least one).
struct Spread {
    double median, best, worst, p99;
};
Spread spread(std::vector<double> samples);

// The machine-readable line that bench/run collects: "RESULT key value".
void printResult(const std::string& key, double value);

// The peak resident set (VmHWM) of a process, in KiB; -1 when unknown.
long peakResidentKiB(long pid);
// User plus system processor time of a process so far, in seconds; -1 when unknown.
double processorSeconds(long pid);

}  // namespace matrix::bench
