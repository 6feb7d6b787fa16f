// SPDX-License-Identifier: Apache-2.0
// The main of every GUI test program: Qt's offscreen platform (unless the
// caller chose another), the program's look, then the tests.
#include "gui/ApplicationLook.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    matrix::gui::applyApplicationLook();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
