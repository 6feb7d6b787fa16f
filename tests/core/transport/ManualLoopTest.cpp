// SPDX-License-Identifier: Apache-2.0
#include "core/transport/TimerSet.h"
#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

#include <vector>

using matrix::ManualLoop;
using matrix::TimerSet;

TEST(ManualLoop, TimersRepeatUntilKilledAndRestartOnStart)
{
    ManualLoop loop;
    TimerSet timers(loop);
    std::vector<std::pair<std::int64_t, int>> fired;
    timers.setHandler([&](int id) { fired.emplace_back(loop.nowMs(), id); });

    timers.start(7, 500);
    loop.advance(1600);
    EXPECT_EQ(fired, (std::vector<std::pair<std::int64_t, int>>{{500, 7}, {1000, 7}, {1500, 7}}));

    // Starting a running id restarts it with the new period.
    fired.clear();
    timers.start(7, 1000);
    loop.advance(999);
    EXPECT_TRUE(fired.empty());
    loop.advance(1);
    EXPECT_EQ(fired.size(), 1u);

    timers.kill(7);
    loop.advance(10000);
    EXPECT_EQ(fired.size(), 1u);
    EXPECT_FALSE(timers.isRunning(7));
    EXPECT_EQ(loop.runningTimerCount(), 0u);
}

TEST(ManualLoop, DueTimersFireInTimeOrderAndHandlersMayKillOthers)
{
    ManualLoop loop;
    TimerSet timers(loop);
    std::vector<int> order;
    timers.setHandler([&](int id) {
        order.push_back(id);
        timers.kill(id);
        if (id == 2)
            timers.kill(3);  // a reply handler killing the give-up timer
    });
    timers.start(1, 300);
    timers.start(2, 100);
    timers.start(3, 200);
    loop.advance(1000);
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

TEST(ManualLoop, KillRangeTouchesOnlyThatRangeAndOnlyThisOwner)
{
    ManualLoop loop;
    TimerSet page(loop);
    TimerSet other(loop);
    page.start(1, 100);
    page.start(55, 100);
    page.start(79, 100);
    page.start(80, 100);
    page.start(101, 100);
    other.start(5, 100);
    page.killRange(1, 79);
    EXPECT_FALSE(page.isRunning(1));
    EXPECT_FALSE(page.isRunning(55));
    EXPECT_FALSE(page.isRunning(79));
    EXPECT_TRUE(page.isRunning(80));
    EXPECT_TRUE(page.isRunning(101));
    EXPECT_TRUE(other.isRunning(5));
}

TEST(ManualLoop, PostedTasksRunBeforeTimersAndATimerSetCleansUpOnDestruction)
{
    ManualLoop loop;
    std::vector<std::string> order;
    {
        TimerSet timers(loop);
        timers.start(1, 10, [&] { order.push_back("timer"); });
        loop.post([&] { order.push_back("posted"); });
        loop.advance(10);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"posted", "timer"}));
    EXPECT_EQ(loop.runningTimerCount(), 0u);
}
