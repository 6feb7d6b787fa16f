// SPDX-License-Identifier: Apache-2.0
// QtLinkSocket on loopback against the matrix-sim program. Every test runs
// its own simulator on its own 127.23.0.x address, so tests may run in
// parallel without fighting over port 8000.

#include "platform/QtLinkSocket.h"
#include "tests/support/RawFrame.h"

#include "tests/integration/EventWait.h"
#include "tests/integration/LinkOwner.h"
#include "tests/integration/SimProcess.h"

#include <gtest/gtest.h>

#include <memory>

namespace matrix::testing {
namespace {

const CommandFrame kStatusQuery = RawFrame::general(1, 1, 0);
const CommandFrame kSizeQuery = RawFrame::general(1, 2, 0);

class LinkSocketTest : public ::testing::Test {
protected:
    // Starts a simulator on address with extra arguments; false if it did not come up.
    bool startSim(const std::string& address, QStringList extra = {})
    {
        address_ = address;
        extra.prepend(QString::fromStdString(address));
        extra.prepend("--tcp");
        sim_ = std::make_unique<SimProcess>(extra);
        return !sim_->waitForLine("listening tcp " + address + ":8000").empty();
    }
    bool connectOwner(LinkOwner& owner)
    {
        socket_.recreate(&owner);
        socket_.connectTo(address_, kMatrixTcpPort);
        return waitUntil([&] { return !owner.connects.empty(); }) && owner.connects == std::vector<int>{0};
    }
    void send(const CommandFrame& frame) { ASSERT_EQ(socket_.send(frame.data(), CommandFrame::kSize), 13); }

    std::string address_;
    std::unique_ptr<SimProcess> sim_;
    QtLinkSocket socket_;
};

TEST_F(LinkSocketTest, ConnectsAndExchangesAFrameEachWay)
{
    ASSERT_TRUE(startSim("127.23.0.1"));
    LinkOwner owner(socket_);
    ASSERT_TRUE(connectOwner(owner));

    send(kStatusQuery);
    ASSERT_TRUE(waitUntil([&] { return owner.frames.size() >= 1; }));
    EXPECT_TRUE(owner.frames[0].is(1, 1));
    EXPECT_TRUE(owner.frames[0].checksumOk());
    EXPECT_EQ(owner.frames[0].p1(), 1) << "device type HDMI";

    // Route input 3 to output 2: acknowledged with p1 0 and p3 the output.
    send(RawFrame::routing(2, 3, 3, 2));
    ASSERT_TRUE(waitUntil([&] { return owner.frames.size() >= 2; }));
    const std::uint8_t ack[13] = {0xA5, 0x5B, 0x02, 0x03, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0xF9};
    EXPECT_EQ(owner.frames[1], CommandFrame::fromBytes(ack));
    EXPECT_EQ(owner.closes, 0);
}

TEST_F(LinkSocketTest, AReplySplitOverSeveralReadsIsAssembledOnce)
{
    ASSERT_TRUE(startSim("127.23.0.2", {"--split", "5", "--split-gap-ms", "40"}));
    LinkOwner owner(socket_);
    ASSERT_TRUE(connectOwner(owner));

    send(kStatusQuery);
    ASSERT_TRUE(waitUntil([&] { return owner.frames.size() >= 1; }));
    pumpEventsFor(100);
    ASSERT_EQ(owner.frames.size(), 1u);
    EXPECT_TRUE(owner.frames[0].is(1, 1));
    EXPECT_TRUE(owner.frames[0].checksumOk());
    ASSERT_GE(owner.readSizes.size(), 2u) << "the reply did not arrive in parts";
    EXPECT_EQ(owner.readSizes.front(), 5u);
    EXPECT_EQ(owner.assembler.pendingBytes(), 0u);
}

TEST_F(LinkSocketTest, TwoRepliesInOneSegmentAreBothHandledInOrder)
{
    ASSERT_TRUE(startSim("127.23.0.3", {"--coalesce", "2"}));
    LinkOwner owner(socket_);
    ASSERT_TRUE(connectOwner(owner));

    send(kStatusQuery);
    send(kSizeQuery);
    ASSERT_TRUE(waitUntil([&] { return owner.frames.size() >= 2; }));
    EXPECT_EQ(owner.readSizes, std::vector<std::size_t>{26}) << "both replies should come in one read";
    EXPECT_TRUE(owner.frames[0].is(1, 1));
    EXPECT_TRUE(owner.frames[1].is(1, 2));
    EXPECT_EQ(owner.frames[1].p1(), 4);
    EXPECT_EQ(owner.frames[1].p3(), 4);
}

TEST_F(LinkSocketTest, AnOwnerThatReadsInSmallPortionsStillGetsEveryByte)
{
    ASSERT_TRUE(startSim("127.23.0.4", {"--coalesce", "2"}));
    LinkOwner owner(socket_);
    owner.readCapacity = 5;
    ASSERT_TRUE(connectOwner(owner));

    send(kStatusQuery);
    send(kSizeQuery);
    ASSERT_TRUE(waitUntil([&] { return owner.frames.size() >= 2; }));
    EXPECT_EQ(owner.readSizes, (std::vector<std::size_t>{5, 5, 5, 5, 5, 1}));
}

TEST_F(LinkSocketTest, APeerCloseIsReportedOnce)
{
    ASSERT_TRUE(startSim("127.23.0.5", {"--control-stdin"}));
    LinkOwner owner(socket_);
    ASSERT_TRUE(connectOwner(owner));
    ASSERT_TRUE(sim_->waitForLinks(1));

    ASSERT_EQ(sim_->command("close"), "ok close");
    ASSERT_TRUE(waitUntil([&] { return owner.closes >= 1; }));
    pumpEventsFor(100);
    EXPECT_EQ(owner.closes, 1);
    EXPECT_EQ(owner.connects, std::vector<int>{0});
    EXPECT_EQ(socket_.send(kStatusQuery.data(), 13), -1) << "a closed link takes no frames";

    // The simulator ending closes the link too.
    LinkOwner second(socket_);
    ASSERT_TRUE(connectOwner(second));
    EXPECT_EQ(sim_->terminate(), 0);
    ASSERT_TRUE(waitUntil([&] { return second.closes >= 1; }));
    EXPECT_EQ(owner.closes, 1) << "the first owner heard about the second socket";
}

TEST_F(LinkSocketTest, ATextThatIsNotADottedAddressNeverConnects)
{
    ASSERT_TRUE(startSim("127.23.0.6", {"--control-stdin"}));
    LinkOwner owner(socket_);
    socket_.recreate(&owner);
    for (const char* text : {"127.23.0.6 ", " 127.23.0.6", "127.23.0", "127.23.0.6.1", "127.23.0.256", "127.23.00006",
                             "localhost", "", "0x7f.23.0.6", "255.255.255.255"}) {
        SCOPED_TRACE(text);
        socket_.connectTo(text, kMatrixTcpPort);
    }
    pumpEventsFor(300);
    EXPECT_EQ(owner.events(), 0);
    EXPECT_EQ(sim_->command("links"), "ok links 0");
    EXPECT_EQ(socket_.send(kStatusQuery.data(), 13), -1);

    // The same socket still connects to a proper address.
    socket_.connectTo("127.23.0.6", kMatrixTcpPort);
    ASSERT_TRUE(waitUntil([&] { return !owner.connects.empty(); }));
    EXPECT_EQ(owner.connects, std::vector<int>{0});
    EXPECT_TRUE(sim_->waitForLinks(1));
}

TEST_F(LinkSocketTest, ARefusedConnectIsReportedWithAnError)
{
    // Nothing listens on this address.
    LinkOwner owner(socket_);
    socket_.recreate(&owner);
    socket_.connectTo("127.23.0.99", kMatrixTcpPort);
    EXPECT_TRUE(owner.connects.empty()) << "the result must come later, from the loop";
    ASSERT_TRUE(waitUntil([&] { return !owner.connects.empty(); }));
    pumpEventsFor(50);
    EXPECT_EQ(owner.connects, std::vector<int>{QtLinkSocket::kConnectionRefused});
    EXPECT_EQ(owner.closes, 0);
}

TEST_F(LinkSocketTest, RecreatingCutsTheOldSocketOffFromEveryOwner)
{
    ASSERT_TRUE(startSim("127.23.0.7", {"--standby-after-ms", "150", "--control-stdin"}));
    LinkOwner first(socket_);
    LinkOwner second(socket_);

    // A connect still in flight: neither owner hears of it.
    socket_.recreate(&first);
    socket_.connectTo("127.23.0.7", kMatrixTcpPort);
    socket_.recreate(&second);
    pumpEventsFor(300);
    EXPECT_EQ(first.events(), 0);
    EXPECT_EQ(second.events(), 0);

    // A connected socket whose standby notice is on its way.
    LinkOwner third(socket_);
    ASSERT_TRUE(connectOwner(third));
    LinkOwner fourth(socket_);
    socket_.recreate(&fourth);
    pumpEventsFor(400);
    EXPECT_EQ(third.readEvents, 0) << "an old socket's data reached its owner after recreate";
    EXPECT_EQ(third.closes, 0);
    EXPECT_EQ(fourth.events(), 0);
    EXPECT_TRUE(sim_->waitForLinks(0)) << "the old sockets are still open";

    // The new socket works and gets its own standby notice.
    socket_.connectTo("127.23.0.7", kMatrixTcpPort);
    ASSERT_TRUE(waitUntil([&] { return fourth.frames.size() >= 1; }));
    EXPECT_TRUE(fourth.frames[0].is(0x88, 0x88));
    EXPECT_TRUE(third.frames.empty());
}

}  // namespace
}  // namespace matrix::testing
