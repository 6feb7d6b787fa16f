// SPDX-License-Identifier: Apache-2.0
// The in-memory doubles carry the simulator's answers the way the real
// transports do; the page tests stand on them, so their own faults show here.
#include "core/link/FrameAssembler.h"
#include "tests/support/RawFrame.h"
#include "tests/support/TestRig.h"

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

struct Collector : StreamSocketOwner {
    explicit Collector(StreamSocket& s) : socket(s) {}
    void onSocketConnect(int error) override { connectErrors.push_back(error); }
    void onSocketRead() override
    {
        std::uint8_t buffer[1024];
        long n = socket.receive(buffer, sizeof buffer);
        reads.push_back(n);
        assembler.feed(buffer, static_cast<std::size_t>(n), [&](const CommandFrame& f) { frames.push_back(f); });
    }
    void onSocketClose() override { ++closes; }
    StreamSocket& socket;
    std::vector<int> connectErrors;
    std::vector<long> reads;
    std::vector<CommandFrame> frames;
    FrameAssembler assembler;
    int closes = 0;
};

}  // namespace

TEST(MemoryDoubles, SerialQueryIsAnsweredByteByByteInOrder)
{
    TestRig rig;
    auto port = rig.platform.makeSerial();
    std::vector<std::uint8_t> received;
    port->setByteHandler([&](std::uint8_t b, int n) {
        EXPECT_EQ(n, TestRig::kComPort);
        received.push_back(b);
    });
    ASSERT_TRUE(port->open(TestRig::kComPort, liveSerialSettings()));
    ASSERT_TRUE(port->startWorker());
    auto query = RawFrame::general(1, 4, 1);
    port->write(query.data(), CommandFrame::kSize);
    rig.loop.runPending();
    auto expected = CommandFrame().set(2, 1).set(3, 4).set(4, 1).set(6, 1).seal();
    EXPECT_EQ(received, std::vector<std::uint8_t>(expected.bytes().begin(), expected.bytes().end()));
}

TEST(MemoryDoubles, SerialPortsAreExclusiveAndAPullReportsAFault)
{
    TestRig rig;
    auto first = rig.platform.makeSerial();
    auto second = rig.platform.makeSerial();
    ASSERT_TRUE(first->open(TestRig::kComPort, liveSerialSettings()));
    EXPECT_FALSE(second->open(TestRig::kComPort, liveSerialSettings()));
    EXPECT_FALSE(second->open(9, liveSerialSettings()));
    first->requestClose();
    EXPECT_TRUE(second->open(TestRig::kComPort, liveSerialSettings()));
    second->startWorker();
    int faults = 0;
    second->setFaultHandler([&] { ++faults; });
    rig.serialHub.unplug(TestRig::kComPort);
    rig.loop.runPending();
    EXPECT_EQ(faults, 1);
}

TEST(MemoryDoubles, TcpSplitAndCoalescedRepliesAndPeerClose)
{
    TestRig rig;
    Collector owner(rig.linkSocket);
    rig.linkSocket.recreate(&owner);
    rig.linkSocket.connectTo("127.0.0.1", kMatrixTcpPort);
    rig.loop.runPending();
    ASSERT_EQ(owner.connectErrors, std::vector<int>{0});

    rig.tcpMatrix.setSplitSize(5);
    auto query = RawFrame::general(1, 5, 2);
    rig.linkSocket.send(query.data(), CommandFrame::kSize);
    rig.loop.runPending();
    ASSERT_EQ(owner.frames.size(), 1u);
    EXPECT_EQ(owner.frames[0].p1(), 2);

    rig.tcpMatrix.setSplitSize(0);
    rig.tcpMatrix.setCoalesce(2);
    rig.linkSocket.send(RawFrame::general(1, 4, 1).data(), 13);
    rig.linkSocket.send(RawFrame::general(1, 4, 2).data(), 13);
    rig.loop.runPending();
    ASSERT_EQ(owner.frames.size(), 3u);
    EXPECT_EQ(owner.frames[1].p1(), 1);
    EXPECT_EQ(owner.frames[2].p1(), 2);

    rig.tcpMatrix.closeLink();
    rig.loop.runPending();
    EXPECT_EQ(owner.closes, 1);
}

TEST(MemoryDoubles, BadAddressTextNeverConnectsAndEventsOfAnOldSocketAreLost)
{
    TestRig rig;
    Collector first(rig.linkSocket);
    Collector second(rig.linkSocket);
    rig.linkSocket.recreate(&first);
    rig.linkSocket.connectTo("not an address", kMatrixTcpPort);
    rig.loop.runPending();
    EXPECT_EQ(rig.linkSocket.connectAttempts(), 0);
    EXPECT_TRUE(first.connectErrors.empty());

    rig.linkSocket.connectTo("127.0.0.1", kMatrixTcpPort);
    rig.linkSocket.recreate(&second);  // before the connect completed
    rig.loop.runPending();
    EXPECT_TRUE(first.connectErrors.empty());
    EXPECT_TRUE(second.connectErrors.empty());

    rig.linkSocket.connectTo("127.0.0.2", kMatrixTcpPort);
    rig.loop.runPending();
    EXPECT_EQ(second.connectErrors, std::vector<int>{MemoryLinkSocket::kConnectionRefused});
}
