// SPDX-License-Identifier: Apache-2.0
// A status run over loopback TCP: the General page of a whole session on
// the real Qt platform, connected to matrix-sim, asks its eight port
// queries (inputs 1-4, outputs 1-4). Measured: wall time from the Status
// click to the last port label. Target: under 10 ms (the median of the runs;
// the worst is shown too).
//
// Usage: bench_status_run [runs (default 20)] [address (default 127.0.0.84)]

#include "bench/BenchSupport.h"
#include "bench/QtSession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace matrix;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = std::max(1, bench::argument(1, "20").toInt());
    const QString address = bench::argument(2, "127.0.0.84");

    // No serial device of this machine is probed: the COM list comes from
    // an empty folder.
    QTemporaryDir comDir;
    qputenv("MATRIX_COM_DIR", comDir.path().toLocal8Bit());

    QProcess sim;
    if (!bench::startTcpSimulator(sim, address))
        return 1;

    // Past the General tab's start-up activation, connected as the user does.
    bench::QtSession qt;
    GeneralPage& page = qt.page;
    if (!qt.connectTcp(address)) {
        std::fprintf(stderr, "no TCP connection to %s:8000\n", qPrintable(address));
        return 1;
    }
    // The connect's own beep query and its answer.
    bench::waitFor([] { return false; }, 300);

    std::vector<double> timesMs;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        page.statusClicked();
        const bool done = bench::waitFor([&] { return !page.outputLabel(GeneralPage::kQueriedPorts).empty(); }, 5000);
        const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (!done) {
            std::fprintf(stderr, "status run %d did not end (progress: %s)\n", run + 1,
                         qt.session.popups.progress.nextText().c_str());
            return 1;
        }
        for (int n = 1; n <= GeneralPage::kQueriedPorts; ++n)
            if (page.inputLabel(n).empty() || page.outputLabel(n).empty()) {
                std::fprintf(stderr, "status run %d left a port label empty\n", run + 1);
                return 1;
            }
        timesMs.push_back(ms);
        // The popup closes with the last reply; a pause between runs keeps
        // one run's stragglers out of the next.
        bench::waitFor([] { return false; }, 50);
    }
    sim.terminate();
    sim.waitForFinished(5000);

    const bench::Spread times = bench::spread(timesMs);
    std::printf("status run: %d runs of 8 queries over TCP to %s:8000\n", runs, qPrintable(address));
    std::printf("  median %.3f ms, best %.3f ms, worst %.3f ms (target < 10 ms)\n", times.median, times.best,
                times.worst);
    bench::printResult("status_run_ms", times.median);
    bench::printResult("status_run_worst_ms", times.worst);
    return 0;
}
