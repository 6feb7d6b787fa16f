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

}  // namespace matrix
