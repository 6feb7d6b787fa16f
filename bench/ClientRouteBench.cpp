// SPDX-License-Identifier: Apache-2.0
// The direct client's route over loopback TCP against matrix-sim: the
// baseline that matrixd's route over HTTP is compared with. Measured: the
// time from route() to its acknowledged result, median and 99th percentile.
// With a reply delay the simulator answers like a matrix whose UART runs at
// 19200 baud (13 bytes each way take about 7 ms); without one it answers at
// once, and the route is no more than a loopback round trip.
//
// Usage: bench_client_route [routes (default 1000)] [address (default 127.0.0.92)] [reply delay ms (default 0)]

#include "bench/BenchSupport.h"
#include "core/client/MatrixClient.h"
#include "platform/QtEventLoop.h"
#include "platform/QtLinkSocket.h"
#include "platform/QtSerialPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace matrix;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int routes = std::max(1, bench::argument(1, "1000").toInt());
    const QString address = bench::argument(2, "127.0.0.92");
    const int delayMs = std::max(0, bench::argument(3, "0").toInt());
    const std::string suffix = delayMs > 0 ? "_delayed" : "";

    QProcess sim;
    if (!bench::startTcpSimulator(sim, address, {"--delay-ms", QString::number(delayMs)}))
        return 1;
    QtEventLoop loop;
    client::MatrixClient client(
        loop, [] { return std::make_unique<QtSerialPort>(); }, std::make_unique<QtLinkSocket>());
    client.open({client::LinkTarget::Kind::Tcp, 0, address.toStdString()});
    // Up, and the link-up reads done.
    if (!bench::waitFor([&] { return client.linkUp() && client.queuedRequests() == 0 && client.state().beepOn; },
                        5000)) {
        std::fprintf(stderr, "no link to %s:8000\n", qPrintable(address));
        return 1;
    }
    bench::waitFor([] { return false; }, 200);

    std::vector<double> timesMs;
    for (int i = 0; i < routes; ++i) {
        bool done = false;
        client::Status status = client::Status::Ok;
        QElapsedTimer clock;
        clock.start();
        client.route(Output{1 + i % 4}, Input{1 + (i / 4) % 4}, [&](const client::Result<client::Nothing>& r) {
            status = r.status;
            done = true;
        });
        bench::waitFor([&] { return done; }, 10000);
        if (!done || status != client::Status::Ok) {
            std::fprintf(stderr, "route %d failed: %s\n", i, client::statusText(status).c_str());
            return 1;
        }
        timesMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    const bench::Spread times = bench::spread(timesMs);
    const double median = times.median;
    const double p99 = times.p99;
    std::printf("direct client route over TCP, reply delay %d ms: %d routes, median %.3f ms, p99 %.3f ms\n", delayMs,
                routes, median, p99);
    bench::printResult("client_route_median_ms" + suffix, median);
    bench::printResult("client_route_p99_ms" + suffix, p99);
    client.close();
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
