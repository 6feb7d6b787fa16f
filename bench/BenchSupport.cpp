// SPDX-License-Identifier: Apache-2.0
#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace matrix::bench {

bool waitFor(const std::function<bool()>& pred, int timeoutMs, int tickMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(tickMs);
    while (!pred()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool startSimulator(QProcess& sim, const QStringList& arguments, const QByteArray& readyPrefix)
{
    sim.setProgram(MATRIX_SIM_PATH);
    sim.setArguments(arguments);
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    if (!sim.waitForStarted(5000))
        return false;
    return waitFor([&] { return sim.canReadLine() && sim.readLine().startsWith(readyPrefix); }, 5000);
}

bool startTcpSimulator(QProcess& sim, const QString& address, const QStringList& extra)
{
    if (startSimulator(sim, QStringList{"--tcp", address} + extra, "listening tcp"))
        return true;
    std::fprintf(stderr, "matrix-sim did not start on %s\n", qPrintable(address));
    return false;
}

QString argument(int index, const QString& fallback)
{
    const QStringList args = QCoreApplication::arguments();
    return index < args.size() ? args[index] : fallback;
}

Spread spread(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    return {samples[n / 2], samples.front(), samples.back(), samples[std::min(n - 1, n * 99 / 100)]};
}

void printResult(const std::string& key, double value)
{
    std::printf("RESULT %s %.6g\n", key.c_str(), value);
    std::fflush(stdout);
}

long peakResidentKiB(long pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

double processorSeconds(long pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return -1;
    // The command name may hold spaces and parentheses: fields are counted
    // from after its closing parenthesis (field 3 is the state).
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14)
            userTicks = std::stoull(field);
        else if (number == 15)
            systemTicks = std::stoull(field);
    }
    return static_cast<double>(userTicks + systemTicks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace matrix::bench
