// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace matrix::edid {

constexpr std::size_t kEdidBlockBytes = 128;
constexpr std::size_t kEdidFileBytesMax = 256;
using EdidBytes = std::array<std::uint8_t, kEdidFileBytesMax>;

// What the page does with a chosen file: take it, refuse it with a notice,
// or (extension count above 1) leave everything as it was without a word.
enum class EdidFileVerdict { Accept, Reject, Ignore };

struct EdidFileCheck {
    EdidFileVerdict verdict = EdidFileVerdict::Reject;
    // Accepted content: a 128-byte file fills the first half and zeros the
    // second, so that an older file's extension block is never sent with it.
    EdidBytes data{};
    std::size_t echoBytes = 0;  // bytes echoed into the sent-bytes log
};

// Checks a file's content: exactly 128 or 256 bytes, the fixed header, a
// base block that sums to zero, and with one extension a second block that
// sums to zero too.
EdidFileCheck checkEdidBytes(const std::vector<std::uint8_t>& bytes);

// Reads and checks a file. A file that cannot be opened or read is refused
// like a wrong one. Files longer than 256 bytes are refused from their
// size alone, without reading them.
EdidFileCheck checkEdidFile(const std::string& path);

}  // namespace matrix::edid
