// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include "core/pages/edid/EdidFile.h"
#include "core/protocol/Protocol.h"

#include <algorithm>
#include <memory>

namespace matrix::sim {

namespace {

namespace p = protocol;

// Status codes the EDID status query reports: mode n is code n - 1, a copy
// of output x is 15 + (x - 1), anything downloaded is a "User define" code.
constexpr std::int8_t kDefaultEdidStatus = 3;
constexpr std::int8_t kCopyStatusBase = 15;
constexpr std::int8_t kUserDefineStatus = 19;

// One download in flight on this link: what the request asked for.
struct DownloadState {
    int subCommand = 0;  // 0: no request seen
    int input = 0;       // 1..4, or 0 for all inputs
    bool announced = false;
};

// The matrix takes the block only as the program builds it: a zero lead
// byte, 256 EDID bytes that pass the checks of an EDID file, 33 zeros.
bool transferBlockValid(const std::vector<std::uint8_t>& block)
{
    if (block.size() != p::kEdidTransferBytes || block[0] != 0)
        return false;
    const auto dataEnd = block.begin() + static_cast<long>(p::kEdidLeadBytes + p::kEdidDataBytes);
    if (std::any_of(dataEnd, block.end(), [](std::uint8_t byte) { return byte != 0; }))
        return false;
    const std::vector<std::uint8_t> edid(block.begin() + static_cast<long>(p::kEdidLeadBytes), dataEnd);
    return edid::checkEdidBytes(edid).verdict == edid::EdidFileVerdict::Accept;
}

bool validInput(int input, const MatrixDevice& device) { return input >= 1 && input <= device.inputCount; }
bool validOutput(int output, const MatrixDevice& device) { return output >= 1 && output <= device.outputCount; }

}  // namespace

void installEdidCommands(MatrixResponder& responder)
{
    MatrixDevice& device = responder.device();
    auto download = std::make_shared<DownloadState>();

    // Per-input EDID status; the general family answers the other status queries.
    responder.onPortQuery(p::kStatusCommand, p::kEdidStatusSub, [&device](int input) {
        return p::edidStatusReply(input, static_cast<std::uint8_t>(device.edidStatus[input - 1]));
    });

    responder.onCommand(p::kEdidCommand, [&responder, &device, download](const CommandFrame& f) {
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
        const bool builtInMode = p1 >= 1 && p1 <= p::kEdidModeCount && p2 == p::kEdidBuiltInValue;
        switch (sub) {
        case p::kEdidModeRequestSub:
            if (p1 == p::kEdidModeRequestValue)
                responder.replyFrame(p::edidModeAck());
            break;
        case p::kEdidSwitchStateSub:
            responder.replyFrame(p::edidSwitchStateReply(device.edidSwitchState));
            break;
        case p::kEdidModeAllSub:
            if (builtInMode) {
                setAll(static_cast<std::int8_t>(p1 - 1));
                responder.replyFrame(p::edidSetModeAllAck());
            }
            break;
        case p::kEdidModeOneSub:
            if (builtInMode && validInput(p3, device)) {
                device.edidStatus[p3 - 1] = static_cast<std::int8_t>(p1 - 1);
                responder.replyFrame(p::edidSetModeOneAck(p3));
            }
            break;
        case p::kEdidDefaultAllSub:
            if (p1 == p::kEdidAllInputs) {
                setAll(kDefaultEdidStatus);
                responder.replyFrame(p::edidDefaultAllAck());
            }
            break;
        case p::kEdidDefaultOneSub:
            if (validInput(p1, device)) {
                device.edidStatus[p1 - 1] = kDefaultEdidStatus;
                responder.replyFrame(p::edidDefaultOneAck(p1));
            }
            break;
        case p::kEdidCopyAllSub: {
            if (!validOutput(p1, device))
                break;
            const bool ok = !device.rejectEdidCopy && device.outputCable[p1 - 1];
            if (ok)
                for (int i = 1; i <= device.inputCount; ++i)
                    copyTo(p1, i);
            responder.replyFrame(p::edidCopyAllReply(ok));
            break;
        }
        case p::kEdidCopyOneSub: {
            if (!validOutput(p1, device) || !validInput(p3, device))
                break;
            const bool ok = !device.rejectEdidCopy && device.outputCable[p1 - 1];
            if (ok)
                copyTo(p1, p3);
            responder.replyFrame(p::edidCopyOneReply(ok, p3));
            break;
        }
        case p::kEdidDownloadAllSub:  // download: request, or announce of the block
        case p::kEdidDownloadOneSub: {
            if (f[p::kByte7] == 1) {
                if (p1 != p::kEdidDownloadAnnounce || download->subCommand != sub)
                    break;
                download->announced = true;
                responder.expectRawBlock(p::kEdidTransferBytes, [&responder, &device, download](const std::vector<std::uint8_t>& block) {
                    const int resultSub = download->subCommand;
                    const int input = download->input;
                    *download = DownloadState{};
                    const bool ok = !device.rejectEdidDownload && transferBlockValid(block);
                    if (ok) {
                        const auto data = block.begin() + static_cast<long>(p::kEdidLeadBytes);
                        std::vector<std::uint8_t> edid(data, data + static_cast<long>(p::kEdidDataBytes));
                        for (int i = 1; i <= device.inputCount; ++i) {
                            if (input != 0 && i != input)
                                continue;
                            device.inputEdid[i - 1] = edid;
                            device.edidStatus[i - 1] = kUserDefineStatus;
                        }
                    }
                    responder.replyFrame(p::edidDownloadResult(resultSub, ok));
                });
                break;
            }
            if (p2 != p::kEdidBuiltInValue)
                break;
            if (sub == p::kEdidDownloadAllSub && p1 != p::kEdidAllInputs)
                break;
            if (sub == p::kEdidDownloadOneSub && !validInput(p1, device))
                break;
            download->subCommand = sub;
            download->input = sub == p::kEdidDownloadOneSub ? p1 : 0;
            download->announced = false;
            responder.replyFrame(p::edidDownloadReady(sub));
            break;
        }
        default:
            break;
        }
    });
}

}  // namespace matrix::sim
