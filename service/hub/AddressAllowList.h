// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace matrix::service {

// Which IPv4 peers may connect to a listener: single addresses ("10.1.2.3")
// and networks ("192.168.10.0/24"). An empty list allows everyone.
class AddressAllowList {
public:
    // Nothing when an entry is neither; `error` then names the entry.
    static std::optional<AddressAllowList> parse(const std::vector<std::string>& entries, std::string* error = nullptr);
    // One entry: a network as (address, prefix length), or nothing.
    static std::optional<std::pair<std::uint32_t, int>> parseEntry(const std::string& entry);

    bool empty() const { return networks_.empty(); }
    bool allows(std::uint32_t peer) const;
    // A dotted peer; an IPv4-mapped IPv6 text ("::ffff:10.1.2.3") as its IPv4.
    // Anything else (a real IPv6 peer) is allowed only by an empty list.
    bool allows(const std::string& peer) const;

private:
    struct Network {
        std::uint32_t address;
        std::uint32_t mask;
    };
    std::vector<Network> networks_;
};

}  // namespace matrix::service
