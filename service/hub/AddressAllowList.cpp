// SPDX-License-Identifier: Apache-2.0
#include "service/hub/AddressAllowList.h"

#include "core/transport/Ipv4.h"

namespace matrix::service {

namespace {

constexpr std::uint32_t maskOf(int prefixLength) { return prefixLength == 0 ? 0u : ~0u << (32 - prefixLength); }

}  // namespace

std::optional<std::pair<std::uint32_t, int>> AddressAllowList::parseEntry(const std::string& entry)
{
    const auto slash = entry.find('/');
    const std::string address = entry.substr(0, slash);
    int prefixLength = 32;
    if (slash != std::string::npos) {
        const std::string digits = entry.substr(slash + 1);
        if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        prefixLength = std::stoi(digits);
        if (prefixLength > 32)
            return std::nullopt;
    }
    const auto parsed = parseDottedIpv4(address);
    if (!parsed)
        return std::nullopt;
    // "10.1.2.3/24" most likely means 10.1.2.0/24, but could be a typo of a
    // single address: refuse it rather than open a whole network by guess.
    if ((*parsed & ~maskOf(prefixLength)) != 0)
        return std::nullopt;
    return std::make_pair(*parsed, prefixLength);
}

std::optional<AddressAllowList> AddressAllowList::parse(const std::vector<std::string>& entries, std::string* error)
{
    AddressAllowList list;
    for (const std::string& entry : entries) {
        const auto network = parseEntry(entry);
        if (!network) {
            if (error)
                *error = "'" + entry + "' is neither an IPv4 address nor a network like 192.168.10.0/24";
            return std::nullopt;
        }
        list.networks_.push_back({network->first, maskOf(network->second)});
    }
    return list;
}

bool AddressAllowList::allows(std::uint32_t peer) const
{
    if (networks_.empty())
        return true;
    for (const Network& network : networks_)
        if ((peer & network.mask) == network.address)
            return true;
    return false;
}

bool AddressAllowList::allows(const std::string& peer) const
{
    if (networks_.empty())
        return true;
    constexpr std::string_view kMapped = "::ffff:";
    const std::string dotted = peer.rfind(kMapped, 0) == 0 ? peer.substr(kMapped.size()) : peer;
    const auto address = parseDottedIpv4(dotted);
    return address && allows(*address);
}

}  // namespace matrix::service
