// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"

#include <cstdint>
#include <vector>

// The frames the client sends and the replies it takes, with their waits:
// one place for the bytes, so the conversation code reads by name.
namespace matrix::client::requests {

using Bytes = std::vector<std::uint8_t>;

constexpr int kFirstWaitMs = 5000;       // first wait of most requests
constexpr int kSecondWaitMs = 5000;      // wait after the one re-send
constexpr int kRouteFirstWaitMs = 3000;  // a single route, and the first routing query

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

}  // namespace matrix::client::requests
