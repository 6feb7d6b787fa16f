// SPDX-License-Identifier: Apache-2.0
// QtEventLoop on the real Qt loop: the window-timer behaviour the pages
// rely on (repeat until killed, restart replaces) and posted tasks.

#include "platform/QtEventLoop.h"

#include "tests/integration/EventWait.h"

#include <gtest/gtest.h>

#include <string>

namespace matrix::testing {
namespace {

TEST(QtEventLoopTest, ATimerRepeatsUntilKilledEvenFromItsOwnHandler)
{
    QtEventLoop loop;
    const int owner = 0;
    int fires = 0;
    loop.startTimer(&owner, 1, 10, [&] {
        if (++fires == 3)
            loop.killTimer(&owner, 1);
    });
    ASSERT_TRUE(waitUntil([&] { return fires >= 3; }));
    pumpEventsFor(60);
    EXPECT_EQ(fires, 3);
    EXPECT_FALSE(loop.isTimerRunning(&owner, 1));
}

TEST(QtEventLoopTest, StartingARunningIdReplacesItsPeriodAndCallbackForThatOwnerOnly)
{
    QtEventLoop loop;
    const int pageA = 0;
    const int pageB = 0;
    int slow = 0;
    int fast = 0;
    int other = 0;
    loop.startTimer(&pageA, 7, 10000, [&] { ++slow; });
    loop.startTimer(&pageB, 7, 10000, [&] { ++other; });
    loop.startTimer(&pageA, 7, 10, [&] {
        ++fast;
        // Restarting itself from its own handler must be safe too.
        loop.startTimer(&pageA, 7, 10, [&] { ++fast; });
    });
    ASSERT_TRUE(waitUntil([&] { return fast >= 3; }));
    EXPECT_EQ(slow, 0);
    EXPECT_EQ(other, 0);
    EXPECT_TRUE(loop.isTimerRunning(&pageB, 7));
    loop.killTimer(&pageA, 7);
    loop.killTimer(&pageB, 7);
    EXPECT_FALSE(loop.isTimerRunning(&pageA, 7));
}

TEST(QtEventLoopTest, PostedTasksRunLaterInOrder)
{
    QtEventLoop loop;
    std::string trace;
    loop.post([&] {
        trace += "a";
        loop.post([&] { trace += "c"; });
        trace += "b";
    });
    loop.post([&] { trace += "d"; });
    EXPECT_EQ(trace, "");
    ASSERT_TRUE(waitUntil([&] { return trace.size() == 4; }));
    EXPECT_EQ(trace, "abdc");
    const auto before = loop.nowMs();
    pumpEventsFor(20);
    EXPECT_GE(loop.nowMs() - before, 20);
}

}  // namespace
}  // namespace matrix::testing
