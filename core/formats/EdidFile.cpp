// SPDX-License-Identifier: Apache-2.0
#include "core/formats/EdidFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace matrix::edid {

namespace {

constexpr std::array<std::uint8_t, 8> kHeader = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::size_t kExtensionCountOffset = 126;

bool blockSumsToZero(const std::vector<std::uint8_t>& bytes, std::size_t from)
{
    unsigned sum = 0;
    for (std::size_t i = from; i < from + kEdidBlockBytes; ++i)
        sum += bytes[i];
    return (sum & 0xFF) == 0;
}

}  // namespace

EdidFileCheck checkEdidBytes(const std::vector<std::uint8_t>& bytes)
{
    EdidFileCheck result;
    if (bytes.size() != kEdidBlockBytes && bytes.size() != kEdidFileBytesMax)
        return result;
    if (!std::equal(kHeader.begin(), kHeader.end(), bytes.begin()))
        return result;
    const int extensions = bytes[kExtensionCountOffset];
    if (extensions >= 2) {
        result.verdict = EdidFileVerdict::Ignore;
        return result;
    }
    if (!blockSumsToZero(bytes, 0))
        return result;
    if (extensions == 1) {
        // A 128-byte file that announces an extension has none to check:
        // refuse it rather than send a block of zeros as its extension.
        if (bytes.size() != kEdidFileBytesMax || !blockSumsToZero(bytes, kEdidBlockBytes))
            return result;
        result.echoBytes = kEdidFileBytesMax;
    } else {
        result.echoBytes = kEdidBlockBytes;
    }
    result.verdict = EdidFileVerdict::Accept;
    std::copy(bytes.begin(), bytes.end(), result.data.begin());
    return result;
}

EdidFileCheck checkEdidFile(const std::string& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || (size != kEdidBlockBytes && size != kEdidFileBytesMax))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::size_t>(in.gcount()) != bytes.size())
        return {};
    return checkEdidBytes(bytes);
}

}  // namespace matrix::edid
