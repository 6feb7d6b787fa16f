// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <numeric>

namespace matrix::net {

// The bytes of the two UDP conversations with matrices on the segment:
// the discovery request and reply (port 30600) and the address-mode message
// and its acknowledgement (port 30601).

constexpr const char* kBroadcastAddress = "255.255.255.255";

constexpr std::uint8_t kDiscoveryRequest = 0x61;  // the letter "a"
constexpr std::size_t kDiscoveryReplyMinBytes = 50;
constexpr std::size_t kDiscoveryMacOffset = 0;
constexpr std::size_t kDiscoveryIpv4Offset = 6;
constexpr std::size_t kDiscoverySignatureOffset = 18;
constexpr std::uint8_t kDiscoverySignature0 = 0x77;
constexpr std::uint8_t kDiscoverySignature1 = 0x88;

constexpr std::size_t kConfigMessageBytes = 76;
constexpr std::size_t kConfigTargetMacOffset = 0;
constexpr std::size_t kConfigAddressOffset = 6;
constexpr std::size_t kConfigGatewayOffset = 10;
constexpr std::size_t kConfigMaskOffset = 14;
constexpr std::size_t kConfigAutoFlagOffset = 18;
constexpr std::size_t kConfigNewMacOffset = 19;
constexpr std::size_t kConfigModeOffset = 25;
constexpr std::size_t kConfigDirectionOffset = 74;
constexpr std::size_t kConfigChecksumOffset = 75;
constexpr std::uint8_t kConfigModeAuto = 0x16;
constexpr std::uint8_t kConfigModeStatic = 0x17;
constexpr std::uint8_t kConfigRequestMark = 0xFF;  // byte 74 of a request
constexpr std::uint8_t kConfigAckMark = 0x00;      // byte 74 of an acknowledgement
// The reply is found by the first three bytes of the addressed MAC.
constexpr std::size_t kConfigReplyKeyBytes = 3;

using ConfigMessage = std::array<std::uint8_t, kConfigMessageBytes>;

// The bytes received from the segment until a whole reply is in. A reply may
// come in pieces; what does not fit is dropped.
class ReplyBuffer {
public:
    static constexpr std::size_t kCapacityBytes = 1024;

    // Keeps what fits of `data`; returns how many bytes that was.
    std::size_t append(const std::uint8_t* data, std::size_t length)
    {
        const std::size_t kept = std::min(length, bytes_.size() - size_);
        std::copy(data, data + kept, bytes_.begin() + static_cast<std::ptrdiff_t>(size_));
        size_ += kept;
        return kept;
    }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }

private:
    std::array<std::uint8_t, kCapacityBytes> bytes_{};
    std::size_t size_ = 0;
};

// Plain sum of bytes 0 to 74, modulo 256 (not negated like the frame's).
inline std::uint8_t configChecksum(const ConfigMessage& message)
{
    return static_cast<std::uint8_t>(std::accumulate(message.begin(), message.begin() + kConfigChecksumOffset, 0u));
}

}  // namespace matrix::net
