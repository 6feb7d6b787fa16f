// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include "core/formats/EdidFile.h"
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

// The EDID command family of one link: each sub-command's check of the
// request, its effect on the device, and its reply.
class EdidCommands {
public:
    EdidCommands(MatrixResponder& responder) : responder_(responder), device_(responder.device()) {}

    void handle(const CommandFrame& f)
    {
        const int sub = f.subCommand();
        switch (sub) {
        case p::kEdidModeRequestSub:
            if (f.p1() == p::kEdidModeRequestValue)
                responder_.replyFrame(p::edidModeAck());
            break;
        case p::kEdidSwitchStateSub: responder_.replyFrame(p::edidSwitchStateReply(device_.edidSwitchState)); break;
        case p::kEdidModeAllSub:
        case p::kEdidModeOneSub: setMode(sub, f.p1(), f.p2(), f.p3()); break;
        case p::kEdidDefaultAllSub:
        case p::kEdidDefaultOneSub: setDefault(sub, f.p1()); break;
        case p::kEdidCopyAllSub:
        case p::kEdidCopyOneSub: copy(sub, f.p1(), f.p3()); break;
        case p::kEdidDownloadAllSub:  // download: request, or announce of the block
        case p::kEdidDownloadOneSub:
            if (f[p::kByte7] == 1)
                announce(sub, f.p1());
            else
                requestDownload(sub, f.p1(), f.p2());
            break;
        default: break;
        }
    }

private:
    void setAll(std::int8_t status)
    {
        for (int i = 0; i < device_.inputCount; ++i)
            device_.edidStatus[i] = status;
    }

    void setMode(int sub, int mode, int p2, int input)
    {
        if (mode < 1 || mode > p::kEdidModeCount || p2 != p::kEdidBuiltInValue)
            return;
        if (sub == p::kEdidModeAllSub) {
            setAll(static_cast<std::int8_t>(mode - 1));
            responder_.replyFrame(p::edidSetModeAllAck());
        } else if (validInput(input, device_)) {
            device_.edidStatus[input - 1] = static_cast<std::int8_t>(mode - 1);
            responder_.replyFrame(p::edidSetModeOneAck(Input{input}));
        }
    }

    void setDefault(int sub, int p1)
    {
        if (sub == p::kEdidDefaultAllSub && p1 == p::kEdidAllInputs) {
            setAll(kDefaultEdidStatus);
            responder_.replyFrame(p::edidDefaultAllAck());
        } else if (sub == p::kEdidDefaultOneSub && validInput(p1, device_)) {
            device_.edidStatus[p1 - 1] = kDefaultEdidStatus;
            responder_.replyFrame(p::edidDefaultOneAck(Input{p1}));
        }
    }

    void copyTo(int output, int input)
    {
        device_.edidStatus[input - 1] = static_cast<std::int8_t>(kCopyStatusBase + output - 1);
        device_.inputEdid[input - 1] = device_.displayEdid[output - 1];
    }

    void copy(int sub, int output, int input)
    {
        const bool all = sub == p::kEdidCopyAllSub;
        if (!validOutput(output, device_) || (!all && !validInput(input, device_)))
            return;
        const bool ok = !device_.rejectEdidCopy && device_.outputCable[output - 1];
        for (int i = 1; ok && i <= device_.inputCount; ++i)
            if (all || i == input)
                copyTo(output, i);
        responder_.replyFrame(all ? p::edidCopyAllReply(ok) : p::edidCopyOneReply(ok, Input{input}));
    }

    void requestDownload(int sub, int p1, int p2)
    {
        if (p2 != p::kEdidBuiltInValue)
            return;
        if (sub == p::kEdidDownloadAllSub && p1 != p::kEdidAllInputs)
            return;
        if (sub == p::kEdidDownloadOneSub && !validInput(p1, device_))
            return;
        download_ = DownloadState{sub, sub == p::kEdidDownloadOneSub ? p1 : 0, false};
        responder_.replyFrame(p::edidDownloadReady(sub));
    }

    void announce(int sub, int p1)
    {
        if (p1 != p::kEdidDownloadAnnounce || download_.subCommand != sub)
            return;
        download_.announced = true;
        responder_.expectRawBlock(p::kEdidTransferBytes,
                                  [this](const std::vector<std::uint8_t>& block) { takeBlock(block); });
    }

    void takeBlock(const std::vector<std::uint8_t>& block)
    {
        const int resultSub = download_.subCommand;
        const int input = download_.input;
        download_ = DownloadState{};
        const bool ok = !device_.rejectEdidDownload && transferBlockValid(block);
        if (ok) {
            const auto data = block.begin() + static_cast<long>(p::kEdidLeadBytes);
            std::vector<std::uint8_t> edid(data, data + static_cast<long>(p::kEdidDataBytes));
            for (int i = 1; i <= device_.inputCount; ++i) {
                if (input != 0 && i != input)
                    continue;
                device_.inputEdid[i - 1] = edid;
                device_.edidStatus[i - 1] = kUserDefineStatus;
            }
        }
        responder_.replyFrame(p::edidDownloadResult(resultSub, ok));
    }

    MatrixResponder& responder_;
    MatrixDevice& device_;
    DownloadState download_;
};

}  // namespace

void installEdidCommands(MatrixResponder& responder)
{
    MatrixDevice& device = responder.device();
    // Per-input EDID status; the general family answers the other status queries.
    responder.onPortQuery(p::kStatusCommand, p::kEdidStatusSub, [&device](int input) {
        return p::edidStatusReply(Input{input}, static_cast<std::uint8_t>(device.edidStatus[input - 1]));
    });
    auto commands = std::make_shared<EdidCommands>(responder);
    responder.onCommand(p::kEdidCommand, [commands](const CommandFrame& f) { commands->handle(f); });
}

}  // namespace matrix::sim
