// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/MatrixDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace matrix::sim {

// The matrix's UDP side, transport-agnostic: a datagram that reached the
// matrix on port 30600 (discovery) or 30601 (address mode) goes in, and the
// datagram to send back to its sender comes out. The box answers the
// one-byte request with its MAC, address and signature, and a configuration
// message addressed to its MAC with the acknowledgement, after taking the
// new address mode, address and MAC.
class NetResponder {
public:
    using Bytes = std::vector<std::uint8_t>;

    static constexpr std::uint16_t kDiscoveryPort = 30600;
    static constexpr std::uint16_t kConfigPort = 30601;
    static constexpr std::size_t kDiscoveryReplyBytes = 64;
    static constexpr std::size_t kConfigBytes = 76;

    explicit NetResponder(MatrixDevice& device);

    std::optional<Bytes> onDatagram(std::uint16_t port, const Bytes& datagram);

    // The reply to a discovery request, as the box would send it now.
    Bytes discoveryReply() const;

    // Knobs.
    void setSilent(bool silent) { silent_ = silent; }
    // Length of the discovery reply (the program needs at least 50 bytes).
    void setDiscoveryReplyBytes(std::size_t bytes) { replyBytes_ = bytes; }
    // Take configurations but send no acknowledgement.
    void setAckSilent(bool silent) { ackSilent_ = silent; }
    // The address an Auto IP configuration leads to (what a DHCP server on
    // the segment would hand out); by default a link-local address.
    void setAutoAddress(std::array<std::uint8_t, 4> address) { autoAddress_ = address; }

    MatrixDevice& device() { return device_; }
    int discoveryRequests() const { return discoveryRequests_; }
    int configurationsApplied() const { return configurationsApplied_; }
    std::array<std::uint8_t, 4> gateway() const { return gateway_; }
    std::array<std::uint8_t, 4> mask() const { return mask_; }

private:
    std::optional<Bytes> onConfig(const Bytes& message);

    MatrixDevice& device_;
    bool silent_ = false;
    bool ackSilent_ = false;
    std::size_t replyBytes_ = kDiscoveryReplyBytes;
    std::optional<std::array<std::uint8_t, 4>> autoAddress_;
    std::array<std::uint8_t, 4> gateway_{};
    std::array<std::uint8_t, 4> mask_{255, 255, 255, 0};
    int discoveryRequests_ = 0;
    int configurationsApplied_ = 0;
};

}  // namespace matrix::sim
