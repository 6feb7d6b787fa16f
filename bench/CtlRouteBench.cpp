// SPDX-License-Identifier: Apache-2.0
// `matrixctl --tcp ADDRESS route 2 B` against matrix-sim over loopback, as a
// user or a script runs it: the whole process, from start to exit. Beside it
// the floor, the same round trip by the smallest program that can make it
// (bench_route_floor). Target: a median under 30 ms.
//
// Usage: bench_ctl_route [runs (default 15)] [address (default 127.0.0.85)]

#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace matrix;

namespace {

// Wall time of one whole process, or a negative value when it failed.
double timeProcess(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (output)
        *output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s exited with %d: %s\n", qPrintable(program), process.exitCode(),
                     process.readAllStandardError().constData());
        return -1;
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = std::max(10, bench::argument(1, "15").toInt());
    const QString address = bench::argument(2, "127.0.0.85");

    QProcess sim;
    if (!bench::startTcpSimulator(sim, address))
        return 1;

    const QStringList ctlArgs{"--tcp", address, "route", "2", "B"};
    const QStringList floorArgs{address, "2", "2"};
    // One of each first, so that neither pays for loading its libraries from disk.
    QByteArray table;
    if (timeProcess(MATRIXCTL_PATH, ctlArgs, &table) < 0 || timeProcess(ROUTE_FLOOR_PATH, floorArgs) < 0)
        return 1;
    if (!table.contains("B       2")) {
        std::fprintf(stderr, "matrixctl route printed:\n%s", table.constData());
        return 1;
    }

    std::vector<double> ctlMs, floorMs;
    for (int run = 0; run < runs; ++run) {
        const double ctl = timeProcess(MATRIXCTL_PATH, ctlArgs);
        const double floor = timeProcess(ROUTE_FLOOR_PATH, floorArgs);
        if (ctl < 0 || floor < 0)
            return 1;
        ctlMs.push_back(ctl);
        floorMs.push_back(floor);
    }
    sim.terminate();
    sim.waitForFinished(5000);

    const bench::Spread ctl = bench::spread(ctlMs);
    const bench::Spread floor = bench::spread(floorMs);
    std::printf("matrixctl route 2 B over TCP to %s:8000, whole process, %d runs\n", qPrintable(address), runs);
    std::printf("  matrixctl: median %.3f ms, best %.3f ms, worst %.3f ms (target <= 30 ms)\n", ctl.median, ctl.best,
                ctl.worst);
    std::printf("  floor (connect, one frame each way, close): median %.3f ms, best %.3f ms, worst %.3f ms\n",
                floor.median, floor.best, floor.worst);
    bench::printResult("ctl_route_ms", ctl.median);
    bench::printResult("ctl_route_floor_ms", floor.median);
    return 0;
}
