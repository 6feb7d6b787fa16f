// SPDX-License-Identifier: Apache-2.0
#include "core/transport/Ipv4.h"

namespace matrix {

std::optional<std::uint32_t> parseDottedIpv4(const std::string& text)
{
    std::uint32_t address = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return std::nullopt;
        unsigned value = 0;
        int digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (++digits > 3 || value > 255)
                return std::nullopt;
            ++i;
        }
        address = (address << 8) | value;
        ++parts;
        if (parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
    }
    if (i != text.size() || address == 0xFFFFFFFFu)
        return std::nullopt;
    return address;
}

std::string formatDottedIpv4(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::optional<std::uint32_t> datagramDestination(const std::string& dotted, const char* broadcastRedirect)
{
    // The strict parser refuses the all-ones text (the classic conversion's
    // failure value); here it is the broadcast address.
    if (dotted != "255.255.255.255")
        return parseDottedIpv4(dotted);
    if (!broadcastRedirect || !*broadcastRedirect)
        return kBroadcastIpv4;
    if (std::string(broadcastRedirect) == "255.255.255.255")
        return kBroadcastIpv4;
    return parseDottedIpv4(broadcastRedirect);
}

}  // namespace matrix
