// SPDX-License-Identifier: Apache-2.0
#include "core/link/CommandFrame.h"
#include "tests/support/RawFrame.h"

#include <gtest/gtest.h>

#include <vector>

using matrix::CommandFrame;
using matrix::testing::RawFrame;

namespace {

std::vector<int> bytesOf(const CommandFrame& f) { return {f.bytes().begin(), f.bytes().end()}; }

}  // namespace

TEST(CommandFrame, WorkedExamplesByteForByte)
{
    EXPECT_EQ(bytesOf(RawFrame::general(1, 1, 0)),
              (std::vector<int>{0xA5, 0x5B, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0xFE}));
    // Route input 1 to output 1.
    EXPECT_EQ(bytesOf(RawFrame::routing(2, 3, 1, 1)),
              (std::vector<int>{0xA5, 0x5B, 0x02, 0x03, 0x01, 0, 0x01, 0, 0, 0, 0, 0, 0xF9}));
    // Route input 2 to output B.
    EXPECT_EQ(bytesOf(RawFrame::routing(2, 3, 2, 2)),
              (std::vector<int>{0xA5, 0x5B, 0x02, 0x03, 0x02, 0, 0x02, 0, 0, 0, 0, 0, 0xF7}));
}

TEST(CommandFrame, ParametersAreTakenAsTheirLow8Bits)
{
    EXPECT_EQ(RawFrame::general(6, 1, 0xF0), RawFrame::general(6, 1, -16));
    EXPECT_EQ(RawFrame::general(6, 1, 0xFF), RawFrame::general(6, 1, -1));
    EXPECT_EQ(RawFrame::general(6, 1, 0x1F0)[4], 0xF0);
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
