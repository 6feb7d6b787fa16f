// SPDX-License-Identifier: Apache-2.0
#include "core/link/FrameAssembler.h"

#include "core/link/HexLog.h"

namespace matrix {

std::optional<CommandFrame> FrameAssembler::feed(std::uint8_t byte, HexLog* log)
{
    bool stored = false;
    if (byte == CommandFrame::kSync1 || active_) {
        frame_[length_++] = byte;
        active_ = true;
        stored = true;
        ++logCount_;
    }
    if (log) {
        bool lineBreak = stored && logCount_ == 13;
        log->appendByte(byte, lineBreak);
    }
    if (logCount_ >= 13)
        logCount_ = 0;

    if (length_ < CommandFrame::kSize)
        return std::nullopt;
    CommandFrame frame = CommandFrame::fromBytes(frame_);
    reset();
    if (!frame.headerOk())
        return std::nullopt;
    return frame;
}

void FrameAssembler::feed(const std::uint8_t* data, std::size_t length,
                          const std::function<void(const CommandFrame&)>& onFrame, HexLog* log)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (auto frame = feed(data[i], log))
            onFrame(*frame);
    }
}

void FrameAssembler::reset()
{
    for (auto& b : frame_)
        b = 0;
    length_ = 0;
    active_ = false;
}

}  // namespace matrix
