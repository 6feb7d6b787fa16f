// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service::text {

// Cuts a byte stream into request lines. A line ends at CR, LF or CRLF;
// empty and blank lines are dropped; telnet negotiation (IAC sequences) is
// taken out wherever it falls, so a telnet client works as a raw one does.
class LineReader {
public:
    // Longer lines are answered "line too long"; the rest of them is dropped.
    static constexpr std::size_t kMaxLineBytes = 1024;
    // A peer that sends this much without ending a line is not a control system.
    static constexpr std::size_t kMaxUnendedBytes = 64 * 1024;

    struct Line {
        bool tooLong = false;
        std::string text;  // without its line end; empty when tooLong
    };

    // Appends the lines completed by `bytes` to `lines`. False once
    // kMaxUnendedBytes have arrived since the last line end: close the peer.
    bool feed(std::string_view bytes, std::vector<Line>& lines);

private:
    enum class Telnet { Data, Command, Option, Sub, SubCommand };
    void endLine(std::vector<Line>& lines);
    void data(char byte);

    Telnet telnet_ = Telnet::Data;
    std::string line_;
    bool tooLong_ = false;
    bool afterCr_ = false;
    std::size_t unendedBytes_ = 0;
};

}  // namespace matrix::service::text
