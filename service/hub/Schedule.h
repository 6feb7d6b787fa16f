// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/WallClock.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service {

constexpr std::size_t kSchedulesPerMatrixMax = 64;

// Bit 0 is Monday ... bit 6 is Sunday.
using DaySet = std::uint8_t;

// Recall `scene` at `atMinute` (minutes after local midnight) on `days`.
struct Schedule {
    std::string name;
    std::string scene;
    int atMinute = 0;
    DaySet days = 0;
    friend bool operator==(const Schedule&, const Schedule&) = default;
};

struct ScheduleCheck {
    std::optional<Schedule> schedule;
    std::string error;  // set when schedule is empty
};

// Checks what a client sent: a name of 1-64 characters without '/' or control
// characters, a scene name, `at` as "HH:MM" from "00:00" to "23:59", and one or
// more of "mon" "tue" "wed" "thu" "fri" "sat" "sun". Whether the scene exists
// is the caller's to check.
ScheduleCheck makeSchedule(const std::string& name, const std::string& scene, std::string_view at,
                           const std::vector<std::string>& days);

std::optional<int> parseAt(std::string_view text);  // minutes after midnight
std::string atText(int atMinute);                   // "07:30"
std::vector<std::string> dayNames(DaySet days);     // in week order, from Monday

// The first run strictly after `afterUnixSeconds`. A time that a
// daylight-saving change skips runs at the first minute after the gap; a time
// that a change repeats runs at its first occurrence only.
std::int64_t nextRun(const Schedule& schedule, const WallClock& clock, std::int64_t afterUnixSeconds);

}  // namespace matrix::service
