// SPDX-License-Identifier: Apache-2.0
#include "service/text/LineReader.h"

namespace matrix::service::text {

namespace {

// Telnet's command bytes (RFC 854).
constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;  // WILL, WONT, DO and DONT are 251-254 and carry an option byte

}  // namespace

bool LineReader::feed(std::string_view bytes, std::vector<Line>& lines)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const bool wasAfterCr = afterCr_;
        afterCr_ = false;
        switch (telnet_) {
        case Telnet::Data:
            if (byte == kIac) {
                telnet_ = Telnet::Command;
            } else if (byte == '\r' || byte == '\n') {
                endLine(lines);
                afterCr_ = byte == '\r';
                continue;
            } else if (byte == 0 && wasAfterCr) {
                continue;  // telnet's CR NUL: a bare carriage return
            } else {
                data(c);
            }
            break;
        case Telnet::Command:
            if (byte == kIac)
                data(c);  // an escaped 255: data, if unusual in a command line
            telnet_ = byte == kSb ? Telnet::Sub : byte >= kWill && byte != kIac ? Telnet::Option : Telnet::Data;
            break;
        case Telnet::Option: telnet_ = Telnet::Data; break;
        case Telnet::Sub:
            if (byte == kIac)
                telnet_ = Telnet::SubCommand;
            break;
        case Telnet::SubCommand: telnet_ = byte == kSe ? Telnet::Data : Telnet::Sub; break;
        }
        // Negotiation counts too: an endless subnegotiation is a flood like any other.
        if (++unendedBytes_ >= kMaxUnendedBytes)
            return false;
    }
    return true;
}

void LineReader::data(char byte)
{
    if (tooLong_)
        return;
    if (line_.size() >= kMaxLineBytes) {
        tooLong_ = true;
        line_.clear();
        return;
    }
    line_.push_back(byte);
}

void LineReader::endLine(std::vector<Line>& lines)
{
    unendedBytes_ = 0;
    if (tooLong_)
        lines.push_back({true, {}});
    else if (line_.find_first_not_of(" \t") != std::string::npos)
        lines.push_back({false, line_});
    line_.clear();
    tooLong_ = false;
}

}  // namespace matrix::service::text
