// SPDX-License-Identifier: Apache-2.0
// matrixctl's drivers on virtual time against the in-process simulator:
// the same session and pages as the program, each run to its end.
#include "cli/drive/SessionDriver.h"

#include "core/pages/firmware/FirmwareContainer.h"
#include "core/session/MatrixSession.h"
#include "sim/NetResponder.h"
#include "tests/support/MemoryUdpSegment.h"
#include "tests/support/TestRig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace matrix::cli {
namespace {

using testing::TestRig;

Invocation tcp(Command command, const std::string& address = TestRig::kAddress)
{
    Invocation inv;
    inv.command = command;
    inv.link = LinkKind::Tcp;
    inv.address = address;
    return inv;
}

Invocation com(Command command, int port = TestRig::kComPort)
{
    Invocation inv;
    inv.command = command;
    inv.link = LinkKind::Com;
    inv.comPort = port;
    return inv;
}

struct DriverRun {
    RunResult result;
    std::int64_t elapsedMs = 0;
    bool finished = false;
};

DriverRun runOn(TestRig& rig, MatrixSession& session, const Invocation& inv, std::int64_t maxMs = 120000)
{
    SessionDriver driver(session, inv);
    bool called = false;
    driver.onFinished = [&] { called = true; };
    const auto start = rig.loop.nowMs();
    driver.start();
    DriverRun run;
    run.finished = rig.loop.advanceUntil([&] { return called; }, maxMs, 5);
    run.elapsedMs = rig.loop.nowMs() - start;
    run.result = driver.result();
    return run;
}

int countFrames(const sim::MatrixResponder& matrix, int command, int sub)
{
    int n = 0;
    for (const auto& f : matrix.received())
        n += f.is(command, sub) ? 1 : 0;
    return n;
}

TEST(SessionDriver, FirmwareUpgradeSendsTheWholeImage)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("matrixctl-fw-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    Bytes image = {0xA5, 0x5A};
    for (int i = 0; i < 700; ++i)
        image.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    Bytes file = image;
    scramble(file);
    const std::string path = (dir / "test.fw").string();
    ASSERT_TRUE(writeFile(path, file));

    TestRig rig;
    MatrixSession session(rig.platform);
    Invocation inv = tcp(Command::FirmwareUpgrade);
    inv.file = path;
    SessionDriver driver(session, inv);
    std::vector<std::string> lines;
    std::int64_t lastDone = 0, total = 0;
    driver.onMessageLine = [&](const std::string& line) { lines.push_back(line); };
    driver.onProgress = [&](std::int64_t done, std::int64_t t) {
        lastDone = done;
        total = t;
    };
    bool called = false;
    driver.onFinished = [&] { called = true; };
    driver.start();
    ASSERT_TRUE(rig.loop.advanceUntil([&] { return called; }, 200000, 5));
    ASSERT_EQ(driver.result().exit, ExitCode::Success) << driver.result().error;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Upgrading Part_1.1.0.0...");
    EXPECT_EQ(lines.back(), "Firmware upgrade Successfully");
    EXPECT_EQ(total, 700);
    const auto& received = rig.device.firmwarePart[1];
    ASSERT_GE(received.size(), 700u);
    EXPECT_TRUE(std::equal(image.begin() + 2, image.end(), received.begin()));

    // A file the page would not load is bad input, before any link.
    TestRig rig2;
    MatrixSession session2(rig2.platform);
    inv.file = (dir / "test.bin").string();
    DriverRun run = runOn(rig2, session2, inv);
    EXPECT_EQ(run.result.exit, ExitCode::Usage);
    EXPECT_TRUE(rig2.tcpMatrix.received().empty());
    fs::remove_all(dir);
}

TEST(SessionDriver, EdidOperationsEndOnThePagesNotices)
{
    struct Case {
        const char* name;
        Command command;
        bool overCom;
        int modeRow;
        int output;
        int target;
        std::function<void(sim::MatrixDevice&)> knob;
        ExitCode exit;
        std::string text;  // message on success, error otherwise
    };
    const std::vector<Case> cases = {
        {"set one input", Command::EdidSet, false, 2, 0, 3, {}, ExitCode::Success, "Set successfully!"},
        {"default EDID, no notice", Command::EdidSet, true, 15, 0, kAllInputs, {}, ExitCode::Success,
         "Set successfully!"},
        {"switches not at 1111", Command::EdidSet, true, 4, 0, 1,
         [](sim::MatrixDevice& d) { d.edidSwitchState = 15; }, ExitCode::MatrixFailed,
         "Please set the EDID to [1111]!"},
        {"copy", Command::EdidCopy, false, 0, 1, kAllInputs, {}, ExitCode::Success, "Copy successfully!"},
        {"copy from an output without display", Command::EdidCopy, false, 0, 2, 1,
         [](sim::MatrixDevice& d) { d.outputCable[1] = false; }, ExitCode::MatrixFailed,
         "HDMI OUT B is not connected!"},
        {"copy refused", Command::EdidCopy, true, 0, 1, 2, [](sim::MatrixDevice& d) { d.rejectEdidCopy = true; },
         ExitCode::MatrixFailed, "Copy failed!"},
    };
    for (const auto& c : cases) {
        TestRig rig;
        if (c.knob)
            c.knob(rig.device);
        MatrixSession session(rig.platform);
        Invocation inv = c.overCom ? com(c.command) : tcp(c.command);
        inv.modeRow = c.modeRow;
        inv.output = c.output;
        inv.edidTarget = c.target;
        DriverRun run = runOn(rig, session, inv);
        ASSERT_TRUE(run.finished) << c.name;
        EXPECT_EQ(run.result.exit, c.exit) << c.name;
        EXPECT_EQ(c.exit == ExitCode::Success ? run.result.message : run.result.error, c.text) << c.name;
        EXPECT_EQ(session.edid.edidBusy(), 0) << c.name;
    }
}

TEST(SessionDriver, EdidStatusFallsBackToTheStatusButtonsTimers)
{
    TestRig rig;
    rig.device.edidStatus = {0, 13, 15, 40, 4, 4, 4, 4};
    MatrixSession session(rig.platform);
    DriverRun run = runOn(rig, session, tcp(Command::EdidStatus));
    ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
    ASSERT_EQ(run.result.edid.size(), 4u);
    EXPECT_EQ(run.result.edid[0].status, "1080i,Stereo Audio 2.0");
    EXPECT_EQ(run.result.edid[1].status, "DVI 1920X1080");
    EXPECT_EQ(run.result.edid[2].status, "Copy HDMI OUT A");
    EXPECT_EQ(run.result.edid[3].status, "User define");

    // The entry chain has no timers; a matrix that stops answering is
    // asked again by the Status button, whose timers give up.
    TestRig quiet;
    quiet.tcpMatrix.onCommand(1, [&](const CommandFrame& f) {
        if (f.subCommand() == 0x0B)
            quiet.tcpMatrix.setSilent(true);
    });
    MatrixSession session2(quiet.platform);
    run = runOn(quiet, session2, tcp(Command::EdidStatus));
    EXPECT_EQ(run.result.exit, ExitCode::MatrixFailed);
    EXPECT_EQ(run.result.error, "Time out!");
    EXPECT_GE(run.elapsedMs, 12000);  // 2 s for the entry chain, then 5 + 5 s
    EXPECT_LT(run.elapsedMs, 13000);
}

struct NetRig {
    TestRig rig;
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
};

TEST(SessionDriver, DiscoverListsEveryMatrixWithItsMac)
{
    NetRig net;
    MatrixSession session(net.platform);
    Invocation inv;
    inv.command = Command::Discover;
    inv.seconds = 2;
    DriverRun run = runOn(net.rig, session, inv);
    ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
    ASSERT_EQ(run.result.matrices.size(), 2u);
    EXPECT_EQ(run.result.matrices[0].ip, "192.168.0.77");
    EXPECT_EQ(run.result.matrices[0].mac, "001C9103405A");
    EXPECT_EQ(run.result.matrices[1].mac, "001C91034001");
    EXPECT_GE(run.elapsedMs, 2000);
}

TEST(SessionDriver, NetConfigAddressesTheMatrixByItsMac)
{
    NetRig net;
    MatrixSession session(net.platform);
    Invocation inv;
    inv.command = Command::NetConfig;
    inv.mac = "001C91034001";
    inv.staticIp = true;
    inv.staticAddress = "192.168.0.90";
    DriverRun run = runOn(net.rig, session, inv);
    ASSERT_EQ(run.result.exit, ExitCode::Success) << run.result.error;
    EXPECT_EQ(run.result.message, "Matrix configuration completed successfully!");
    EXPECT_EQ(net.secondDevice.ip, (std::array<std::uint8_t, 4>{192, 168, 0, 90}));
    EXPECT_EQ(net.firstDevice.ip, (std::array<std::uint8_t, 4>{192, 168, 0, 77}));
    EXPECT_EQ(net.secondDevice.mac[5], 0x01);  // kept

    // No such matrix on the segment.
    NetRig other;
    MatrixSession session2(other.platform);
    inv.mac = "0A0B0C0D0E0F";
    run = runOn(other.rig, session2, inv);
    EXPECT_EQ(run.result.exit, ExitCode::MatrixFailed);
    EXPECT_EQ(run.result.error, "Search Matrix IP failed!");
    EXPECT_EQ(other.secondDevice.ip, (std::array<std::uint8_t, 4>{192, 168, 0, 78}));
}

}  // namespace
}  // namespace matrix::cli
