// SPDX-License-Identifier: Apache-2.0
// matrixctl discover and netconfig on virtual time against simulated
// matrices on an in-memory segment.
#include "cli/run/NetRunner.h"

#include "sim/NetResponder.h"
#include "tests/support/MemoryUdpSegment.h"
#include "tests/support/TestRig.h"

#include <gtest/gtest.h>

namespace matrix::cli {
namespace {

struct NetRig {
    testing::TestRig rig;
    testing::MemoryUdpSegment segment{rig.loop};
    Platform platform{rig.loop, [this] { return rig.serialHub.makeSerial(); }, rig.linkSocket, segment};
    sim::MatrixDevice firstDevice;
    sim::MatrixDevice secondDevice;
    sim::NetResponder first{firstDevice};
    sim::NetResponder second{secondDevice};

    NetRig()
    {
        firstDevice.mac = {0x00, 0x1C, 0x91, 0x03, 0x40, 0x5A};
        firstDevice.ip = {192, 168, 0, 77};
        secondDevice.mac = {0x00, 0x1C, 0x91, 0x03, 0x40, 0x01};
        secondDevice.ip = {192, 168, 0, 78};
        segment.attach(&first);
        segment.attach(&second);
    }

    struct Run {
        RunResult result;
        std::int64_t elapsedMs = 0;
        int endings = 0;
    };
    Run run(Platform& on, const Invocation& inv)
    {
        NetRunner runner(on, inv);
        Run r;
        runner.onFinished = [&] { ++r.endings; };
        const auto start = rig.loop.nowMs();
        runner.start();
        rig.loop.advanceUntil([&] { return r.endings > 0; }, 60000, 5);
        r.elapsedMs = rig.loop.nowMs() - start;
        rig.loop.advance(15000);  // nothing may end it a second time
        r.result = runner.result();
        return r;
    }
};

Invocation netconfig(const std::string& mac)
{
    Invocation inv;
    inv.command = Command::NetConfig;
    inv.mac = mac;
    inv.staticIp = true;
    inv.staticAddress = "192.168.0.90";
    return inv;
}

TEST(NetRunner, DiscoverListsEveryMatrixWithItsMacAfterTheTimeAsked)
{
    NetRig net;
    Invocation inv;
    inv.command = Command::Discover;
    inv.seconds = 2;
    auto run = net.run(net.platform, inv);
    ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
    EXPECT_EQ(run.endings, 1);
    EXPECT_EQ(run.elapsedMs, 2000);
    EXPECT_EQ(renderText(Command::Discover, run.result),
              "IP            MAC\n192.168.0.77  001C9103405A\n192.168.0.78  001C91034001\n");
}

TEST(NetRunner, NetConfigAddressesTheMatrixByItsMac)
{
    NetRig net;
    auto run = net.run(net.platform, netconfig("001C91034001"));
    ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
    EXPECT_EQ(run.result.message, "Matrix configuration completed successfully!");
    EXPECT_EQ(net.secondDevice.ip, (std::array<std::uint8_t, 4>{192, 168, 0, 90}));
    EXPECT_EQ(net.firstDevice.ip, (std::array<std::uint8_t, 4>{192, 168, 0, 77}));
    EXPECT_EQ(net.secondDevice.mac[5], 0x01);  // kept

    // A new MAC is given to the addressed matrix only.
    NetRig renamed;
    Invocation inv = netconfig("001C9103405A");
    inv.staticIp = false;
    inv.newMac = "001C9103405B";
    run = renamed.run(renamed.platform, inv);
    ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
    EXPECT_EQ(renamed.firstDevice.mac[5], 0x5B);
    EXPECT_EQ(renamed.secondDevice.mac[5], 0x01);
}

TEST(NetRunner, FailuresEndWithTheWindowsTexts)
{
    struct Case {
        const char* name;
        Command command;
        std::function<void(NetRig&)> arrange;
        std::string error;
        std::int64_t elapsedMs;
    };
    const std::vector<Case> cases = {
        {"no such matrix", Command::NetConfig, [](NetRig&) {}, "Search Matrix IP failed!", 5000},
        // The matrix is found but never acknowledges: the status popup's 10 s.
        {"no acknowledgement", Command::NetConfig, [](NetRig& n) { n.first.setAckSilent(true); }, "configure failed!",
         10000},
        // Another program holds the discovery port: its answers would go there.
        {"port taken, discover", Command::Discover, [](NetRig& n) { n.segment.refuseBind = true; }, "Search failed", 0},
        {"port taken, netconfig", Command::NetConfig, [](NetRig& n) { n.segment.refuseBind = true; }, "Search failed",
         0},
    };
    for (const auto& c : cases) {
        NetRig net;
        c.arrange(net);
        Invocation inv = netconfig(c.name == std::string("no acknowledgement") ? "001C9103405A" : "0A0B0C0D0E0F");
        inv.command = c.command;
        auto run = net.run(net.platform, inv);
        EXPECT_EQ(run.endings, 1) << c.name;
        EXPECT_EQ(run.result.exit, ExitCode::MatrixFailed) << c.name;
        EXPECT_EQ(run.result.error, c.error) << c.name;
        EXPECT_EQ(run.elapsedMs, c.elapsedMs) << c.name;
        EXPECT_EQ(net.secondDevice.ip, (std::array<std::uint8_t, 4>{192, 168, 0, 78})) << c.name;
    }
}

}  // namespace
}  // namespace matrix::cli
