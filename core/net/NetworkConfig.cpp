// SPDX-License-Identifier: Apache-2.0
#include "core/net/NetworkConfig.h"

#include "core/net/Discovery.h"
#include "core/transport/HexDigit.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>

namespace matrix {

namespace {

// An address field: its decimal value up to the first non-digit, reduced
// modulo 256 digit by digit so that a long run cannot overflow; empty gives 0.
std::uint8_t addressFieldByte(const std::string& text)
{
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = (value * 10 + static_cast<unsigned>(c - '0')) % 256;
    }
    return static_cast<std::uint8_t>(value);
}

// One hexadecimal digit pair at `at`, or nothing.
std::optional<std::uint8_t> hexPairByte(const std::string& text, std::size_t at = 0)
{
    if (text.size() < at + 2)
        return std::nullopt;
    int high = hexDigitValue(text[at]);
    int low = hexDigitValue(text[at + 1]);
    if (high < 0 || low < 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(high * 16 + low);
}

}  // namespace

NetworkConfig::NetworkConfig(Platform& platform, NetHost& host, Discovery& discovery)
    : host_(host),
      discovery_(discovery),
      socket_(platform.datagramSocket)
{
}

NetworkConfig::~NetworkConfig()
{
    if (listening_)
        socket_.setReadableHandler(nullptr);
}

void NetworkConfig::open()
{
    if (!std::exchange(created_, true))
        autoIp_ = true;
    // The four parts of matrixAddress around its first three dots; a text
    // with fewer dots leaves the remaining fields empty.
    std::string rest = host_.matrixAddress();
    for (int i = 0; i < kAddressFields; ++i) {
        const std::size_t dot = i < kAddressFields - 1 ? rest.find('.') : std::string::npos;
        address_[i] = rest.substr(0, dot);
        rest = dot == std::string::npos ? "" : rest.substr(dot + 1);
    }
    const std::string& mac = discovery_.selectedMac();
    for (std::size_t i = 0; i < mac_.size(); ++i)
        mac_[i] = 2 * i < mac.size() ? mac.substr(2 * i, 2) : "";
    visible_ = true;
    changed.notifyChanged();
}

void NetworkConfig::cancel()
{
    if (!visible_)
        return;
    visible_ = false;
    changed.notifyChanged();
}

void NetworkConfig::setAutoIp(bool autoIp)
{
    autoIp_ = autoIp;
    changed.notifyChanged();
}

void NetworkConfig::setAddressField(int index, const std::string& text)
{
    address_.at(static_cast<std::size_t>(index)) = text;
    changed.notifyChanged();
}

void NetworkConfig::setMacField(int index, const std::string& text)
{
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    mac_.at(static_cast<std::size_t>(index)) = upper;
    changed.notifyChanged();
}

void NetworkConfig::buildMessage()
{
    using namespace net;
    // The addressed MAC, two characters per byte, up to the first pair that
    // is not hexadecimal: the bytes after it stay as they were.
    for (std::size_t i = 0; i < 6; ++i) {
        const auto byte = hexPairByte(discovery_.selectedMac(), 2 * i);
        if (!byte)
            break;
        message_[kConfigTargetMacOffset + i] = *byte;
    }
    if (autoIp_) {
        // Offsets 6 to 17 are left as the last Static IP attempt wrote them.
        message_[kConfigAutoFlagOffset] = 1;
    } else {
        // Gateway x.y.z.1, mask 255.255.255.0.
        for (int i = 0; i < kAddressFields; ++i) {
            const std::uint8_t byte = addressFieldByte(address_[i]);
            message_[kConfigAddressOffset + i] = byte;
            message_[kConfigGatewayOffset + i] = i < 3 ? byte : 1;
            message_[kConfigMaskOffset + i] = i < 3 ? 0xFF : 0;
        }
        message_[kConfigAutoFlagOffset] = 0;
    }
    // Each MAC field gives the byte of its first two characters, or repeats
    // the previous field's (0 for the first) when they are not a hexadecimal pair.
    std::uint8_t previous = 0;
    for (int i = 0; i < kMacFields; ++i) {
        if (const auto byte = hexPairByte(mac_[i]))
            previous = *byte;
        message_[kConfigNewMacOffset + i] = previous;
    }
    message_[kConfigModeOffset] = autoIp_ ? kConfigModeAuto : kConfigModeStatic;
    message_[kConfigDirectionOffset] = kConfigRequestMark;
    message_[kConfigChecksumOffset] = configChecksum(message_);
}

void NetworkConfig::ok()
{
    buildMessage();

    // The one datagram socket moves here from discovery until the next search.
    discovery_.releaseSocket();
    socket_.close();
    buffer_.clear();
    listening_ = socket_.bind(kNetConfigPort);
    if (listening_) {
        socket_.setReadableHandler([this] {
            socket_.receiveEach(listening_, [this](const std::uint8_t* data, std::size_t n) { takeDatagram(data, n); });
        });
    }
    // A failed bind or send is not reported here: the popup's time-out
    // ends the attempt with "configure failed!".
    socket_.sendTo(net::kBroadcastAddress, kNetConfigPort, message_.data(), message_.size());

    visible_ = false;
    changed.notifyChanged();
    host_.configSent();
}

void NetworkConfig::takeDatagram(const std::uint8_t* data, std::size_t length)
{
    using namespace net;
    buffer_.append(data, length);
    if (buffer_.size() < kConfigMessageBytes)
        return;

    // Only the first reply that starts with the addressed MAC's first bytes
    // and lies wholly inside what was received is read; anything else from
    // the segment is not an acknowledgement of ours.
    const std::uint8_t* key = message_.data() + kConfigTargetMacOffset;
    bool acknowledged = false;
    for (std::size_t p = 0; p + kConfigMessageBytes <= buffer_.size(); ++p) {
        if (std::equal(key, key + kConfigReplyKeyBytes, buffer_.data() + p)) {
            acknowledged = buffer_.data()[p + kConfigDirectionOffset] == kConfigAckMark;
            break;
        }
    }
    buffer_.clear();
    if (acknowledged)
        host_.configured();
}

}  // namespace matrix
