// SPDX-License-Identifier: Apache-2.0
// The window left idle: matrix-control itself (offscreen) with a pty linked
// as COM3 in its MATRIX_COM_DIR, so that the General page's COM rescan
// (every 500 ms) has a port to look at. After a settling time, the
// processor time the process uses over 10 s is read from /proc/<pid>/stat;
// its peak memory (VmHWM) is read at the end. Targets: under 1 % of one
// core; under 80 MB.
//
// Usage: bench_window_idle [idle seconds (default 10)]

#include "bench/BenchSupport.h"
#include "tests/integration/PtyLine.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>

using namespace matrix;

namespace {

constexpr int kComPort = 3;
constexpr int kSettleMs = 2000;

// Reads every queued inotify event; returns how many were opens. Closes
// are watched too, because the queue merges identical events in a row.
int countEvents(int watch)
{
    int count = 0;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        if (n <= 0)
            return count;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN)
                ++count;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double idleSeconds = std::max(1.0, bench::argument(1, "10").toDouble());

    QTemporaryDir comDir;
    testing::PtyLine line(comDir.path().toStdString(), kComPort);
    if (!line.ok()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }

    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("MATRIX_COM_DIR", comDir.path());
    window.setProcessEnvironment(environment);
    window.setProgram(MATRIX_CONTROL_PATH);
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start();
    if (!window.waitForStarted(5000)) {
        std::fprintf(stderr, "matrix-control did not start\n");
        return 1;
    }
    const long pid = static_cast<long>(window.processId());
    bench::waitFor([] { return false; }, kSettleMs);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, line.devicePath().c_str(), IN_OPEN | IN_CLOSE) < 0) {
        std::fprintf(stderr, "cannot watch %s\n", line.devicePath().c_str());
        return 1;
    }
    const double before = bench::processorSeconds(pid);
    bench::waitFor([] { return false; }, static_cast<int>(idleSeconds * 1000));
    const double after = bench::processorSeconds(pid);
    const long peakKiB = bench::peakResidentKiB(pid);
    // Opens of the device during the idle time: so the time is known to
    // include the rescan's work on a real port.
    const int opens = countEvents(watch);
    const bool probed = opens > 0;
    const bool stillRunning = window.state() == QProcess::Running;
    window.terminate();
    if (!window.waitForFinished(5000)) {
        window.kill();
        window.waitForFinished(5000);
    }
    if (!stillRunning || before < 0 || after < 0) {
        std::fprintf(stderr, "matrix-control ended during the idle time\n");
        return 1;
    }
    ::close(watch);
    if (!probed) {
        std::fprintf(stderr, "the COM rescan never opened COM3\n");
        return 1;
    }

    const double percent = (after - before) / idleSeconds * 100.0;
    const double peakMb = static_cast<double>(peakKiB) * 1024.0 / 1e6;
    std::printf("window idle: matrix-control offscreen, COM3 on %s, %.0f s after %d ms settling\n",
                line.devicePath().c_str(), idleSeconds, kSettleMs);
    std::printf("  the COM rescan opened COM3 %d times\n", opens);
    std::printf("  processor time %.3f s: %.2f %% of one core (target < 1 %%)\n", after - before, percent);
    std::printf("  peak memory %.1f MB (VmHWM, target < 80 MB)\n", peakMb);
    bench::printResult("idle_cpu_percent", percent);
    bench::printResult("idle_peak_mb", peakMb);
    return 0;
}
