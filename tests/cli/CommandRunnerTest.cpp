// SPDX-License-Identifier: Apache-2.0
// matrixctl's commands on the direct client, on virtual time against the
// in-process simulator over both transports: what is printed, what the
// matrix holds afterwards and which frames crossed the wire.
#include "cli/run/CommandRunner.h"

#include "tests/client/ClientRig.h"

#include <gtest/gtest.h>

namespace matrix::cli {
namespace {

using testing::ClientRig;
using testing::Transport;

struct RunnerRun {
    RunResult result;
    std::int64_t elapsedMs = 0;
    bool finished = false;
    int endings = 0;
};

Invocation invocation(Command command, Transport transport)
{
    Invocation inv;
    inv.command = command;
    inv.link = transport == Transport::Com ? LinkKind::Com : LinkKind::Tcp;
    inv.comPort = ClientRig::kComPort;
    inv.address = ClientRig::kAddress;
    return inv;
}

RunnerRun runOn(ClientRig& rig, const Invocation& inv, std::int64_t maxMs = 120000)
{
    CommandRunner runner(*rig.client, inv);
    RunnerRun run;
    runner.onFinished = [&] { ++run.endings; };
    const auto start = rig.loop.nowMs();
    runner.start();
    run.finished = rig.loop.advanceUntil([&] { return run.endings > 0; }, maxMs, 5);
    rig.loop.advance(20000);  // nothing may end it a second time
    run.elapsedMs = rig.loop.nowMs() - start;
    run.result = runner.result();
    return run;
}

int countFrames(const sim::MatrixResponder& matrix, int command, int sub)
{
    int n = 0;
    for (const auto& f : matrix.received())
        n += f.is(command, sub) ? 1 : 0;
    return n;
}

TEST(CommandRunner, StatusReportsEveryCableWithThePagesTexts)
{
    for (Transport transport : {Transport::Tcp, Transport::Com}) {
        ClientRig rig(transport);
        rig.device.inputCable = {true, false, false, true, false, false, false, false};
        rig.device.outputCable = {false, true, true, false, false, false, false, false};
        RunnerRun run = runOn(rig, invocation(Command::Status, transport));
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.endings, 1);
        ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
        EXPECT_EQ(renderText(Command::Status, run.result),
                  "PORT  CABLE\nIN1   Connect\nIN2   Disconnect\nIN3   Disconnect\nIN4   Connect\n"
                  "OUTA  Disconnect\nOUTB  Connect\nOUTC  Connect\nOUTD  Disconnect\n");
        ASSERT_EQ(run.result.cables.size(), 8u);
        EXPECT_EQ(run.result.cables[0].text, "HDMI IN1: Connect");
        EXPECT_EQ(run.result.cables[7].text, "HDMI OUTD: Disconnect");
    }
}

TEST(CommandRunner, FailuresEndWithTheWindowsTextAndExitStatus)
{
    struct Case {
        const char* name;
        Command command;
        Transport transport;
        std::function<void(ClientRig&, Invocation&)> arrange;
        ExitCode exit;
        std::string error;
        std::int64_t minMs, maxMs;  // when the run ended, virtual time
    };
    const std::vector<Case> cases = {
        // One re-send after 5 s, the give-up 5 s later.
        {"silent matrix", Command::Status, Transport::Tcp, [](ClientRig& r, Invocation&) { r.tcpMatrix.setSilent(true); },
         ExitCode::MatrixFailed, "Time out!", 10000, 11000},
        {"nobody listens", Command::Status, Transport::Tcp, [](ClientRig&, Invocation& i) { i.address = "127.0.0.9"; },
         ExitCode::LinkFailed, "Connect to Matrix failed!", 0, 4000},
        {"no such COM port", Command::Beep, Transport::Com, [](ClientRig&, Invocation& i) { i.comPort = 5; },
         ExitCode::LinkFailed, "Open COM failed!", 0, 1000},
        {"standby while routing", Command::Routing, Transport::Com,
         [](ClientRig& r, Invocation&) {
             // The first output's answer, then the standby frame, then nothing.
             r.serialMatrix.onCommand(2, [&r](const CommandFrame&) {
                 r.serialMatrix.sendStandby();
                 r.serialMatrix.setSilent(true);
             });
         },
         ExitCode::MatrixFailed, "Matrix is in standby mode!", 0, 1000},
    };
    for (const auto& c : cases) {
        ClientRig rig(c.transport);
        Invocation inv = invocation(c.command, c.transport);
        c.arrange(rig, inv);
        RunnerRun run = runOn(rig, inv);
        ASSERT_TRUE(run.finished) << c.name;
        EXPECT_EQ(run.endings, 1) << c.name;
        EXPECT_EQ(run.result.exit, c.exit) << c.name;
        EXPECT_EQ(run.result.error, c.error) << c.name;
        EXPECT_GE(run.elapsedMs - 20000, c.minMs) << c.name;
        EXPECT_LT(run.elapsedMs - 20000, c.maxMs) << c.name;
    }
    // The silent matrix heard the first cable query twice and nothing else.
    ClientRig rig(Transport::Tcp);
    rig.tcpMatrix.setSilent(true);
    runOn(rig, invocation(Command::Status, Transport::Tcp));
    EXPECT_EQ(countFrames(rig.tcpMatrix, 1, 4), 2);
    EXPECT_EQ(rig.tcpMatrix.received().size(), 2u);
    // A COM port that cannot be opened hears nothing.
    ClientRig com(Transport::Com);
    Invocation inv = invocation(Command::Beep, Transport::Com);
    inv.comPort = 5;
    runOn(com, inv);
    EXPECT_TRUE(com.serialMatrix.received().empty());
}

TEST(CommandRunner, BeepAsksOnlyForAChange)
{
    struct Case {
        bool stateBefore;
        bool asked;
        bool answersTheChange;
        int beepFrames;
        ExitCode exit;
    };
    const std::vector<Case> cases = {
        {true, false, true, 1, ExitCode::Success},
        {false, false, true, 0, ExitCode::Success},
        {false, true, true, 1, ExitCode::Success},
        // Sent and re-sent, never confirmed: the box keeps its state.
        {true, false, false, 2, ExitCode::MatrixFailed},
    };
    for (const auto& c : cases) {
        ClientRig rig(Transport::Com);
        rig.device.beepOn = c.stateBefore;
        if (!c.answersTheChange) {
            // The state query is answered, then nothing more.
            rig.serialMatrix.onCommand(1, [&rig](const CommandFrame& f) {
                if (f.subCommand() == 0x0B)
                    rig.serialMatrix.setSilent(true);
            });
        }
        Invocation inv = invocation(Command::Beep, Transport::Com);
        inv.beepOn = c.asked;
        RunnerRun run = runOn(rig, inv);
        EXPECT_EQ(run.result.exit, c.exit) << c.stateBefore << c.asked;
        EXPECT_EQ(countFrames(rig.serialMatrix, 6, 1), c.beepFrames) << c.stateBefore << c.asked;
        if (c.exit == ExitCode::Success) {
            EXPECT_EQ(rig.device.beepOn, c.asked);
            EXPECT_EQ(renderText(Command::Beep, run.result), c.asked ? "Beep: on\n" : "Beep: off\n");
        } else {
            EXPECT_EQ(run.result.error, "Time out!");
        }
    }
}

TEST(CommandRunner, RoutingCommandsLeaveTheMatrixAsThePrintedTable)
{
    struct Case {
        Command command;
        int input;
        int output;
        std::array<int, 4> expected;
    };
    const std::vector<Case> cases = {
        {Command::Routing, 0, 0, {4, 3, 2, 1}},
        {Command::Route, 2, 3, {4, 3, 2, 1}},
        {Command::RouteAll, 3, 0, {3, 3, 3, 3}},
        {Command::PortToPort, 0, 0, {1, 2, 3, 4}},
        {Command::FactoryReset, 0, 0, {1, 2, 3, 4}},
    };
    for (Transport transport : {Transport::Tcp, Transport::Com}) {
        for (const auto& c : cases) {
            ClientRig rig(transport);
            rig.device.routing = {4, 3, 1, 1, 5, 6, 7, 8};
            if (c.command == Command::Routing)
                rig.device.routing[2] = 2;
            rig.device.beepOn = false;
            Invocation inv = invocation(c.command, transport);
            inv.input = c.input;
            inv.output = c.output;
            RunnerRun run = runOn(rig, inv);
            ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
            std::array<int, 4> device{};
            std::copy_n(rig.device.routing.begin(), 4, device.begin());
            auto expected = c.expected;
            if (c.command == Command::Route)
                expected[2] = 2;
            EXPECT_EQ(device, expected) << static_cast<int>(c.command);
            EXPECT_EQ(rig.device.routing[4], 5);  // output 5 and beyond are never touched
            if (c.command == Command::FactoryReset) {
                EXPECT_TRUE(rig.device.beepOn);
                EXPECT_EQ(run.result.message, "Set successfully!");
                continue;
            }
            ASSERT_EQ(run.result.routes.size(), 4u);
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(run.result.routes[k].input, expected[k]) << static_cast<int>(c.command) << " output " << k;
        }
    }
}

TEST(CommandRunner, RouteNeverAcknowledgedTimesOutAfterOneResend)
{
    ClientRig rig(Transport::Tcp);
    rig.tcpMatrix.setSilent(true);
    Invocation inv = invocation(Command::Route, Transport::Tcp);
    inv.input = 2;
    inv.output = 3;
    RunnerRun run = runOn(rig, inv);
    EXPECT_EQ(run.result.exit, ExitCode::MatrixFailed);
    EXPECT_EQ(run.result.error, "Time out!");
    EXPECT_EQ(countFrames(rig.tcpMatrix, 2, 3), 2);  // sent and re-sent once
    EXPECT_EQ(countFrames(rig.tcpMatrix, 2, 1), 0);  // no routing read after a failed route
}

}  // namespace
}  // namespace matrix::cli
