// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace matrix {

// A strict dotted-quad text ("192.168.1.50") as a host-order address.
// Anything else, and the all-ones address that the classic conversion uses
// as its failure value, gives nothing: no connection is ever attempted to it.
std::optional<std::uint32_t> parseDottedIpv4(const std::string& text);

std::string formatDottedIpv4(std::uint32_t address);

constexpr std::uint32_t kBroadcastIpv4 = 0xFFFFFFFFu;

// Where a datagram to `dotted` goes. The all-ones text is the broadcast, or,
// when `broadcastRedirect` is set (MATRIX_BROADCAST_ADDRESS, e.g. the loopback
// broadcast 127.255.255.255 in demos), that address instead, so that nothing
// leaves the host. Nothing for a bad address, and for a bad redirect too: it
// must never fall back to the real broadcast.
std::optional<std::uint32_t> datagramDestination(const std::string& dotted, const char* broadcastRedirect);

}  // namespace matrix
