// SPDX-License-Identifier: Apache-2.0
#include "core/client/ClientRequests.h"

#include "core/protocol/Protocol.h"

#include <algorithm>

namespace matrix::client::requests {

namespace p = matrix::protocol;

namespace {
Bytes bytesOf(const CommandFrame& f) { return Bytes(f.bytes().begin(), f.bytes().end()); }

int downloadSub(int target) { return target == 0 ? p::kEdidDownloadAllSub : p::kEdidDownloadOneSub; }

// The factory reset puts built-in mode 4 on every input, as the General page does.
constexpr int kFactoryEdidMode = 4;
}  // namespace

Bytes deviceTypeQuery() { return bytesOf(p::deviceTypeRequest()); }
Bytes sizeQuery() { return bytesOf(p::matrixSizeRequest()); }
Bytes versionQuery() { return bytesOf(p::versionRequest()); }
Bytes inputCableQuery(int input) { return bytesOf(p::inputCableRequest(input)); }
Bytes outputCableQuery(int output) { return bytesOf(p::outputCableRequest(output)); }
Bytes routingQuery(int output) { return bytesOf(p::routeQueryRequest(output)); }
Bytes route(int input, int output) { return bytesOf(p::routeRequest(input, output)); }
Bytes beepSet(bool on) { return bytesOf(p::beepRequest(on)); }
Bytes beepQuery() { return bytesOf(p::beepStateRequest()); }
Bytes irSet(bool on) { return bytesOf(p::irRequest(on)); }
Bytes irQuery() { return bytesOf(p::irStateRequest()); }
Bytes edidModeRequest() { return bytesOf(p::edidModeRequest()); }
Bytes resetEdidMode() { return bytesOf(p::edidSetModeAllRequest(kFactoryEdidMode)); }

Bytes edidSwitchStateQuery() { return bytesOf(p::edidSwitchStateRequest()); }

Bytes edidSetMode(int mode, int target)
{
    return bytesOf(target == 0 ? p::edidSetModeAllRequest(mode) : p::edidSetModeOneRequest(mode, target));
}

Bytes edidSetDefault(int target)
{
    return bytesOf(target == 0 ? p::edidDefaultAllRequest() : p::edidDefaultOneRequest(target));
}

Bytes edidCopy(int output, int target)
{
    return bytesOf(target == 0 ? p::edidCopyAllRequest(output) : p::edidCopyOneRequest(output, target));
}

Bytes edidDownloadRequest(int target)
{
    return bytesOf(target == 0 ? p::edidDownloadAllRequest() : p::edidDownloadOneRequest(target));
}

Bytes edidDownloadAnnounce(int target) { return bytesOf(p::edidDownloadAnnounce(downloadSub(target))); }

Bytes edidTransferBlock(const std::uint8_t* edid256)
{
    const p::EdidTransferBlock block = p::edidTransferBlock(edid256);
    return Bytes(block.begin(), block.end());
}

Bytes edidStatusQuery(int input) { return bytesOf(p::edidStatusRequest(input)); }

Bytes firmwareStart(int sub) { return bytesOf(p::firmwareStartRequest(sub)); }
Bytes firmwarePrepare() { return bytesOf(p::firmwarePrepareRequest()); }
Bytes firmwareSecondPrepare() { return bytesOf(p::firmwareSecondPrepareRequest()); }

Bytes firmwareAnnounce(int sub, int blockIndex, bool last)
{
    return bytesOf(last ? p::firmwareLastBlockAnnounce(sub, blockIndex) : p::firmwareBlockAnnounce(sub, blockIndex));
}

Bytes firmwareBlock(const std::vector<std::uint8_t>& image, std::size_t from, std::size_t end)
{
    end = std::min(end, image.size());
    const std::size_t length = from < end ? end - from : 0;
    const p::FirmwareBlock block = p::firmwareBlock(length ? image.data() + from : image.data(), length);
    return Bytes(block.begin(), block.end());
}

Bytes rebootPoll() { return bytesOf(p::rebootPollRequest()); }

bool isStandby(const CommandFrame& f) { return p::isStandby(f); }
bool isDeviceTypeReply(const CommandFrame& f) { return p::decodeDeviceType(f).has_value(); }
bool isSizeReply(const CommandFrame& f) { return p::decodeMatrixSize(f).has_value(); }
bool isVersionReply(const CommandFrame& f) { return p::decodeVersion(f).has_value(); }

bool isInputCableReply(const CommandFrame& f, int input)
{
    const auto cable = p::decodeCable(f);
    return cable && !cable->output && cable->port == input;
}

bool isOutputCableReply(const CommandFrame& f, int output)
{
    const auto cable = p::decodeCable(f);
    return cable && cable->output && cable->port == output;
}

bool cableConnected(const CommandFrame& f) { return p::stateIsOn(f.p3()); }

bool isRoutingReply(const CommandFrame& f, int output)
{
    const auto status = p::decodeRouteStatus(f);
    return status && status->output == output;
}

bool isRouteAck(const CommandFrame& f, int output) { return p::decodeRouteAck(f) == output; }
bool isBeepAck(const CommandFrame& f) { return p::isSwitchAck(f, p::kBeepCommand); }
bool isResetBeepAck(const CommandFrame& f) { return p::isSwitchAck(f, p::kBeepCommand) && f.p1() == 0; }
bool isBeepStateReply(const CommandFrame& f) { return p::decodeBeepState(f).has_value(); }
bool isIrAck(const CommandFrame& f) { return p::isSwitchAck(f, p::kIrCommand); }
bool isIrStateReply(const CommandFrame& f) { return p::decodeIrState(f).has_value(); }
bool featureOn(const CommandFrame& f) { return p::stateIsOn(f.p3()); }

bool isEdidModeRequestAck(const CommandFrame& f)
{
    return p::isEdidReply(f, p::kEdidModeRequestSub) && f.p1() == 0 && f.p3() == 0;
}

bool isEdidSetAck(const CommandFrame& f)
{
    return p::isEdidReply(f, p::kEdidModeAllSub) && f.p1() == 0 && f.p3() == 0;
}

bool isEdidSwitchState(const CommandFrame& f) { return p::decodeEdidSwitchState(f).has_value(); }
bool edidSwitchesRefuse(const CommandFrame& f) { return p::decodeEdidSwitchState(f) == p::kEdidSwitchRefused; }
bool isEdidModeReply(const CommandFrame& f) { return p::isEdidReply(f, p::kEdidModeRequestSub); }

bool isEdidSetModeReply(const CommandFrame& f, int target)
{
    return target == 0 ? p::isEdidReply(f, p::kEdidModeAllSub)
                       : p::isEdidReply(f, p::kEdidModeOneSub) && f.p3() == target;
}

bool isEdidSetDefaultReply(const CommandFrame& f, int target)
{
    return p::isEdidReply(f, target == 0 ? p::kEdidDefaultAllSub : p::kEdidDefaultOneSub);
}

bool isEdidCopyReply(const CommandFrame& f, int target)
{
    return target == 0 ? p::decodeEdidCopyAll(f).has_value() : p::decodeEdidCopyOne(f, target).has_value();
}

bool isEdidDownloadReady(const CommandFrame& f, int target) { return p::isEdidDownloadReady(f, downloadSub(target)); }

bool isEdidDownloadResult(const CommandFrame& f, int target)
{
    return p::decodeEdidDownloadResult(f, downloadSub(target)).has_value();
}

bool edidResultOk(const CommandFrame& f) { return f.p1() == p::kEdidResultOk; }

bool isEdidStatusReply(const CommandFrame& f, int input)
{
    const auto status = p::decodeEdidStatus(f);
    return status && status->input == input;
}

int edidStatusCode(const CommandFrame& f) { return static_cast<std::int8_t>(f.p3()); }

bool isFirmwareStartAccept(const CommandFrame& f, int sub)
{
    return p::decodeFirmwareStart(f, sub) == p::FirmwareStart::Accepted;
}

bool isFirmwareStartReject(const CommandFrame& f, int sub)
{
    return p::decodeFirmwareStart(f, sub) == p::FirmwareStart::Rejected;
}

bool isFirmwarePrepareReply(const CommandFrame& f) { return p::isFirmwarePrepareAck(f); }

bool isFirmwareBlockAck(const CommandFrame& f, int sub, int blockIndex)
{
    return p::decodeFirmwareBlockAck(f, sub) == (blockIndex & 0xFF);
}

bool isFirmwareFinalAck(const CommandFrame& f, int sub) { return p::isFirmwareFinalAck(f, sub); }
bool isRebootAnswer(const CommandFrame& f) { return p::isRebootAnswer(f); }

}  // namespace matrix::client::requests
