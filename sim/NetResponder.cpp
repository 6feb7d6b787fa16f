// SPDX-License-Identifier: Apache-2.0
#include "sim/NetResponder.h"

#include "core/net/NetMessages.h"

#include <algorithm>

namespace matrix::sim {

namespace {

// The discovery reply carries the address fields at the offsets of the
// configuration message.
constexpr std::size_t kAddressAt = net::kConfigAddressOffset;
constexpr std::size_t kGatewayAt = net::kConfigGatewayOffset;
constexpr std::size_t kMaskAt = net::kConfigMaskOffset;
constexpr std::size_t kAutoFlagAt = net::kConfigAutoFlagOffset;
constexpr std::size_t kNewMacAt = net::kConfigNewMacOffset;
constexpr std::size_t kModeAt = net::kConfigModeOffset;
constexpr std::size_t kDirectionAt = net::kConfigDirectionOffset;
constexpr std::size_t kChecksumAt = net::kConfigChecksumOffset;
constexpr std::size_t kDiscoveryAutoFlagAt = net::kDiscoverySignatureOffset + 2;

std::uint8_t plainSum(const NetResponder::Bytes& bytes, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

}  // namespace

NetResponder::NetResponder(MatrixDevice& device) : device_(device)
{
    gateway_ = {device.ip[0], device.ip[1], device.ip[2], 1};
}

std::optional<NetResponder::Bytes> NetResponder::onDatagram(std::uint16_t port, const Bytes& datagram)
{
    if (silent_)
        return std::nullopt;
    if (port == kDiscoveryPort) {
        if (datagram.size() != 1 || datagram[0] != net::kDiscoveryRequest)
            return std::nullopt;
        ++discoveryRequests_;
        return discoveryReply();
    }
    if (port == kConfigPort)
        return onConfig(datagram);
    return std::nullopt;
}

NetResponder::Bytes NetResponder::discoveryReply() const
{
    Bytes reply(std::max<std::size_t>(replyBytes_, kDiscoveryAutoFlagAt), 0);
    std::copy(device_.mac.begin(), device_.mac.end(), reply.begin());
    std::copy(device_.ip.begin(), device_.ip.end(), reply.begin() + kAddressAt);
    std::copy(gateway_.begin(), gateway_.end(), reply.begin() + kGatewayAt);
    std::copy(mask_.begin(), mask_.end(), reply.begin() + kMaskAt);
    reply[net::kDiscoverySignatureOffset] = net::kDiscoverySignature0;
    reply[net::kDiscoverySignatureOffset + 1] = net::kDiscoverySignature1;
    if (reply.size() > kDiscoveryAutoFlagAt)
        reply[kDiscoveryAutoFlagAt] = device_.autoIp ? 1 : 0;
    reply.resize(replyBytes_);
    return reply;
}

std::optional<NetResponder::Bytes> NetResponder::onConfig(const Bytes& message)
{
    // Only a whole, well-formed request addressed to this box's MAC.
    if (message.size() != kConfigBytes || message[kDirectionAt] != net::kConfigRequestMark ||
        message[kChecksumAt] != plainSum(message, kChecksumAt))
        return std::nullopt;
    if (!std::equal(device_.mac.begin(), device_.mac.end(), message.begin()))
        return std::nullopt;
    const std::uint8_t mode = message[kModeAt];
    if (mode == net::kConfigModeAuto && message[kAutoFlagAt] == 1) {
        device_.autoIp = true;
        device_.ip = autoAddress_.value_or(std::array<std::uint8_t, 4>{169, 254, device_.mac[4], device_.mac[5]});
        gateway_ = {device_.ip[0], device_.ip[1], device_.ip[2], 1};
        mask_ = {255, 255, 0, 0};
    } else if (mode == net::kConfigModeStatic && message[kAutoFlagAt] == 0) {
        device_.autoIp = false;
        std::copy_n(message.begin() + kAddressAt, 4, device_.ip.begin());
        std::copy_n(message.begin() + kGatewayAt, 4, gateway_.begin());
        std::copy_n(message.begin() + kMaskAt, 4, mask_.begin());
    } else {
        return std::nullopt;
    }
    // An all-zero MAC is no address to take; the box keeps its own then.
    const bool newMacGiven = std::any_of(message.begin() + kNewMacAt, message.begin() + kNewMacAt + 6,
                                         [](std::uint8_t b) { return b != 0; });
    ++configurationsApplied_;
    Bytes ack = message;  // answers with the addressed MAC in front
    if (newMacGiven)
        std::copy_n(message.begin() + kNewMacAt, 6, device_.mac.begin());
    if (ackSilent_)
        return std::nullopt;
    ack[kDirectionAt] = net::kConfigAckMark;
    ack[kChecksumAt] = plainSum(ack, kChecksumAt);
    return ack;
}

}  // namespace matrix::sim
