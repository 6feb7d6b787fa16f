// SPDX-License-Identifier: Apache-2.0
// matrix-demo-shots: for machines without a display. Opens the real window
// offscreen against a running matrix-sim, connects over TCP, runs a status
// query, shows each tab, and writes a screenshot after each step. Prints the
// paths it wrote.
//
//   matrix-demo-shots ADDRESS OUTPUT_DIR
#include "core/session/MatrixSession.h"
#include "gui/ApplicationLook.h"
#include "gui/MainWindow.h"
#include "gui/app/PopupView.h"
#include "platform/QtPlatform.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

QString shoot(matrix::gui::MainWindow& window, const QString& dir, const QString& name)
{
    settle(50);
    QImage image = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QPainter painter(&image);
    for (matrix::gui::PopupView* popup : window.popupViews()) {
        if (popup && popup->isVisible())
            painter.drawImage(popup->geometry().topLeft() - window.geometry().topLeft(), popup->grab().toImage());
    }
    painter.end();
    const QString path = dir + "/" + name + ".png";
    if (!image.save(path))
        return {};
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    return path;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: matrix-demo-shots ADDRESS OUTPUT_DIR\n");
        return 2;
    }
    const std::string address = argv[1];
    const QString dir = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(dir);
    matrix::gui::applyApplicationLook();

    matrix::QtPlatform qt;
    matrix::MatrixSession session(qt.platform);
    matrix::gui::MainWindow window(session);
    window.show();
    settle(100);
    shoot(window, dir, "1-general-idle");

    auto& general = session.general;
    general.selectTcpMode();
    general.setIpText(address);
    general.tcpConnectClicked();
    if (!waitFor([&] { return session.link.tcpLinkUp() == 1; }, 3000)) {
        std::fprintf(stderr, "could not connect to the simulator at %s:8000\n", address.c_str());
        shoot(window, dir, "error-connect");
        return 1;
    }
    waitFor([&] { return !session.popups.anyModalOpen(); }, 3000);
    general.statusClicked();
    waitFor([&] { return session.popups.progress.isOpen(); }, 2000);
    shoot(window, dir, "2-general-status-running");
    waitFor([&] { return !session.popups.progress.isOpen(); }, 15000);
    shoot(window, dir, "3-general-after-status");

    const std::pair<matrix::Tab, const char*> tabs[] = {
        {matrix::Tab::Matrix, "4-matrix"}, {matrix::Tab::Edid, "5-edid"}, {matrix::Tab::FwUpgrade, "6-fw-upgrade"}};
    for (const auto& [tab, name] : tabs) {
        waitFor([&] { return session.link.busy == 0 && !session.popups.anyModalOpen(); }, 15000);
        session.shell.selectTab(tab);
        settle(400);
        waitFor([&] { return session.link.busy == 0 && !session.popups.progress.isOpen(); }, 15000);
        shoot(window, dir, name);
    }
    return 0;
}
