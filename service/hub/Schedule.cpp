// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Schedule.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>

namespace matrix::service {

namespace {

constexpr std::array<const char*, 7> kDayNames{"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
constexpr std::size_t kNameLengthMax = 64;
constexpr std::int64_t kDaySeconds = 86400;

std::optional<int> dayIndex(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (std::size_t i = 0; i < kDayNames.size(); ++i)
        if (lower == kDayNames[i])
            return static_cast<int>(i);
    return std::nullopt;
}

bool validName(const std::string& name)
{
    if (name.empty() || name.size() > kNameLengthMax)
        return false;
    return std::none_of(name.begin(), name.end(), [](unsigned char c) { return c == '/' || c < 0x20 || c == 0x7f; });
}

// Local wall time as if it were UTC: seconds from 1970-01-01 00:00 local.
std::int64_t localSeconds(const WallClock& clock, std::int64_t unixSeconds)
{
    return unixSeconds + clock.utcOffsetSeconds(unixSeconds);
}

// The instant a local day's wall time happens: the first of two in a repeated
// hour, the end of the gap for a skipped one.
std::int64_t instantOf(const WallClock& clock, std::int64_t wallSeconds)
{
    // A zone changes its offset at most once within a day around the time.
    std::array<int, 3> offsets{clock.utcOffsetSeconds(wallSeconds - kDaySeconds), clock.utcOffsetSeconds(wallSeconds),
                               clock.utcOffsetSeconds(wallSeconds + kDaySeconds)};
    std::sort(offsets.begin(), offsets.end());
    // The largest offset gives the earliest instant.
    for (auto it = offsets.rbegin(); it != offsets.rend(); ++it)
        if (localSeconds(clock, wallSeconds - *it) == wallSeconds)
            return wallSeconds - *it;
    // Skipped: the change lies between these two instants; find it.
    std::int64_t before = wallSeconds - offsets.back();
    std::int64_t after = wallSeconds - offsets.front();
    const int laterOffset = clock.utcOffsetSeconds(after);
    while (after - before > 1) {
        const std::int64_t middle = before + (after - before) / 2;
        if (clock.utcOffsetSeconds(middle) == laterOffset)
            after = middle;
        else
            before = middle;
    }
    const std::int64_t intoMinute = localSeconds(clock, after) % 60;
    return intoMinute == 0 ? after : after + (60 - intoMinute);
}

}  // namespace

std::optional<int> parseAt(std::string_view text)
{
    if (text.size() != 5 || text[2] != ':')
        return std::nullopt;
    for (std::size_t i : {0u, 1u, 3u, 4u})
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    const int hours = (text[0] - '0') * 10 + (text[1] - '0');
    const int minutes = (text[3] - '0') * 10 + (text[4] - '0');
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return hours * 60 + minutes;
}

std::string atText(int atMinute)
{
    const int hours = atMinute / 60;
    const int minutes = atMinute % 60;
    return {static_cast<char>('0' + hours / 10), static_cast<char>('0' + hours % 10), ':',
            static_cast<char>('0' + minutes / 10), static_cast<char>('0' + minutes % 10)};
}

std::vector<std::string> dayNames(DaySet days)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kDayNames.size(); ++i)
        if (days & (1u << i))
            names.emplace_back(kDayNames[i]);
    return names;
}

ScheduleCheck makeSchedule(const std::string& name, const std::string& scene, std::string_view at,
                           const std::vector<std::string>& days)
{
    if (!validName(name))
        return {std::nullopt, "a schedule name is 1-64 characters without '/' or control characters"};
    if (scene.empty())
        return {std::nullopt, "a schedule needs a scene"};
    const auto minute = parseAt(at);
    if (!minute)
        return {std::nullopt, "at must be HH:MM from 00:00 to 23:59, not '" + std::string(at) + "'"};
    if (days.empty())
        return {std::nullopt, "days must name at least one of mon tue wed thu fri sat sun"};
    DaySet set = 0;
    for (const auto& day : days) {
        const auto index = dayIndex(day);
        if (!index)
            return {std::nullopt, "unknown day '" + day + "' (days are mon tue wed thu fri sat sun)"};
        set = static_cast<DaySet>(set | (1u << *index));
    }
    return {Schedule{name, scene, *minute, set}, {}};
}

std::int64_t nextRun(const Schedule& schedule, const WallClock& clock, std::int64_t afterUnixSeconds)
{
    using namespace std::chrono;
    const sys_days today = floor<days>(sys_seconds{seconds{localSeconds(clock, afterUnixSeconds)}});
    // Eight days cover a weekly schedule whose time today has passed.
    for (int ahead = 0; ahead <= 7; ++ahead) {
        const sys_days day = today + days{ahead};
        const unsigned isoDay = weekday{day}.iso_encoding();  // 1 Monday .. 7 Sunday
        if (!(schedule.days & (1u << (isoDay - 1))))
            continue;
        const std::int64_t wall = duration_cast<seconds>(day.time_since_epoch()).count() + schedule.atMinute * 60;
        const std::int64_t instant = instantOf(clock, wall);
        if (instant > afterUnixSeconds)
            return instant;
    }
    // No day set: never (makeSchedule does not make such a schedule).
    return INT64_MAX;
}

}  // namespace matrix::service
