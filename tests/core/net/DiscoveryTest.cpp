// SPDX-License-Identifier: Apache-2.0
#include "core/net/Discovery.h"

#include "core/link/HexLog.h"
#include "tests/core/net/NetFixture.h"

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

const std::array<std::uint8_t, 6> kMacA{0x00, 0x1C, 0x91, 0x03, 0x40, 0x5A};
const std::array<std::uint8_t, 6> kMacB{0x00, 0x1C, 0x91, 0x07, 0xBE, 0xEF};

}  // namespace

TEST(Discovery, SearchBroadcastsOneRequestByteAndListsMatricesInReplyOrder)
{
    NetFixture net;
    SegmentMatrix first(kMacA, {192, 168, 1, 20});
    SegmentMatrix second(kMacB, {192, 168, 1, 7});
    net.segment.attach(&first.responder);
    net.segment.attach(&second.responder);

    net.discovery.search();
    ASSERT_EQ(net.segment.sent.size(), 1u);
    EXPECT_EQ(net.segment.sent[0].address, "255.255.255.255");
    EXPECT_EQ(net.segment.sent[0].port, 30600);
    EXPECT_EQ(net.segment.sent[0].data, std::vector<std::uint8_t>{0x61});
    EXPECT_EQ(net.segment.boundPort, 30600);

    net.loop.runPending();
    EXPECT_EQ(net.discovery.addresses(), (std::vector<std::string>{"192.168.1.20", "192.168.1.7"}));
    EXPECT_EQ(net.discovery.currentRow(), 0);
    EXPECT_EQ(net.link.matrixAddress, "192.168.1.20");
    EXPECT_EQ(net.discovery.selectedMac(), "001C9103405A");
    EXPECT_EQ(net.discovery.discoveredCount(), 2);
    EXPECT_EQ(net.discovery.discoveredMac(1), "001C9107BEEF");
    EXPECT_EQ(net.shell.netConfigStatus, (std::vector<int>{2, 2}));

    // The user picks the second row: the configuration addresses that matrix.
    net.discovery.selectRow(1);
    EXPECT_EQ(net.link.matrixAddress, "192.168.1.7");
    EXPECT_EQ(net.discovery.selectedMac(), "001C9107BEEF");

    // A new search starts the list and the record afresh.
    second.responder.setSilent(true);
    net.discovery.search();
    net.loop.runPending();
    EXPECT_EQ(net.discovery.addresses(), std::vector<std::string>{"192.168.1.20"});
    EXPECT_EQ(net.discovery.discoveredCount(), 1);
    EXPECT_EQ(net.discovery.selectedMac(), "001C9103405A");
}

TEST(Discovery, ReplyIsReadWhereverItsBytesBegin)
{
    NetFixture net;
    HexLog log;
    net.discovery.setReceivedLog(&log);
    net.discovery.search();
    net.loop.runPending();  // our own request byte comes back first

    // A short reply waits and is completed by the next datagram.
    auto reply = discoveryReply(kMacA, {10, 0, 0, 9});
    net.segment.arrive({reply.begin(), reply.begin() + 30});
    EXPECT_TRUE(net.discovery.addresses().empty());
    EXPECT_EQ(net.discovery.bufferedBytes(), 30u);
    net.segment.arrive({reply.begin() + 30, reply.end()});
    EXPECT_EQ(net.discovery.addresses(), std::vector<std::string>{"10.0.0.9"});
    EXPECT_EQ(net.discovery.bufferedBytes(), 0u);
    EXPECT_EQ(log.boundText().substr(0, 18), "00 1C 91 03 40 5A ");

    // A MAC that begins with the request byte value keeps its first bytes.
    net.segment.arrive({0x61});
    net.segment.arrive(discoveryReply({0x61, 0x61, 0x0A, 0x01, 0x02, 0x03}, {10, 0, 0, 97}));
    ASSERT_EQ(net.discovery.addresses().size(), 2u);
    EXPECT_EQ(net.discovery.addresses()[1], "10.0.0.97");
    EXPECT_EQ(net.discovery.discoveredMac(1), "61610A010203");

    // No signature: dropped without trace, and the next reply is read cleanly.
    net.segment.arrive(discoveryReply(kMacB, {10, 0, 0, 66}, 64, false));
    EXPECT_EQ(net.discovery.addresses().size(), 2u);
    EXPECT_EQ(net.discovery.bufferedBytes(), 0u);
    net.segment.arrive(discoveryReply(kMacB, {10, 0, 0, 67}));
    EXPECT_EQ(net.discovery.addresses().back(), "10.0.0.67");
    EXPECT_EQ(net.shell.netConfigStatus.size(), 3u);
}

TEST(Discovery, HostileDatagramsNeverOverrunTheBuffer)
{
    // Run under the sanitizer build to catch a stray read or write; here the
    // buffer accounting itself is checked.
    NetFixture net;
    net.discovery.search();
    net.loop.runPending();

    net.segment.arrive({});
    EXPECT_EQ(net.discovery.bufferedBytes(), 0u);

    std::vector<std::uint8_t> huge(5000, 0x61);  // truncated to 1024 by the socket
    net.segment.arrive(huge);
    EXPECT_EQ(net.discovery.bufferedBytes(), 0u);
    EXPECT_TRUE(net.discovery.addresses().empty());

    // 49 bytes, then a flood: the buffer stops at 1024 and is interpreted.
    net.segment.arrive(std::vector<std::uint8_t>(49, 0xEE));
    net.segment.arrive(std::vector<std::uint8_t>(1024, 0x00));
    EXPECT_EQ(net.discovery.bufferedBytes(), 0u);
    EXPECT_TRUE(net.discovery.addresses().empty());

    // A giant valid reply is still one matrix.
    auto giant = discoveryReply(kMacA, {172, 16, 0, 1}, 4000);
    net.segment.arrive(giant);
    EXPECT_EQ(net.discovery.addresses(), std::vector<std::string>{"172.16.0.1"});

    // Many short pieces never stand for more than 1024 bytes.
    for (int i = 0; i < 100; ++i)
        net.segment.arrive(std::vector<std::uint8_t>(7, 0x10));
    EXPECT_LT(net.discovery.bufferedBytes(), 50u);
}

TEST(Discovery, SearchDropsTheTcpLinkAndReportsAPortItCannotBind)
{
    NetFixture net;
    sim::MatrixDevice device;
    sim::MatrixResponder tcpMatrix(net.loop, device);
    net.linkSocket.listen("127.0.0.1", &tcpMatrix);
    net.linkSocket.connectTo("127.0.0.1", 8000);
    net.loop.runPending();
    ASSERT_TRUE(net.linkSocket.connected());
    net.link.setTcpState(TcpState::Up);
    net.segment.refuseBind = true;  // another instance holds the port
    net.discovery.search();
    EXPECT_FALSE(net.linkSocket.connected());
    EXPECT_EQ(net.link.tcpLinkUp(), 0);
    EXPECT_TRUE(net.segment.sent.empty());
    EXPECT_TRUE(net.popups.notice.isOpen());
    EXPECT_EQ(net.popups.notice.text(), "Search failed");
    net.loop.advance(1499);
    EXPECT_TRUE(net.popups.notice.isOpen());
    net.loop.advance(1);
    EXPECT_FALSE(net.popups.notice.isOpen());
    EXPECT_EQ(net.loop.runningTimerCount(), 0u);

    // A search that binds resets the link fields too.
    net.link.setTcpState(TcpState::Up);
    net.segment.refuseBind = false;
    net.discovery.search();
    EXPECT_EQ(net.link.socketConnected(), 0);
    EXPECT_EQ(net.link.tcpLinkUp(), 0);
    EXPECT_FALSE(net.popups.notice.isOpen());
}

TEST(Discovery, RepliesToAnEarlierSocketAreNotListed)
{
    NetFixture net;
    SegmentMatrix matrix(kMacA, {192, 168, 1, 20});
    net.segment.attach(&matrix.responder);
    net.discovery.search();
    // The user presses Search again before the first answers were read.
    net.discovery.search();
    net.loop.runPending();
    EXPECT_EQ(net.discovery.addresses().size(), 1u);
}

TEST(Discovery, RecordWrapsAfter256RepliesButEveryRowKeepsItsMatrix)
{
    NetFixture net;
    net.discovery.search();
    for (int i = 0; i < 257; ++i) {
        std::uint8_t lo = static_cast<std::uint8_t>(i & 0xFF);
        std::uint8_t hi = static_cast<std::uint8_t>(i >> 8);
        net.segment.arrive(discoveryReply({0x02, 0, 0, 0, hi, lo}, {10, 1, hi, lo}));
    }
    EXPECT_EQ(net.discovery.addresses().size(), 257u);
    EXPECT_EQ(net.discovery.discoveredCount(), 1);
    EXPECT_EQ(net.discovery.discoveredMac(0), "020000000100");
    // The first row stays selected, and its own MAC goes with it.
    EXPECT_EQ(net.link.matrixAddress, "10.1.0.0");
    EXPECT_EQ(net.discovery.selectedMac(), "020000000000");
    net.discovery.selectRow(256);
    EXPECT_EQ(net.link.matrixAddress, "10.1.1.0");
    EXPECT_EQ(net.discovery.selectedMac(), "020000000100");
    net.discovery.selectRow(257);  // no such row: nothing changes
    EXPECT_EQ(net.discovery.selectedMac(), "020000000100");
}
