// SPDX-License-Identifier: Apache-2.0
// gtest main for tests that need a Qt event loop (sockets, serial ports).

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv)
{
    // A peer that closes first must not kill the test with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
