// SPDX-License-Identifier: Apache-2.0
#include "core/transport/Timer.h"
#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

#include <vector>

using matrix::ManualLoop;
using matrix::Timer;

TEST(ManualLoop, LoopTimersRepeatUntilKilledAndRestartOnStart)
{
    ManualLoop loop;
    std::vector<std::int64_t> fired;
    const int owner = 0;
    loop.startTimer(&owner, 7, 500, [&] { fired.push_back(loop.nowMs()); });
    loop.advance(1600);
    EXPECT_EQ(fired, (std::vector<std::int64_t>{500, 1000, 1500}));

    // Starting a running id restarts it with the new period.
    fired.clear();
    loop.startTimer(&owner, 7, 1000, [&] { fired.push_back(loop.nowMs()); });
    loop.advance(999);
    EXPECT_TRUE(fired.empty());
    loop.advance(1);
    EXPECT_EQ(fired.size(), 1u);

    loop.killTimer(&owner, 7);
    loop.advance(10000);
    EXPECT_EQ(fired.size(), 1u);
    EXPECT_EQ(loop.runningTimerCount(), 0u);
}

TEST(ManualLoop, DueTimersFireInTimeOrderAndHandlersMayStopOthers)
{
    ManualLoop loop;
    Timer first(loop), second(loop), third(loop);
    std::vector<int> order;
    first.once(300, [&] { order.push_back(1); });
    second.once(100, [&] {
        order.push_back(2);
        third.stop();  // a reply handler stopping the give-up timer
    });
    third.once(200, [&] { order.push_back(3); });
    loop.advance(1000);
    EXPECT_EQ(order, (std::vector<int>{2, 1}));
    EXPECT_EQ(loop.runningTimerCount(), 0u);
}

TEST(ManualLoop, PostedTasksRunBeforeTimersAndATimerStopsWhenItGoes)
{
    ManualLoop loop;
    std::vector<std::string> order;
    {
        Timer timer(loop);
        timer.once(10, [&] { order.push_back("timer"); });
        loop.post([&] { order.push_back("posted"); });
        loop.advance(10);
        timer.once(10, [&] { order.push_back("late"); });
    }
    loop.advance(100);
    EXPECT_EQ(order, (std::vector<std::string>{"posted", "timer"}));
    EXPECT_EQ(loop.runningTimerCount(), 0u);
}
