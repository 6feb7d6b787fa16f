// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include <memory>

namespace matrix::sim {

namespace {
constexpr std::uint8_t kUpgrade = 0x20;
constexpr std::uint8_t kAccept = 0xAA;
constexpr std::uint8_t kReject = 0x44;
constexpr std::uint8_t kLastBlock = 0x56;
constexpr std::uint8_t kFinalForm = 0xFE;
constexpr std::size_t kBlockDataBytes = 256;
constexpr std::size_t kBlockBytes = kBlockDataBytes + 1;
constexpr int kRebootTimer = 1;

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
        const std::uint8_t b6 = f[6];
        const std::uint8_t b7 = f[7];
        const std::uint8_t b8 = f[8];
        const std::uint8_t b10 = f[10];
        MatrixDevice& device = responder_.device();

        if (p1 == 0x01 && b7 == 0 && b8 == 0 && (sub == 0x01 || sub == 0x02)) {
            const bool reject = sub == 0x01 ? device.rejectFirmwarePart1 : device.rejectFirmwarePart2;
            if (reject) {
                answer(sub, kReject);
                return;
            }
            device.firmwarePart[static_cast<std::size_t>(sub)].clear();
            answer(sub, kAccept);
            return;
        }
        if (sub == 0x01 && (p1 == 0x80 || p1 == 0x10)) {
            answer(sub, 0);
            return;
        }
        const bool announce = p1 == kAccept && b7 == 1 && b8 == 1;
        const bool lastAnnounce = p1 == kLastBlock && b6 == kFinalForm && b7 == 0 && b8 == 1;
        if ((sub == 0x01 || sub == 0x02) && (announce || lastAnnounce)) {
            responder_.expectRawBlock(kBlockBytes, [this, sub, index = b10, last = lastAnnounce](const auto& block) {
                onBlock(sub, index, last, block);
            });
        }
    }

private:
    void answer(int sub, int p1, int b6 = 0, int b7 = 0, int b8 = 0, int b10 = 0)
    {
        responder_.replyFrame(
            CommandFrame().set(2, kUpgrade).set(3, sub).set(4, p1).set(6, b6).set(7, b7).set(8, b8).set(10, b10).seal());
    }

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
            answer(sub, 0, kFinalForm, 0, 1);
            reboot();
            return;
        }
        if (device.dropFirmwareAckOfBlock == index) {
            device.dropFirmwareAckOfBlock = -1;
            return;
        }
        answer(sub, 0, 0, 1, 1, index);
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
    responder.onCommand(kUpgrade, [receiver](const CommandFrame& frame) { receiver->onFrame(frame); });
}

}  // namespace matrix::sim
