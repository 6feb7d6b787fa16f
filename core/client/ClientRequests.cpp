// SPDX-License-Identifier: Apache-2.0
#include "core/client/ClientRequests.h"

namespace matrix::client::requests {

namespace {
constexpr int kStatus = 0x01;
constexpr int kRouting = 0x02;
constexpr int kEdid = 0x03;
constexpr int kIr = 0x05;
constexpr int kBeep = 0x06;
constexpr int kStandby = 0x88;

constexpr int kDeviceType = 0x01;
constexpr int kSize = 0x02;
constexpr int kVersion = 0x03;
constexpr int kInputCable = 0x04;
constexpr int kOutputCable = 0x05;
constexpr int kIrState = 0x0A;
constexpr int kBeepState = 0x0B;
constexpr int kRoutingQuery = 0x01;
constexpr int kRoute = 0x03;
constexpr int kSet = 0x01;
constexpr int kEdidSetMode = 0x01;
constexpr int kEdidModeRequest = 0x08;

constexpr int kOn = 0x0F;
constexpr int kOff = 0xF0;
constexpr int kAllInputs = 0xF0;
constexpr int kFactoryEdidMode = 4;
constexpr std::uint8_t kNone = 0xFF;  // no cable; feature off

Bytes frame(int command, int subCommand, int p1, int p2 = 0, int p3 = 0)
{
    CommandFrame f = CommandFrame().set(2, command).set(3, subCommand).set(4, p1).set(5, p2).set(6, p3).seal();
    return Bytes(f.bytes().begin(), f.bytes().end());
}
}  // namespace

Bytes deviceTypeQuery() { return frame(kStatus, kDeviceType, 0); }
Bytes sizeQuery() { return frame(kStatus, kSize, 0); }
Bytes versionQuery() { return frame(kStatus, kVersion, 0); }
Bytes inputCableQuery(int input) { return frame(kStatus, kInputCable, input); }
Bytes outputCableQuery(int output) { return frame(kStatus, kOutputCable, output); }
Bytes routingQuery(int output) { return frame(kRouting, kRoutingQuery, output); }
Bytes route(int input, int output) { return frame(kRouting, kRoute, input, 0, output); }
Bytes beepSet(bool on) { return frame(kBeep, kSet, on ? kOn : kOff); }
Bytes beepQuery() { return frame(kStatus, kBeepState, 0); }
Bytes irSet(bool on) { return frame(kIr, kSet, on ? kOn : kOff); }
Bytes irQuery() { return frame(kStatus, kIrState, 0); }
Bytes edidModeRequest() { return frame(kEdid, kEdidModeRequest, kAllInputs); }
Bytes resetEdidMode() { return frame(kEdid, kEdidSetMode, kFactoryEdidMode, kAllInputs); }

bool isStandby(const CommandFrame& f) { return f.is(kStandby, kStandby); }
bool isDeviceTypeReply(const CommandFrame& f) { return f.is(kStatus, kDeviceType); }
bool isSizeReply(const CommandFrame& f) { return f.is(kStatus, kSize); }
bool isVersionReply(const CommandFrame& f) { return f.is(kStatus, kVersion); }
bool isInputCableReply(const CommandFrame& f, int input) { return f.is(kStatus, kInputCable) && f.p1() == input; }
bool isOutputCableReply(const CommandFrame& f, int output) { return f.is(kStatus, kOutputCable) && f.p1() == output; }
bool cableConnected(const CommandFrame& f) { return f.p3() != kNone; }
bool isRoutingReply(const CommandFrame& f, int output) { return f.is(kRouting, kRoutingQuery) && f.p1() == output; }
bool isRouteAck(const CommandFrame& f, int output) { return f.is(kRouting, kRoute) && f.p1() == 0 && f.p3() == output; }
bool isBeepAck(const CommandFrame& f) { return f.is(kBeep, kSet) && f.p3() == 0; }
bool isResetBeepAck(const CommandFrame& f) { return f.is(kBeep, kSet) && f.p1() == 0 && f.p3() == 0; }
bool isBeepStateReply(const CommandFrame& f) { return f.is(kStatus, kBeepState); }
bool isIrAck(const CommandFrame& f) { return f.is(kIr, kSet) && f.p3() == 0; }
bool isIrStateReply(const CommandFrame& f) { return f.is(kStatus, kIrState); }
bool featureOn(const CommandFrame& f) { return f.p3() != kNone; }
bool isEdidModeRequestAck(const CommandFrame& f) { return f.is(kEdid, kEdidModeRequest) && f.p1() == 0 && f.p3() == 0; }
bool isEdidSetAck(const CommandFrame& f) { return f.is(kEdid, kEdidSetMode) && f.p1() == 0 && f.p3() == 0; }

}  // namespace matrix::client::requests
