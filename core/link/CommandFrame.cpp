// SPDX-License-Identifier: Apache-2.0
#include "core/link/CommandFrame.h"

namespace matrix {

namespace {
std::uint8_t low8(int value) { return static_cast<std::uint8_t>(value & 0xFF); }
}  // namespace

std::uint8_t frameChecksum(const std::uint8_t* bytes12)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < 12; ++i)
        sum += bytes12[i];
    return static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

bool sumIsZero(const std::uint8_t* bytes, std::size_t length)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum += bytes[i];
    return (sum & 0xFF) == 0;
}

CommandFrame::CommandFrame()
{
    bytes_[0] = kSync1;
    bytes_[1] = kSync2;
}

CommandFrame CommandFrame::fromBytes(const std::uint8_t* bytes13)
{
    CommandFrame frame;
    for (std::size_t i = 0; i < kSize; ++i)
        frame.bytes_[i] = bytes13[i];
    return frame;
}

CommandFrame& CommandFrame::set(std::size_t index, int value)
{
    bytes_[index] = low8(value);
    return *this;
}

CommandFrame& CommandFrame::seal()
{
    bytes_[12] = frameChecksum(bytes_.data());
    return *this;
}

bool CommandFrame::checksumOk() const { return sumIsZero(bytes_.data(), kSize); }

bool CommandFrame::is(int command, int subCommand) const
{
    return headerOk() && bytes_[2] == low8(command) && bytes_[3] == low8(subCommand);
}

}  // namespace matrix
