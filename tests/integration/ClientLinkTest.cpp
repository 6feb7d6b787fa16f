// SPDX-License-Identifier: Apache-2.0
// The direct client on the real event loop and real sockets, against
// matrix-sim processes on their own 127.23.1.x addresses: one socket per
// client, each independent of the others.

#include "core/client/MatrixClient.h"
#include "platform/QtEventLoop.h"
#include "platform/QtLinkSocket.h"

#include "tests/integration/EventWait.h"
#include "tests/integration/LinkOwner.h"
#include "tests/integration/SimProcess.h"

#include <gtest/gtest.h>

#include <memory>

namespace matrix::testing {
namespace {

using client::Status;

struct SimAndClient {
    explicit SimAndClient(QtEventLoop& loop, const std::string& address) : address(address)
    {
        sim = std::make_unique<SimProcess>(QStringList{"--tcp", QString::fromStdString(address)});
        listening = !sim->waitForLine("listening tcp " + address + ":8000").empty();
        client::MatrixClient::Options options;
        options.supervise = false;
        client = std::make_unique<client::MatrixClient>(loop, nullptr, std::make_unique<QtLinkSocket>(), options);
        client->onChange = [this](const client::StateChange& c) {
            if (c.kind == client::StateChange::Kind::Link)
                ++linkChanges;
        };
    }
    bool open()
    {
        client::LinkTarget target;
        target.address = address;
        bool up = false;
        client->open(target, [&](Status s) { up = s == Status::Ok; });
        return waitUntil([&] { return up; });
    }

    std::string address;
    std::unique_ptr<SimProcess> sim;
    bool listening = false;
    std::unique_ptr<client::MatrixClient> client;
    int linkChanges = 0;
};

TEST(ClientLink, ClientsOnTheirOwnSocketsWorkAndFailIndependently)
{
    QtEventLoop loop;
    SimAndClient a(loop, "127.23.1.1"), b(loop, "127.23.1.2");
    ASSERT_TRUE(a.listening && b.listening);
    ASSERT_TRUE(a.open());
    ASSERT_TRUE(b.open());

    // Both in flight at once, each on its own link.
    client::Result<client::Nothing> routedA, routedB;
    int ends = 0;
    a.client->route(Output{2}, Input{3}, [&](const auto& r) { routedA = r, ++ends; });
    b.client->route(Output{1}, Input{4}, [&](const auto& r) { routedB = r, ++ends; });
    ASSERT_TRUE(waitUntil([&] { return ends == 2; }));
    EXPECT_EQ(routedA.status, Status::Ok);
    EXPECT_EQ(routedB.status, Status::Ok);

    client::Result<client::Routing> routingA, routingB;
    a.client->readRouting([&](const auto& r) { routingA = r, ++ends; });
    b.client->readRouting([&](const auto& r) { routingB = r, ++ends; });
    ASSERT_TRUE(waitUntil([&] { return ends == 4; }));
    EXPECT_EQ(routingA.value, (client::Routing{1, 3, 3, 4}));
    EXPECT_EQ(routingB.value, (client::Routing{4, 2, 3, 4}));

    // One matrix goes away: only its client sees the link drop.
    EXPECT_EQ(a.sim->terminate(), 0);
    ASSERT_TRUE(waitUntil([&] { return !a.client->linkUp(); }));
    EXPECT_EQ(a.linkChanges, 2);
    client::Result<bool> beepA, beepB;
    a.client->readSetting(client::Setting::Beep, [&](const auto& r) { beepA = r, ++ends; });
    b.client->readSetting(client::Setting::Beep, [&](const auto& r) { beepB = r, ++ends; });
    ASSERT_TRUE(waitUntil([&] { return ends == 6; }));
    EXPECT_EQ(beepA.status, Status::LinkDown);
    EXPECT_EQ(beepB.status, Status::Ok);
    EXPECT_TRUE(b.client->linkUp());
    EXPECT_EQ(b.linkChanges, 1);
}

TEST(ClientLink, AConnectCutOffByCloseReportsNothingAndTheSocketConnectsAgain)
{
    // How the client times out a connect: close() while it is pending.
    SimProcess sim({"--tcp", "127.23.1.3"});
    ASSERT_FALSE(sim.waitForLine("listening tcp 127.23.1.3:8000").empty());
    QtLinkSocket socket;
    LinkOwner owner(socket);
    socket.recreate(&owner);
    socket.connectTo("127.23.1.3", kMatrixTcpPort);
    socket.close();
    pumpEventsFor(200);
    EXPECT_EQ(owner.events(), 0);

    socket.recreate(&owner);
    socket.connectTo("127.23.1.3", kMatrixTcpPort);
    ASSERT_TRUE(waitUntil([&] { return !owner.connects.empty(); }));
    EXPECT_EQ(owner.connects, std::vector<int>{0});
}

}  // namespace
}  // namespace matrix::testing
