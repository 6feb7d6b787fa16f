// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace matrix {

using Bytes = std::vector<std::uint8_t>;

// Firmware container files: the image, byte by byte XOR a key built from the
// low byte of the file length and a constant of ours. The same operation
// scrambles and unscrambles.
constexpr std::uint8_t kScrambleConstant = 0x3C;
// The image buffer the upgrade works from; larger files are refused.
constexpr std::size_t kMaxFirmwareBytes = 200000;
// One source file of the merge tool.
constexpr std::size_t kMaxSourceBytes = 50000;

std::uint8_t scrambleKey(std::size_t length);
void scramble(Bytes& bytes);

// ".fw" or ".BIN", compared exactly (case included).
bool hasFirmwareExtension(const std::string& path);
// The slave, IR and panel sources: ".bin", exactly.
bool hasSourceExtension(const std::string& path);

enum class FileReadStatus { Ok, CannotOpen, TooLarge };

// Reads a whole file of at most maxBytes; nothing is read past that bound.
FileReadStatus readFileBounded(const std::string& path, std::size_t maxBytes, Bytes& out);
bool writeFile(const std::string& path, const Bytes& bytes);

// Loads a container file and unscrambles it.
FileReadStatus loadFirmwareFile(const std::string& path, Bytes& image);

// Part markers at the head of each part of an image.
struct PartMarker {
    int part;
    std::uint8_t first;
    std::uint8_t second;
};
constexpr PartMarker kPartMarkers[4] = {{1, 0xA5, 0x5A}, {2, 0xA4, 0x5B}, {3, 0xA3, 0x5C}, {4, 0xA2, 0x5D}};

// The part whose marker is at `position`, or 0 (bytes past the image count as 0).
int partAtMarker(const Bytes& image, std::size_t position);

// From `from`, the first position holding 0xA3 or 0xA4 followed by 0x5B or
// 0x5C; the image length when there is none. A start at or past the end is
// returned unchanged.
std::size_t scanForMarker(const Bytes& image, std::size_t from);

}  // namespace matrix
