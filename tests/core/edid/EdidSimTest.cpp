// SPDX-License-Identifier: Apache-2.0
// The simulated matrix's EDID family on its own: the replies the pages
// (EDID page and the General page's factory reset) rely on.
#include "sim/MatrixResponder.h"
#include "tests/support/ManualLoop.h"
#include "tests/support/RawFrame.h"

#include <gtest/gtest.h>

#include <vector>

namespace matrix {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::RawFrame;

struct SimOnly {
    ManualLoop loop;
    sim::MatrixDevice device;
    sim::MatrixResponder matrix{loop, device};
    std::vector<CommandFrame> replies;

    SimOnly()
    {
        sim::installGeneralCommands(matrix);
        sim::installEdidCommands(matrix);
        matrix.setTransmit([this](const Bytes& bytes) {
            ASSERT_EQ(bytes.size() % CommandFrame::kSize, 0u);
            for (std::size_t at = 0; at < bytes.size(); at += CommandFrame::kSize)
                replies.push_back(CommandFrame::fromBytes(bytes.data() + at));
        });
    }
    void send(const CommandFrame& frame) { matrix.receive(frame.data(), CommandFrame::kSize); }
    void send(const Bytes& bytes) { matrix.receive(bytes); }
};

CommandFrame reply(int cmd, int sub, int p1, int p2, int p3, int byte7 = 0)
{
    return CommandFrame().set(2, cmd).set(3, sub).set(4, p1).set(5, p2).set(6, p3).set(7, byte7).seal();
}

TEST(EdidSim, FactoryResetStepsGetTheirAcknowledgements)
{
    SimOnly sim;
    sim.send(RawFrame::edid(3, 0x08, 0xF0, 0, 0));
    sim.send(RawFrame::edid(3, 0x01, 4, 0, 0xF0));
    ASSERT_EQ(sim.replies.size(), 2u);
    EXPECT_EQ(sim.replies[0], reply(3, 0x08, 0, 0, 0));
    EXPECT_EQ(sim.replies[1], reply(3, 0x01, 0, 0, 0));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(sim.device.edidStatus[i], 3) << "mode 4 is status code 3";
}

TEST(EdidSim, EachCommandAnswersAsThePageExpects)
{
    SimOnly sim;
    sim.device.outputCable[1] = true;
    struct Case {
        CommandFrame sent;
        CommandFrame expected;
    };
    const Case cases[] = {
        {RawFrame::edid(3, 0x0B, 0, 0, 0), reply(3, 0x0B, 0, 0, 0)},
        {RawFrame::edid(3, 0x02, 3, 3, 0xF0), reply(3, 0x02, 0, 0, 3)},
        {RawFrame::edid(3, 0x09, 0xFE, 0, 0), reply(3, 0x09, 0, 0, 0)},
        {RawFrame::edid(3, 0x0A, 2, 0, 0), reply(3, 0x0A, 2, 0, 0)},
        {RawFrame::edid(3, 0x04, 2, 1, 0), reply(3, 0x04, 0, 0, 1)},
        {RawFrame::edid(3, 0x03, 2, 0, 0), reply(3, 0x03, 0, 0, 0)},
        {RawFrame::edid(3, 0x07, 2, 0, 0xF0), reply(3, 0x07, 0xAA, 0, 0)},
        {RawFrame::edid(1, 0x0C, 4, 0, 0), reply(1, 0x0C, 4, 0, 16)},
    };
    for (const Case& c : cases) {
        sim.replies.clear();
        sim.send(c.sent);
        ASSERT_EQ(sim.replies.size(), 1u) << "sub " << int(c.sent.subCommand());
        EXPECT_EQ(sim.replies[0], c.expected) << "sub " << int(c.sent.subCommand());
    }
}

TEST(EdidSim, KnobsRefuse)
{
    SimOnly sim;
    sim.device.edidSwitchState = 15;
    sim.device.rejectEdidCopy = true;
    sim.device.outputCable[0] = false;
    sim.send(RawFrame::edid(3, 0x0B, 0, 0, 0));
    sim.send(RawFrame::edid(1, 0x05, 1, 0, 0));
    sim.send(RawFrame::edid(3, 0x04, 2, 1, 0));
    ASSERT_EQ(sim.replies.size(), 3u);
    EXPECT_EQ(sim.replies[0], reply(3, 0x0B, 15, 0, 0));
    EXPECT_EQ(sim.replies[1], reply(1, 0x05, 1, 0, 0xFF));
    EXPECT_EQ(sim.replies[2], reply(3, 0x04, 0xFF, 0, 1));
}

TEST(EdidSim, DownloadChecksTheBlock)
{
    Bytes edid(256, 0);
    const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(header, header + 8, edid.begin());
    edid[127] = static_cast<std::uint8_t>(0x100 - (6 * 0xFF) % 0x100);
    auto block = [&edid](int lead, int tail) {
        Bytes b(290, 0);
        b[0] = static_cast<std::uint8_t>(lead);
        std::copy(edid.begin(), edid.end(), b.begin() + 1);
        b[289] = static_cast<std::uint8_t>(tail);
        return b;
    };
    struct Case {
        Bytes block;
        int result;
    };
    const Case cases[] = {{block(0, 0), 0x00}, {block(1, 0), 0xFF}, {block(0, 1), 0xFF}};
    for (const Case& c : cases) {
        SimOnly sim;
        sim.send(RawFrame::edid(3, 0x06, 0xFE, 0, 0xF0));
        sim.send(RawFrame::edid(3, 0x06, 0x56, 0, 0, true));
        sim.send(c.block);
        ASSERT_EQ(sim.replies.size(), 2u);
        EXPECT_EQ(sim.replies[0], reply(3, 0x06, 0xAA, 0, 0));
        EXPECT_EQ(sim.replies[1], reply(3, 0x06, c.result, 0, 0, 1));
        if (c.result == 0) {
            EXPECT_EQ(sim.device.inputEdid[3], edid);
            EXPECT_EQ(sim.device.edidStatus[0], 0x13);
        }
    }
}

}  // namespace
}  // namespace matrix
