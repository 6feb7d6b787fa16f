// SPDX-License-Identifier: Apache-2.0
#include "service/hub/WallClock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace matrix::service {

std::int64_t SystemWallClock::nowUnixMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int SystemWallClock::utcOffsetSeconds(std::int64_t unixSeconds) const
{
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (!::localtime_r(&t, &local))
        return 0;
    return static_cast<int>(local.tm_gmtoff);
}

std::string isoLocalTime(const WallClock& clock, std::int64_t unixSeconds)
{
    using namespace std::chrono;
    const int offset = clock.utcOffsetSeconds(unixSeconds);
    const sys_seconds local{seconds{unixSeconds + offset}};
    const auto day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{local - day};
    const int offsetMinutes = std::abs(offset) / 60;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d%c%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), offset < 0 ? '-' : '+', offsetMinutes / 60,
                  offsetMinutes % 60);
    return text;
}

const WallClock& systemWallClock()
{
    static const SystemWallClock clock;
    return clock;
}

}  // namespace matrix::service
