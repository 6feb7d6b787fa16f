// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"

#include <cstdint>
#include <vector>

// The frames the client sends and the replies it takes, with the waits the
// pages use for them, so the conversation code reads by name.
namespace matrix::client::requests {

using Bytes = std::vector<std::uint8_t>;

// How long a request waits for its reply: at first, and after a re-send.
struct Waits {
    int firstMs;
    int secondMs;
};
constexpr Waits kWaits{5000, 5000};       // most requests
constexpr Waits kRouteWaits{3000, 5000};  // a single route, and the first routing query

Bytes deviceTypeQuery();
Bytes sizeQuery();
Bytes versionQuery();
Bytes inputCableQuery(int input);
Bytes outputCableQuery(int output);
Bytes routingQuery(int output);
Bytes route(int input, int output);
Bytes beepSet(bool on);
Bytes beepQuery();
Bytes irSet(bool on);
Bytes irQuery();
Bytes edidModeRequest();  // asks the matrix to take EDID settings
Bytes resetEdidMode();    // the factory EDID on all inputs

// EDID. `target` is an input 1..4, or 0 for all inputs.
constexpr int kEdidBlockDelayMs = 200;  // from the announce to the block
Bytes edidSwitchStateQuery();
Bytes edidSetMode(int mode, int target);  // mode 1..15
Bytes edidSetDefault(int target);
Bytes edidCopy(int output, int target);
Bytes edidDownloadRequest(int target);
Bytes edidDownloadAnnounce(int target);
Bytes edidTransferBlock(const std::uint8_t* edid256);
Bytes edidStatusQuery(int input);

// Firmware. `sub` is the part's sub-command: 1 for part 1, 2 for part 2.
constexpr std::size_t kFirmwareBlockDataBytes = 256;
// In the order of an upgrade: the waits of each request, the pauses before some.
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
Bytes firmwareStart(int sub);
Bytes firmwarePrepare();
Bytes firmwareSecondPrepare();
Bytes firmwareAnnounce(int sub, int blockIndex, bool last);
// The 257-byte block: a sum byte, then 256 bytes of `image` from `from`
// (zeros past `end`).
Bytes firmwareBlock(const std::vector<std::uint8_t>& image, std::size_t from, std::size_t end);
Bytes rebootPoll();

bool isStandby(const CommandFrame& f);
bool isDeviceTypeReply(const CommandFrame& f);
bool isSizeReply(const CommandFrame& f);
bool isVersionReply(const CommandFrame& f);
bool isInputCableReply(const CommandFrame& f, int input);
bool isOutputCableReply(const CommandFrame& f, int output);
bool cableConnected(const CommandFrame& f);
bool isRoutingReply(const CommandFrame& f, int output);
bool isRouteAck(const CommandFrame& f, int output);
bool isBeepAck(const CommandFrame& f);
bool isResetBeepAck(const CommandFrame& f);
bool isBeepStateReply(const CommandFrame& f);
bool isIrAck(const CommandFrame& f);
bool isIrStateReply(const CommandFrame& f);
bool featureOn(const CommandFrame& f);  // IR or beep state reply
bool isEdidModeRequestAck(const CommandFrame& f);
bool isEdidSetAck(const CommandFrame& f);

bool isEdidSwitchState(const CommandFrame& f);
bool edidSwitchesRefuse(const CommandFrame& f);  // the front-panel switches are not at [1111]
bool isEdidModeReply(const CommandFrame& f);
bool isEdidSetModeReply(const CommandFrame& f, int target);
bool isEdidSetDefaultReply(const CommandFrame& f, int target);
bool isEdidCopyReply(const CommandFrame& f, int target);
bool isEdidDownloadReady(const CommandFrame& f, int target);
bool isEdidDownloadResult(const CommandFrame& f, int target);
bool edidResultOk(const CommandFrame& f);  // copy and download results
bool isEdidStatusReply(const CommandFrame& f, int input);
int edidStatusCode(const CommandFrame& f);  // signed

bool isFirmwareStartAccept(const CommandFrame& f, int sub);
bool isFirmwareStartReject(const CommandFrame& f, int sub);
bool isFirmwarePrepareReply(const CommandFrame& f);
bool isFirmwareBlockAck(const CommandFrame& f, int sub, int blockIndex);
bool isFirmwareFinalAck(const CommandFrame& f, int sub);
bool isRebootAnswer(const CommandFrame& f);

}  // namespace matrix::client::requests
