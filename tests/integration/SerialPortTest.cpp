// SPDX-License-Identifier: Apache-2.0
// QtSerialPort on real pseudo-terminals linked as COMn in a temporary
// MATRIX_COM_DIR; the test plays the matrix on the master side.

#include "platform/QtSerialPort.h"
#include "tests/support/RawFrame.h"

#include "core/link/CommandFrame.h"
#include "tests/integration/EventWait.h"
#include "tests/integration/PtyLine.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

namespace matrix::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

int openDescriptorCount()
{
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}

Bytes frameBytes(const CommandFrame& frame) { return Bytes(frame.data(), frame.data() + CommandFrame::kSize); }

// What the owner of a port saw.
struct OwnerLog {
    Bytes bytes;
    std::vector<int> ports;
    int faults = 0;

    void watch(SerialChannel& channel)
    {
        channel.setByteHandler([this](std::uint8_t byte, int port) {
            bytes.push_back(byte);
            ports.push_back(port);
        });
        channel.setFaultHandler([this] { ++faults; });
    }
};

class QtSerialPortTest : public ::testing::Test {
protected:
    static constexpr int kCom = 3;

    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ::setenv("MATRIX_COM_DIR", dir_.path().toLocal8Bit().constData(), 1);
        line_ = std::make_unique<PtyLine>(comDir(), kCom);
        ASSERT_TRUE(line_->ok());
    }
    void TearDown() override { ::unsetenv("MATRIX_COM_DIR"); }

    std::string comDir() const { return dir_.path().toStdString(); }

    termios lineSettings() const
    {
        termios settings{};
        ::tcgetattr(line_->masterFd(), &settings);
        return settings;
    }

    // The owner watches a port opened on the live link and delivering.
    static bool startLive(QtSerialPort& port, OwnerLog& owner)
    {
        owner.watch(port);
        return port.open(kCom, liveSerialSettings()) && port.startWorker();
    }

    // Gives bytes sent on the line time to reach the port's input queue,
    // where nobody reads them while the loop does not run.
    void waitUnreadAtPort(std::size_t count) const
    {
        for (int i = 0; i < 200 && line_->unreadAtPort() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    QTemporaryDir dir_;
    std::unique_ptr<PtyLine> line_;
};

TEST_F(QtSerialPortTest, AppliesTheLineSettingsOfEachUse)
{
    // A pseudo-terminal forces 8 data bits and no parity whatever is asked,
    // so those two are checked as kept, not as chosen.
    struct Case {
        const char* use;
        SerialSettings settings;
        speed_t speed;
        bool twoStopBits;
    };
    const Case cases[] = {
        {"live link", liveSerialSettings(), B19200, true},
        {"probe", probeSerialSettings(), B19200, false},
        {"live again", liveSerialSettings(), B19200, true},
        {"other speed", {9600, 'N', 8, 1, 3, 512}, B9600, false},
    };
    // One object for all: each open closes what it held and applies anew.
    QtSerialPort port;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.use);
        ASSERT_TRUE(port.open(kCom, c.settings));
        const termios applied = lineSettings();
        EXPECT_EQ(cfgetospeed(&applied), c.speed);
        EXPECT_EQ(cfgetispeed(&applied), c.speed);
        EXPECT_EQ(applied.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(applied.c_cflag & PARENB, 0u);
        EXPECT_EQ((applied.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(applied.c_lflag & (ECHO | ICANON), 0u) << "the line must be raw";
    }
    port.requestClose();
}

TEST_F(QtSerialPortTest, ASecondOpenOfAHeldPortFails)
{
    PtyLine other(comDir(), 4);
    ASSERT_TRUE(other.ok());
    QtSerialPort first;
    QtSerialPort second;
    ASSERT_TRUE(first.open(kCom, liveSerialSettings()));
    ASSERT_TRUE(first.startWorker());

    EXPECT_FALSE(second.open(kCom, probeSerialSettings()));
    EXPECT_FALSE(second.isOpen());
    EXPECT_TRUE(first.isOpen()) << "the failed open must not disturb the holder";
    EXPECT_TRUE(second.open(4, probeSerialSettings())) << "other ports stay free";

    first.requestClose();
    EXPECT_FALSE(first.isOpen());
    EXPECT_TRUE(second.open(kCom, liveSerialSettings())) << "released by requestClose";
}

TEST_F(QtSerialPortTest, APortAnotherProgramHoldsIsNeitherOpenedNorReconfigured)
{
    // Another program's descriptor on the same line, first in exclusive
    // mode, then with an flock, as serial tools hold their ports.
    const int holder = ::open(line_->devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);

    QtSerialPort probe;
    EXPECT_FALSE(probe.open(kCom, probeSerialSettings()));
    termios untouched = lineSettings();
    EXPECT_EQ(cfgetospeed(&untouched), static_cast<speed_t>(B9600)) << "the probe changed a held line";

    ASSERT_EQ(::ioctl(holder, TIOCNXCL), 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(probe.open(kCom, probeSerialSettings()));
    untouched = lineSettings();
    EXPECT_EQ(cfgetospeed(&untouched), static_cast<speed_t>(B9600));

    ::close(holder);
    EXPECT_TRUE(probe.open(kCom, probeSerialSettings())) << "free again once the other program let go";
    probe.requestClose();
}

TEST_F(QtSerialPortTest, ReceivedBytesReachTheOwnerInOrder)
{
    QtSerialPort port;
    OwnerLog owner;
    ASSERT_TRUE(startLive(port, owner));

    Bytes sent;
    for (int round = 0; round < 3; ++round)
        for (int b = 0; b < 256; ++b)
            sent.push_back(static_cast<std::uint8_t>(b ^ round));
    line_->send(sent);

    ASSERT_TRUE(waitUntil([&] { return owner.bytes.size() >= sent.size(); }));
    EXPECT_EQ(owner.bytes, sent);
    EXPECT_EQ(owner.ports, std::vector<int>(sent.size(), kCom));
    EXPECT_EQ(owner.faults, 0);
}

TEST_F(QtSerialPortTest, AWriteDiscardsReceivedBytesNotYetRead)
{
    QtSerialPort port;
    OwnerLog owner;
    ASSERT_TRUE(startLive(port, owner));

    // Stale bytes reach the port's input queue; the loop does not run, so
    // nobody has read them when the write comes.
    const Bytes stale{0xA5, 0x5B, 0x01, 0x01, 0x07};
    line_->send(stale);
    waitUnreadAtPort(stale.size());
    ASSERT_EQ(line_->unreadAtPort(), stale.size());

    const CommandFrame query = RawFrame::general(1, 1, 0);
    port.write(query.data(), CommandFrame::kSize);
    EXPECT_EQ(line_->unreadAtPort(), 0u);
    EXPECT_EQ(line_->receive(CommandFrame::kSize), frameBytes(query)) << "the frame must reach the line whole";

    const Bytes reply = frameBytes(CommandFrame().set(2, 1).set(3, 1).set(4, 1).seal());
    line_->send(reply);
    ASSERT_TRUE(waitUntil([&] { return owner.bytes.size() >= reply.size(); }));
    pumpEventsFor(50);
    EXPECT_EQ(owner.bytes, reply) << "stale bytes were delivered";
}

TEST_F(QtSerialPortTest, ALineProtocolKeepsWhatArrivedBeforeItsWrite)
{
    // A text peer may send its next request while the reply to the last goes out.
    QtSerialPort port;
    OwnerLog owner;
    owner.watch(port);
    SerialSettings settings = liveSerialSettings();
    settings.discardInputOnWrite = false;
    ASSERT_TRUE(port.open(kCom, settings) && port.startWorker());
    const Bytes next{'P', 'I', 'N', 'G', '\r'};
    line_->send(next);
    waitUnreadAtPort(next.size());
    const Bytes reply{'O', 'K', '\r', '\n'};
    port.write(reply.data(), reply.size());
    EXPECT_EQ(line_->receive(reply.size()), reply);
    ASSERT_TRUE(waitUntil([&] { return owner.bytes.size() >= next.size(); }));
    EXPECT_EQ(owner.bytes, next);
}

TEST_F(QtSerialPortTest, ClosingTheOtherEndIsReportedOnceAndReleasesThePort)
{
    const int descriptorsBefore = openDescriptorCount();
    {
        QtSerialPort port;
        OwnerLog owner;
        ASSERT_TRUE(startLive(port, owner));

        line_->closeMaster();
        ASSERT_TRUE(waitUntil([&] { return owner.faults >= 1; }));
        pumpEventsFor(150);
        EXPECT_EQ(owner.faults, 1);
        EXPECT_FALSE(port.isOpen());
    }
    line_.reset();
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore - 2) << "descriptors leaked (the line's own two are gone)";

    // A new adapter under the same name opens normally.
    line_ = std::make_unique<PtyLine>(comDir(), kCom);
    QtSerialPort again;
    EXPECT_TRUE(again.open(kCom, liveSerialSettings()));
}

TEST_F(QtSerialPortTest, NoFaultIsReportedForAPortAlreadyClosed)
{
    QtSerialPort port;
    OwnerLog owner;
    ASSERT_TRUE(startLive(port, owner));
    port.requestClose();
    line_->closeMaster();
    pumpEventsFor(150);
    EXPECT_EQ(owner.faults, 0);
}

TEST_F(QtSerialPortTest, AProbeDeliversNothingAndLeavesNothingOpen)
{
    const int descriptorsBefore = openDescriptorCount();
    QtSerialPort probe;
    OwnerLog owner;
    owner.watch(probe);
    ASSERT_TRUE(probe.open(kCom, probeSerialSettings()));
    line_->send(frameBytes(RawFrame::general(1, 1, 0)));
    pumpEventsFor(100);
    EXPECT_TRUE(owner.bytes.empty());

    probe.requestClose();
    EXPECT_FALSE(probe.isOpen());
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    QtSerialPort next;
    EXPECT_TRUE(next.open(kCom, liveSerialSettings())) << "the probe kept the port";
    next.requestClose();

    // Bytes that gathered during a probe are stale once delivery starts.
    OwnerLog liveOwner;
    liveOwner.watch(next);
    ASSERT_TRUE(next.open(kCom, liveSerialSettings()));
    line_->send({0x11, 0x22});
    waitUnreadAtPort(2);
    ASSERT_TRUE(next.startWorker());
    line_->send({0x33});
    ASSERT_TRUE(waitUntil([&] { return !liveOwner.bytes.empty(); }));
    pumpEventsFor(50);
    EXPECT_EQ(liveOwner.bytes, Bytes{0x33});
}

TEST_F(QtSerialPortTest, AnOwnerMayCloseOrDestroyThePortFromItsByteHandler)
{
    QtSerialPort port;
    OwnerLog owner;
    port.setByteHandler([&](std::uint8_t byte, int) {
        owner.bytes.push_back(byte);
        port.requestClose();
    });
    ASSERT_TRUE(port.open(kCom, liveSerialSettings()));
    ASSERT_TRUE(port.startWorker());
    line_->send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ASSERT_TRUE(waitUntil([&] { return !owner.bytes.empty(); }));
    pumpEventsFor(100);
    EXPECT_EQ(owner.bytes, Bytes{1}) << "bytes after the close were delivered";
    EXPECT_FALSE(port.isOpen());

    auto doomed = std::make_unique<QtSerialPort>();
    int delivered = 0;
    doomed->setByteHandler([&](std::uint8_t, int) {
        ++delivered;
        doomed.reset();
    });
    ASSERT_TRUE(doomed->open(kCom, liveSerialSettings()));
    ASSERT_TRUE(doomed->startWorker());
    line_->send({1, 2, 3});
    ASSERT_TRUE(waitUntil([&] { return delivered > 0; }));
    pumpEventsFor(100);
    EXPECT_EQ(delivered, 1);
    QtSerialPort after;
    EXPECT_TRUE(after.open(kCom, liveSerialSettings())) << "a destroyed port must release the line";
}

TEST_F(QtSerialPortTest, PortsWithoutADeviceFailToOpen)
{
    QtSerialPort port;
    EXPECT_FALSE(port.open(9, probeSerialSettings()));  // no entry
    EXPECT_FALSE(port.open(0, probeSerialSettings()));
    EXPECT_FALSE(port.open(20, probeSerialSettings()));
    const std::string dangling = comDir() + "/COM5";
    ASSERT_EQ(::symlink("/dev/pts/does-not-exist", dangling.c_str()), 0);
    EXPECT_FALSE(port.open(5, probeSerialSettings()));
    EXPECT_FALSE(port.isOpen());
}

}  // namespace
}  // namespace matrix::testing
