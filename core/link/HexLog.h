// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace matrix {

// A page's hidden hex echo of sent or received bytes: "%02X " per byte and
// "\r\n" line breaks in the box text only (the bound text has none). The
// texts are capped so that a long session cannot grow them without limit.
class HexLog {
public:
    static constexpr std::size_t kMaxTextBytes = 64 * 1024;

    static std::string hexByte(std::uint8_t byte);  // "A5 "

    // Sent-bytes echo: a line break after every 13 bytes counted.
    void echoSent(const std::uint8_t* data, std::size_t length);
    // One byte, with a line break after it when asked.
    void appendByte(std::uint8_t byte, bool lineBreakAfter);
    void clear();

    const std::string& boxText() const { return box_; }
    const std::string& boundText() const { return bound_; }

private:
    void trim();
    std::string box_;
    std::string bound_;
    int sentCount_ = 0;
};

}  // namespace matrix
