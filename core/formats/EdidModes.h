// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace matrix::edid {

// The rows of the "Set EDID Mode" combo. Rows 0..14 are the built-in modes,
// sent as mode number row + 1; the last row picks the default EDID, which
// has its own commands instead of a mode number.
constexpr int kModeRowCount = 16;
constexpr int kDefaultEdidRow = 15;

const std::vector<std::string>& modeRows();
// Mode number for a built-in row; nothing for the default-EDID row or a row
// outside the list.
std::optional<int> modeNumberForRow(int row);

// The input status label text for the code the status query reports. The
// code is a signed byte: 0..18 have their own text, anything else (19 and
// up, and every negative value) is a user-defined EDID.
std::string statusText(std::int8_t code);
inline std::string statusText(std::uint8_t code) { return statusText(static_cast<std::int8_t>(code)); }

}  // namespace matrix::edid
