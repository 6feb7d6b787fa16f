// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"
#include "core/link/FrameAssembler.h"
#include "core/transport/EventLoop.h"
#include "sim/MatrixDevice.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace matrix::sim {

// Reads command frames from one link (serial or TCP) and answers them the
// way the matrix does, with knobs to misbehave. Transport-agnostic: bytes
// come in through receive(), replies leave through the transmit callback.
class MatrixResponder {
public:
    using Bytes = std::vector<std::uint8_t>;
    using FrameHandler = std::function<void(const CommandFrame&)>;
    using RawHandler = std::function<void(const Bytes&)>;

    MatrixResponder(EventLoop& loop, MatrixDevice& device);
    ~MatrixResponder();

    void setTransmit(std::function<void(const Bytes&)> transmit) { transmit_ = std::move(transmit); }
    // Called when a knob closes the link (TCP) or unplugs the line (serial).
    void setLinkCloser(std::function<void()> closer) { closeLink_ = std::move(closer); }

    void receive(const std::uint8_t* data, std::size_t length);
    void receive(const Bytes& data) { receive(data.data(), data.size()); }

    // Handlers by command byte. Several families may register for the same
    // command (each ignores the sub-commands it does not know); all run, in
    // the order they were registered.
    void onCommand(std::uint8_t command, FrameHandler handler) { handlers_[command].push_back(std::move(handler)); }
    // A query of one port (p1, 1..kPorts) by `command` and `sub`, answered
    // with reply(port); a query of any other port gets no answer.
    void onPortQuery(std::uint8_t command, std::uint8_t sub, std::function<CommandFrame(int port)> reply);
    // The next `length` bytes are a raw block (EDID, firmware), not frames.
    // A block whose bytes pause for longer than kRawBlockGapMs is abandoned.
    static constexpr std::int64_t kRawBlockGapMs = 1000;
    void expectRawBlock(std::size_t length, RawHandler handler);

    // Sends a reply frame (command, sub-command, p1, p2, p3), subject to the knobs.
    void reply(int command, int subCommand, int p1, int p2 = 0, int p3 = 0);
    void replyFrame(const CommandFrame& frame);
    void sendBytes(const Bytes& bytes);  // raw, subject to the knobs

    // Knobs.
    void dropNextReplies(int count) { dropCount_ += count; }
    void setSilent(bool silent) { silent_ = silent; }
    void corruptNextChecksum(int count = 1) { corruptCount_ += count; }
    void setReplyDelayMs(int ms) { delayMs_ = ms; }
    // Split every reply into pieces of at most this many bytes (0: whole).
    void setSplitSize(std::size_t bytes) { splitBytes_ = bytes; }
    // Hold replies and send them together once `count` have gathered.
    void setCoalesce(int count);
    // Ends every reply fault at once (drops, corruption, delay, splitting;
    // held coalesced replies go out now), as when a cable is fixed.
    void clearFaults();
    void sendNoise(const Bytes& noise);
    void sendStandby();
    void closeLink();

    MatrixDevice& device() { return device_; }
    EventLoop& loop() { return loop_; }
    // Every frame received, in order, for tests that check the wire.
    const std::vector<CommandFrame>& received() const { return received_; }
    void clearReceived() { received_.clear(); }

private:
    void dispatch(const CommandFrame& frame);
    void queueReply(Bytes bytes);
    void deliver(const Bytes& bytes);

    EventLoop& loop_;
    MatrixDevice& device_;
    std::function<void(const Bytes&)> transmit_;
    std::function<void()> closeLink_;
    FrameAssembler assembler_;
    std::map<std::uint8_t, std::vector<FrameHandler>> handlers_;
    std::size_t rawExpected_ = 0;
    std::int64_t rawLastByteMs_ = 0;
    Bytes rawBuffer_;
    RawHandler rawHandler_;
    std::vector<CommandFrame> received_;

    int dropCount_ = 0;
    bool silent_ = false;
    int corruptCount_ = 0;
    int delayMs_ = 0;
    std::size_t splitBytes_ = 0;
    int coalesceCount_ = 0;
    Bytes coalesced_;
    int coalescedReplies_ = 0;
    int delayTimerId_ = 0;
    std::shared_ptr<bool> alive_;
};

// The status, cable, beep, IR and route commands.
void installGeneralCommands(MatrixResponder& responder);
// The routing query for every output.
void installRoutingCommands(MatrixResponder& responder);
// The EDID commands, and the per-input EDID status query.
void installEdidCommands(MatrixResponder& responder);
// The firmware receiver: start, prepare and block frames,
// reassembly into MatrixDevice::firmwarePart, and the reboot.
void installFirmwareCommands(MatrixResponder& responder);

}  // namespace matrix::sim
