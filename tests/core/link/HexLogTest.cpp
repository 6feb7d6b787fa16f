// SPDX-License-Identifier: Apache-2.0
#include "core/link/HexLog.h"

#include <gtest/gtest.h>

#include <vector>

using matrix::HexLog;

TEST(HexLog, SentBytesBreakTheLineAfterEvery13)
{
    HexLog log;
    std::vector<std::uint8_t> frame(13, 0x80);
    frame[0] = 0xA5;
    log.echoSent(frame.data(), 5);
    EXPECT_EQ(log.boxText(), "A5 80 80 80 80 ");
    log.echoSent(frame.data() + 5, 8);
    log.echoSent(frame.data(), 2);
    EXPECT_EQ(log.boxText(), "A5 80 80 80 80 80 80 80 80 80 80 80 80 \r\nA5 80 ");
    // Bytes of 0x80 and more are never sign-extended; the bound text has no breaks.
    EXPECT_EQ(log.boundText(), "A5 80 80 80 80 80 80 80 80 80 80 80 80 A5 80 ");
}

TEST(HexLog, StaysBoundedOverALongSession)
{
    HexLog log;
    std::vector<std::uint8_t> frame(13, 0xAB);
    for (int i = 0; i < 20000; ++i)
        log.echoSent(frame.data(), frame.size());
    EXPECT_LE(log.boxText().size(), HexLog::kMaxTextBytes);
    EXPECT_LE(log.boundText().size(), HexLog::kMaxTextBytes);
    EXPECT_EQ(log.boxText().substr(log.boxText().size() - 2), "\r\n");
    EXPECT_EQ(log.boxText().substr(0, 3), "AB ");
}
