// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"
#include "core/protocol/Ports.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The matrix's command set, named once. Requests are built by name, replies
// are decoded into typed values, and the simulator builds its replies here
// too, so a byte of the protocol is written in this file pair and nowhere
// else. Decoders test the header and the shape of a reply, never the
// checksum: which path tests the sum is the caller's business.
namespace matrix::protocol {

// ---- command bytes ---------------------------------------------------------------

constexpr std::uint8_t kStatusCommand = 0x01;
constexpr std::uint8_t kRoutingCommand = 0x02;
constexpr std::uint8_t kEdidCommand = 0x03;
constexpr std::uint8_t kIrCommand = 0x05;
constexpr std::uint8_t kBeepCommand = 0x06;
constexpr std::uint8_t kFirmwareCommand = 0x20;
constexpr std::uint8_t kStandbyCommand = 0x88;  // the standby frame carries it twice, as its sub-command too

// ---- sub-commands ----------------------------------------------------------------

// Of the status command.
constexpr std::uint8_t kDeviceTypeSub = 0x01;
constexpr std::uint8_t kMatrixSizeSub = 0x02;
constexpr std::uint8_t kVersionSub = 0x03;
constexpr std::uint8_t kInputCableSub = 0x04;
constexpr std::uint8_t kOutputCableSub = 0x05;
constexpr std::uint8_t kIrStateSub = 0x0A;
constexpr std::uint8_t kBeepStateSub = 0x0B;
constexpr std::uint8_t kEdidStatusSub = 0x0C;

// Of the routing command.
constexpr std::uint8_t kRouteQuerySub = 0x01;
constexpr std::uint8_t kRouteSub = 0x03;

// Of the IR and beep commands.
constexpr std::uint8_t kSwitchSub = 0x01;

// Of the EDID command.
constexpr std::uint8_t kEdidModeAllSub = 0x01;
constexpr std::uint8_t kEdidModeOneSub = 0x02;
constexpr std::uint8_t kEdidCopyAllSub = 0x03;
constexpr std::uint8_t kEdidCopyOneSub = 0x04;
constexpr std::uint8_t kEdidDownloadAllSub = 0x06;
constexpr std::uint8_t kEdidDownloadOneSub = 0x07;
constexpr std::uint8_t kEdidModeRequestSub = 0x08;
constexpr std::uint8_t kEdidDefaultAllSub = 0x09;
constexpr std::uint8_t kEdidDefaultOneSub = 0x0A;
constexpr std::uint8_t kEdidSwitchStateSub = 0x0B;

// Of the firmware command: the sub-command names the part being written.
constexpr std::uint8_t kFirmwarePart1Sub = 0x01;
constexpr std::uint8_t kFirmwarePart2Sub = 0x02;

// ---- fixed values ----------------------------------------------------------------

constexpr std::uint8_t kOn = 0x0F;   // IR / beep switched on
constexpr std::uint8_t kOff = 0xF0;  // IR / beep switched off
// State replies (cables, IR, beep) say "absent / off" with 0xFF and anything
// else means "present / on"; the matrix sends 1.
constexpr std::uint8_t kNoCable = 0xFF;
constexpr std::uint8_t kCablePresent = 0x01;

constexpr std::uint8_t kEdidModeRequestValue = 0xF0;  // p1 of the mode request
constexpr std::uint8_t kEdidBuiltInValue = 0xF0;      // p2 of set-mode and download requests
constexpr std::uint8_t kEdidAllInputs = 0xFE;         // p1 of the all-inputs default and download
constexpr std::uint8_t kEdidDownloadReady = 0xAA;     // p1 of the matrix's "send the block"
constexpr std::uint8_t kEdidDownloadAnnounce = 0x56;  // p1 of the frame before the block
constexpr std::uint8_t kEdidResultOk = 0x00;
constexpr std::uint8_t kEdidResultFailed = 0xFF;
// Switch-state reply: the front-panel EDID switches are not at [1111].
constexpr std::uint8_t kEdidSwitchRefused = 15;
constexpr int kEdidModeCount = 15;  // built-in modes 1..15

constexpr std::uint8_t kFirmwareStart = 0x01;          // p1 of the start command
constexpr std::uint8_t kFirmwarePrepare = 0x80;        // p1 of the first prepare
constexpr std::uint8_t kFirmwareSecondPrepare = 0x10;  // p1 of the second prepare
constexpr std::uint8_t kFirmwareAccept = 0xAA;         // start accepted; p1 of a block announce
constexpr std::uint8_t kFirmwareReject = 0x44;         // start refused
constexpr std::uint8_t kFirmwareLastBlock = 0x56;      // p1 of the last-block announce
constexpr std::uint8_t kFirmwareFinalForm = 0xFE;      // byte 6 of the last announce and its ack

// Frame byte positions beyond p1..p3, used by the EDID and firmware frames.
constexpr std::size_t kByte6 = 6;
constexpr std::size_t kByte7 = 7;
constexpr std::size_t kByte8 = 8;
constexpr std::size_t kByte10 = 10;

// ---- raw blocks ----------------------------------------------------------------

// EDID download: one zero byte, the 256 EDID bytes, 33 zero bytes.
constexpr std::size_t kEdidDataBytes = 256;
constexpr std::size_t kEdidLeadBytes = 1;
constexpr std::size_t kEdidTrailBytes = 33;
constexpr std::size_t kEdidTransferBytes = kEdidLeadBytes + kEdidDataBytes + kEdidTrailBytes;  // 290
using EdidTransferBlock = std::array<std::uint8_t, kEdidTransferBytes>;
EdidTransferBlock edidTransferBlock(const std::uint8_t* edid256);

// Firmware: a checksum byte that makes the block add up to 0, then 256 data bytes.
constexpr std::size_t kFirmwareBlockDataBytes = 256;
constexpr std::size_t kFirmwareBlockBytes = kFirmwareBlockDataBytes + 1;  // 257
using FirmwareBlock = std::array<std::uint8_t, kFirmwareBlockBytes>;
// The block of `image` that starts at `from`, zeros past `end`.
FirmwareBlock firmwareBlockAt(const std::vector<std::uint8_t>& image, std::size_t from, std::size_t end);

// ---- requests ------------------------------------------------------------------

CommandFrame deviceTypeRequest();
CommandFrame matrixSizeRequest();
CommandFrame versionRequest();
CommandFrame inputCableRequest(Input input);
CommandFrame outputCableRequest(Output output);
CommandFrame irStateRequest();
CommandFrame beepStateRequest();
CommandFrame irRequest(bool on);
CommandFrame beepRequest(bool on);

CommandFrame routeQueryRequest(Output output);
CommandFrame routeRequest(Output output, Input input);

// EDID requests. `target` is one input, or Input::All.
CommandFrame edidStatusRequest(Input input);
CommandFrame edidModeRequest();
CommandFrame edidSwitchStateRequest();
CommandFrame edidSetModeRequest(int mode, Input target);  // built-in mode 1..15
CommandFrame edidDefaultRequest(Input target);
CommandFrame edidCopyRequest(Output from, Input target);
CommandFrame edidDownloadRequest(Input target);
// The sub-command of a download (request, ready, announce, result) for this target.
int edidDownloadSub(Input target);
// Sent after the ready reply; `sub` is that of the download request.
CommandFrame edidDownloadAnnounce(int sub);

CommandFrame firmwareStartRequest(int sub);
CommandFrame firmwarePrepareRequest();
CommandFrame firmwareSecondPrepareRequest();
CommandFrame firmwareAnnounce(int sub, int blockIndex, bool last);
// The matrix answers the device-type query again once it has rebooted.
inline CommandFrame rebootPollRequest() { return deviceTypeRequest(); }

// ---- replies the matrix sends ------------------------------------------------------

CommandFrame standbyFrame();
CommandFrame deviceTypeReply(int type);
CommandFrame matrixSizeReply(int inputs, int outputs);
CommandFrame versionReply(int major, int minor);
CommandFrame cableReply(bool output, int port, bool connected);
CommandFrame irStateReply(bool on);
CommandFrame beepStateReply(bool on);
CommandFrame switchAck(int command);  // IR or beep switched
CommandFrame routeQueryReply(Output output, Input input);
CommandFrame routeAck(Output output);
CommandFrame edidStatusReply(Input input, std::uint8_t code);
CommandFrame edidModeAck();
CommandFrame edidSwitchStateReply(int state);
CommandFrame edidSetModeAllAck();
CommandFrame edidSetModeOneAck(Input input);
CommandFrame edidDefaultAllAck();
CommandFrame edidDefaultOneAck(Input input);
CommandFrame edidCopyAllReply(bool ok);
CommandFrame edidCopyOneReply(bool ok, Input input);
CommandFrame edidDownloadReady(int sub);
CommandFrame edidDownloadResult(int sub, bool ok);
CommandFrame firmwareStartReply(int sub, bool accepted);
CommandFrame firmwarePrepareAck();
CommandFrame firmwareBlockAck(int sub, int blockIndex);
CommandFrame firmwareFinalAck(int sub);

// ---- decoders ------------------------------------------------------------------

bool isStandby(const CommandFrame& frame);

// Output (1..8) whose route the matrix acknowledged: 02 03, p1 0, p3 output.
std::optional<Output> decodeRouteAck(const CommandFrame& frame);

struct RouteStatus {
    Output output{0};  // 1..8
    Input input{0};    // as the matrix sent it, not range-checked
};
std::optional<RouteStatus> decodeRouteStatus(const CommandFrame& frame);

struct CableState {
    bool output = false;
    int port = 0;  // 1..8
    bool connected = false;
};
std::optional<CableState> decodeCable(const CommandFrame& frame);
inline bool stateIsOn(std::uint8_t p3) { return p3 != kNoCable; }

std::optional<int> decodeDeviceType(const CommandFrame& frame);
struct MatrixSize {
    int inputs = 0;
    int outputs = 0;
};
std::optional<MatrixSize> decodeMatrixSize(const CommandFrame& frame);
struct Version {
    int major = 0;
    int minor = 0;
};
std::optional<Version> decodeVersion(const CommandFrame& frame);

std::optional<bool> decodeIrState(const CommandFrame& frame);
std::optional<bool> decodeBeepState(const CommandFrame& frame);
// The IR or beep switch acknowledgement: (command, 1) with p3 0.
bool isSwitchAck(const CommandFrame& frame, int command);

struct EdidStatus {
    Input input{0};        // 1..8
    std::int8_t code = 0;  // signed, as the EDID tables read it
};
std::optional<EdidStatus> decodeEdidStatus(const CommandFrame& frame);
std::optional<int> decodeEdidSwitchState(const CommandFrame& frame);
// Any EDID reply of this sub-command (3, sub), without further tests.
bool isEdidReply(const CommandFrame& frame, int sub);
// The acknowledgement of the mode request (08) or of a mode on all inputs (01): p1 and p3 zero.
bool isEdidZeroAck(const CommandFrame& frame, int sub);
// The answer to a set-mode (or default EDID) request for `target`; one input's set-mode answer names it.
bool isEdidSetModeReply(const CommandFrame& frame, Input target, bool defaultEdid);
// Copy result for `target`: true on success (p1 0). One input's answer names it in p3.
std::optional<bool> decodeEdidCopy(const CommandFrame& frame, Input target);
bool isEdidDownloadReady(const CommandFrame& frame, int sub);
enum class EdidResult { Ok, Failed, Other };
std::optional<EdidResult> decodeEdidDownloadResult(const CommandFrame& frame, int sub);

enum class FirmwareStart { Accepted, Rejected };
// The answer to a part's start command. Part 1 accepts with every other
// byte zero; part 2's accept tests byte 7 only. A refusal is zero elsewhere.
std::optional<FirmwareStart> decodeFirmwareStart(const CommandFrame& frame, int sub);
// Answer to either prepare frame: 20 01, every other byte zero.
bool isFirmwarePrepareAck(const CommandFrame& frame);
std::optional<int> decodeFirmwareBlockAck(const CommandFrame& frame, int sub);
bool isFirmwareFinalAck(const CommandFrame& frame, int sub);
// The matrix is back after its reboot: 01 01 with p1 1, p2 0.
bool isRebootAnswer(const CommandFrame& frame);

}  // namespace matrix::protocol
