// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace matrix {

class HexLog;

// Collects received bytes into frames: a frame starts at 0xA5 and has 13
// bytes; a 0xA5 inside a frame is ordinary data. Bytes outside a frame are
// dropped. A completed frame with a bad header is dropped whole; the
// checksum is left to the handlers, since only some of them test it.
//
// The same rule serves the serial line (byte by byte) and TCP (a stream:
// a reply may be split over reads, and one read may carry several replies).
class FrameAssembler {
public:
    // Feeds one byte. Returns a frame when its 13th byte arrived and the
    // header is A5 5B. With a log, echoes the byte the way the received
    // bytes box shows it (a line break after every 13 stored bytes).
    std::optional<CommandFrame> feed(std::uint8_t byte, HexLog* log = nullptr);

    // Feeds a block and calls onFrame for every good frame, in order; an
    // incomplete tail stays for the next block.
    void feed(const std::uint8_t* data, std::size_t length, const std::function<void(const CommandFrame&)>& onFrame,
              HexLog* log = nullptr);

    void reset();
    std::size_t pendingBytes() const { return length_; }
    bool active() const { return active_; }

private:
    std::uint8_t frame_[CommandFrame::kSize]{};
    std::size_t length_ = 0;
    bool active_ = false;
    int logCount_ = 0;
};

}  // namespace matrix
