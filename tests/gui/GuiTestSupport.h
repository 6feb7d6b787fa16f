// SPDX-License-Identifier: Apache-2.0
#pragma once

// Helpers for GUI tests: the real window on the in-process simulator and
// virtual time, and screenshots that include the visible popups.

#include "core/session/MatrixSession.h"
#include "gui/MainWindow.h"
#include "gui/app/PopupView.h"
#include "tests/support/TestRig.h"
#include "tests/support/Transport.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QString>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace matrix::testing {

// A control of a view, found as a user's eye finds it: by what it is and
// its object name. A missing one fails the test that asked for it.
template <class T>
T* child(const QObject* parent, const QString& name)
{
    T* found = parent->findChild<T*>(name);
    if (!found)
        throw std::runtime_error("no " + std::string(T::staticMetaObject.className()) + " named " + name.toStdString());
    return found;
}

// "A" .. "D": the letter of output 1 .. 4 in the routing view's names.
inline QString outputLetter(int output) { return QString(QChar('A' + output - 1)); }

// Lets Qt paint and deliver what the last step queued.
inline void processGuiEvents()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

// The main window with the popups that are visible over it, composited at
// their screen positions, as a user would see them.
inline QImage grabWithPopups(gui::MainWindow& window)
{
    processGuiEvents();
    QImage image = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QPainter painter(&image);
    for (gui::PopupView* popup : window.popupViews()) {
        if (!popup || !popup->isVisible())
            continue;
        const QPoint at = popup->geometry().topLeft() - window.geometry().topLeft();
        painter.drawImage(at, popup->grab().toImage());
    }
    return image;
}

// Where screenshots go: ${CMAKE_BINARY_DIR}/screenshots.
inline QString screenshotPath(const QString& name)
{
    QDir().mkpath(MATRIX_SCREENSHOT_DIR);
    return QString(MATRIX_SCREENSHOT_DIR) + "/" + name + ".png";
}

// Saves the window (with its visible popups) as <name>.png and returns the
// path, empty if the file could not be written.
inline QString saveScreenshot(gui::MainWindow& window, const QString& name)
{
    const QString path = screenshotPath(name);
    return grabWithPopups(window).save(path) ? path : QString();
}

inline QString saveScreenshot(QWidget& widget, const QString& name)
{
    processGuiEvents();
    const QString path = screenshotPath(name);
    return widget.grab().save(path) ? path : QString();
}

// The program's objects on the test rig's seams: the simulated matrix on
// COM3 and at 127.0.0.1, virtual time in rig.loop, and the real window.
struct GuiRig {
    TestRig rig;
    MatrixSession session{rig.platform};
    std::unique_ptr<gui::MainWindow> window;

    GuiRig()
    {
        window = std::make_unique<gui::MainWindow>(session);
        window->show();
        processGuiEvents();
    }
    ~GuiRig()
    {
        // The window goes before the session whose models it watches.
        window.reset();
    }

    // Moves virtual time forward in small steps, letting Qt paint between.
    void advance(std::int64_t ms, std::int64_t stepMs = 10)
    {
        for (std::int64_t done = 0; done < ms; done += stepMs) {
            rig.loop.advance(std::min(stepMs, ms - done));
            QApplication::processEvents();
        }
        processGuiEvents();
    }
    // Runs posted core work without moving the clock.
    void settle()
    {
        rig.loop.runPending();
        processGuiEvents();
    }

    // The link as a connect over the transport leaves it, then a click on
    // the tab's label; returns the tab's view once its page has activated.
    QWidget* openTab(Tab tab, Transport transport)
    {
        WindowLink& link = session.link;
        if (transport == Transport::Tcp) {
            link.controlMode = ControlMode::Tcp;
            link.setTcpState(TcpState::Reconnecting);
            link.matrixAddress = TestRig::kAddress;
        } else {
            link.controlMode = ControlMode::Com;
            link.comOpen = 1;
            link.comPort = TestRig::kComPort;
        }
        const QPoint at = window->tabLabel(tab)->geometry().center();
        QTest::mousePress(window.get(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseRelease(window.get(), Qt::LeftButton, Qt::NoModifier, at);
        advance(200);
        settle();
        return window->pageView(tab);
    }
};

// A left click on a widget: in the middle, or on the indicator of a radio
// button or check box (whose text may not reach the middle of a wide row).
inline void click(QWidget* widget)
{
    if (widget->inherits("QRadioButton") || widget->inherits("QCheckBox"))
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(8, widget->height() / 2));
    else
        QTest::mouseClick(widget, Qt::LeftButton);
    processGuiEvents();
}

// The pointer enters a button of the window the user works in.
inline void hover(QWidget& button)
{
    const bool hadFocus = button.hasFocus();
    button.window()->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(button.window()));
    if (!hadFocus)
        button.clearFocus();  // activation alone gives the only button the focus
    QEnterEvent enter(QPointF(30, 15), QPointF(30, 15), QPointF(30, 15));
    QApplication::sendEvent(&button, &enter);
}

}  // namespace matrix::testing
