// SPDX-License-Identifier: Apache-2.0
#include "core/formats/FirmwareContainer.h"

#include <fstream>

namespace matrix {

std::uint8_t scrambleKey(std::size_t length) { return static_cast<std::uint8_t>((length & 0xFF) ^ kScrambleConstant); }

void scramble(Bytes& bytes)
{
    const std::uint8_t key = scrambleKey(bytes.size());
    for (auto& b : bytes)
        b ^= key;
}

static bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool hasFirmwareExtension(const std::string& path) { return endsWith(path, ".fw") || endsWith(path, ".BIN"); }

bool hasSourceExtension(const std::string& path) { return endsWith(path, ".bin"); }

FileReadStatus readFileBounded(const std::string& path, std::size_t maxBytes, Bytes& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return FileReadStatus::CannotOpen;
    // Read until the end or one byte more than allowed: a file that yields
    // it is too large, whatever its reported size (pipes and growing files
    // included). Chunks keep a small file from costing a buffer of the
    // largest size.
    Bytes data;
    char chunk[4096];
    for (;;) {
        in.read(chunk, static_cast<std::streamsize>(sizeof chunk));
        const auto got = static_cast<std::size_t>(in.gcount());
        data.insert(data.end(), chunk, chunk + got);
        if (data.size() > maxBytes)
            return FileReadStatus::TooLarge;
        if (!in)
            break;
    }
    if (in.bad())
        return FileReadStatus::CannotOpen;
    out = std::move(data);
    return FileReadStatus::Ok;
}

bool writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

FileReadStatus loadFirmwareFile(const std::string& path, Bytes& image)
{
    Bytes data;
    const FileReadStatus status = readFileBounded(path, kMaxFirmwareBytes, data);
    if (status != FileReadStatus::Ok)
        return status;
    scramble(data);
    image = std::move(data);
    return FileReadStatus::Ok;
}

static std::uint8_t byteAt(const Bytes& image, std::size_t position)
{
    return position < image.size() ? image[position] : 0;
}

int partAtMarker(const Bytes& image, std::size_t position)
{
    const std::uint8_t m0 = byteAt(image, position);
    const std::uint8_t m1 = byteAt(image, position + 1);
    for (const auto& marker : kPartMarkers)
        if (marker.first == m0 && marker.second == m1)
            return marker.part;
    return 0;
}

std::size_t scanForMarker(const Bytes& image, std::size_t from)
{
    for (std::size_t at = from; at < image.size(); ++at) {
        const std::uint8_t b = image[at];
        const std::uint8_t next = byteAt(image, at + 1);
        if ((b == 0xA3 || b == 0xA4) && (next == 0x5B || next == 0x5C))
            return at;
    }
    return from >= image.size() ? from : image.size();
}

}  // namespace matrix
