// SPDX-License-Identifier: Apache-2.0
#include "core/net/NetMessages.h"

#include "core/transport/HexDigit.h"

namespace matrix::net {

std::string formatMacText(const std::uint8_t* mac6)
{
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 6; ++i) {
        text.push_back(digits[mac6[i] >> 4]);
        text.push_back(digits[mac6[i] & 0x0F]);
    }
    return text;
}

std::string formatIpv4Text(const std::uint8_t* address4)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            text.push_back('.');
        text += std::to_string(address4[i]);
    }
    return text;
}

bool hasDiscoverySignature(const std::uint8_t* reply, std::size_t length)
{
    if (length < kDiscoverySignatureOffset + 2)
        return false;
    return reply[kDiscoverySignatureOffset] == kDiscoverySignature0 &&
           reply[kDiscoverySignatureOffset + 1] == kDiscoverySignature1;
}

std::uint8_t addressFieldByte(const std::string& text)
{
    // Reduced digit by digit, so that a long run of digits cannot overflow.
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = (value * 10 + static_cast<unsigned>(c - '0')) % 256;
    }
    return static_cast<std::uint8_t>(value);
}

std::optional<std::uint8_t> hexPairByte(const std::string& text, std::size_t at)
{
    if (text.size() < at + 2)
        return std::nullopt;
    int high = hexDigitValue(text[at]);
    int low = hexDigitValue(text[at + 1]);
    if (high < 0 || low < 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(high * 16 + low);
}

std::array<std::uint8_t, 6> macFieldBytes(const std::array<std::string, 6>& fields)
{
    std::array<std::uint8_t, 6> bytes{};
    std::uint8_t previous = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (auto byte = hexPairByte(fields[i]))
            previous = *byte;
        bytes[i] = previous;
    }
    return bytes;
}

void writeSelectedMac(const std::string& selectedMac, std::uint8_t* mac6)
{
    for (std::size_t i = 0; i < 6; ++i) {
        auto byte = hexPairByte(selectedMac, 2 * i);
        if (!byte)
            return;
        mac6[i] = *byte;
    }
}

std::uint8_t configChecksum(const ConfigMessage& message)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < kConfigChecksumOffset; ++i)
        sum += message[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::optional<std::size_t> findConfigReply(const std::uint8_t* received, std::size_t length, const std::uint8_t* key3)
{
    if (length < kConfigMessageBytes)
        return std::nullopt;
    for (std::size_t p = 0; p + kConfigMessageBytes <= length; ++p) {
        if (received[p] == key3[0] && received[p + 1] == key3[1] && received[p + 2] == key3[2])
            return p;
    }
    return std::nullopt;
}

}  // namespace matrix::net
