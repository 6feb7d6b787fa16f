// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include "core/protocol/Protocol.h"

#include <memory>

namespace matrix::sim {

namespace {
namespace p = protocol;
constexpr std::size_t kBlockDataBytes = p::kFirmwareBlockDataBytes;
constexpr int kRebootTimer = 1;

bool partSub(int sub) { return sub == p::kFirmwarePart1Sub || sub == p::kFirmwarePart2Sub; }

// The matrix's side of an upload on one link: answers the start and
// prepare frames, takes each announced 257-byte block, checks its sum,
// stores its data at the announced index, and reboots after the last one.
class FirmwareReceiver {
public:
    explicit FirmwareReceiver(MatrixResponder& responder) : responder_(responder) {}
    ~FirmwareReceiver() { responder_.loop().killTimer(this, kRebootTimer); }

    void onFrame(const CommandFrame& f)
    {
        const int sub = f.subCommand();
        const std::uint8_t p1 = f[4];
        const std::uint8_t b6 = f[p::kByte6];
        const std::uint8_t b7 = f[p::kByte7];
        const std::uint8_t b8 = f[p::kByte8];
        const std::uint8_t b10 = f[p::kByte10];
        MatrixDevice& device = responder_.device();

        if (p1 == p::kFirmwareStart && b7 == 0 && b8 == 0 && partSub(sub)) {
            const bool reject = sub == p::kFirmwarePart1Sub ? device.rejectFirmwarePart1 : device.rejectFirmwarePart2;
            if (reject) {
                responder_.replyFrame(p::firmwareStartReply(sub, false));
                return;
            }
            device.firmwarePart[static_cast<std::size_t>(sub)].clear();
            responder_.replyFrame(p::firmwareStartReply(sub, true));
            return;
        }
        if (sub == p::kFirmwarePart1Sub && (p1 == p::kFirmwarePrepare || p1 == p::kFirmwareSecondPrepare)) {
            responder_.replyFrame(p::firmwarePrepareAck());
            return;
        }
        const bool announce = p1 == p::kFirmwareAccept && b7 == 1 && b8 == 1;
        const bool lastAnnounce = p1 == p::kFirmwareLastBlock && b6 == p::kFirmwareFinalForm && b7 == 0 && b8 == 1;
        if (partSub(sub) && (announce || lastAnnounce)) {
            responder_.expectRawBlock(
                p::kFirmwareBlockBytes,
                [this, sub, index = b10, last = lastAnnounce](const auto& block) { onBlock(sub, index, last, block); });
        }
    }

private:
    void onBlock(int sub, int index, bool last, const MatrixResponder::Bytes& block)
    {
        MatrixDevice& device = responder_.device();
        if (!sumIsZero(block.data(), block.size())) {
            // A damaged block is not acknowledged; the sender's timer re-sends it.
            ++device.firmwareBadBlocks;
            return;
        }
        auto& image = device.firmwarePart[static_cast<std::size_t>(sub)];
        const std::size_t at = static_cast<std::size_t>(index) * kBlockDataBytes;
        if (image.size() < at + kBlockDataBytes)
            image.resize(at + kBlockDataBytes);
        std::copy(block.begin() + 1, block.end(), image.begin() + static_cast<long>(at));
        if (last) {
            image.resize(at + kBlockDataBytes);
            responder_.replyFrame(p::firmwareFinalAck(sub));
            reboot();
            return;
        }
        if (device.dropFirmwareAckOfBlock == index) {
            device.dropFirmwareAckOfBlock = -1;
            return;
        }
        responder_.replyFrame(p::firmwareBlockAck(sub, index));
    }

    // While it reboots the matrix answers nothing at all.
    void reboot()
    {
        MatrixDevice& device = responder_.device();
        responder_.setSilent(true);
        if (device.firmwareNeverReboots)
            return;
        responder_.loop().startTimer(this, kRebootTimer, device.firmwareRebootMs, [this] {
            responder_.loop().killTimer(this, kRebootTimer);
            responder_.setSilent(false);
        });
    }

    MatrixResponder& responder_;
};
}  // namespace

void installFirmwareCommands(MatrixResponder& responder)
{
    auto receiver = std::make_shared<FirmwareReceiver>(responder);
    responder.onCommand(p::kFirmwareCommand, [receiver](const CommandFrame& frame) { receiver->onFrame(frame); });
}

}  // namespace matrix::sim
