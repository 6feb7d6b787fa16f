// SPDX-License-Identifier: Apache-2.0
#include "tests/client/ClientRig.h"
#include "tests/support/RawFrame.h"

#include <gtest/gtest.h>

#include <functional>

namespace matrix::testing {
namespace {

using client::MatrixClient;
using client::Result;
using client::Status;

using RunOp = std::function<void(MatrixClient&, std::function<void(Status)>)>;

template <typename T>
std::function<void(const Result<T>&)> statusOf(std::function<void(Status)> done)
{
    return [done](const Result<T>& r) { done(r.status); };
}

struct WireCase {
    const char* name;
    RunOp run;
    std::vector<std::string> frames;
};

const char* const kRouteB2 = "A5 5B 02 03 02 00 02 00 00 00 00 00 F7";

std::vector<WireCase> wireCases()
{
    return {
        {"route output B from input 2",
         [](MatrixClient& c, auto done) { c.route(Output{2}, Input{2}, statusOf<client::Nothing>(done)); },
         {kRouteB2}},
        {"routing read, outputs 1 to 4",
         [](MatrixClient& c, auto done) { c.readRouting(statusOf<client::Routing>(done)); },
         {"A5 5B 02 01 01 00 00 00 00 00 00 00 FC", "A5 5B 02 01 02 00 00 00 00 00 00 00 FB",
          "A5 5B 02 01 03 00 00 00 00 00 00 00 FA", "A5 5B 02 01 04 00 00 00 00 00 00 00 F9"}},
        {"cables, inputs and outputs alternating",
         [](MatrixClient& c, auto done) { c.readCables(statusOf<client::Cables>(done)); },
         {"A5 5B 01 04 01 00 00 00 00 00 00 00 FA", "A5 5B 01 05 01 00 00 00 00 00 00 00 F9",
          "A5 5B 01 04 02 00 00 00 00 00 00 00 F9", "A5 5B 01 05 02 00 00 00 00 00 00 00 F8",
          "A5 5B 01 04 03 00 00 00 00 00 00 00 F8", "A5 5B 01 05 03 00 00 00 00 00 00 00 F7",
          "A5 5B 01 04 04 00 00 00 00 00 00 00 F7", "A5 5B 01 05 04 00 00 00 00 00 00 00 F6"}},
        {"device info",
         [](MatrixClient& c, auto done) { c.readDeviceInfo(statusOf<client::DeviceInfo>(done)); },
         {"A5 5B 01 01 00 00 00 00 00 00 00 00 FE", "A5 5B 01 02 00 00 00 00 00 00 00 00 FD",
          "A5 5B 01 03 00 00 00 00 00 00 00 00 FC"}},
        {"beep off",
         [](MatrixClient& c, auto done) {
             c.setSetting(client::Setting::Beep, false, statusOf<client::Nothing>(done));
         },
         {"A5 5B 06 01 F0 00 00 00 00 00 00 00 09"}},
        {"beep state",
         [](MatrixClient& c, auto done) { c.readSetting(client::Setting::Beep, statusOf<bool>(done)); },
         {"A5 5B 01 0B 00 00 00 00 00 00 00 00 F4"}},
        {"IR on",
         [](MatrixClient& c, auto done) { c.setSetting(client::Setting::Ir, true, statusOf<client::Nothing>(done)); },
         {"A5 5B 05 01 0F 00 00 00 00 00 00 00 EB"}},
        {"IR state",
         [](MatrixClient& c, auto done) { c.readSetting(client::Setting::Ir, statusOf<bool>(done)); },
         {"A5 5B 01 0A 00 00 00 00 00 00 00 00 F5"}},
        {"route all from input 3",
         [](MatrixClient& c, auto done) { c.routeAll(Input{3}, statusOf<client::Nothing>(done)); },
         {"A5 5B 02 03 03 00 01 00 00 00 00 00 F7", "A5 5B 02 03 03 00 02 00 00 00 00 00 F6",
          "A5 5B 02 03 03 00 03 00 00 00 00 00 F5", "A5 5B 02 03 03 00 04 00 00 00 00 00 F4"}},
        {"factory reset",
         [](MatrixClient& c, auto done) { c.factoryReset(statusOf<client::Nothing>(done)); },
         {"A5 5B 02 03 01 00 01 00 00 00 00 00 F9", "A5 5B 02 03 02 00 02 00 00 00 00 00 F7",
          "A5 5B 02 03 03 00 03 00 00 00 00 00 F5", "A5 5B 02 03 04 00 04 00 00 00 00 00 F3",
          "A5 5B 03 08 F0 00 00 00 00 00 00 00 05", "A5 5B 03 01 04 F0 00 00 00 00 00 00 08",
          "A5 5B 06 01 0F 00 00 00 00 00 00 00 EA", "A5 5B 01 0C 01 00 00 00 00 00 00 00 F2",
          "A5 5B 01 0C 02 00 00 00 00 00 00 00 F1", "A5 5B 01 0C 03 00 00 00 00 00 00 00 F0",
          "A5 5B 01 0C 04 00 00 00 00 00 00 00 EF"}},
    };
}

class ClientBothTransports : public ::testing::TestWithParam<Transport> {};

TEST_P(ClientBothTransports, EachOperationSendsExactlyItsFramesAndSucceeds)
{
    for (const WireCase& c : wireCases()) {
        SCOPED_TRACE(c.name);
        ClientRig rig(GetParam());
        rig.device.routing = {2, 1, 4, 3, 5, 6, 7, 8};
        ASSERT_EQ(rig.open(), Status::Ok);
        int endings = 0;
        Status status = Status::Busy;
        c.run(*rig.client, [&](Status s) {
            ++endings;
            status = s;
        });
        rig.loop.advance(20000);
        EXPECT_EQ(endings, 1);
        EXPECT_EQ(status, Status::Ok);
        EXPECT_EQ(rig.wire(), c.frames);
        EXPECT_EQ(rig.loop.runningTimerCount(), 0u) << "a timer left running";
    }
}

TEST_P(ClientBothTransports, RepliesFillTheStateModelAsTheMatrixHasIt)
{
    ClientRig rig(GetParam());
    rig.device.routing = {3, 3, 1, 2, 5, 6, 7, 8};
    rig.device.inputCable = {true, false, false, true, false, false, false, false};
    rig.device.outputCable = {false, true, true, false, false, false, false, false};
    rig.device.beepOn = false;
    rig.device.deviceType = 2;
    rig.device.versionMinor = 7;
    ASSERT_EQ(rig.open(), Status::Ok);

    Outcome<client::DeviceInfo> info;
    Outcome<client::Cables> cables;
    bool refreshed = false;
    rig.client->readDeviceInfo(info.callback());
    rig.client->readCables(cables.callback());
    rig.client->refresh([&](Status s) { refreshed = s == Status::Ok; });
    rig.settle(refreshed);

    ASSERT_TRUE(refreshed);
    EXPECT_EQ(info.result.value.model(), "HDBT MATRIX");
    EXPECT_EQ(info.result.value.version(), "1.7");
    EXPECT_EQ(cables.result.value.input, (std::array<bool, 4>{true, false, false, true}));
    EXPECT_EQ(cables.result.value.output, (std::array<bool, 4>{false, true, true, false}));
    const client::MatrixState& s = rig.client->state();
    EXPECT_TRUE(s.linkUp);
    if (GetParam() == Transport::Com) {
        const SerialSettings& line = rig.serialHub.lastSettings(ClientRig::kComPort);
        EXPECT_EQ(std::tie(line.baud, line.parity, line.dataBits, line.stopBits), std::make_tuple(19200, 'N', 8, 2));
    }
    for (int p = 0; p < client::kPortCount; ++p) {
        EXPECT_EQ(s.routing[p], rig.device.routing[p]);
        EXPECT_EQ(s.inputCable[p], rig.device.inputCable[p]);
        EXPECT_EQ(s.outputCable[p], rig.device.outputCable[p]);
    }
    EXPECT_EQ(s.beepOn, false);
    ASSERT_TRUE(s.info.has_value());
    EXPECT_EQ(s.info->deviceType, 2);

    // A second refresh of an unchanged matrix reports no change.
    rig.changes.clear();
    refreshed = false;
    rig.client->refresh([&](Status) { refreshed = true; });
    rig.settle(refreshed);
    EXPECT_TRUE(rig.changes.empty());
    // A route changes exactly the one output.
    Outcome<client::Nothing> routed;
    rig.client->route(Output{4}, Input{1}, routed.callback());
    rig.settle(routed.ended);
    ASSERT_EQ(rig.changes.size(), 1u);
    EXPECT_EQ(rig.changes[0].kind, client::StateChange::Kind::Routing);
    EXPECT_EQ(rig.changes[0].index, 4);
    EXPECT_EQ(rig.client->state().routing[3], 1);
}

TEST_P(ClientBothTransports, SilentMatrixGetsOneResendThenTimeOut)
{
    // Route: 3000 ms first wait; beep read: 5000 ms. Each: one re-send, then 5000 ms.
    struct Case {
        const char* name;
        RunOp run;
        int firstWaitMs;
    };
    const Case cases[] = {
        {"route", [](MatrixClient& c, auto done) { c.route(Output{2}, Input{2}, statusOf<client::Nothing>(done)); },
         3000},
        {"beep state", [](MatrixClient& c, auto done) { c.readSetting(client::Setting::Beep, statusOf<bool>(done)); },
         5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientRig rig(GetParam());
        ASSERT_EQ(rig.open(), Status::Ok);
        rig.matrix().setSilent(true);
        int endings = 0;
        Status status = Status::Ok;
        c.run(*rig.client, [&](Status s) {
            ++endings;
            status = s;
        });
        rig.loop.advance(c.firstWaitMs - 1);
        EXPECT_EQ(rig.wire().size(), 1u);
        rig.loop.advance(1);
        EXPECT_EQ(rig.wire().size(), 2u) << "re-sent once at the first expiry";
        EXPECT_EQ(rig.wire()[0], rig.wire()[1]);
        rig.loop.advance(4999);
        EXPECT_EQ(endings, 0);
        rig.loop.advance(1);
        EXPECT_EQ(endings, 1);
        EXPECT_EQ(status, Status::TimeOut);
        rig.loop.advance(60000);
        EXPECT_EQ(endings, 1);
        EXPECT_EQ(rig.wire().size(), 2u);
        EXPECT_EQ(client::statusText(status), "Time out!");
    }
}

TEST_P(ClientBothTransports, LateAndDoubledRepliesEndARequestOnceAndAreNotTakenByTheNext)
{
    ClientRig rig(GetParam());
    ASSERT_EQ(rig.open(), Status::Ok);
    // The reply comes after the re-send went out: both the late one and the
    // answer to the re-send arrive; the route ends once, and the extra ack
    // must not be taken as the routing query's answer.
    rig.matrix().setReplyDelayMs(3500);
    Outcome<client::Nothing> routed;
    Outcome<client::Routing> routing;
    rig.client->route(Output{2}, Input{3}, routed.callback());
    rig.client->readRouting(routing.callback());
    rig.loop.advance(3600);
    EXPECT_EQ(routed.endings, 1);
    EXPECT_EQ(routed.result.status, Status::Ok);
    rig.matrix().setReplyDelayMs(0);
    rig.settle(routing.ended);
    EXPECT_EQ(routed.endings, 1);
    EXPECT_EQ(routing.endings, 1);
    EXPECT_EQ(routing.result.status, Status::Ok);
    EXPECT_EQ(routing.result.value, (client::Routing{1, 3, 3, 4}));
}

TEST_P(ClientBothTransports, StandbyFailsTheRequestInFlightAndTheQueueGoesOn)
{
    ClientRig rig(GetParam());
    ASSERT_EQ(rig.open(), Status::Ok);
    rig.matrix().setSilent(true);
    Outcome<client::Nothing> routed;
    Outcome<bool> beep;
    rig.client->route(Output{1}, Input{2}, routed.callback());
    rig.client->readSetting(client::Setting::Beep, beep.callback());
    rig.loop.advance(100);
    rig.matrix().setSilent(false);
    rig.matrix().sendStandby();
    rig.settle(beep.ended);
    EXPECT_EQ(routed.endings, 1);
    EXPECT_EQ(routed.result.status, Status::Standby);
    EXPECT_EQ(rig.standbys, 1);
    EXPECT_EQ(beep.result.status, Status::Ok);
    EXPECT_EQ(rig.loop.runningTimerCount(), 0u);
}

TEST_P(ClientBothTransports, LinkLostFailsQueuedAndInFlightAtOnce)
{
    ClientRig rig(GetParam());
    ASSERT_EQ(rig.open(), Status::Ok);
    rig.matrix().setSilent(true);
    std::vector<Outcome<client::Nothing>> routes(3);
    for (int i = 0; i < 3; ++i)
        rig.client->route(Output{i + 1}, Input{1}, routes[i].callback());
    rig.loop.advance(10);
    if (GetParam() == Transport::Com)
        rig.serialHub.unplug(ClientRig::kComPort);
    else
        rig.matrix().closeLink();
    rig.loop.advance(1);
    for (auto& r : routes) {
        EXPECT_EQ(r.endings, 1);
        EXPECT_EQ(r.result.status, Status::LinkDown);
    }
    const std::string expected = GetParam() == Transport::Com ? "Open COM failed!" : "Connect to Matrix failed!";
    EXPECT_EQ(routes[0].result.message, expected);
    EXPECT_FALSE(rig.client->linkUp());
    EXPECT_EQ(rig.client->queuedRequests(), 0u);
    ASSERT_FALSE(rig.changes.empty());
    EXPECT_EQ(rig.changes.back().kind, client::StateChange::Kind::Link);

    // A request while down ends at once too, and nothing is sent.
    const auto sent = rig.wire().size();
    Outcome<bool> beep;
    rig.client->readSetting(client::Setting::Beep, beep.callback());
    rig.loop.advance(1);
    EXPECT_EQ(beep.result.status, Status::LinkDown);
    EXPECT_EQ(rig.wire().size(), sent);
    rig.loop.advance(120000);
    for (auto& r : routes)
        EXPECT_EQ(r.endings, 1);
    EXPECT_EQ(rig.loop.runningTimerCount(), 0u) << "unsupervised: no reconnect";
}

TEST_P(ClientBothTransports, OpenFailureNamesTheTransport)
{
    ClientRig rig(GetParam());
    if (GetParam() == Transport::Com)
        rig.serialHub.holdElsewhere(ClientRig::kComPort);
    else
        rig.socket->stopListening(ClientRig::kAddress);
    EXPECT_EQ(rig.open(), Status::LinkDown);
    EXPECT_EQ(rig.client->linkMessage(),
              GetParam() == Transport::Com ? "Open COM failed!" : "Connect to Matrix failed!");
    EXPECT_FALSE(rig.client->linkUp());
}

TEST_P(ClientBothTransports, SupervisedLinkReconnectsWithBackoffAndRefreshes)
{
    ClientRig rig(GetParam(), ClientRig::supervised());
    ASSERT_EQ(rig.open(), Status::Ok);
    rig.loop.advance(60000);  // the refresh that a supervised open runs
    // The matrix goes away for a long time.
    auto attempts = [&] { return GetParam() == Transport::Com ? rig.serialOpens : rig.socket->connectAttempts(); };
    if (GetParam() == Transport::Com) {
        rig.serialHub.unplug(ClientRig::kComPort);
    } else {
        rig.socket->stopListening(ClientRig::kAddress);
        rig.matrix().closeLink();
    }
    rig.loop.advance(1);
    ASSERT_FALSE(rig.client->linkUp());
    // Attempts at 1, 3, 7, 15, 31, 61, 91 s after the drop (1 s doubling, capped at 30 s).
    const int before = attempts();
    const std::int64_t dropMs = rig.loop.nowMs();
    std::vector<std::int64_t> at;
    int seen = before;
    while (rig.loop.nowMs() < dropMs + 92000) {
        rig.loop.advance(1);
        if (attempts() != seen) {
            seen = attempts();
            at.push_back((rig.loop.nowMs() - dropMs + 500) / 1000);
        }
    }
    EXPECT_EQ(at, (std::vector<std::int64_t>{1, 3, 7, 15, 31, 61, 91}));

    // The matrix changed while away; once back, the state follows it.
    rig.device.routing = {4, 4, 2, 1, 5, 6, 7, 8};
    rig.device.inputCable = {false, true, true, true, false, false, false, false};
    if (GetParam() == Transport::Com)
        rig.serialHub.addPort(ClientRig::kComPort, &rig.serialMatrix);
    else
        rig.socket->listen(ClientRig::kAddress, &rig.tcpMatrix);
    rig.loop.advance(31000 + 60000);
    ASSERT_TRUE(rig.client->linkUp());
    for (int p = 0; p < client::kPortCount; ++p) {
        EXPECT_EQ(rig.client->state().routing[p], rig.device.routing[p]);
        EXPECT_EQ(rig.client->state().inputCable[p], rig.device.inputCable[p]);
    }
    // The back-off starts again from 1 s after a good link.
    rig.matrix().closeLink();
    if (GetParam() == Transport::Com)
        rig.serialHub.addPort(ClientRig::kComPort, &rig.serialMatrix);
    rig.loop.advance(1);
    const int afterDrop = attempts();
    rig.loop.advance(1000);
    EXPECT_EQ(attempts(), afterDrop + 1);
}

TEST_P(ClientBothTransports, CloseEndsEverythingAndStopsReconnecting)
{
    ClientRig rig(GetParam(), ClientRig::supervised());
    ASSERT_EQ(rig.open(), Status::Ok);
    rig.loop.advance(60000);
    rig.matrix().setSilent(true);
    Outcome<client::Nothing> routed;
    rig.client->route(Output{1}, Input{1}, routed.callback());
    rig.loop.advance(5);
    rig.client->close();
    EXPECT_EQ(routed.endings, 1);
    EXPECT_EQ(routed.result.status, Status::LinkDown);
    rig.loop.advance(120000);
    EXPECT_EQ(routed.endings, 1);
    EXPECT_EQ(rig.loop.runningTimerCount(), 0u);
    EXPECT_FALSE(rig.client->linkUp());
}

INSTANTIATE_TEST_SUITE_P(Transports, ClientBothTransports, ::testing::Values(Transport::Com, Transport::Tcp),
                         [](const auto& info) { return info.param == Transport::Com ? "Com" : "Tcp"; });

TEST(ClientTcp, SplitAndCoalescedRepliesAreAssembledAsAStream)
{
    for (std::size_t split : {1u, 5u, 12u}) {
        ClientRig rig(Transport::Tcp);
        ASSERT_EQ(rig.open(), Status::Ok);
        rig.tcpMatrix.setSplitSize(split);
        Outcome<client::Routing> routing;
        rig.client->readRouting(routing.callback());
        rig.settle(routing.ended);
        EXPECT_EQ(routing.result.status, Status::Ok) << split;
        EXPECT_EQ(rig.wire().size(), 4u) << "no re-send needed with split size " << split;
    }
    // Noise before the replies, and two replies arriving in one read.
    ClientRig rig(Transport::Tcp);
    ASSERT_EQ(rig.open(), Status::Ok);
    rig.tcpMatrix.sendNoise({0x00, 0x11, 0x5B});
    rig.tcpMatrix.setCoalesce(2);
    Outcome<client::Routing> routing;
    rig.client->readRouting(routing.callback());
    rig.settle(routing.ended);
    EXPECT_EQ(routing.result.status, Status::Ok);
    EXPECT_EQ(routing.endings, 1);
}

TEST(ClientTcp, ConnectThatNeverCompletesTimesOut)
{
    ClientRig rig(Transport::Tcp);
    rig.socket->setConnectDelayMs(100000);
    Status status = Status::Ok;
    bool ended = false;
    rig.client->open(rig.target(), [&](Status s) {
        status = s;
        ended = true;
    });
    Outcome<bool> queuedWhileConnecting;
    rig.client->readSetting(client::Setting::Beep, queuedWhileConnecting.callback());
    rig.loop.advance(2999);
    EXPECT_FALSE(ended);
    rig.loop.advance(1);
    EXPECT_TRUE(ended);
    EXPECT_EQ(status, Status::LinkDown);
    EXPECT_EQ(queuedWhileConnecting.result.status, Status::LinkDown);
    rig.loop.advance(200000);
    EXPECT_FALSE(rig.client->linkUp()) << "a connect completing after the time-out is not taken";
}

TEST(ClientReopen, AReopenBeforeTheFirstOpenReportedTakesOnlyTheNewLink)
{
    ClientRig rig(Transport::Com);
    std::vector<Status> first, second;
    rig.client->open(rig.target(), [&](Status s) { first.push_back(s); });
    rig.client->close();
    client::LinkTarget nobody;
    nobody.address = "127.0.0.9";
    rig.client->open(nobody, [&](Status s) { second.push_back(s); });
    rig.loop.advance(5000);
    EXPECT_EQ(first, std::vector<Status>{Status::LinkDown});
    EXPECT_EQ(second, std::vector<Status>{Status::LinkDown});
    EXPECT_FALSE(rig.client->linkUp()) << "the COM port's late success is not the TCP link's";
}

TEST(ClientReentry, ACallbackThatClosesTheLinkEndsTheRequestOnce)
{
    // A user's change handler closes the link while the route's
    // acknowledgement is being taken.
    ClientRig rig(Transport::Tcp);
    ASSERT_EQ(rig.open(), Status::Ok);
    rig.client->onChange = [&](const client::StateChange& c) {
        if (c.kind == client::StateChange::Kind::Routing)
            rig.client->close();
    };
    Outcome<client::Nothing> routed;
    Outcome<bool> queued;
    rig.client->route(Output{2}, Input{4}, routed.callback());
    rig.client->readSetting(client::Setting::Beep, queued.callback());
    rig.loop.advance(30000);
    EXPECT_EQ(routed.endings, 1);
    EXPECT_EQ(queued.endings, 1);
    EXPECT_EQ(queued.result.status, Status::LinkDown);
    EXPECT_EQ(rig.wire().size(), 1u) << "nothing sent after the close";
    EXPECT_EQ(rig.loop.runningTimerCount(), 0u);
}

TEST(ClientInput, PortsOutsideOneToFourAreRefusedWithoutSending)
{
    ClientRig rig(Transport::Tcp);
    ASSERT_EQ(rig.open(), Status::Ok);
    const std::pair<int, int> bad[] = {{0, 1}, {5, 1}, {1, 0}, {1, 5}, {-1, 9}};
    for (auto [output, input] : bad) {
        Outcome<client::Nothing> r;
        rig.client->route(Output{output}, Input{input}, r.callback());
        rig.loop.advance(1);
        EXPECT_EQ(r.endings, 1);
        EXPECT_EQ(r.result.status, Status::BadInput);
    }
    EXPECT_TRUE(rig.wire().empty());
}

// The window holds the link itself: the client writes through it, takes the
// frames the window hands on, and stops speaking once the link is not its own.
TEST(ClientAttached, WritesThroughTheOwnerAndEndsQuietlyOnceTheLinkIsTaken)
{
    ManualLoop loop;
    MatrixClient::Options options;
    options.supervise = false;
    MatrixClient c(loop, nullptr, nullptr, options);
    std::vector<std::string> written;
    bool ours = true;
    c.attach([&](const std::vector<std::uint8_t>& b) { written.push_back(ClientRig::hex(b.data(), b.size())); },
             [&] { return ours; });

    Outcome<client::Nothing> routed;
    c.route(Output{2}, Input{2}, routed.callback());
    EXPECT_EQ(written, std::vector<std::string>{kRouteB2});
    CommandFrame torn = RawFrame::routing(2, 3, 0, 2);
    torn.set(CommandFrame::kSize - 1, torn[CommandFrame::kSize - 1] ^ 1);
    c.receive(torn);
    EXPECT_FALSE(routed.ended) << "a frame that does not add up is noise";
    c.receive(RawFrame::routing(2, 3, 0, 2));
    EXPECT_EQ(routed.result.status, Status::Ok);

    Outcome<client::Nothing> second;
    c.route(Output{2}, Input{2}, second.callback());
    ours = false;
    loop.advance(30000);
    EXPECT_EQ(second.endings, 1);
    EXPECT_EQ(second.result.status, Status::LinkDown);
    EXPECT_EQ(written.size(), 2u) << "no re-send once another holds the link";
    EXPECT_EQ(loop.runningTimerCount(), 0u);

    // The owner's link is serial: an EDID change asks for the switches first.
    ours = true;
    written.clear();
    c.setAttachedKind(client::LinkTarget::Kind::Com);
    c.setEdidMode(0, Input{1}, [](const client::Result<client::Nothing>&) {});
    EXPECT_EQ(written, std::vector<std::string>{"A5 5B 03 0B 00 00 00 00 00 00 00 00 F2"});
    c.cancel();
}

// The window answers a route's bad sum at once: one re-send, then the
// route ends (a series passes over that output). Events: 'b' and an output
// a torn acknowledgement of it, 'g' and an output a sound one, 'w' the first wait.
TEST(ClientAttached, TheWindowsRoutesAnswerABadSumWithOneResendAtOnce)
{
    using client::Resend;
    struct Case {
        const char* name;
        bool series;  // outputs A and B in turn, else output B alone
        const char* events;
        std::size_t written;
        Status status;
        std::vector<Resend> resends;
        std::vector<int> confirmed;
    };
    const Case cases[] = {
        {"one bad sum", false, "b2g2", 2, Status::Ok, {Resend::AfterBadSum}, {}},
        {"two bad sums", false, "b2b2", 2, Status::TimeOut, {Resend::AfterBadSum}, {}},
        {"wait, then bad sums", false, "wb2b2", 3, Status::TimeOut, {Resend::AfterWait, Resend::AfterBadSum}, {}},
        {"series passes over", true, "b1b1g2", 3, Status::Ok, {Resend::AfterBadSum}, {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualLoop loop;
        MatrixClient::Options options;
        options.supervise = false;
        options.window = true;
        MatrixClient client(loop, nullptr, nullptr, options);
        std::size_t written = 0;
        client.attach([&](const std::vector<std::uint8_t>&) { ++written; }, [] { return true; });
        std::vector<Resend> resends;
        client.onResend = [&](Resend why) { resends.push_back(why); };
        std::vector<int> confirmed;
        Outcome<client::Nothing> r;
        if (c.series)
            client.routeSeries({{Output::A, Input{1}}, {Output::B, Input{2}}}, r.callback(),
                               [&](Output o) { confirmed.push_back(o.number()); });
        else
            client.route(Output::B, Input{2}, r.callback());
        for (const char* e = c.events; *e; ++e) {
            if (*e == 'w') {
                loop.advance(3000);
                continue;
            }
            CommandFrame ack = RawFrame::routing(2, 3, 0, e[1] - '0');
            if (*e++ == 'b')
                ack.set(CommandFrame::kSize - 1, ack[CommandFrame::kSize - 1] ^ 1);
            client.receive(ack);
        }
        EXPECT_EQ(r.endings, 1);
        EXPECT_EQ(r.result.status, c.status);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(resends, c.resends);
        EXPECT_EQ(confirmed, c.confirmed);
    }
}

// The window's switches and state queries go out at once, beside a request
// in flight, and wait for nothing; every beep or IR report that adds up is
// heard, asked for or not, and a torn one is not.
TEST(ClientAttached, TheWindowsSettingsGoOutAtOnceAndTheirReportsAreHeard)
{
    using client::Setting;
    ManualLoop loop;
    MatrixClient::Options options;
    options.supervise = false;
    MatrixClient c(loop, nullptr, nullptr, options);
    std::vector<std::string> written;
    c.attach([&](const std::vector<std::uint8_t>& b) { written.push_back(ClientRig::hex(b.data(), b.size())); },
             [] { return true; });
    Outcome<client::Nothing> routed;
    c.route(Output{2}, Input{2}, routed.callback());
    c.sendSetting(Setting::Beep, false);
    c.sendSetting(Setting::Ir, true);
    c.askSetting(Setting::Beep);
    c.askSetting(Setting::Ir);
    EXPECT_EQ(written, (std::vector<std::string>{
                           kRouteB2, "A5 5B 06 01 F0 00 00 00 00 00 00 00 09", "A5 5B 05 01 0F 00 00 00 00 00 00 00 EB",
                           "A5 5B 01 0B 00 00 00 00 00 00 00 00 F4", "A5 5B 01 0A 00 00 00 00 00 00 00 00 F5"}));
    EXPECT_EQ(c.queuedRequests(), 1u) << "only the route waits";

    struct Case {
        CommandFrame frame;
        bool torn;
        bool heard;
        Setting setting;
        bool acknowledged;
        bool on;
        int p1;
    };
    const Case cases[] = {
        {RawFrame::generalP3(1, 0x0B, 0, 0xFF), false, true, Setting::Beep, false, false, 0},
        {RawFrame::generalP3(1, 0x0B, 0, 0x0F), false, true, Setting::Beep, false, true, 0},
        {RawFrame::generalP3(1, 0x0A, 2, 0x0F), false, true, Setting::Ir, false, true, 2},
        {RawFrame::generalP3(6, 1, 0, 0), false, true, Setting::Beep, true, false, 0},
        {RawFrame::generalP3(5, 1, 1, 0), false, true, Setting::Ir, true, false, 1},
        {RawFrame::generalP3(6, 1, 0, 1), false, false, Setting::Beep, false, false, 0},  // a failure code
        {RawFrame::generalP3(1, 0x0B, 0, 0x0F), true, false, Setting::Beep, false, false, 0},
        {RawFrame::generalP3(5, 1, 0, 0), true, false, Setting::Ir, false, false, 0},
    };
    for (const Case& k : cases) {
        std::vector<client::SettingReport> heard;
        c.onSetting = [&](const client::SettingReport& r) { heard.push_back(r); };
        CommandFrame frame = k.frame;
        if (k.torn)
            frame.set(CommandFrame::kSize - 1, frame[CommandFrame::kSize - 1] ^ 1);
        c.receive(frame);
        SCOPED_TRACE(ClientRig::hex(frame.bytes().data(), CommandFrame::kSize));
        ASSERT_EQ(heard.size(), k.heard ? 1u : 0u);
        if (!k.heard)
            continue;
        EXPECT_EQ(heard[0].setting, k.setting);
        EXPECT_EQ(heard[0].acknowledged, k.acknowledged);
        EXPECT_EQ(heard[0].on, k.on);
        EXPECT_EQ(heard[0].p1, k.p1);
    }
    EXPECT_FALSE(routed.ended);
}

}  // namespace
}  // namespace matrix::testing
