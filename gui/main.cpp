// SPDX-License-Identifier: Apache-2.0
// matrix-control: the window of the HDMI matrix control program. It reads no
// command line and keeps no settings.
#include "core/session/MatrixSession.h"
#include "gui/ApplicationLook.h"
#include "gui/MainWindow.h"
#include "platform/QtPlatform.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv)
{
    // Qt's own options (-platform and the like) are the toolkit's; the
    // program itself looks at nothing on its command line.
    QApplication app(argc, argv);
    QApplication::setApplicationName(matrix::gui::MainWindow::applicationTitle());
    matrix::gui::applyApplicationLook();

    matrix::QtPlatform qt;
    matrix::MatrixSession session(qt.platform);

    matrix::gui::MainWindow window(session);
    window.show();
    return QApplication::exec();
}
