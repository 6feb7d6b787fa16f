// SPDX-License-Identifier: Apache-2.0
// The matrix-sim program itself: its address guard, its serial side on a
// pseudo-terminal, one device behind every link, and a clean stop.

#include "platform/QtLinkSocket.h"
#include "platform/QtSerialPort.h"
#include "tests/support/RawFrame.h"

#include "tests/integration/EventWait.h"
#include "tests/integration/LinkOwner.h"
#include "tests/integration/SimProcess.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace matrix::testing {
namespace {

constexpr int kCom = 7;
constexpr int kOff = 0xF0;
constexpr int kNoCable = 0xFF;

// The serial side as a page uses it: a live port and an assembler.
struct SerialOwner {
    QtSerialPort port;
    FrameAssembler assembler;
    std::vector<CommandFrame> frames;
    int faults = 0;

    SerialOwner()
    {
        port.setByteHandler([this](std::uint8_t byte, int) {
            if (auto frame = assembler.feed(byte))
                frames.push_back(*frame);
        });
        port.setFaultHandler([this] { ++faults; });
    }
    bool open() { return port.open(kCom, liveSerialSettings()) && port.startWorker(); }
    bool ask(const CommandFrame& query)
    {
        const std::size_t before = frames.size();
        port.write(query.data(), CommandFrame::kSize);
        return waitUntil([&] { return frames.size() > before; });
    }
};

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ::setenv("MATRIX_COM_DIR", comDir().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("MATRIX_COM_DIR"); }
    std::string comDir() const { return dir_.path().toStdString(); }
    std::string linkPath() const { return comDir() + "/COM7"; }

    QTemporaryDir dir_;
};

TEST_F(SimulatorTest, RefusesToListenOutsideLoopback)
{
    for (const char* address : {"0.0.0.0", "192.168.1.10", "10.0.0.1", "not-an-address"}) {
        SCOPED_TRACE(address);
        SimProcess sim({"--tcp", address});
        EXPECT_EQ(sim.waitForLine("listening", 3000), "");
        EXPECT_FALSE(sim.running());
        EXPECT_EQ(sim.terminate(), 2);
    }
}

TEST_F(SimulatorTest, CommandLineMistakesAreNamedAndNothingIsServed)
{
    struct Case {
        QStringList args;
        std::string err;  // "" for --help, which writes to standard output
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "matrix-sim: Unknown option 'bogus'.\n", 2},
        {{"--tcp"}, "matrix-sim: Missing value after '--tcp'.\n", 2},
        {{"--silent=1"}, "matrix-sim: Unexpected value after '--silent'.\n", 2},
        {{"--tcp", "127.0.0.5", "extra"}, "matrix-sim: unexpected argument: extra\n", 2},
        {{"--drop", "-1"}, "matrix-sim: --drop needs a number of 0 or more\n", 2},
        {{"--delay-ms", "1.5"}, "matrix-sim: --delay-ms needs a number of 0 or more\n", 2},
        {{"--com", "20"}, "matrix-sim: --com needs a port number from 1 to 19\n", 2},
        {{"--com-dir", "/tmp"}, "matrix-sim: --com-dir needs --com N\n", 2},
        {{"--no-tcp"}, "matrix-sim: nothing to serve: --no-tcp without --com or --udp\n", 2},
        {{"--mac", "0011223344GG", "--udp", "--no-tcp"}, "matrix-sim: --mac needs 12 hexadecimal digits\n", 2},
        {{"--help"}, "", 0},
    };
    for (const auto& c : cases) {
        QProcess sim;
        sim.start(MATRIX_SIM_PATH, c.args);
        ASSERT_TRUE(sim.waitForFinished(5000)) << c.args.join(' ').toStdString();
        const std::string out = sim.readAllStandardOutput().toStdString();
        EXPECT_EQ(sim.exitCode(), c.exitCode) << c.args.join(' ').toStdString();
        EXPECT_EQ(sim.readAllStandardError().toStdString(), c.err) << c.args.join(' ').toStdString();
        if (c.exitCode == 0) {
            EXPECT_EQ(out.rfind("Usage: ", 0), 0u) << out;
            EXPECT_NE(out.find("  --standby-after-ms <MS>  Send a standby notice"), std::string::npos) << out;
        } else {
            EXPECT_EQ(out, "");  // nothing listened, nothing was served
        }
    }
}

TEST_F(SimulatorTest, ServesTheSerialSideAndSurvivesItsReaderLeaving)
{
    SimProcess sim({"--tcp", "127.23.0.10", "--com-dir", QString::fromStdString(comDir()), "--com", "7"});
    ASSERT_NE(sim.waitForLine("listening tcp 127.23.0.10:8000"), "");
    const std::string serialLine = sim.waitForLine("serial COM7 -> /dev/pts/");
    ASSERT_NE(serialLine, "");
    char target[256] = {};
    ASSERT_GT(::readlink(linkPath().c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(serialLine, std::string("serial COM7 -> ") + target);

    {
        SerialOwner owner;
        ASSERT_TRUE(owner.open());
        ASSERT_TRUE(owner.ask(RawFrame::general(1, 1, 0)));
        EXPECT_TRUE(owner.frames.back().is(1, 1));
        EXPECT_TRUE(owner.frames.back().checksumOk());
        owner.port.requestClose();
    }
    // The program closed its port; the line must still be there for the next one.
    SerialOwner owner;
    ASSERT_TRUE(owner.open());

    // One device behind both links: the beep switched off over TCP is off
    // when asked over the serial line.
    QtLinkSocket socket;
    LinkOwner tcp(socket);
    socket.recreate(&tcp);
    socket.connectTo("127.23.0.10", kMatrixTcpPort);
    ASSERT_TRUE(waitUntil([&] { return !tcp.connects.empty(); }));
    const CommandFrame beepOff = RawFrame::general(6, 1, kOff);
    ASSERT_EQ(socket.send(beepOff.data(), CommandFrame::kSize), 13);
    ASSERT_TRUE(waitUntil([&] { return !tcp.frames.empty(); }));
    EXPECT_TRUE(tcp.frames[0].is(6, 1));

    ASSERT_TRUE(owner.ask(RawFrame::general(1, 0x0B, 0)));
    EXPECT_TRUE(owner.frames.back().is(1, 0x0B));
    EXPECT_EQ(owner.frames.back().p3(), kNoCable) << "the serial side sees another device";

    // Every command family answers in the program: route over TCP, then the
    // routing query and the EDID status query over the serial line.
    const CommandFrame route = RawFrame::routing(2, 3, 3, 2);
    ASSERT_EQ(socket.send(route.data(), CommandFrame::kSize), 13);
    ASSERT_TRUE(waitUntil([&] { return tcp.frames.size() >= 2; }));
    ASSERT_TRUE(owner.ask(RawFrame::routing(2, 1, 2, 0)));
    EXPECT_TRUE(owner.frames.back().is(2, 1));
    EXPECT_EQ(owner.frames.back().p1(), 2);
    EXPECT_EQ(owner.frames.back().p3(), 3) << "output 2 should carry input 3";
    ASSERT_TRUE(owner.ask(RawFrame::general(1, 0x0C, 1)));
    EXPECT_TRUE(owner.frames.back().is(1, 0x0C));
    EXPECT_EQ(owner.faults, 0);

    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_NE(sim.waitForLine("stopped", 1000), "");
    struct stat st {};
    EXPECT_NE(::lstat(linkPath().c_str(), &st), 0) << "the COM link was left behind";
    ASSERT_TRUE(waitUntil([&] { return owner.faults >= 1; })) << "the line vanished without a fault";
    ASSERT_TRUE(waitUntil([&] { return tcp.closes >= 1; }));
}

TEST_F(SimulatorTest, AnUnpluggedSerialSideFaultsTheOpenPortAndComesBack)
{
    SimProcess sim({"--no-tcp", "--com-dir", QString::fromStdString(comDir()), "--com", "7", "--control-stdin"});
    ASSERT_NE(sim.waitForLine("serial COM7 -> "), "");
    SerialOwner owner;
    ASSERT_TRUE(owner.open());

    ASSERT_EQ(sim.command("unplug"), "ok unplug");
    ASSERT_TRUE(waitUntil([&] { return owner.faults >= 1; }));
    pumpEventsFor(100);
    EXPECT_EQ(owner.faults, 1);
    EXPECT_FALSE(owner.port.isOpen());

    ASSERT_NE(sim.waitForLine("serial COM7 -> "), "") << "not plugged back in";
    ASSERT_TRUE(owner.open());
    ASSERT_TRUE(owner.ask(RawFrame::general(1, 2, 0)));
    EXPECT_TRUE(owner.frames.back().is(1, 2));
}

TEST_F(SimulatorTest, KnobsShapeTheReplies)
{
    SimProcess sim({"--tcp", "127.23.0.11", "--drop", "1", "--control-stdin"});
    ASSERT_NE(sim.waitForLine("listening tcp 127.23.0.11:8000"), "");
    QtLinkSocket socket;
    LinkOwner owner(socket);
    socket.recreate(&owner);
    socket.connectTo("127.23.0.11", kMatrixTcpPort);
    ASSERT_TRUE(waitUntil([&] { return !owner.connects.empty(); }));

    const CommandFrame query = RawFrame::general(1, 3, 0);
    socket.send(query.data(), CommandFrame::kSize);  // its reply is dropped
    pumpEventsFor(150);
    EXPECT_TRUE(owner.frames.empty());

    ASSERT_EQ(sim.command("corrupt 1"), "ok corrupt 1");
    socket.send(query.data(), CommandFrame::kSize);  // corrupted
    socket.send(query.data(), CommandFrame::kSize);  // intact
    ASSERT_TRUE(waitUntil([&] { return owner.frames.size() >= 2; }));
    EXPECT_FALSE(owner.frames[0].checksumOk());
    EXPECT_TRUE(owner.frames[1].checksumOk());
    EXPECT_TRUE(owner.frames[1].is(1, 3));

    ASSERT_EQ(sim.command("standby"), "ok standby");
    ASSERT_TRUE(waitUntil([&] { return owner.frames.size() >= 3; }));
    EXPECT_TRUE(owner.frames[2].is(0x88, 0x88));
    EXPECT_EQ(sim.command("bogus 1"), "error bogus 1");
}

}  // namespace
}  // namespace matrix::testing
