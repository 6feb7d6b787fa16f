// SPDX-License-Identifier: Apache-2.0
#include "core/link/HexLog.h"

namespace matrix {

std::string HexLog::hexByte(std::uint8_t byte)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[byte >> 4], digits[byte & 0x0F], ' '};
}

void HexLog::echoSent(const std::uint8_t* data, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        bool lineBreak = ++sentCount_ == 13;
        if (lineBreak)
            sentCount_ = 0;
        appendByte(data[i], lineBreak);
    }
}

void HexLog::appendByte(std::uint8_t byte, bool lineBreakAfter)
{
    std::string text = hexByte(byte);
    bound_ += text;
    box_ += text;
    if (lineBreakAfter)
        box_ += "\r\n";
    trim();
}

void HexLog::clear()
{
    box_.clear();
    bound_.clear();
}

void HexLog::trim()
{
    // Drop whole old lines so the box still starts at a line break.
    if (box_.size() > kMaxTextBytes) {
        std::size_t cut = box_.find("\r\n", box_.size() - kMaxTextBytes / 2);
        box_.erase(0, cut == std::string::npos ? box_.size() - kMaxTextBytes / 2 : cut + 2);
    }
    if (bound_.size() > kMaxTextBytes)
        bound_.erase(0, bound_.size() - kMaxTextBytes / 2);
}

}  // namespace matrix
