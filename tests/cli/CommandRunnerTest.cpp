// SPDX-License-Identifier: Apache-2.0
// matrixctl's commands on the direct client, on virtual time against the
// in-process simulator over both transports: what is printed, what the
// matrix holds afterwards and which frames crossed the wire.
#include "cli/run/CommandRunner.h"

#include "core/formats/FirmwareContainer.h"
#include "tests/client/ClientRig.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

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
        {"silent matrix", Command::Status, Transport::Tcp,
         [](ClientRig& r, Invocation&) { r.tcpMatrix.setSilent(true); }, ExitCode::MatrixFailed, "Time out!", 10000,
         11000},
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
        {Command::Routing, 0, 0, {4, 3, 2, 1}},      {Command::Route, 2, 3, {4, 3, 2, 1}},
        {Command::RouteAll, 3, 0, {3, 3, 3, 3}},     {Command::PortToPort, 0, 0, {1, 2, 3, 4}},
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

TEST(CommandRunner, AClientClosedAfterTheRunnerHasGoneReachesNoRunner)
{
    // matrixctl destroys the runner before the client, which then fails what
    // it still holds; under the sanitizers a stale callback would show here.
    for (Command command : {Command::Route, Command::Beep, Command::EdidStatus}) {
        ClientRig rig(Transport::Tcp);
        rig.tcpMatrix.setSilent(true);
        int endings = 0;
        {
            Invocation inv = invocation(command, Transport::Tcp);
            inv.input = 1;
            inv.output = 1;
            CommandRunner runner(*rig.client, inv);
            runner.onFinished = [&] { ++endings; };
            runner.start();
            rig.loop.advance(100);
            ASSERT_EQ(endings, 0);
        }
        rig.client->close();
        rig.loop.advance(20000);
        EXPECT_EQ(endings, 0);
    }
}

TEST(CommandRunner, EdidCommandsEndWithTheirNoticesAndTheMatrixChanged)
{
    struct Case {
        const char* name;
        Command command;
        Transport transport;
        int modeRow;
        int output;
        int target;
        std::function<void(sim::MatrixDevice&)> knob;
        ExitCode exit;
        std::string text;    // message on success, error otherwise
        int in2StatusAfter;  // what input 2 presents afterwards
    };
    const std::vector<Case> cases = {
        {"set one input", Command::EdidSet, Transport::Tcp, 2, 0, 2, {}, ExitCode::Success, "Set successfully!", 2},
        {"default EDID",
         Command::EdidSet,
         Transport::Com,
         15,
         0,
         kAllInputs,
         {},
         ExitCode::Success,
         "Set successfully!",
         3},
        {"switches not at 1111", Command::EdidSet, Transport::Com, 4, 0, 2,
         [](sim::MatrixDevice& d) { d.edidSwitchState = 15; }, ExitCode::MatrixFailed, "Please set the EDID to [1111]!",
         9},
        {"copy", Command::EdidCopy, Transport::Tcp, 0, 1, kAllInputs, {}, ExitCode::Success, "Copy successfully!", 15},
        {"copy from an output without display", Command::EdidCopy, Transport::Tcp, 0, 2, 2,
         [](sim::MatrixDevice& d) { d.outputCable[1] = false; }, ExitCode::MatrixFailed, "HDMI OUT B is not connected!",
         9},
        {"copy refused", Command::EdidCopy, Transport::Com, 0, 1, 2,
         [](sim::MatrixDevice& d) { d.rejectEdidCopy = true; }, ExitCode::MatrixFailed, "Copy failed!", 9},
    };
    for (const auto& c : cases) {
        ClientRig rig(c.transport);
        rig.device.edidStatus[1] = 9;
        if (c.knob)
            c.knob(rig.device);
        Invocation inv = invocation(c.command, c.transport);
        inv.modeRow = c.modeRow;
        inv.output = c.output;
        inv.edidTarget = c.target;
        RunnerRun run = runOn(rig, inv);
        ASSERT_TRUE(run.finished) << c.name;
        EXPECT_EQ(run.endings, 1) << c.name;
        EXPECT_EQ(run.result.exit, c.exit) << c.name;
        EXPECT_EQ(c.exit == ExitCode::Success ? run.result.message : run.result.error, c.text) << c.name;
        EXPECT_EQ(rig.device.edidStatus[1], c.in2StatusAfter) << c.name;
    }
}

TEST(CommandRunner, EdidStatusNamesWhatEachInputPresents)
{
    ClientRig rig(Transport::Tcp);
    rig.device.edidStatus = {0, 13, 15, 40, 4, 4, 4, 4};
    RunnerRun run = runOn(rig, invocation(Command::EdidStatus, Transport::Tcp));
    ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
    EXPECT_EQ(renderText(Command::EdidStatus, run.result),
              "INPUT  EDID\nIN1    1080i,Stereo Audio 2.0\nIN2    DVI 1920X1080\nIN3    Copy HDMI OUT A\n"
              "IN4    User define\n");

    // Input 3 is never answered: the inputs read before it are kept.
    ClientRig quiet(Transport::Com);
    quiet.serialMatrix.onCommand(1, [&](const CommandFrame& f) {
        if (f.subCommand() == 0x0C && f.p1() == 2)
            quiet.serialMatrix.setSilent(true);
    });
    run = runOn(quiet, invocation(Command::EdidStatus, Transport::Com));
    EXPECT_EQ(run.result.exit, ExitCode::MatrixFailed);
    EXPECT_EQ(run.result.error, "Time out!");
    ASSERT_EQ(run.result.edid.size(), 4u);
    EXPECT_FALSE(run.result.edid[1].status.empty());
    EXPECT_TRUE(run.result.edid[2].status.empty());
}

TEST(CommandRunner, FirmwareUpgradeDeliversTheImageWithItsMessageLines)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("matrixctl-run-fw-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    Bytes image = {0xA5, 0x5A};
    for (int i = 0; i < 700; ++i)
        image.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    Bytes file = image;
    scramble(file);
    const std::string path = (dir / "test.fw").string();
    ASSERT_TRUE(writeFile(path, file));
    ASSERT_TRUE(writeFile((dir / "test.bin").string(), file));

    ClientRig rig(Transport::Tcp);
    Invocation inv = invocation(Command::FirmwareUpgrade, Transport::Tcp);
    inv.file = path;
    CommandRunner runner(*rig.client, inv);
    std::vector<std::string> lines;
    std::int64_t lastDone = 0, total = 0;
    runner.onMessageLine = [&](const std::string& line) { lines.push_back(line); };
    runner.onProgress = [&](std::int64_t done, std::int64_t t) {
        lastDone = done;
        total = t;
    };
    bool ended = false;
    runner.onFinished = [&] { ended = true; };
    runner.start();
    ASSERT_TRUE(rig.loop.advanceUntil([&] { return ended; }, 200000, 5));
    ASSERT_EQ(runner.result().exit, ExitCode::Success) << runner.result().error;
    EXPECT_EQ(lines, (std::vector<std::string>{"Upgrading Part_1.1.0.0...", "System rebooting,Please wait...",
                                               "System reboot ok", "Part_1.1.0.0 upgrading complete",
                                               "Firmware upgrade Successfully"}));
    EXPECT_EQ(runner.result().messages, lines);
    EXPECT_EQ(total, 700);
    EXPECT_EQ(lastDone, 700);
    const auto& received = rig.device.firmwarePart[1];
    ASSERT_GE(received.size(), 700u);
    EXPECT_TRUE(std::equal(image.begin() + 2, image.end(), received.begin()));

    // Files the page would not load are bad input, found before any link.
    for (const std::string& wrong : {(dir / "test.bin").string(), (dir / "missing.fw").string()}) {
        ClientRig other(Transport::Tcp);
        inv.file = wrong;
        RunnerRun run = runOn(other, inv);
        EXPECT_EQ(run.result.exit, ExitCode::Usage) << wrong;
        EXPECT_TRUE(other.tcpMatrix.received().empty()) << wrong;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace matrix::cli
