// SPDX-License-Identifier: Apache-2.0
#include "core/link/CommandFrame.h"

#include <gtest/gtest.h>

#include <vector>

using matrix::CommandFrame;

namespace {

std::vector<int> bytesOf(const CommandFrame& f) { return {f.bytes().begin(), f.bytes().end()}; }

}  // namespace

TEST(CommandFrame, WorkedExamplesByteForByte)
{
    EXPECT_EQ(bytesOf(CommandFrame::general(1, 1, 0)),
              (std::vector<int>{0xA5, 0x5B, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0xFE}));
    // Route input 1 to output 1.
    EXPECT_EQ(bytesOf(CommandFrame::routing(2, 3, 1, 1)),
              (std::vector<int>{0xA5, 0x5B, 0x02, 0x03, 0x01, 0, 0x01, 0, 0, 0, 0, 0, 0xF9}));
    // Route input 2 to output B.
    EXPECT_EQ(bytesOf(CommandFrame::routing(2, 3, 2, 2)),
              (std::vector<int>{0xA5, 0x5B, 0x02, 0x03, 0x02, 0, 0x02, 0, 0, 0, 0, 0, 0xF7}));
}

TEST(CommandFrame, EverySenderFormFillsExactlyItsPositions)
{
    struct Row {
        const char* form;
        CommandFrame frame;
        std::vector<int> expectedBody;  // bytes 2..11
    };
    const std::vector<Row> rows = {
        {"general", CommandFrame::general(0x11, 0x22, 0x33), {0x11, 0x22, 0x33, 0, 0, 0, 0, 0, 0, 0}},
        {"general p3", CommandFrame::generalP3(0x11, 0x22, 0x33, 0x44), {0x11, 0x22, 0x33, 0, 0x44, 0, 0, 0, 0, 0}},
        {"general p2", CommandFrame::generalP2(0x11, 0x22, 0x33, 0x44), {0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0, 0, 0}},
        {"routing", CommandFrame::routing(0x11, 0x22, 0x33, 0x44), {0x11, 0x22, 0x33, 0, 0x44, 0, 0, 0, 0, 0}},
        // EDID: arguments are command, sub-command, p1, p3, p2.
        {"edid", CommandFrame::edid(0x11, 0x22, 0x33, 0x44, 0x55), {0x11, 0x22, 0x33, 0x55, 0x44, 0, 0, 0, 0, 0}},
        {"edid all inputs", CommandFrame::edid(0x11, 0x22, 0x33, 0x44, 0x55, true),
         {0x11, 0x22, 0x33, 0x55, 0x44, 1, 0, 0, 0, 0}},
        {"firmware", CommandFrame::firmware(0x20, 0x01, 0x33, 0x77, 0x88, 0xAA),
         {0x20, 0x01, 0x33, 0, 0, 0x77, 0x88, 0, 0xAA, 0}},
        {"firmware final", CommandFrame::firmware(0x20, 0x01, 0x33, 0x77, 0x88, 0xAA, true),
         {0x20, 0x01, 0x33, 0, 0xFE, 0x77, 0x88, 0, 0xAA, 0}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.form);
        auto bytes = bytesOf(row.frame);
        EXPECT_EQ(bytes[0], 0xA5);
        EXPECT_EQ(bytes[1], 0x5B);
        EXPECT_EQ(std::vector<int>(bytes.begin() + 2, bytes.begin() + 12), row.expectedBody);
        EXPECT_TRUE(row.frame.checksumOk());
    }
}

TEST(CommandFrame, ParametersAreTakenAsTheirLow8Bits)
{
    EXPECT_EQ(CommandFrame::general(6, 1, 0xF0), CommandFrame::general(6, 1, -16));
    EXPECT_EQ(CommandFrame::general(6, 1, 0xFF), CommandFrame::general(6, 1, -1));
    EXPECT_EQ(CommandFrame::general(6, 1, 0x1F0)[4], 0xF0);
}

TEST(CommandFrame, ChecksumIsTestedModulo256)
{
    // A status reply is accepted whether its bytes add up to 0x100 or 0x200.
    CommandFrame reply = CommandFrame().set(2, 1).set(3, 4).set(4, 1).set(6, 0xFF).seal();
    unsigned sum = 0;
    for (auto b : reply.bytes())
        sum += b;
    EXPECT_EQ(sum % 0x100, 0u);
    EXPECT_TRUE(sum == 0x100 || sum == 0x200 || sum == 0x300);
    EXPECT_TRUE(reply.checksumOk());

    CommandFrame bad = reply;
    bad.set(12, reply[12] + 1);
    EXPECT_FALSE(bad.checksumOk());
}
