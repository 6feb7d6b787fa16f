// SPDX-License-Identifier: Apache-2.0
#include "service/net/AddressAllowList.h"

#include "core/transport/Ipv4.h"

#include <string_view>

namespace matrix::service {

std::optional<AddressAllowList::Network> AddressAllowList::parseEntry(const std::string& text)
{
    const auto slash = text.find('/');
    int prefix = 32;
    if (slash != std::string::npos) {
        const std::string digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        prefix = std::stoi(digits);
        if (prefix > 32)
            return std::nullopt;
    }
    const auto address = parseDottedIpv4(text.substr(0, slash));
    if (!address)
        return std::nullopt;
    const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    if ((*address & ~mask) != 0)
        return std::nullopt;
    return Network{*address, mask};
}

std::optional<AddressAllowList> AddressAllowList::parse(const std::vector<std::string>& entries,
                                                        std::string* badEntry)
{
    AddressAllowList list;
    for (const std::string& entry : entries) {
        const auto network = parseEntry(entry);
        if (!network) {
            if (badEntry)
                *badEntry = entry;
            return std::nullopt;
        }
        list.networks_.push_back(*network);
    }
    return list;
}

bool AddressAllowList::allows(std::uint32_t address) const
{
    if (networks_.empty())
        return true;
    for (const Network& network : networks_)
        if ((address & network.mask) == network.address)
            return true;
    return false;
}

bool AddressAllowList::allows(const std::string& peer) const
{
    if (networks_.empty())
        return true;
    constexpr std::string_view kMapped = "::ffff:";
    std::string dotted = peer;
    if (dotted.size() > kMapped.size() && dotted.compare(0, kMapped.size(), kMapped) == 0)
        dotted = dotted.substr(kMapped.size());
    const auto address = parseDottedIpv4(dotted);
    return address && allows(*address);
}

}  // namespace matrix::service
