// SPDX-License-Identifier: Apache-2.0
// Bytes to request lines (line ends, telnet bytes, floods).
#include "service/text/LineReader.h"

#include <gtest/gtest.h>

namespace matrix::service::text {
namespace {

// Lines as text; a too-long line shows as "<too long>".
std::vector<std::string> linesOf(const std::vector<std::string>& chunks, bool* open = nullptr)
{
    LineReader reader;
    std::vector<LineReader::Line> lines;
    bool ok = true;
    for (const auto& chunk : chunks)
        ok = reader.feed(chunk, lines) && ok;
    if (open)
        *open = ok;
    std::vector<std::string> texts;
    for (const auto& line : lines)
        texts.push_back(line.tooLong ? "<too long>" : line.text);
    return texts;
}

TEST(TextLineReader, CutsLinesAtEveryKindOfEndAndDropsTelnet)
{
    using Lines = std::vector<std::string>;
    const std::string iac = "\xff";
    struct Case {
        std::vector<std::string> chunks;
        Lines lines;
    } cases[] = {
        {{"PING\r\nLINK?\rBEEP?\n"}, {"PING", "LINK?", "BEEP?"}},
        {{"PI", "NG\r", "\nLINK?\r", "\n"}, {"PING", "LINK?"}},
        {{"\r\n\r\n  \t\n\nPING"}, {}},
        {{iac + "\xfb\x01" + iac + "\xfd\x03PING\r\n"}, {"PING"}},            // WILL ECHO, DO SGA
        {{"PI" + iac + "\xfa\x18\x01" + iac + "\xf0NG\r\n"}, {"PING"}},       // a subnegotiation
        {{"PI" + iac, "\xf1", "NG\r\n"}, {"PING"}},                           // NOP, split
        {{"PING\r", std::string("\0", 1) + "LINK?\r\n"}, {"PING", "LINK?"}},  // telnet's CR NUL
        {{std::string(1024, 'a') + "\r\n"}, {std::string(1024, 'a')}},
        {{std::string(1025, 'a'), std::string(5000, 'b') + "\nPING\n"}, {"<too long>", "PING"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(linesOf(c.chunks), c.lines) << ::testing::PrintToString(c.chunks);
}

TEST(TextLineReader, SixtyFourKiBWithoutALineEndClosesThePeer)
{
    bool open = true;
    linesOf({std::string(64 * 1024 - 1, 'x')}, &open);
    EXPECT_TRUE(open);
    linesOf({std::string(64 * 1024 - 1, 'x'), "y"}, &open);
    EXPECT_FALSE(open);
    linesOf({"\xff\xfa" + std::string(70000, 'x')}, &open);
    EXPECT_FALSE(open) << "an endless subnegotiation is a flood too";
    linesOf({std::string(40000, 'x') + "\n" + std::string(40000, 'x') + "\n"}, &open);
    EXPECT_TRUE(open) << "long lines that end are answered, not closed";
}

}  // namespace
}  // namespace matrix::service::text
