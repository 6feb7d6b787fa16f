// SPDX-License-Identifier: Apache-2.0
// What a client sent, as it goes into the log: one line, no terminal control,
// and nothing that can pass for a line of our own.
#include "service/hub/Log.h"

#include <gtest/gtest.h>

namespace matrix::service {
namespace {

TEST(Log, ClientTextIsEscaped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/api/v1/matrices/hall", "/api/v1/matrices/hall"},
        {"Beamer Saal 2 \xC3\xA4\xE2\x82\xAC\xF0\x9F\x8E\xA5", "Beamer Saal 2 \xC3\xA4\xE2\x82\xAC\xF0\x9F\x8E\xA5"},
        {"/x\nhall: link down", "/x\\x0ahall: link down"},  // a forged line
        {"a\r\tb", "a\\x0d\\x09b"},
        {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},  // terminal colours
        {"del\x7f", "del\\x7f"},
        {"csi\xC2\x9B"
         "2J",
         "csi\\xc2\\x9b2J"},  // C1 control, valid UTF-8
        {"nbsp\xC2\xA0", "nbsp\xC2\xA0"},
        {"back\\x0a", "back\\\\x0a"},  // cannot pass for an escaped newline
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"bad \xFF\xFE", "bad \\xff\\xfe"},
        {"cut \xE2\x82", "cut \\xe2\\x82"},
        {"overlong \xC0\xAF", "overlong \\xc0\\xaf"},
        {"surrogate \xED\xA0\x80", "surrogate \\xed\\xa0\\x80"},
        {"past max \xF4\x90\x80\x80", "past max \\xf4\\x90\\x80\\x80"},
    };
    for (const auto& [text, logged] : cases)
        EXPECT_EQ(escapeForLog(text), logged) << text;
}

TEST(Log, EveryCallIsOneLineWhateverItCarries)
{
    // Text that reached logLine without escapeForLog still cannot forge a line
    // or drive the terminal; a backslash stays as it is, it forges nothing.
    ::testing::internal::CaptureStderr();
    logLine("http: 127.0.0.1 GET /x\n\x1b[2Jhall: link down \\ \xFF");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "http: 127.0.0.1 GET /x\\x0a\\x1b[2Jhall: link down \\ \\xff\n");
}

}  // namespace
}  // namespace matrix::service
