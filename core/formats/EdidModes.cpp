// SPDX-License-Identifier: Apache-2.0
#include "core/formats/EdidModes.h"

#include <array>

namespace matrix::edid {

namespace {

// The three DVI rows of the combo end with one blank; the status texts do not.
const std::array<const char*, 15> kBuiltInModes = {
    "1080i,Stereo Audio 2.0", "1080i,Dolby/DTS 5.1",   "1080i,HD Audio 7.1",  "1080p,Stereo Audio 2.0",
    "1080p,Dolby/DTS 5.1",    "1080p,HD Audio 7.1",    "3D,Stereo Audio 2.0", "3D,Dolby/DTS 5.1",
    "3D,HD Audio 7.1",        "4K2K,Stereo Audio 2.0", "4K2K,Dolby/DTS 5.1",  "4K2K,HD Audio 7.1",
    "DVI 1024X768 ",          "DVI 1920X1080 ",        "DVI 1920X1200 ",
};

const std::array<const char*, 19> kStatusTexts = {
    "1080i,Stereo Audio 2.0", "1080i,Dolby/DTS 5.1",   "1080i,HD Audio 7.1",  "1080p,Stereo Audio 2.0",
    "1080p,Dolby/DTS 5.1",    "1080p,HD Audio 7.1",    "3D,Stereo Audio 2.0", "3D,Dolby/DTS 5.1",
    "3D,HD Audio 7.1",        "4K2K,Stereo Audio 2.0", "4K2K,Dolby/DTS 5.1",  "4K2K,HD Audio 7.1",
    "DVI 1024X768",           "DVI 1920X1080",         "DVI 1920X1200",       "Copy HDMI OUT A",
    "Copy HDMI OUT B",        "Copy HDMI OUT C",       "Copy HDMI OUT D",
};

}  // namespace

const std::vector<std::string>& modeRows()
{
    static const std::vector<std::string> rows = [] {
        std::vector<std::string> r(kBuiltInModes.begin(), kBuiltInModes.end());
        r.emplace_back("Default EDID");
        return r;
    }();
    return rows;
}

std::optional<int> modeNumberForRow(int row)
{
    if (row < 0 || row >= kDefaultEdidRow)
        return std::nullopt;
    return row + 1;
}

std::string statusText(std::int8_t code)
{
    if (code < 0 || code >= static_cast<int>(kStatusTexts.size()))
        return "User define";
    return kStatusTexts[static_cast<std::size_t>(code)];
}

}  // namespace matrix::edid
