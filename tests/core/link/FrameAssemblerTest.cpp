// SPDX-License-Identifier: Apache-2.0
#include "core/link/FrameAssembler.h"

#include "core/link/HexLog.h"

#include <gtest/gtest.h>

#include <vector>

using matrix::CommandFrame;
using matrix::FrameAssembler;
using matrix::HexLog;

namespace {

std::vector<std::uint8_t> wire(const CommandFrame& f) { return {f.bytes().begin(), f.bytes().end()}; }

std::vector<CommandFrame> feedAll(FrameAssembler& assembler, const std::vector<std::uint8_t>& bytes,
                                  HexLog* log = nullptr)
{
    std::vector<CommandFrame> frames;
    assembler.feed(
        bytes.data(), bytes.size(), [&](const CommandFrame& f) { frames.push_back(f); }, log);
    return frames;
}

const CommandFrame kReply = CommandFrame().set(2, 1).set(3, 4).set(4, 2).set(6, 0xFF).seal();

}  // namespace

TEST(FrameAssembler, NoiseBeforeTheSyncByteIsEchoedButNotStored)
{
    FrameAssembler assembler;
    HexLog log;
    std::vector<std::uint8_t> bytes = {0x00, 0x11};
    auto reply = wire(kReply);
    bytes.insert(bytes.end(), reply.begin(), reply.end());

    auto frames = feedAll(assembler, bytes, &log);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], kReply);
    // Dropped noise shares a log line with the frame that follows.
    EXPECT_EQ(log.boxText(), "00 11 A5 5B 01 04 02 00 FF 00 00 00 00 00 FA \r\n");
    EXPECT_EQ(log.boundText(), "00 11 A5 5B 01 04 02 00 FF 00 00 00 00 00 FA ");
}

TEST(FrameAssembler, BadSecondByteDropsTheWholeFrameIncludingAnInnerSyncByte)
{
    FrameAssembler assembler;
    std::vector<std::uint8_t> bad = {0xA5, 0x5C, 0x01, 0xA5, 0x5B, 0x01, 0x04, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(feedAll(assembler, bad).empty());
    EXPECT_EQ(assembler.pendingBytes(), 0u);
    EXPECT_FALSE(assembler.active());
    // Assembly resumes at the next 0xA5.
    auto frames = feedAll(assembler, wire(kReply));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], kReply);
}

TEST(FrameAssembler, BadChecksumIsLeftToTheHandlers)
{
    FrameAssembler assembler;
    auto bytes = wire(kReply);
    bytes[12] ^= 0x01;
    auto frames = feedAll(assembler, bytes);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].checksumOk());
}

TEST(FrameAssembler, StreamSplitAndCoalescedReplies)
{
    // A reply split 5 + 8 over two reads, then two replies in one read.
    FrameAssembler assembler;
    auto reply = wire(kReply);
    EXPECT_TRUE(feedAll(assembler, {reply.begin(), reply.begin() + 5}).empty());
    EXPECT_EQ(assembler.pendingBytes(), 5u);
    auto frames = feedAll(assembler, {reply.begin() + 5, reply.end()});
    ASSERT_EQ(frames.size(), 1u);

    const CommandFrame second = CommandFrame().set(2, 1).set(3, 5).set(4, 2).set(6, 1).seal();
    std::vector<std::uint8_t> both = reply;
    auto secondBytes = wire(second);
    both.insert(both.end(), secondBytes.begin(), secondBytes.end());
    both.push_back(0xA5);  // the start of a third, kept for the next read
    frames = feedAll(assembler, both);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], kReply);
    EXPECT_EQ(frames[1], second);
    EXPECT_EQ(assembler.pendingBytes(), 1u);
}
