// SPDX-License-Identifier: Apache-2.0
// Schedules on virtual time in Europe/Berlin: a week of runs, the nights the
// clocks change, a link that is down when a run is due, and what a client
// may send. The zone comes from the system's rules (tzdata), set for the process.
#include "service/hub/Scheduler.h"

#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace matrix::service {
namespace {

// Unix seconds of a UTC date and time.
std::int64_t utc(int y, unsigned mo, unsigned d, int h, int mi)
{
    using namespace std::chrono;
    const sys_days date = year{y} / month{mo} / day{d};
    return duration_cast<seconds>(date.time_since_epoch()).count() + h * 3600 + mi * 60;
}

// Wall time that starts at `startUnixSeconds` and moves with the loop.
class LoopWallClock : public WallClock {
public:
    LoopWallClock(ManualLoop& loop, std::int64_t startUnixSeconds) : loop_(loop), startMs_(startUnixSeconds * 1000) {}
    std::int64_t nowUnixMs() const override { return startMs_ + loop_.nowMs(); }
    int utcOffsetSeconds(std::int64_t unixSeconds) const override { return zone_.utcOffsetSeconds(unixSeconds); }

private:
    ManualLoop& loop_;
    std::int64_t startMs_;
    SystemWallClock zone_;
};

Schedule schedule(const std::string& name, const std::string& scene, const std::string& at,
                  const std::vector<std::string>& days)
{
    auto checked = makeSchedule(name, scene, at, days);
    EXPECT_TRUE(checked.schedule) << checked.error;
    return checked.schedule.value_or(Schedule{});
}

const std::vector<std::string> kEveryDay{"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

class SchedulerTest : public ::testing::Test {
protected:
    // For the whole test program: nothing else in it reads local time.
    void SetUp() override
    {
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
        // Without the zone's rules the C library quietly uses UTC.
        ASSERT_EQ(SystemWallClock().utcOffsetSeconds(utc(2026, 1, 15, 12, 0)), 3600) << "tzdata is missing";
    }

    // A scheduler whose recalls answer at once with `recallOk`.
    void startAt(std::int64_t unixSeconds, int catchUpMinutes = 5)
    {
        clock_ = std::make_unique<LoopWallClock>(loop_, unixSeconds);
        Scheduler::Hooks hooks;
        hooks.linkUp = [this] { return linkUp_; };
        hooks.recall = [this](const std::string& scene, std::function<void(bool, std::string)> done) {
            recalls_.push_back(isoLocalTime(*clock_, clock_->nowUnixMs() / 1000) + " " + scene);
            done(recallOk_, recallOk_ ? "" : "Time out!");
        };
        hooks.report = [this](const ScheduleRun& run) {
            reports_.push_back(isoLocalTime(*clock_, clock_->nowUnixMs() / 1000) + " " + run.name + " " +
                               scheduleResultText(run.result) + " for " + isoLocalTime(*clock_, run.dueUnixSeconds));
        };
        scheduler_ = std::make_unique<Scheduler>(loop_, *clock_, catchUpMinutes, hooks);
    }

    ManualLoop loop_;
    std::unique_ptr<LoopWallClock> clock_;
    std::unique_ptr<Scheduler> scheduler_;
    bool linkUp_ = true;
    bool recallOk_ = true;
    std::vector<std::string> recalls_;
    std::vector<std::string> reports_;
};

constexpr std::int64_t kMinuteMs = 60'000;
constexpr std::int64_t kDayMs = 24 * 60 * kMinuteMs;

TEST_F(SchedulerTest, AWeekOfSchedules)
{
    startAt(utc(2026, 5, 31, 22, 0));  // Monday 1 June 2026, 00:00 in Berlin
    ASSERT_FALSE(scheduler_->put(schedule("signage", "Signage", "07:30", {"mon", "tue", "wed", "thu", "fri"})));
    ASSERT_FALSE(scheduler_->put(schedule("camera", "Camera", "19:00", {"MON", "tue", "wed", "thu", "fri"})));
    ASSERT_FALSE(scheduler_->put(schedule("weekend", "Off", "10:00", {"sun", "sat"})));
    ASSERT_FALSE(scheduler_->put(schedule("late", "Off", "23:59", {"wed"})));
    scheduler_->start();
    EXPECT_EQ(scheduler_->nextRunText("signage"), "2026-06-01T07:30:00+02:00");
    EXPECT_EQ(scheduler_->nextRunText("weekend"), "2026-06-06T10:00:00+02:00");
    loop_.advance(7 * kDayMs);
    const std::vector<std::string> expected{
        "2026-06-01T07:30:00+02:00 Signage", "2026-06-01T19:00:00+02:00 Camera",  "2026-06-02T07:30:00+02:00 Signage",
        "2026-06-02T19:00:00+02:00 Camera",  "2026-06-03T07:30:00+02:00 Signage", "2026-06-03T19:00:00+02:00 Camera",
        "2026-06-03T23:59:00+02:00 Off",     "2026-06-04T07:30:00+02:00 Signage", "2026-06-04T19:00:00+02:00 Camera",
        "2026-06-05T07:30:00+02:00 Signage", "2026-06-05T19:00:00+02:00 Camera",  "2026-06-06T10:00:00+02:00 Off",
        "2026-06-07T10:00:00+02:00 Off",
    };
    EXPECT_EQ(recalls_, expected);
    ASSERT_EQ(reports_.size(), expected.size());
    EXPECT_EQ(reports_[0], "2026-06-01T07:30:00+02:00 signage done for 2026-06-01T07:30:00+02:00");
    EXPECT_EQ(scheduler_->nextRunText("signage"), "2026-06-08T07:30:00+02:00");

    recallOk_ = false;
    EXPECT_TRUE(scheduler_->remove("camera"));
    loop_.advance(kDayMs);
    EXPECT_EQ(reports_.back(), "2026-06-08T07:30:00+02:00 signage failed for 2026-06-08T07:30:00+02:00");
    EXPECT_EQ(recalls_.size(), expected.size() + 1);  // the removed schedule never ran
    scheduler_->stop();
    EXPECT_EQ(loop_.runningTimerCount(), 0u);
}

TEST_F(SchedulerTest, ClockChangesInBerlin)
{
    // Spring 2026: 02:00 becomes 03:00 on 29 March. Autumn: 03:00 becomes 02:00 on 25 October.
    struct Case {
        const char* at;
        std::int64_t after;
        const char* next;
    } cases[] = {
        {"02:30", utc(2026, 3, 28, 12, 0), "2026-03-29T03:00:00+02:00"},  // skipped: first minute after the gap
        {"02:00", utc(2026, 3, 28, 12, 0), "2026-03-29T03:00:00+02:00"},
        {"03:00", utc(2026, 3, 28, 12, 0), "2026-03-29T03:00:00+02:00"},
        {"01:59", utc(2026, 3, 28, 12, 0), "2026-03-29T01:59:00+01:00"},
        {"02:30", utc(2026, 3, 29, 1, 0), "2026-03-30T02:30:00+02:00"},    // ran at the end of the gap
        {"02:30", utc(2026, 10, 24, 12, 0), "2026-10-25T02:30:00+02:00"},  // repeated: the first one
        {"02:30", utc(2026, 10, 25, 0, 30), "2026-10-26T02:30:00+01:00"},  // ... and not again an hour later
        {"02:30", utc(2026, 10, 25, 1, 0), "2026-10-26T02:30:00+01:00"},   // started within the repeated hour
        {"03:00", utc(2026, 10, 25, 0, 30), "2026-10-25T03:00:00+01:00"},
    };
    SystemWallClock zone;
    for (const auto& c : cases) {
        const auto next = nextRun(schedule("s", "S", c.at, kEveryDay), zone, c.after);
        EXPECT_EQ(isoLocalTime(zone, next), c.next) << c.at << " after " << isoLocalTime(zone, c.after);
    }

    // The whole autumn night on the loop: one run at 02:30.
    startAt(utc(2026, 10, 24, 22, 0));  // 00:00 CEST
    ASSERT_FALSE(scheduler_->put(schedule("night", "Dark", "02:30", kEveryDay)));
    scheduler_->start();
    loop_.advance(6 * 60 * kMinuteMs);
    EXPECT_EQ(recalls_, std::vector<std::string>{"2026-10-25T02:30:00+02:00 Dark"});
}

TEST_F(SchedulerTest, LinkDownWhenDueAndStartedLate)
{
    struct Case {
        int startMinute;  // after 07:00
        int catchUpMinutes;
        std::int64_t linkBackAfterMs;  // from 07:30; 0: the link stays up
        std::vector<std::string> recalls;
        std::vector<std::string> reports;
    } cases[] = {
        {0,
         5,
         4 * kMinuteMs + 59'000,
         {"2026-06-01T07:34:59+02:00 Signage"},
         {"2026-06-01T07:34:59+02:00 lobby done for 2026-06-01T07:30:00+02:00"}},
        {0, 5, 5 * kMinuteMs + 1000, {}, {"2026-06-01T07:35:00+02:00 lobby missed for 2026-06-01T07:30:00+02:00"}},
        {0, 0, 1000, {}, {"2026-06-01T07:30:00+02:00 lobby missed for 2026-06-01T07:30:00+02:00"}},
        {0,
         60,
         59 * kMinuteMs,
         {"2026-06-01T08:29:00+02:00 Signage"},
         {"2026-06-01T08:29:00+02:00 lobby done for 2026-06-01T07:30:00+02:00"}},
        {60, 5, 0, {}, {}},  // matrixd was not running at 07:30: nothing is replayed
    };
    for (const auto& c : cases) {
        recalls_.clear();
        reports_.clear();
        loop_ = ManualLoop();
        startAt(utc(2026, 6, 1, 5, c.startMinute), c.catchUpMinutes);
        ASSERT_FALSE(scheduler_->put(schedule("lobby", "Signage", "07:30", kEveryDay)));
        scheduler_->start();
        if (c.linkBackAfterMs > 0) {
            linkUp_ = false;
            loop_.advance(30 * kMinuteMs + c.linkBackAfterMs - c.startMinute * kMinuteMs);
            linkUp_ = true;
            scheduler_->linkUp();
        }
        loop_.advance(2 * 60 * kMinuteMs);  // nothing more until tomorrow
        EXPECT_EQ(recalls_, c.recalls) << c.catchUpMinutes << " " << c.linkBackAfterMs;
        EXPECT_EQ(reports_, c.reports) << c.catchUpMinutes << " " << c.linkBackAfterMs;
        EXPECT_EQ(scheduler_->nextRunText("lobby"), "2026-06-02T07:30:00+02:00");
        scheduler_.reset();
    }
}

TEST(Schedule, WhatAClientSendsIsChecked)
{
    struct Case {
        std::string name;
        std::string scene;
        std::string at;
        std::vector<std::string> days;
        std::string error;  // empty: accepted
    } cases[] = {
        {"lobby", "Signage", "00:00", {"sun"}, ""},
        {"lobby", "Signage", "23:59", {"Mon", "mon"}, ""},
        {"lobby", "Signage", "24:00", {"mon"}, "at must be HH:MM from 00:00 to 23:59, not '24:00'"},
        {"lobby", "Signage", "07:60", {"mon"}, "at must be HH:MM from 00:00 to 23:59, not '07:60'"},
        {"lobby", "Signage", "7:30", {"mon"}, "at must be HH:MM from 00:00 to 23:59, not '7:30'"},
        {"lobby", "Signage", "07:30", {"monday"}, "unknown day 'monday' (days are mon tue wed thu fri sat sun)"},
        {"lobby", "Signage", "07:30", {}, "days must name at least one of mon tue wed thu fri sat sun"},
        {"lobby", "", "07:30", {"mon"}, "a schedule needs a scene"},
        {"a/b", "Signage", "07:30", {"mon"}, "a schedule name is 1-64 characters without '/' or control characters"},
        {"", "Signage", "07:30", {"mon"}, "a schedule name is 1-64 characters without '/' or control characters"},
    };
    for (const auto& c : cases) {
        const auto checked = makeSchedule(c.name, c.scene, c.at, c.days);
        EXPECT_EQ(checked.error, c.error) << c.at;
        EXPECT_EQ(checked.schedule.has_value(), c.error.empty()) << c.at;
    }
    const auto both = makeSchedule("x", "S", "07:05", {"sun", "wed", "mon"});
    EXPECT_EQ(atText(both.schedule->atMinute), "07:05");
    EXPECT_EQ(dayNames(both.schedule->days), (std::vector<std::string>{"mon", "wed", "sun"}));
}

TEST_F(SchedulerTest, AMatrixKeepsAtMost64)
{
    startAt(utc(2026, 6, 1, 5, 0));
    for (int i = 0; i < 64; ++i)
        ASSERT_FALSE(scheduler_->put(schedule("s" + std::to_string(i), "S", "07:30", {"mon"})));
    EXPECT_EQ(scheduler_->put(schedule("one-more", "S", "07:30", {"mon"})), "a matrix keeps at most 64 schedules");
    EXPECT_FALSE(scheduler_->put(schedule("s0", "Other", "08:00", {"tue"})));  // replacing is not adding
    EXPECT_EQ(scheduler_->naming("Other"), std::vector<std::string>{"s0"});
}

}  // namespace
}  // namespace matrix::service
