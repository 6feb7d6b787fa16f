// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include <memory>

namespace matrix::sim {

namespace {

constexpr int kAllInputs = 0xFE;
constexpr int kModeRequest = 0xF0;
constexpr int kDownloadReady = 0xAA;
constexpr int kDownloadAnnounce = 0x56;
constexpr int kSuccess = 0x00;
constexpr int kFailure = 0xFF;
constexpr int kModeCount = 15;

// Status codes the 1/0x0C query reports: mode n is code n - 1, a copy of
// output x is 15 + (x - 1), anything downloaded is a "User define" code.
constexpr std::int8_t kDefaultEdidStatus = 3;
constexpr std::int8_t kCopyStatusBase = 15;
constexpr std::int8_t kUserDefineStatus = 0x13;

constexpr std::size_t kEdidBytes = 256;
constexpr std::size_t kBlockBytes = 128;
constexpr std::size_t kTransferBytes = 290;

// One download in flight on this link: what the request asked for.
struct DownloadState {
    int subCommand = 0;  // 0: no request seen
    int input = 0;       // 1..4, or 0 for all inputs
    bool announced = false;
};

bool sumsToZero(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = from; i < from + count; ++i)
        sum += bytes[i];
    return (sum & 0xFF) == 0;
}

// The matrix takes the block only as the program builds it: a zero lead
// byte, 256 EDID bytes that pass the header and checksum tests, 33 zeros.
bool transferBlockValid(const std::vector<std::uint8_t>& block)
{
    static constexpr std::uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (block.size() != kTransferBytes || block[0] != 0)
        return false;
    for (std::size_t i = 1 + kEdidBytes; i < kTransferBytes; ++i)
        if (block[i] != 0)
            return false;
    for (std::size_t i = 0; i < 8; ++i)
        if (block[1 + i] != kHeader[i])
            return false;
    if (!sumsToZero(block, 1, kBlockBytes))
        return false;
    const int extensions = block[1 + 126];
    if (extensions == 1 && !sumsToZero(block, 1 + kBlockBytes, kBlockBytes))
        return false;
    return extensions <= 1;
}

CommandFrame resultFrame(int subCommand, int p1, int byte7)
{
    return CommandFrame().set(2, 3).set(3, subCommand).set(4, p1).set(7, byte7).seal();
}

bool validInput(int input, const MatrixDevice& device) { return input >= 1 && input <= device.inputCount; }
bool validOutput(int output, const MatrixDevice& device) { return output >= 1 && output <= device.outputCount; }

}  // namespace

void installEdidCommands(MatrixResponder& responder)
{
    MatrixDevice& device = responder.device();
    auto download = std::make_shared<DownloadState>();

    // Per-input EDID status; the general family answers the other 1/x queries.
    responder.onCommand(0x01, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() != 0x0C)
            return;
        const int input = f.p1();
        if (input < 1 || input > MatrixDevice::kPorts)
            return;
        responder.reply(1, 0x0C, input, 0, static_cast<std::uint8_t>(device.edidStatus[input - 1]));
    });

    responder.onCommand(0x03, [&responder, &device, download](const CommandFrame& f) {
        const int sub = f.subCommand();
        const int p1 = f.p1();
        const int p2 = f.p2();
        const int p3 = f.p3();
        auto setAll = [&device](std::int8_t status) {
            for (int i = 0; i < device.inputCount; ++i)
                device.edidStatus[i] = status;
        };
        auto copyTo = [&device](int output, int input) {
            device.edidStatus[input - 1] = static_cast<std::int8_t>(kCopyStatusBase + output - 1);
            device.inputEdid[input - 1] = device.displayEdid[output - 1];
        };
        switch (sub) {
        case 0x08:  // mode request
            if (p1 == kModeRequest)
                responder.reply(3, 0x08, 0, 0, 0);
            break;
        case 0x0B:  // switch state
            responder.reply(3, 0x0B, device.edidSwitchState, 0, 0);
            break;
        case 0x01:  // built-in mode, all inputs
            if (p1 >= 1 && p1 <= kModeCount && p2 == 0xF0) {
                setAll(static_cast<std::int8_t>(p1 - 1));
                responder.reply(3, 0x01, 0, 0, 0);
            }
            break;
        case 0x02:  // built-in mode, one input
            if (p1 >= 1 && p1 <= kModeCount && p2 == 0xF0 && validInput(p3, device)) {
                device.edidStatus[p3 - 1] = static_cast<std::int8_t>(p1 - 1);
                responder.reply(3, 0x02, 0, 0, p3);
            }
            break;
        case 0x09:  // default EDID, all inputs
            if (p1 == kAllInputs) {
                setAll(kDefaultEdidStatus);
                responder.reply(3, 0x09, 0, 0, 0);
            }
            break;
        case 0x0A:  // default EDID, one input
            if (validInput(p1, device)) {
                device.edidStatus[p1 - 1] = kDefaultEdidStatus;
                responder.reply(3, 0x0A, p1, 0, 0);
            }
            break;
        case 0x03: {  // copy an output's EDID to all inputs
            if (!validOutput(p1, device))
                break;
            const bool ok = !device.rejectEdidCopy && device.outputCable[p1 - 1];
            if (ok)
                for (int i = 1; i <= device.inputCount; ++i)
                    copyTo(p1, i);
            responder.reply(3, 0x03, ok ? kSuccess : kFailure, 0, 0);
            break;
        }
        case 0x04: {  // copy an output's EDID to one input
            if (!validOutput(p1, device) || !validInput(p3, device))
                break;
            const bool ok = !device.rejectEdidCopy && device.outputCable[p1 - 1];
            if (ok)
                copyTo(p1, p3);
            responder.reply(3, 0x04, ok ? kSuccess : kFailure, 0, p3);
            break;
        }
        case 0x06:  // download: request, or announce of the block (byte 7 = 1)
        case 0x07: {
            if (f[7] == 1) {
                if (p1 != kDownloadAnnounce || download->subCommand != sub)
                    break;
                download->announced = true;
                responder.expectRawBlock(kTransferBytes, [&responder, &device, download](const std::vector<std::uint8_t>& block) {
                    const int resultSub = download->subCommand;
                    const int input = download->input;
                    *download = DownloadState{};
                    const bool ok = !device.rejectEdidDownload && transferBlockValid(block);
                    if (ok) {
                        std::vector<std::uint8_t> edid(block.begin() + 1, block.begin() + 1 + kEdidBytes);
                        for (int i = 1; i <= device.inputCount; ++i) {
                            if (input != 0 && i != input)
                                continue;
                            device.inputEdid[i - 1] = edid;
                            device.edidStatus[i - 1] = kUserDefineStatus;
                        }
                    }
                    responder.replyFrame(resultFrame(resultSub, ok ? kSuccess : kFailure, 1));
                });
                break;
            }
            if (p2 != 0xF0)
                break;
            if (sub == 0x06 && p1 != kAllInputs)
                break;
            if (sub == 0x07 && !validInput(p1, device))
                break;
            download->subCommand = sub;
            download->input = sub == 0x07 ? p1 : 0;
            download->announced = false;
            responder.replyFrame(resultFrame(sub, kDownloadReady, 0));
            break;
        }
        default:
            break;
        }
    });
}

}  // namespace matrix::sim
