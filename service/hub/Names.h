// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "service/hub/Outcome.h"

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace matrix::service {

// The one rule for the names of inputs, outputs and scenes, wherever they
// come from (config file, API, Videohub labels, MQTT). Names pick ports in
// requests and options in Home Assistant's selects, so a name:
// - is 1-64 bytes;
// - is not a bare number (it would read as a port number);
// - has no leading or trailing white space and no control characters
//   (Home Assistant sends an option back unchanged, a line ends a label);
// - is not "None" in any case (Home Assistant reads it as no option);
// - is unique on its side (checked with the other names of that side).
constexpr std::size_t kMaxNameBytes = 64;

// Why `name` cannot be a name; empty when it can.
std::string nameProblem(std::string_view name);

using PortNames = std::array<std::string, client::kPortCount>;

// Renames `changes` (port 1..4, new name) of one side whose names are
// `current`: every name is checked, and the names the whole set leaves must
// be unique (a swap is fine). BadInput or NameTaken, with its text.
Outcome checkRenames(const PortNames& current, const std::vector<std::pair<int, std::string>>& changes,
                     const char* sideWord);

}  // namespace matrix::service
