// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace matrix::service {

// The addresses a listener accepts connections from: single IPv4 addresses
// ("10.1.2.3") and networks ("192.168.10.0/24"). An empty list accepts
// everyone; the listen address is what keeps such a listener private.
class AddressAllowList {
public:
    struct Network {
        std::uint32_t address = 0;  // host order, host bits cleared
        std::uint32_t mask = 0;
    };

    // One entry; nothing for a text that is neither form (or has host bits
    // set past the prefix, which is almost always a typing mistake).
    static std::optional<Network> parseEntry(const std::string& text);

    // Every entry, or the first that is wrong in `badEntry`.
    static std::optional<AddressAllowList> parse(const std::vector<std::string>& entries,
                                                 std::string* badEntry = nullptr);

    bool empty() const { return networks_.empty(); }
    bool allows(std::uint32_t address) const;
    // A peer as a socket reports it: dotted IPv4, or IPv4 mapped into IPv6
    // ("::ffff:10.1.2.3"). Any other text is refused by a non-empty list.
    bool allows(const std::string& peer) const;

private:
    std::vector<Network> networks_;
};

}  // namespace matrix::service
