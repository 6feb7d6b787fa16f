// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>

// How long each request of the command set waits for its answer, and the
// pauses some of them need, named once for every conversation that sends
// them.
namespace matrix::protocol {

// A reply's wait: at first, and after the one re-send.
struct Waits {
    int firstMs;
    int secondMs;
};
constexpr Waits kReplyWaits{5000, 5000};  // most requests
constexpr Waits kRouteWaits{3000, 5000};  // a single route, and the first routing query

constexpr int kEdidBlockDelayMs = 200;  // from the download announce to the block

// A firmware upgrade in order: the waits of each request, the pauses before some.
constexpr Waits kFirmwareStartWaits{3000, 3000};
constexpr int kFirmwarePrepareDelayMs = 200;
constexpr Waits kFirmwarePrepareWaits{3000, 3000};
constexpr Waits kFirmwareSecondPrepareWaits{4000, 4000};
constexpr int kFirmwareFirstBlockDelayMs = 200;
constexpr Waits kFirmwareFirstBlockWaits{7000, 7000};
constexpr int kFirmwareBlockDelayMs = 100;
constexpr Waits kFirmwareBlockWaits{7000, 8000};
constexpr Waits kRebootPollWaits{3000, 3000};  // every poll
constexpr int kRebootPollResends = 7;          // eight polls, then the time-out

}  // namespace matrix::protocol
