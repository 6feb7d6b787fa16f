// SPDX-License-Identifier: Apache-2.0
#include "core/client/ClientRequests.h"

#include <algorithm>

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
constexpr int kEdidSetModeOne = 0x02;
constexpr int kEdidCopyAll = 0x03;
constexpr int kEdidCopyOne = 0x04;
constexpr int kEdidDownloadAll = 0x06;
constexpr int kEdidDownloadOne = 0x07;
constexpr int kEdidDefaultAll = 0x09;
constexpr int kEdidDefaultOne = 0x0A;
constexpr int kEdidSwitchState = 0x0B;
constexpr int kEdidStatus = 0x0C;
constexpr int kEdidAllTargets = 0xFE;
constexpr int kEdidReady = 0xAA;
constexpr int kEdidAnnounce = 0x56;

constexpr int kUpgrade = 0x20;
constexpr int kFirmwareStartP1 = 0x01;
constexpr int kFirmwarePrepare = 0x80;
constexpr int kFirmwareSecondPrepare = 0x10;
constexpr int kFirmwareAccept = 0xAA;
constexpr int kFirmwareReject = 0x44;
constexpr int kFirmwareLast = 0x56;
constexpr int kFirmwareFinalForm = 0xFE;

constexpr int kOn = 0x0F;
constexpr int kOff = 0xF0;
constexpr int kAllInputs = 0xF0;
constexpr int kFactoryEdidMode = 4;
constexpr std::uint8_t kNone = 0xFF;  // no cable; feature off

Bytes bytesOf(const CommandFrame& f) { return Bytes(f.bytes().begin(), f.bytes().end()); }

Bytes frame(int command, int subCommand, int p1, int p2 = 0, int p3 = 0)
{
    return bytesOf(CommandFrame().set(2, command).set(3, subCommand).set(4, p1).set(5, p2).set(6, p3).seal());
}

// Bytes 6, 7, 8 and 10 of a firmware frame are all zero.
bool firmwareTailZero(const CommandFrame& f) { return f[6] == 0 && f[7] == 0 && f[8] == 0 && f[10] == 0; }

int downloadSub(int target) { return target == 0 ? kEdidDownloadAll : kEdidDownloadOne; }
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

Bytes edidSwitchStateQuery() { return frame(kEdid, kEdidSwitchState, 0); }

Bytes edidSetMode(int mode, int target)
{
    return target == 0 ? frame(kEdid, kEdidSetMode, mode, kAllInputs) : frame(kEdid, kEdidSetModeOne, mode, kAllInputs, target);
}

Bytes edidSetDefault(int target)
{
    return target == 0 ? frame(kEdid, kEdidDefaultAll, kEdidAllTargets) : frame(kEdid, kEdidDefaultOne, target);
}

Bytes edidCopy(int output, int target)
{
    return target == 0 ? frame(kEdid, kEdidCopyAll, output) : frame(kEdid, kEdidCopyOne, output, 0, target);
}

Bytes edidDownloadRequest(int target)
{
    return frame(kEdid, downloadSub(target), target == 0 ? kEdidAllTargets : target, kAllInputs);
}

Bytes edidDownloadAnnounce(int target)
{
    return bytesOf(CommandFrame().set(2, kEdid).set(3, downloadSub(target)).set(4, kEdidAnnounce).set(7, 1).seal());
}

Bytes edidTransferBlock(const std::uint8_t* edid256)
{
    // A zero lead byte, the 256 EDID bytes, then zeros to the block's length.
    Bytes block(kEdidTransferBytes, 0);
    std::copy(edid256, edid256 + 256, block.begin() + 1);
    return block;
}

Bytes edidStatusQuery(int input) { return frame(kStatus, kEdidStatus, input); }

Bytes firmwareStart(int sub)
{
    return bytesOf(CommandFrame::firmware(kUpgrade, sub, kFirmwareStartP1, 0, 0, 0));
}
Bytes firmwarePrepare() { return bytesOf(CommandFrame::firmware(kUpgrade, 1, kFirmwarePrepare, 0, 0, 0)); }
Bytes firmwareSecondPrepare() { return bytesOf(CommandFrame::firmware(kUpgrade, 1, kFirmwareSecondPrepare, 0, 0, 0)); }

Bytes firmwareAnnounce(int sub, int blockIndex, bool last)
{
    if (last)
        return bytesOf(CommandFrame::firmware(kUpgrade, sub, kFirmwareLast, 0, 1, blockIndex, true));
    return bytesOf(CommandFrame::firmware(kUpgrade, sub, kFirmwareAccept, 1, 1, blockIndex));
}

Bytes firmwareBlock(const std::vector<std::uint8_t>& image, std::size_t from, std::size_t end)
{
    Bytes block(kFirmwareBlockDataBytes + 1, 0);
    unsigned sum = 0;
    for (std::size_t i = 0; i < kFirmwareBlockDataBytes; ++i) {
        const std::size_t at = from + i;
        const std::uint8_t byte = at < end && at < image.size() ? image[at] : 0;
        block[i + 1] = byte;
        sum += byte;
    }
    block[0] = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
    return block;
}

Bytes rebootPoll() { return deviceTypeQuery(); }

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

bool isEdidSwitchState(const CommandFrame& f) { return f.is(kEdid, kEdidSwitchState) && f.p2() == 0; }
bool isEdidModeReply(const CommandFrame& f) { return f.is(kEdid, kEdidModeRequest); }

bool isEdidSetModeReply(const CommandFrame& f, int target)
{
    return target == 0 ? f.is(kEdid, kEdidSetMode) : f.is(kEdid, kEdidSetModeOne) && f.p3() == target;
}

bool isEdidSetDefaultReply(const CommandFrame& f, int target)
{
    return f.is(kEdid, target == 0 ? kEdidDefaultAll : kEdidDefaultOne);
}

bool isEdidCopyReply(const CommandFrame& f, int target)
{
    return target == 0 ? f.is(kEdid, kEdidCopyAll) : f.is(kEdid, kEdidCopyOne) && f.p3() == target;
}

bool isEdidDownloadReady(const CommandFrame& f, int target)
{
    return f.is(kEdid, downloadSub(target)) && f.p1() == kEdidReady && f[7] == 0;
}

bool isEdidDownloadResult(const CommandFrame& f, int target) { return f.is(kEdid, downloadSub(target)) && f[7] == 1; }
bool edidResultOk(const CommandFrame& f) { return f.p1() == 0; }
bool isEdidStatusReply(const CommandFrame& f, int input) { return f.is(kStatus, kEdidStatus) && f.p1() == input && f.p2() == 0; }
int edidStatusCode(const CommandFrame& f) { return static_cast<std::int8_t>(f.p3()); }

bool isFirmwareStartAccept(const CommandFrame& f, int sub)
{
    if (!f.is(kUpgrade, sub) || f.p1() != kFirmwareAccept)
        return false;
    return sub == 1 ? firmwareTailZero(f) : f[7] == 0;
}

bool isFirmwareStartReject(const CommandFrame& f, int sub)
{
    return f.is(kUpgrade, sub) && f.p1() == kFirmwareReject && firmwareTailZero(f);
}

bool isFirmwarePrepareReply(const CommandFrame& f) { return f.is(kUpgrade, 1) && f.p1() == 0 && firmwareTailZero(f); }

bool isFirmwareBlockAck(const CommandFrame& f, int sub, int blockIndex)
{
    return f.is(kUpgrade, sub) && f.p1() == 0 && f[7] == 1 && f[8] == 1 && f[10] == (blockIndex & 0xFF);
}

bool isFirmwareFinalAck(const CommandFrame& f, int sub)
{
    return f.is(kUpgrade, sub) && f.p1() == 0 && f[6] == kFirmwareFinalForm && f[7] == 0 && f[8] == 1;
}

bool isRebootAnswer(const CommandFrame& f) { return f.is(kStatus, kDeviceType) && f.p1() == 1 && f.p2() == 0; }

}  // namespace matrix::client::requests
