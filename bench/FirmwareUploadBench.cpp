// SPDX-License-Identifier: Apache-2.0
// Wall time of one firmware upload over loopback TCP against matrix-sim,
// divided by the protocol's own minimum: the mandated waits (200 ms before
// the part-1 prepare, 200 ms before block 0, 100 ms before every later
// block) plus the reboot wait (whole 3 s poll periods until the simulated
// matrix, which reboots in 2 s, answers). Target: 1.05 or less.
//
// Usage: bench_firmware_upload [data-bytes (default 60000)] [address (default 127.0.0.83)]

#include "bench/BenchSupport.h"
#include "core/app/PageContext.h"
#include "core/app/Popups.h"
#include "core/app/WindowLink.h"
#include "core/pages/firmware/FirmwarePage.h"
#include "platform/QtPlatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace matrix;

namespace {

constexpr int kSimRebootMs = 2000;  // the simulator's default reboot time

struct NoShell : ShellRequests {
    void postPageBusy(int) override {}
    void postShellRequest(ShellRequest) override {}
    void postNetConfigStatus(NetConfigStatus) override {}
};

// The waits here are seconds long: a coarser tick than the other benchmarks'.
bool waitFor(const std::function<bool()>& pred, int timeoutMs) { return bench::waitFor(pred, timeoutMs, 50); }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t dataBytes = bench::argument(1, "60000").toULong();
    const QString address = bench::argument(2, "127.0.0.83");
    if (dataBytes == 0 || dataBytes > FirmwarePage::kMaxPartBytes) {
        std::fprintf(stderr, "data bytes must be 1..%zu\n", FirmwarePage::kMaxPartBytes);
        return 2;
    }

    QTemporaryDir dir;
    QProcess sim;
    if (!bench::startTcpSimulator(sim, address, {"--firmware-dir", dir.path()}))
        return 1;

    QtPlatform qt;
    NoShell shell;
    PageState state(qt.platform, shell);
    WindowLink& link = state.link;
    link.controlMode = ControlMode::Tcp;
    link.matrixAddress = address.toStdString();
    link.setTcpState(TcpState::Reconnecting);

    FirmwarePage page(state.context);
    page.tabSelected(true);
    link.reconnect(PageId::Firmware);
    if (!waitFor([&] { return link.socketConnected() == 1; }, 5000)) {
        std::fprintf(stderr, "no TCP connection to %s:8000\n", qPrintable(address));
        return 1;
    }
    page.activate();
    waitFor([&] { return !page.deviceLine().empty(); }, 3000);

    // A part-1 image: marker, then data.
    Bytes image{0xA5, 0x5A};
    for (std::size_t i = 0; i < dataBytes; ++i)
        image.push_back(static_cast<std::uint8_t>((i * 131 + 7) & 0x7F));
    const Bytes original = image;
    scramble(image);
    const std::string path = QDir(dir.path()).filePath("bench.fw").toStdString();
    if (!writeFile(path, image) || !page.setFilePath(path)) {
        std::fprintf(stderr, "cannot write or load %s\n", path.c_str());
        return 1;
    }

    const int blockTotal = static_cast<int>(dataBytes / 256);
    const int rebootWaitMs = ((kSimRebootMs + 2999) / 3000) * 3000;
    const double minimumMs = 200 + 200 + 100.0 * blockTotal + rebootWaitMs;

    QElapsedTimer clock;
    // Time from one block's preparation to the next (after block 1): 100 ms is the floor.
    std::vector<double> fillTimesMs;
    int lastPosition = -1;
    const int subscription = page.changed.subscribe([&] {
        if (page.progressPosition() != lastPosition && link.firmwareUpgrading == 1) {
            lastPosition = page.progressPosition();
            fillTimesMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
    });
    clock.start();
    page.upgradeClicked();
    const bool done = waitFor(
        [&] {
            return page.messages().find("Firmware upgrade Successfully") != std::string::npos ||
                   link.firmwareUpgrading == 0;
        },
        static_cast<int>(minimumMs * 3) + 10000);
    const double wallMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const bool success = done && page.messages().find("Firmware upgrade Successfully") != std::string::npos;

    page.changed.unsubscribe(subscription);
    double worstGapMs = 0;
    double gapSumMs = 0;
    for (std::size_t i = 2; i < fillTimesMs.size(); ++i) {
        const double gap = fillTimesMs[i] - fillTimesMs[i - 1];
        worstGapMs = std::max(worstGapMs, gap);
        gapSumMs += gap;
    }
    sim.terminate();
    sim.waitForFinished(5000);
    QFile received(QDir(dir.path()).filePath("part1.bin"));
    bool intact = false;
    if (received.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = received.readAll();
        intact = static_cast<std::size_t>(bytes.size()) >= dataBytes &&
                 std::equal(original.begin() + 2, original.end(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    }

    std::printf("firmware upload: %zu data bytes, %d blocks over TCP to %s:8000\n", dataBytes, blockTotal + 1,
                qPrintable(address));
    std::printf("  result: %s, image at the matrix %s\n", success ? "Firmware upgrade Successfully" : "FAILED",
                intact ? "intact" : "NOT intact");
    std::printf("  wall time        %10.1f ms\n", wallMs);
    std::printf("  protocol minimum %10.1f ms (200 + 200 + %d x 100 + %d reboot)\n", minimumMs, blockTotal,
                rebootWaitMs);
    if (fillTimesMs.size() > 2)
        std::printf("  block to block   %10.2f ms mean, %.2f ms worst (floor 100)\n",
                    gapSumMs / static_cast<double>(fillTimesMs.size() - 2), worstGapMs);
    std::printf("  ratio            %10.4f (target <= 1.05)\n", wallMs / minimumMs);
    return success && intact ? 0 : 1;
}
