// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Scheduler.h"

#include <algorithm>

namespace matrix::service {

namespace {

constexpr int kWakeTimerId = 1;
// The loop's timers run on a monotonic clock while schedules follow the wall
// clock, which NTP or an operator may move: never sleep longer than this
// without looking at the wall clock again.
constexpr std::int64_t kWakeMsMax = 60'000;

}  // namespace

const char* scheduleResultText(ScheduleResult result)
{
    switch (result) {
    case ScheduleResult::Done: return "done";
    case ScheduleResult::Failed: return "failed";
    case ScheduleResult::Missed: break;
    }
    return "missed";
}

Scheduler::Scheduler(EventLoop& loop, const WallClock& clock, int catchUpMinutes, Hooks hooks)
    : loop_(loop),
      clock_(clock),
      catchUpSeconds_(std::int64_t{catchUpMinutes} * 60),
      hooks_(std::move(hooks))
{
}

Scheduler::~Scheduler()
{
    *alive_ = false;
    loop_.killTimer(this, kWakeTimerId);
}

std::int64_t Scheduler::nowSeconds() const
{
    const std::int64_t ms = clock_.nowUnixMs();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

void Scheduler::start()
{
    if (started_)
        return;
    started_ = true;
    const std::int64_t now = nowSeconds();
    for (auto& [name, entry] : entries_)
        entry.nextUnixSeconds = nextRun(entry.schedule, clock_, now);
    arm();
}

void Scheduler::stop()
{
    started_ = false;
    waiting_.clear();
    loop_.killTimer(this, kWakeTimerId);
}

std::optional<std::string> Scheduler::put(const Schedule& schedule)
{
    if (!entries_.contains(schedule.name) && entries_.size() >= kSchedulesPerMatrixMax)
        return "a matrix keeps at most " + std::to_string(kSchedulesPerMatrixMax) + " schedules";
    entries_[schedule.name] = {schedule, started_ ? nextRun(schedule, clock_, nowSeconds()) : 0};
    waiting_.erase(schedule.name);
    if (started_)
        arm();
    return std::nullopt;
}

bool Scheduler::remove(const std::string& name)
{
    waiting_.erase(name);
    if (entries_.erase(name) == 0)
        return false;
    if (started_)
        arm();
    return true;
}

std::vector<Schedule> Scheduler::schedules() const
{
    std::vector<Schedule> list;
    for (const auto& [name, entry] : entries_)
        list.push_back(entry.schedule);
    return list;
}

std::optional<Schedule> Scheduler::find(const std::string& name) const
{
    const auto it = entries_.find(name);
    return it == entries_.end() ? std::nullopt : std::optional<Schedule>(it->second.schedule);
}

std::vector<std::string> Scheduler::naming(const std::string& scene) const
{
    std::vector<std::string> names;
    for (const auto& [name, entry] : entries_)
        if (entry.schedule.scene == scene)
            names.push_back(name);
    return names;
}

std::optional<std::int64_t> Scheduler::nextRunUnixSeconds(const std::string& name) const
{
    const auto it = entries_.find(name);
    if (!started_ || it == entries_.end())
        return std::nullopt;
    return it->second.nextUnixSeconds;
}

std::optional<std::string> Scheduler::nextRunText(const std::string& name) const
{
    const auto next = nextRunUnixSeconds(name);
    return next ? std::optional<std::string>(isoLocalTime(clock_, *next)) : std::nullopt;
}

void Scheduler::linkUp()
{
    if (!started_ || waiting_.empty())
        return;
    const std::int64_t now = nowSeconds();
    missExpired(now);
    auto ready = std::move(waiting_);
    waiting_.clear();
    for (const auto& [name, waiting] : ready)
        run(name, waiting.scene, waiting.dueUnixSeconds);
    arm();
}

void Scheduler::missExpired(std::int64_t now)
{
    std::vector<ScheduleRun> missed;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (now < it->second.dueUnixSeconds + catchUpSeconds_) {
            ++it;
            continue;
        }
        missed.push_back(
            {it->first, it->second.scene, ScheduleResult::Missed, it->second.dueUnixSeconds, "the link was down"});
        it = waiting_.erase(it);
    }
    // Reported after the walk: a report may change the schedules.
    for (const auto& run : missed)
        hooks_.report(run);
}

void Scheduler::wake()
{
    const std::int64_t now = nowSeconds();
    if (hooks_.linkUp())
        linkUp();
    missExpired(now);
    // By name, so that runs due together start in a known order.
    std::vector<std::pair<std::string, std::int64_t>> due;
    for (auto& [name, entry] : entries_) {
        if (entry.nextUnixSeconds > now)
            continue;
        due.emplace_back(name, entry.nextUnixSeconds);
        entry.nextUnixSeconds = nextRun(entry.schedule, clock_, std::max(entry.nextUnixSeconds, now));
    }
    for (const auto& [name, dueUnixSeconds] : due) {
        const auto entry = entries_.find(name);
        if (entry == entries_.end())
            continue;  // removed by an earlier report
        const std::string scene = entry->second.schedule.scene;
        if (now >= dueUnixSeconds + std::max<std::int64_t>(catchUpSeconds_, 60)) {
            // The loop itself was held up (a suspended machine, a clock set forward): as late as a missed link.
            hooks_.report({name, scene, ScheduleResult::Missed, dueUnixSeconds, "the time passed unnoticed"});
        } else if (hooks_.linkUp()) {
            run(name, scene, dueUnixSeconds);
        } else if (catchUpSeconds_ == 0) {
            hooks_.report({name, scene, ScheduleResult::Missed, dueUnixSeconds, "the link was down"});
        } else {
            waiting_[name] = {scene, dueUnixSeconds};
        }
    }
    arm();
}

void Scheduler::run(const std::string& name, const std::string& scene, std::int64_t dueUnixSeconds)
{
    hooks_.recall(scene, [alive = alive_, this, name, scene, dueUnixSeconds](bool ok, std::string why) {
        if (!*alive)
            return;
        hooks_.report(
            {name, scene, ok ? ScheduleResult::Done : ScheduleResult::Failed, dueUnixSeconds, std::move(why)});
    });
}

void Scheduler::arm()
{
    if (!started_)
        return;
    std::optional<std::int64_t> earliest;
    auto consider = [&](std::int64_t unixSeconds) {
        if (!earliest || unixSeconds < *earliest)
            earliest = unixSeconds;
    };
    for (const auto& [name, entry] : entries_)
        consider(entry.nextUnixSeconds);
    for (const auto& [name, waiting] : waiting_)
        consider(waiting.dueUnixSeconds + catchUpSeconds_);
    if (!earliest) {
        loop_.killTimer(this, kWakeTimerId);
        return;
    }
    const std::int64_t delayMs = std::clamp<std::int64_t>(*earliest * 1000 - clock_.nowUnixMs(), 1, kWakeMsMax);
    loop_.startTimer(this, kWakeTimerId, static_cast<int>(delayMs), [this] { wake(); });
}

}  // namespace matrix::service
