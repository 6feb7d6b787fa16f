// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace matrix {

// The fixed 13-byte frame that carries every command and reply:
// A5 5B command sub-command p1 p2 p3, bytes 7..11, checksum.
// The checksum makes all 13 bytes add up to 0 modulo 256.
class CommandFrame {
public:
    static constexpr std::size_t kSize = 13;
    static constexpr std::uint8_t kSync1 = 0xA5;
    static constexpr std::uint8_t kSync2 = 0x5B;
    using Bytes = std::array<std::uint8_t, kSize>;

    CommandFrame();  // sync bytes set, everything else 0, checksum not yet set
    static CommandFrame fromBytes(const std::uint8_t* bytes13);

    // Every value is taken as its low 8 bits, so 0xF0 and -16 are the same.
    // Requests and replies are built by name in core/protocol.
    CommandFrame& set(std::size_t index, int value);
    CommandFrame& seal();  // computes byte 12

    std::uint8_t operator[](std::size_t index) const { return bytes_[index]; }
    std::uint8_t command() const { return bytes_[2]; }
    std::uint8_t subCommand() const { return bytes_[3]; }
    std::uint8_t p1() const { return bytes_[4]; }
    std::uint8_t p2() const { return bytes_[5]; }
    std::uint8_t p3() const { return bytes_[6]; }

    bool headerOk() const { return bytes_[0] == kSync1 && bytes_[1] == kSync2; }
    bool checksumOk() const;
    bool is(int command, int subCommand) const;

    const Bytes& bytes() const { return bytes_; }
    const std::uint8_t* data() const { return bytes_.data(); }
    bool operator==(const CommandFrame& other) const { return bytes_ == other.bytes_; }

private:
    Bytes bytes_{};
};

// (0x100 - (sum of the first 12 bytes mod 0x100)) mod 0x100.
std::uint8_t frameChecksum(const std::uint8_t* bytes12);
// True when the bytes add up to 0 modulo 256.
bool sumIsZero(const std::uint8_t* bytes, std::size_t length);

}  // namespace matrix
