// SPDX-License-Identifier: Apache-2.0
#include "core/protocol/Protocol.h"

#include <algorithm>
#include <numeric>

namespace matrix::protocol {

namespace {

// p3 is byte 6; the EDID and firmware frames carry more in bytes 7, 8 and 10.
CommandFrame frame(int command, int sub, int p1 = 0, int p2 = 0, int p3 = 0, int byte7 = 0, int byte8 = 0,
                   int byte10 = 0)
{
    CommandFrame f = CommandFrame().set(2, command).set(3, sub).set(4, p1).set(5, p2).set(kByte6, p3);
    return f.set(kByte7, byte7).set(kByte8, byte8).set(kByte10, byte10).seal();
}

// Ports travel in one byte; the protocol has room for eight of each.
bool protocolPort(int port) { return port >= 1 && port <= 8; }

bool extraBytesZero(const CommandFrame& f)
{
    return f[kByte6] == 0 && f[kByte7] == 0 && f[kByte8] == 0 && f[kByte10] == 0;
}

CommandFrame firmwareFrame(int sub, int p1, int byte6 = 0, int byte7 = 0, int byte8 = 0, int byte10 = 0)
{
    return frame(kFirmwareCommand, sub, p1, 0, byte6, byte7, byte8, byte10);
}

CommandFrame edidFrame(int sub, int p1, int p2 = 0, int p3 = 0, int byte7 = 0)
{
    return frame(kEdidCommand, sub, p1, p2, p3, byte7);
}

int edidResult(bool ok) { return ok ? kEdidResultOk : kEdidResultFailed; }
int stateByte(bool on) { return on ? kCablePresent : kNoCable; }

// A status reply of this sub-command, read as `value`.
template <typename T>
std::optional<T> statusReply(const CommandFrame& f, int sub, T value)
{
    if (!f.is(kStatusCommand, sub))
        return std::nullopt;
    return value;
}

}  // namespace

EdidTransferBlock edidTransferBlock(const std::uint8_t* edid256)
{
    EdidTransferBlock block{};
    std::copy(edid256, edid256 + kEdidDataBytes, block.begin() + kEdidLeadBytes);
    return block;
}

FirmwareBlock firmwareBlockAt(const std::vector<std::uint8_t>& image, std::size_t from, std::size_t end)
{
    FirmwareBlock block{};
    end = std::min({end, image.size(), from + kFirmwareBlockDataBytes});
    if (from < end)
        std::copy(image.data() + from, image.data() + end, block.begin() + 1);
    const unsigned sum = std::accumulate(block.begin() + 1, block.end(), 0u);
    block[0] = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
    return block;
}

CommandFrame deviceTypeRequest() { return frame(kStatusCommand, kDeviceTypeSub); }
CommandFrame matrixSizeRequest() { return frame(kStatusCommand, kMatrixSizeSub); }
CommandFrame versionRequest() { return frame(kStatusCommand, kVersionSub); }
CommandFrame inputCableRequest(Input input) { return frame(kStatusCommand, kInputCableSub, input.number()); }
CommandFrame outputCableRequest(Output output) { return frame(kStatusCommand, kOutputCableSub, output.number()); }
CommandFrame irStateRequest() { return frame(kStatusCommand, kIrStateSub); }
CommandFrame beepStateRequest() { return frame(kStatusCommand, kBeepStateSub); }
CommandFrame irRequest(bool on) { return frame(kIrCommand, kSwitchSub, on ? kOn : kOff); }
CommandFrame beepRequest(bool on) { return frame(kBeepCommand, kSwitchSub, on ? kOn : kOff); }

CommandFrame routeQueryRequest(Output output) { return frame(kRoutingCommand, kRouteQuerySub, output.number()); }
CommandFrame routeRequest(Output output, Input input)
{
    return frame(kRoutingCommand, kRouteSub, input.number(), 0, output.number());
}

CommandFrame edidStatusRequest(Input input) { return frame(kStatusCommand, kEdidStatusSub, input.number()); }
CommandFrame edidModeRequest() { return edidFrame(kEdidModeRequestSub, kEdidModeRequestValue); }
CommandFrame edidSwitchStateRequest() { return edidFrame(kEdidSwitchStateSub, 0); }

CommandFrame edidSetModeRequest(int mode, Input target)
{
    if (target.isAll())
        return edidFrame(kEdidModeAllSub, mode, kEdidBuiltInValue);
    return edidFrame(kEdidModeOneSub, mode, kEdidBuiltInValue, target.number());
}

CommandFrame edidDefaultRequest(Input target)
{
    return target.isAll() ? edidFrame(kEdidDefaultAllSub, kEdidAllInputs)
                          : edidFrame(kEdidDefaultOneSub, target.number());
}

CommandFrame edidCopyRequest(Output from, Input target)
{
    return target.isAll() ? edidFrame(kEdidCopyAllSub, from.number())
                          : edidFrame(kEdidCopyOneSub, from.number(), 0, target.number());
}

int edidDownloadSub(Input target) { return target.isAll() ? kEdidDownloadAllSub : kEdidDownloadOneSub; }

CommandFrame edidDownloadRequest(Input target)
{
    return edidFrame(edidDownloadSub(target), target.isAll() ? kEdidAllInputs : target.number(), kEdidBuiltInValue);
}
CommandFrame edidDownloadAnnounce(int sub) { return edidFrame(sub, kEdidDownloadAnnounce, 0, 0, 1); }

CommandFrame firmwareStartRequest(int sub) { return firmwareFrame(sub, kFirmwareStart); }
CommandFrame firmwarePrepareRequest() { return firmwareFrame(kFirmwarePart1Sub, kFirmwarePrepare); }
CommandFrame firmwareSecondPrepareRequest() { return firmwareFrame(kFirmwarePart1Sub, kFirmwareSecondPrepare); }
CommandFrame firmwareAnnounce(int sub, int blockIndex, bool last)
{
    return last ? firmwareFrame(sub, kFirmwareLastBlock, kFirmwareFinalForm, 0, 1, blockIndex)
                : firmwareFrame(sub, kFirmwareAccept, 0, 1, 1, blockIndex);
}

CommandFrame standbyFrame() { return frame(kStandbyCommand, kStandbyCommand); }
CommandFrame deviceTypeReply(int type) { return frame(kStatusCommand, kDeviceTypeSub, type); }
CommandFrame matrixSizeReply(int inputs, int outputs)
{
    return frame(kStatusCommand, kMatrixSizeSub, inputs, 0, outputs);
}
CommandFrame versionReply(int major, int minor) { return frame(kStatusCommand, kVersionSub, major, 0, minor); }
CommandFrame cableReply(bool output, int port, bool connected)
{
    return frame(kStatusCommand, output ? kOutputCableSub : kInputCableSub, port, 0, stateByte(connected));
}
CommandFrame irStateReply(bool on) { return frame(kStatusCommand, kIrStateSub, 0, 0, stateByte(on)); }
CommandFrame beepStateReply(bool on) { return frame(kStatusCommand, kBeepStateSub, 0, 0, stateByte(on)); }
CommandFrame switchAck(int command) { return frame(command, kSwitchSub); }
CommandFrame routeQueryReply(Output output, Input input)
{
    return frame(kRoutingCommand, kRouteQuerySub, output.number(), 0, input.number());
}
CommandFrame routeAck(Output output) { return frame(kRoutingCommand, kRouteSub, 0, 0, output.number()); }
CommandFrame edidStatusReply(Input input, std::uint8_t code)
{
    return frame(kStatusCommand, kEdidStatusSub, input.number(), 0, code);
}
CommandFrame edidModeAck() { return edidFrame(kEdidModeRequestSub, 0); }
CommandFrame edidSwitchStateReply(int state) { return edidFrame(kEdidSwitchStateSub, state); }
CommandFrame edidSetModeAllAck() { return edidFrame(kEdidModeAllSub, 0); }
CommandFrame edidSetModeOneAck(Input input) { return edidFrame(kEdidModeOneSub, 0, 0, input.number()); }
CommandFrame edidDefaultAllAck() { return edidFrame(kEdidDefaultAllSub, 0); }
CommandFrame edidDefaultOneAck(Input input) { return edidFrame(kEdidDefaultOneSub, input.number()); }
CommandFrame edidCopyAllReply(bool ok) { return edidFrame(kEdidCopyAllSub, edidResult(ok)); }
CommandFrame edidCopyOneReply(bool ok, Input input)
{
    return edidFrame(kEdidCopyOneSub, edidResult(ok), 0, input.number());
}
CommandFrame edidDownloadReady(int sub) { return edidFrame(sub, kEdidDownloadReady); }
CommandFrame edidDownloadResult(int sub, bool ok) { return edidFrame(sub, edidResult(ok), 0, 0, 1); }
CommandFrame firmwareStartReply(int sub, bool accepted)
{
    return firmwareFrame(sub, accepted ? kFirmwareAccept : kFirmwareReject);
}
CommandFrame firmwarePrepareAck() { return firmwareFrame(kFirmwarePart1Sub, 0); }
CommandFrame firmwareBlockAck(int sub, int blockIndex) { return firmwareFrame(sub, 0, 0, 1, 1, blockIndex); }
CommandFrame firmwareFinalAck(int sub) { return firmwareFrame(sub, 0, kFirmwareFinalForm, 0, 1, 0); }

bool isStandby(const CommandFrame& f) { return f.is(kStandbyCommand, kStandbyCommand); }

std::optional<Output> decodeRouteAck(const CommandFrame& f)
{
    if (!f.is(kRoutingCommand, kRouteSub) || f.p1() != 0 || !protocolPort(f.p3()))
        return std::nullopt;
    return Output{f.p3()};
}

std::optional<RouteStatus> decodeRouteStatus(const CommandFrame& f)
{
    if (!f.is(kRoutingCommand, kRouteQuerySub) || !protocolPort(f.p1()))
        return std::nullopt;
    return RouteStatus{Output{f.p1()}, Input{f.p3()}};
}

std::optional<CableState> decodeCable(const CommandFrame& f)
{
    const bool input = f.is(kStatusCommand, kInputCableSub);
    const bool output = f.is(kStatusCommand, kOutputCableSub);
    if ((!input && !output) || !protocolPort(f.p1()))
        return std::nullopt;
    return CableState{output, f.p1(), stateIsOn(f.p3())};
}

std::optional<int> decodeDeviceType(const CommandFrame& f) { return statusReply<int>(f, kDeviceTypeSub, f.p1()); }

std::optional<MatrixSize> decodeMatrixSize(const CommandFrame& f)
{
    return statusReply(f, kMatrixSizeSub, MatrixSize{f.p1(), f.p3()});
}

std::optional<Version> decodeVersion(const CommandFrame& f)
{
    return statusReply(f, kVersionSub, Version{f.p1(), f.p3()});
}

std::optional<bool> decodeIrState(const CommandFrame& f) { return statusReply(f, kIrStateSub, stateIsOn(f.p3())); }

std::optional<bool> decodeBeepState(const CommandFrame& f) { return statusReply(f, kBeepStateSub, stateIsOn(f.p3())); }

bool isSwitchAck(const CommandFrame& f, int command) { return f.is(command, kSwitchSub) && f.p3() == 0; }

std::optional<EdidStatus> decodeEdidStatus(const CommandFrame& f)
{
    if (!f.is(kStatusCommand, kEdidStatusSub) || !protocolPort(f.p1()) || f.p2() != 0)
        return std::nullopt;
    return EdidStatus{Input{f.p1()}, static_cast<std::int8_t>(f.p3())};
}

std::optional<int> decodeEdidSwitchState(const CommandFrame& f)
{
    if (!f.is(kEdidCommand, kEdidSwitchStateSub) || f.p2() != 0)
        return std::nullopt;
    return f.p1();
}

bool isEdidReply(const CommandFrame& f, int sub) { return f.is(kEdidCommand, sub); }

std::optional<bool> decodeEdidCopy(const CommandFrame& f, Input target)
{
    const bool ours = target.isAll() ? f.is(kEdidCommand, kEdidCopyAllSub)
                                     : f.is(kEdidCommand, kEdidCopyOneSub) && f.p3() == target.number();
    if (!ours)
        return std::nullopt;
    return f.p1() == kEdidResultOk;
}

bool isEdidZeroAck(const CommandFrame& f, int sub) { return f.is(kEdidCommand, sub) && f.p1() == 0 && f.p3() == 0; }

bool isEdidSetModeReply(const CommandFrame& f, Input target, bool defaultEdid)
{
    if (defaultEdid)
        return isEdidReply(f, target.isAll() ? kEdidDefaultAllSub : kEdidDefaultOneSub);
    return target.isAll() ? isEdidReply(f, kEdidModeAllSub)
                          : isEdidReply(f, kEdidModeOneSub) && f.p3() == target.number();
}

bool isEdidDownloadReady(const CommandFrame& f, int sub)
{
    return f.is(kEdidCommand, sub) && f.p1() == kEdidDownloadReady && f[kByte7] == 0;
}

std::optional<EdidResult> decodeEdidDownloadResult(const CommandFrame& f, int sub)
{
    if (!f.is(kEdidCommand, sub) || f[kByte7] != 1)
        return std::nullopt;
    if (f.p1() == kEdidResultOk)
        return EdidResult::Ok;
    if (f.p1() == kEdidResultFailed)
        return EdidResult::Failed;
    return EdidResult::Other;
}

std::optional<FirmwareStart> decodeFirmwareStart(const CommandFrame& f, int sub)
{
    if (!f.is(kFirmwareCommand, sub) || (sub != kFirmwarePart1Sub && sub != kFirmwarePart2Sub))
        return std::nullopt;
    if (f.p1() == kFirmwareReject && extraBytesZero(f))
        return FirmwareStart::Rejected;
    const bool accepted = sub == kFirmwarePart1Sub ? extraBytesZero(f) : f[kByte7] == 0;
    if (f.p1() != kFirmwareAccept || !accepted)
        return std::nullopt;
    return FirmwareStart::Accepted;
}

bool isFirmwarePrepareAck(const CommandFrame& f)
{
    return f.is(kFirmwareCommand, kFirmwarePart1Sub) && f.p1() == 0 && extraBytesZero(f);
}

std::optional<int> decodeFirmwareBlockAck(const CommandFrame& f, int sub)
{
    if (!f.is(kFirmwareCommand, sub) || f.p1() != 0 || f[kByte7] != 1 || f[kByte8] != 1)
        return std::nullopt;
    return f[kByte10];
}

bool isFirmwareFinalAck(const CommandFrame& f, int sub)
{
    return f.is(kFirmwareCommand, sub) && f.p1() == 0 && f[kByte6] == kFirmwareFinalForm && f[kByte7] == 0 &&
           f[kByte8] == 1;
}

bool isRebootAnswer(const CommandFrame& f)
{
    return f.is(kStatusCommand, kDeviceTypeSub) && f.p1() == 1 && f.p2() == 0;
}

}  // namespace matrix::protocol
