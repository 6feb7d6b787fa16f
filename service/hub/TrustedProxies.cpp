// SPDX-License-Identifier: Apache-2.0
#include "service/hub/TrustedProxies.h"

#include "core/transport/Ipv4.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace matrix::service {

namespace {

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find(separator, start), text.size());
        parts.push_back(trim(text.substr(start, end - start)));
        start = end + 1;
    }
    return parts;
}

// A node as a proxy writes it: "192.0.2.1", "192.0.2.1:4711",
// "[2001:db8::1]:80".
std::string nodeAddress(std::string_view node)
{
    if (node.size() >= 2 && node.front() == '"' && node.back() == '"')
        node = node.substr(1, node.size() - 2);
    if (!node.empty() && node.front() == '[') {
        const auto close = node.find(']');
        return std::string(node.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    const auto colon = node.find(':');
    if (colon != std::string_view::npos && node.find(':', colon + 1) == std::string_view::npos)
        node = node.substr(0, colon);
    return std::string(node);
}

// The for= of each element of a Forwarded header, in order.
std::vector<std::string> forwardedFor(std::string_view header)
{
    std::vector<std::string> chain;
    for (std::string_view element : split(header, ',')) {
        for (std::string_view pair : split(element, ';')) {
            const auto equals = pair.find('=');
            if (equals == std::string_view::npos)
                continue;
            std::string key(trim(pair.substr(0, equals)));
            std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
            if (key == "for")
                chain.push_back(nodeAddress(trim(pair.substr(equals + 1))));
        }
    }
    return chain;
}

}  // namespace

bool ClientAddress::loopback() const
{
    const auto parsed = parseDottedIpv4(address);
    return !viaProxy && parsed && (*parsed >> 24) == 127;
}

ClientAddress TrustedProxies::resolve(const std::string& peer, std::string_view forwarded,
                                      std::string_view xForwardedFor) const
{
    if (!trusted(peer))
        return {peer, false};
    std::vector<std::string> chain;
    if (!trim(forwarded).empty())
        chain = forwardedFor(forwarded);
    else
        for (std::string_view node : split(xForwardedFor, ','))
            chain.push_back(nodeAddress(node));
    chain.erase(std::remove(chain.begin(), chain.end(), std::string()), chain.end());
    // A trusted proxy that names no client: the proxy itself is all we know.
    if (chain.empty())
        return {peer, true};
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if (!trusted(*it))
            return {*it, true};
    return {chain.front(), true};
}

}  // namespace matrix::service
