// SPDX-License-Identifier: Apache-2.0
// QtDatagramSocket on loopback only: nothing here is broadcast.

#include "platform/QtDatagramSocket.h"

#include "tests/integration/EventWait.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace matrix::testing {
namespace {

// Far from the discovery ports, so that a simulator elsewhere is not hit.
constexpr std::uint16_t kPort = 39641;
constexpr std::uint16_t kOtherPort = 39642;

// A receiver on kPort that counts its readable signals, and a sender on
// kOtherPort; the sharing test binds its own sockets.
class QtDatagramSocketTest : public ::testing::Test {
protected:
    bool bindPair()
    {
        receiver.setReadableHandler([this] { ++readable; });
        return receiver.bind(kPort) && sender.bind(kOtherPort);
    }
    QtDatagramSocket receiver;
    QtDatagramSocket sender;
    int readable = 0;
};

TEST_F(QtDatagramSocketTest, DeliversOneDatagramPerReceiveAndTruncatesLongOnes)
{
    ASSERT_TRUE(bindPair());

    std::uint8_t buffer[64];
    EXPECT_EQ(receiver.receive(buffer, sizeof buffer), -1) << "nothing waiting";

    const std::vector<std::uint8_t> first{0x01};
    std::vector<std::uint8_t> second(76);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(sender.sendTo("127.0.0.1", kPort, first.data(), first.size()), 1);
    ASSERT_EQ(sender.sendTo("127.0.0.1", kPort, second.data(), second.size()), 76);
    ASSERT_TRUE(waitUntil([&] { return readable > 0; }));

    EXPECT_EQ(receiver.receive(buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], 0x01);
    long got = -1;
    ASSERT_TRUE(waitUntil([&] { return (got = receiver.receive(buffer, 10)) >= 0; }));
    EXPECT_EQ(got, 10);
    EXPECT_EQ(buffer[9], 9);
    EXPECT_EQ(receiver.receive(buffer, sizeof buffer), -1) << "the rest of a truncated datagram is gone";
}

// The programs hold their port alone, so no other socket takes the replies
// meant for them; only sockets that both agree to share may join.
TEST_F(QtDatagramSocketTest, OnlySharingSocketsJoinAPortAndABadAddressSendsNothing)
{
    using Sharing = QtDatagramSocket::PortSharing;
    const struct {
        Sharing first;
        Sharing second;
        bool secondBinds;
    } cases[] = {
        {Sharing::Shared, Sharing::Shared, true},
        {Sharing::Shared, Sharing::Exclusive, false},
        {Sharing::Exclusive, Sharing::Shared, false},
        {Sharing::Exclusive, Sharing::Exclusive, false},
    };
    for (const auto& c : cases) {
        QtDatagramSocket a(c.first);
        QtDatagramSocket b(c.second);
        ASSERT_TRUE(a.bind(kPort));
        EXPECT_EQ(b.bind(kPort), c.secondBinds) << int(c.first) << " then " << int(c.second);
        a.close();
        EXPECT_TRUE(b.bind(kPort)) << "the port is free again once the holder closed it";
    }

    QtDatagramSocket a;
    ASSERT_TRUE(a.bind(kPort));
    const std::uint8_t byte = 1;
    EXPECT_EQ(a.sendTo("not an address", kOtherPort, &byte, 1), -1);
    a.close();
    EXPECT_EQ(a.sendTo("127.0.0.1", kOtherPort, &byte, 1), -1) << "a closed socket sends nothing";
}

// The demo redirects the all-ones broadcast to the loopback broadcast, so a
// "Search" there never leaves the machine. (A bad redirect is refused before
// any socket: see the Ipv4 tests, which send nothing.)
TEST_F(QtDatagramSocketTest, BroadcastRedirectStaysOnLoopback)
{
    ASSERT_TRUE(bindPair());
    const std::uint8_t request = 0x61;

    ::setenv("MATRIX_BROADCAST_ADDRESS", "127.255.255.255", 1);
    EXPECT_EQ(sender.sendTo("255.255.255.255", kPort, &request, 1), 1);
    ::unsetenv("MATRIX_BROADCAST_ADDRESS");
    ASSERT_TRUE(waitUntil([&] { return readable > 0; }));
    std::uint8_t buffer[8];
    EXPECT_EQ(receiver.receive(buffer, sizeof buffer), 1);
    EXPECT_EQ(buffer[0], 0x61);
}

}  // namespace
}  // namespace matrix::testing
