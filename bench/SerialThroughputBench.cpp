// SPDX-License-Identifier: Apache-2.0
// Serial throughput from a pseudo-terminal to the General page's assembler:
// the page of a whole session opens COM3 (QtSerialPort on a pty linked in a
// MATRIX_COM_DIR); a writer thread writes frames on the master as fast as
// the line takes them. Measured: bytes per second from the first write to
// the last frame assembled by the page. Target: at least 100 KB/s (50 times
// the 19200 baud line rate).
//
// Usage: bench_serial_throughput [frames (default 80000)]

#include "bench/BenchSupport.h"
#include "bench/QtSession.h"
#include "core/protocol/Protocol.h"
#include "tests/integration/PtyLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

using namespace matrix;

namespace {

constexpr int kComPort = 3;
constexpr std::size_t kFrameBytes = CommandFrame::kSize;
// A command the matrix never sends: the page assembles the frame and drops it.
constexpr int kUnknownCommand = 0x7E;

std::vector<std::uint8_t> bytesOf(const CommandFrame& frame) { return {frame.data(), frame.data() + kFrameBytes}; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t frames = std::max(2UL, bench::argument(1, "80000").toULong());

    QTemporaryDir comDir;
    qputenv("MATRIX_COM_DIR", comDir.path().toLocal8Bit());
    testing::PtyLine line(comDir.path().toStdString(), kComPort);
    if (!line.ok()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }

    bench::QtSession qt;
    GeneralPage& page = qt.page;
    if (!qt.connectCom("COM3")) {
        std::fprintf(stderr, "COM3 did not open on %s\n", line.devicePath().c_str());
        return 1;
    }
    // What the page sent on opening (its beep query) is read and dropped.
    bench::waitFor([] { return false; }, 200);
    line.receive(1 << 16, 50);

    // Frames the page drops after assembling them (no such command), then
    // one beep-state answer that flips the check box: the last frame.
    const bool beepBefore = page.beepChecked();
    std::vector<std::uint8_t> stream;
    stream.reserve(frames * kFrameBytes);
    const auto filler = bytesOf(CommandFrame().set(2, kUnknownCommand).set(3, 1).seal());
    for (std::size_t i = 0; i + 1 < frames; ++i)
        stream.insert(stream.end(), filler.begin(), filler.end());
    const auto last = bytesOf(protocol::beepStateReply(!beepBefore));
    stream.insert(stream.end(), last.begin(), last.end());

    std::size_t assembled = 0;
    const int subscription = page.changed.subscribe([&] { ++assembled; });

    QElapsedTimer clock;
    std::atomic<bool> writerDone{false};
    clock.start();
    std::thread writer([&] {
        line.send(stream);
        writerDone = true;
    });
    const bool done = bench::waitFor([&] { return page.beepChecked() != beepBefore; }, 60000);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (!done)
        line.closeMaster();  // unblocks the writer
    writer.join();
    page.changed.unsubscribe(subscription);

    // Every assembled frame notifies the page's view once (a few other
    // notifications may add to the count): fewer than sent means lost bytes.
    const bool whole = done && assembled >= frames;
    const double bytes = whole ? static_cast<double>(stream.size()) : static_cast<double>(assembled * kFrameBytes);
    const double kbPerSecond = bytes / seconds / 1000.0;
    std::printf("serial throughput: %zu frames (%zu bytes) from a pty to the General page on COM3\n", frames,
                stream.size());
    std::printf("  %s (%zu notifications) in %.3f s: %.1f KB/s (target >= 100 KB/s; the line rate is 1.92 KB/s)\n",
                whole ? "all assembled" : "NOT all assembled", assembled, seconds, kbPerSecond);
    bench::printResult("serial_kb_per_s", kbPerSecond);
    return whole ? 0 : 1;
}
