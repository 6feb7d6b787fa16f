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
    // Per lead byte: its marker bits, the payload bits it carries, the length,
    // and the least code point that needs that length (less is overlong).
    struct Form {
        std::uint8_t mask, marker, payload;
        std::size_t length;
        std::uint32_t least;
    };
    static constexpr Form kForms[] = {{0x80, 0x00, 0x7F, 1, 0},
                                      {0xE0, 0xC0, 0x1F, 2, 0x80},
                                      {0xF0, 0xE0, 0x0F, 3, 0x800},
                                      {0xF8, 0xF0, 0x07, 4, 0x10000}};
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    for (const Form& form : kForms) {
        if ((byte(at) & form.mask) != form.marker)
            continue;
        if (at + form.length > text.size())
            return 0;
        std::uint32_t code = byte(at) & form.payload;
        for (std::size_t i = 1; i < form.length; ++i) {
            if ((byte(at + i) & 0xC0) != 0x80)
                return 0;
            code = (code << 6) | (byte(at + i) & 0x3F);
        }
        const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
        return code < form.least || code > 0x10FFFF || surrogate ? 0 : form.length;
    }
    return 0;
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
