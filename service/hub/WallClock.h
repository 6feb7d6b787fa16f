// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

namespace matrix::service {

// Calendar time and the local time zone, apart from the event loop's
// monotonic clock: schedules are set in local wall time, which jumps at
// daylight-saving changes. Tests give a virtual clock; the rules of a zone
// come from the process (TZ, else /etc/localtime), as for every program here.
class WallClock {
public:
    virtual ~WallClock() = default;
    // Milliseconds since 1970-01-01 UTC.
    virtual std::int64_t nowUnixMs() const = 0;
    // Local time minus UTC at that instant, e.g. 7200 for CEST.
    virtual int utcOffsetSeconds(std::int64_t unixSeconds) const = 0;
};

// The machine's clock and the process's zone rules (localtime_r).
class SystemWallClock : public WallClock {
public:
    std::int64_t nowUnixMs() const override;
    int utcOffsetSeconds(std::int64_t unixSeconds) const override;
};

// One for the process.
const WallClock& systemWallClock();

// "2026-03-29T03:00:00+02:00": local time with its offset (ISO 8601).
std::string isoLocalTime(const WallClock& clock, std::int64_t unixSeconds);

}  // namespace matrix::service
