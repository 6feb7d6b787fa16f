// SPDX-License-Identifier: Apache-2.0
// Start-up of the window to its first paint, and its peak memory.
//
// The program runs itself as a child: the parent notes the monotonic clock,
// starts the child and waits; the child builds exactly what matrix-control
// builds (application look, Qt platform seams, session, MainWindow), shows
// the window and notes the monotonic clock when the window's first paint
// event arrives; it then runs one second more and reports its VmHWM. So the
// time counts the whole process start (loader, Qt, fonts), not only main().
// matrix-control itself reads no command line and has no hook for this;
// this executable links the same gui library instead.
//
// Targets: first paint under 300 ms, peak memory under 80 MB.
// Usage: bench_window_start [runs (default 5)]; run with QT_QPA_PLATFORM=offscreen
// on a machine without a display.

#include "bench/BenchSupport.h"
#include "core/session/MatrixSession.h"
#include "gui/ApplicationLook.h"
#include "gui/MainWindow.h"
#include "platform/QtPlatform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QProcess>
#include <QTimer>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace matrix;

namespace {

constexpr const char* kChildArgument = "--child";
constexpr int kRunAfterPaintMs = 1000;

long long monotonicNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Notes the first paint event of the watched window.
class FirstPaint : public QObject {
public:
    long long atNs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && atNs == 0) {
            atNs = monotonicNs();
            QTimer::singleShot(kRunAfterPaintMs, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }
};

int runChild(int argc, char** argv)
{
    // As matrix-control's main.
    QApplication app(argc, argv);
    QApplication::setApplicationName(gui::MainWindow::applicationTitle());
    gui::applyApplicationLook();
    QtPlatform qt;
    MatrixSession session(qt.platform);
    gui::MainWindow window(session);

    FirstPaint firstPaint;
    window.installEventFilter(&firstPaint);
    window.show();
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);  // no paint at all
    QApplication::exec();
    std::printf("painted %lld\n", firstPaint.atNs);
    std::printf("vmhwm %ld\n", bench::peakResidentKiB(static_cast<long>(::getpid())));
    return firstPaint.atNs != 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], kChildArgument) == 0)
        return runChild(argc, argv);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<double> paintMs;
    long peakKiB = 0;
    for (int run = 0; run < runs; ++run) {
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({kChildArgument});
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const long long startNs = monotonicNs();
        child.start();
        if (!child.waitForFinished(30000) || child.exitCode() != 0) {
            std::fprintf(stderr, "the window did not paint (run %d)\n", run + 1);
            return 1;
        }
        long long paintedNs = 0;
        long kib = -1;
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("painted "))
                paintedNs = line.mid(8).toLongLong();
            else if (line.startsWith("vmhwm "))
                kib = line.mid(6).toLong();
        }
        paintMs.push_back(static_cast<double>(paintedNs - startNs) / 1e6);
        peakKiB = std::max(peakKiB, kib);
    }
    const bench::Spread paint = bench::spread(paintMs);
    const double median = paint.median;
    std::printf("window start: %d process starts to the first paint of MainWindow\n", runs);
    std::printf("  median %.1f ms, best %.1f ms, worst %.1f ms (target < 300 ms)\n", median, paint.best, paint.worst);
    const double peakMb = static_cast<double>(peakKiB) * 1024.0 / 1e6;
    std::printf("  peak memory %.1f MB (VmHWM, target < 80 MB)\n", peakMb);
    bench::printResult("first_paint_ms", median);
    bench::printResult("first_paint_peak_mb", peakMb);
    return 0;
}
