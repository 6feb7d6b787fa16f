// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Log.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace matrix::service {

namespace {
std::mutex logMutex;
std::atomic<bool> verboseOn{false};

// Bytes of the well-formed UTF-8 sequence at `at` (1-4), or 0 when it is not one
// (bad lead or continuation, overlong, surrogate, past U+10FFFF).
std::size_t utf8Length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    std::size_t length = 0;
    std::uint32_t low = 0;
    std::uint32_t code = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, low = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, low = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, low = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

void appendHex(std::string& out, std::uint8_t byte)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

std::string escaped(std::string_view text, bool backslash)
{
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = utf8Length(text, at);
        const auto lead = static_cast<std::uint8_t>(text[at]);
        // C0 controls, DEL, and the C1 controls (U+0080..U+009F), which some
        // terminals obey as escape sequences too.
        const bool control = length == 1
                                 ? (lead < 0x20 || lead == 0x7F)
                                 : length == 2 && lead == 0xC2 && static_cast<std::uint8_t>(text[at + 1]) < 0xA0;
        if (length == 0) {
            appendHex(out, lead);
            ++at;
        } else if (control) {
            for (std::size_t i = 0; i < length; ++i)
                appendHex(out, static_cast<std::uint8_t>(text[at + i]));
            at += length;
        } else if (backslash && lead == '\\') {
            out += "\\\\";
            ++at;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

}  // namespace

void logLine(const std::string& line)
{
    const std::string safe = escaped(line, false);
    std::lock_guard lock(logMutex);
    std::fwrite(safe.data(), 1, safe.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string escapeForLog(std::string_view text) { return escaped(text, true); }

void setVerbose(bool on) { verboseOn = on; }
bool verbose() { return verboseOn; }

}  // namespace matrix::service
