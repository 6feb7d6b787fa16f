// SPDX-License-Identifier: Apache-2.0
#include "core/pages/firmware/FirmwarePage.h"

#include "core/formats/FirmwareMerger.h"
#include "tests/core/firmware/FirmwareTestFiles.h"
#include "tests/support/PageWorld.h"
#include "tests/support/TestRig.h"
#include "tests/support/Transport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace matrix;
using namespace matrix::testing;

namespace {

// The Messages log as the page writes it, every line ended by CR LF.
std::string logOf(std::initializer_list<const char*> lines)
{
    std::string log;
    for (const char* line : lines)
        log += std::string(line) + "\r\n";
    return log;
}

std::string hexOf(const CommandFrame& f)
{
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < CommandFrame::kSize; ++i) {
        if (i)
            text += ' ';
        text += digits[f[i] >> 4];
        text += digits[f[i] & 15];
    }
    return text;
}

// One firmware page wired to the simulated matrix on virtual time.
class FirmwarePageTest : public ::testing::TestWithParam<Transport>, protected PageWorld {
protected:
    std::unique_ptr<FirmwarePage> page;
    ScratchDir dir;

    void SetUp() override
    {
        link.matrixAddress = TestRig::kAddress;
        if (GetParam() == Transport::Tcp) {
            link.controlMode = ControlMode::Tcp;
            link.setTcpState(TcpState::Reconnecting);
        } else {
            link.comOpen = 1;
            link.comPort = TestRig::kComPort;
        }
        page = std::make_unique<FirmwarePage>(context);
        selectTab();
    }

    sim::MatrixResponder& matrix() { return GetParam() == Transport::Tcp ? rig.tcpMatrix : rig.serialMatrix; }

    // What the main window does when the FW Upgrade tab is selected.
    void selectTab()
    {
        page->tabSelected(true);
        link.activePage = PageId::Firmware;
        if (link.tcpMode())
            link.reconnect(PageId::Firmware);
        rig.loop.advance(150);
        page->activate();
        rig.loop.runPending();
    }

    void load(const Bytes& image) { ASSERT_TRUE(page->setFilePath(writeContainer(dir, "image.fw", image))); }

    // Upgrade clicked; the matrix's received frames are those of this run.
    void startUpgrade()
    {
        matrix().clearReceived();
        page->upgradeClicked();
    }

    bool messagesContain(const std::string& text) { return page->messages().find(text) != std::string::npos; }

    // Runs until the log shows `text`; returns the virtual milliseconds it took.
    std::int64_t runUntilMessage(const std::string& text, std::int64_t maxMs = 120000)
    {
        const std::int64_t start = rig.loop.nowMs();
        EXPECT_TRUE(rig.loop.advanceUntil([&] { return messagesContain(text); }, maxMs)) << text;
        return rig.loop.nowMs() - start;
    }

    std::vector<CommandFrame> upgradeFrames()
    {
        std::vector<CommandFrame> frames;
        for (const auto& f : matrix().received())
            if (f.command() == 0x20)
                frames.push_back(f);
        return frames;
    }

    int countFrames(int command, int sub, int p1)
    {
        int n = 0;
        for (const auto& f : matrix().received())
            n += f.command() == command && f.subCommand() == sub && f.p1() == p1;
        return n;
    }

    // Every 257-byte write on the wire: the data blocks.
    std::vector<Bytes> blocksOnWire()
    {
        const auto& writes =
            GetParam() == Transport::Tcp ? rig.linkSocket.sent() : rig.serialHub.writes(TestRig::kComPort);
        std::vector<Bytes> blocks;
        for (const auto& w : writes)
            if (w.size() == protocol::kFirmwareBlockBytes)
                blocks.push_back(w);
        return blocks;
    }

    void expectIdle()
    {
        EXPECT_TRUE(page->upgradeEnabled());
        EXPECT_TRUE(page->browseEnabled());
        EXPECT_EQ(link.firmwareUpgrading, 0);
        ASSERT_FALSE(shell.pageBusy.empty());
        EXPECT_EQ(shell.pageBusy.back(), 0);
        EXPECT_EQ(page->client().queuedRequests(), 0u) << "no step of the upgrade still waits";
    }

    void expectReceivedPart(int part, const Bytes& image, std::size_t dataStart, std::size_t dataEnd)
    {
        const auto& got = rig.device.firmwarePart[static_cast<std::size_t>(part)];
        const std::size_t length = dataEnd - dataStart;
        ASSERT_EQ(got.size(), (length / 256 + 1) * 256) << "whole blocks 0 .. blockTotal";
        EXPECT_TRUE(std::equal(image.begin() + static_cast<long>(dataStart), image.begin() + static_cast<long>(dataEnd),
                               got.begin()))
            << "the matrix holds the file's part byte for byte";
        for (std::size_t i = length; i < got.size(); ++i) {
            if (dataEnd + (i - length) >= image.size()) {
                ASSERT_EQ(got[i], 0) << "past the end of the file the last block is zero-filled";
            }
        }
    }
};

}  // namespace

TEST_P(FirmwarePageTest, EntryQueryShowsTheDeviceLine)
{
    EXPECT_EQ(page->deviceLine(), "Device: HDMI MATRIX 4x4          Version: 1.0");
    if (GetParam() == Transport::Com) {
        EXPECT_EQ(rig.serialHub.lastSettings(TestRig::kComPort).stopBits, 2);
        EXPECT_EQ(link.pageStopBits, 2);
    }
    // From the entry query on, a standby frame is heard on either link.
    matrix().sendStandby();
    rig.loop.runPending();
    EXPECT_TRUE(popups.notice.isOpen());
    EXPECT_EQ(popups.notice.text(), "Matrix is in standby mode!");
}

TEST_P(FirmwarePageTest, SixHundredBytePart1GoesOutInThreeBlocksAndTheMatrixHoldsIt)
{
    const Bytes image = partImage(0xA5, 0x5A, 598);
    load(image);
    startUpgrade();
    EXPECT_EQ(link.firmwareUpgrading, 1);
    EXPECT_FALSE(page->upgradeEnabled());
    EXPECT_FALSE(page->browseEnabled());
    EXPECT_EQ(page->progressMaximum(), 598);

    const std::int64_t tookMs = runUntilMessage("Firmware upgrade Successfully\r\n");
    // Only the mandated waits: 200 before the prepare, 200 before block 0,
    // 100 before blocks 1 and 2, and one 3 s poll while the matrix reboots.
    EXPECT_EQ(tookMs, 200 + 200 + 100 + 100 + 3000);

    const auto frames = upgradeFrames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(hexOf(frames[0]), "A5 5B 20 01 01 00 00 00 00 00 00 00 DE");
    EXPECT_EQ(hexOf(frames[1]), "A5 5B 20 01 80 00 00 00 00 00 00 00 5F");
    EXPECT_EQ(hexOf(frames[2]), "A5 5B 20 01 10 00 00 00 00 00 00 00 CF");
    EXPECT_EQ(hexOf(frames[3]), "A5 5B 20 01 AA 00 00 01 01 00 00 00 33");
    EXPECT_EQ(hexOf(frames[4]), "A5 5B 20 01 AA 00 00 01 01 00 01 00 32");
    EXPECT_EQ(hexOf(frames[5]), "A5 5B 20 01 56 00 FE 00 01 00 02 00 88");

    const auto blocks = blocksOnWire();
    ASSERT_EQ(blocks.size(), 3u);
    for (const auto& b : blocks)
        EXPECT_TRUE(sumIsZero(b.data(), b.size()));
    EXPECT_EQ(rig.device.firmwareBadBlocks, 0);
    expectReceivedPart(1, image, 2, 600);

    EXPECT_EQ(page->messages(),
              logOf({"Upgrading Part_1.1.0.0...", "System rebooting,Please wait...", "System reboot ok",
                     "Part_1.1.0.0 upgrading complete", "Firmware upgrade Successfully"}));
    EXPECT_EQ(page->progressPosition(), page->progressMaximum());
    EXPECT_FALSE(popups.notice.isOpen());
    expectIdle();
}

// The bar runs per part and moves as each block is announced, to one byte
// short of the blocks announced so far; the last block fills it.
TEST_P(FirmwarePageTest, TheBarMovesAtEachAnnounce)
{
    load(partImage(0xA5, 0x5A, 1024));
    startUpgrade();
    EXPECT_EQ(page->progressMaximum(), 1024);
    const std::int64_t start = rig.loop.nowMs();
    const std::pair<std::int64_t, int> steps[] = {{200, 255}, {400, 511}, {500, 767}, {600, 1023}, {700, 1024}};
    int before = 0;
    for (const auto& [atMs, position] : steps) {
        rig.loop.advance(start + atMs - 1 - rig.loop.nowMs());
        EXPECT_EQ(page->progressPosition(), before) << "just before " << atMs << " ms";
        rig.loop.advance(1);
        EXPECT_EQ(page->progressPosition(), position) << "at " << atMs << " ms";
        before = position;
    }
}

// The traffic view's sent box for this tab: a line break after each
// handshake frame, announce and re-sent poll ('n'), an entry per block ('D').
TEST_P(FirmwarePageTest, SentLogMarksTheFramesAsTheTrafficViewShowsThem)
{
    struct Case {
        const char* name;
        std::function<void()> knob;
        Bytes image;
        std::string marks;
    };
    const Case cases[] = {
        {"part 1", [] {}, partImage(0xA5, 0x5A, 598), "nnnDnDnDn"},
        {"part 2 has no handshake", [] {}, partImage(0xA4, 0x5B, 700), "nDnDnDn"},
        {"block 1 sent again", [&] { rig.device.dropFirmwareAckOfBlock = 1; }, partImage(0xA5, 0x5A, 598),
         "nnnDnDnDnDn"},
        {"prepare and start sent again", [&] { matrix().setReplyDelayMs(3500); }, partImage(0xA5, 0x5A, 1300),
         "nnnnDnDnDnDnDnDn"},
        {"every poll", [&] { rig.device.firmwareNeverReboots = true; }, partImage(0xA5, 0x5A, 598), "nnnDnDnDnnnnnnn"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        load(c.image);
        c.knob();
        const std::size_t from = page->sentLogText().size();
        startUpgrade();
        ASSERT_TRUE(rig.loop.advanceUntil([&] { return page->upgradeEnabled(); }, 120000));
        std::string marks = page->sentLogText().substr(from);
        for (const auto& [text, mark] : {std::pair<std::string, const char*>{"Send data:\r\n\r\n", "D"}, {"\r\n", "n"}})
            for (std::size_t at = 0; (at = marks.find(text, at)) != std::string::npos;)
                marks.replace(at, text.size(), mark);
        EXPECT_EQ(marks, c.marks);
        rig.device.dropFirmwareAckOfBlock = -1;
        rig.device.firmwareNeverReboots = false;
        matrix().setReplyDelayMs(0);
        rig.loop.advance(10000);  // late answers land before the next case
    }
}

TEST_P(FirmwarePageTest, Part2ImageHasNoPrepareHandshake)
{
    const Bytes image = partImage(0xA4, 0x5B, 700);
    load(image);
    startUpgrade();
    runUntilMessage("Firmware upgrade Successfully\r\n");

    const auto frames = upgradeFrames();
    ASSERT_GE(frames.size(), 1u);
    EXPECT_EQ(hexOf(frames[0]), "A5 5B 20 02 01 00 00 00 00 00 00 00 DD");
    EXPECT_EQ(countFrames(0x20, 0x01, 0x80) + countFrames(0x20, 0x01, 0x10), 0);
    EXPECT_EQ(countFrames(0x20, 0x02, 0x56), 1);
    expectReceivedPart(2, image, 2, 702);
    EXPECT_EQ(page->messages(),
              logOf({"Upgrading Part_2.1.0.0...", "Part_2.1.0.0 upgrading complete", "System rebooting,Please wait...",
                     "System reboot ok", "Firmware upgrade Successfully"}));
    expectIdle();
}

TEST_P(FirmwarePageTest, MergedMainAndSlaveIsSentWholeAsPart1)
{
    ASSERT_TRUE(writeFile(dir.file("main.bin"), patternBytes(1000, 3)));
    ASSERT_TRUE(writeFile(dir.file("slave.bin"), patternBytes(500, 4)));
    ASSERT_EQ(page->pickMergeSource(FirmwareMerger::Main, dir.file("main.bin")), FirmwareMerger::PickResult::Taken);
    ASSERT_EQ(page->pickMergeSource(FirmwareMerger::Slave, dir.file("slave.bin")), FirmwareMerger::PickResult::Taken);
    page->mergeClicked();
    ASSERT_TRUE(page->setFilePath(page->merger().outputPath()));
    ASSERT_EQ(page->image().size(), 1504u);

    startUpgrade();
    runUntilMessage("Firmware upgrade Successfully\r\n");
    EXPECT_EQ(countFrames(0x20, 0x01, 0x01), 1);
    EXPECT_EQ(countFrames(0x20, 0x02, 0x01), 0) << "part 1 runs to the end of the file";
    expectReceivedPart(1, page->image(), 2, 1504);
    EXPECT_EQ(rig.device.firmwarePart[1][1000], 0xA4);
    EXPECT_EQ(rig.device.firmwarePart[1][1001], 0x5B);
    expectIdle();
}

TEST_P(FirmwarePageTest, WithoutARebootAnswerTheLinkTimesOut24SecondsAfterTheFinalAck)
{
    rig.device.firmwareNeverReboots = true;
    load(partImage(0xA5, 0x5A, 598));
    page->upgradeClicked();
    runUntilMessage("System rebooting,Please wait...\r\n");
    matrix().clearReceived();
    rig.loop.advance(24000 - 1);
    EXPECT_FALSE(popups.notice.isOpen());
    EXPECT_EQ(link.firmwareUpgrading, 1);
    rig.loop.advance(1);
    EXPECT_TRUE(popups.notice.isOpen());
    EXPECT_EQ(popups.notice.text(), "Time out!");
    // The first poll went out with the final ack; seven more re-sends follow.
    EXPECT_EQ(countFrames(0x01, 0x01, 0) + 1, 8);
    EXPECT_EQ(page->messages().substr(page->messages().size() - 30), "Write to Part_1.1.0.0 failed\r\n");
    expectIdle();
    rig.loop.advance(1500);
    EXPECT_FALSE(popups.notice.isOpen()) << "the notice closes on timer 55";
}

TEST_P(FirmwarePageTest, RejectedPart1EndsAtOnceAndIsNotResent)
{
    rig.device.rejectFirmwarePart1 = true;
    load(partImage(0xA5, 0x5A, 598));
    startUpgrade();
    rig.loop.runPending();
    EXPECT_TRUE(popups.notice.isOpen());
    EXPECT_EQ(popups.notice.text(), "Write to Part_1.1.0.0 failed!");
    EXPECT_EQ(page->messages(), "Upgrading Part_1.1.0.0...\r\nWrite to Part_1.1.0.0 failed\r\n");
    expectIdle();
    rig.loop.advance(10000);
    EXPECT_EQ(countFrames(0x20, 0x01, 0x01), 1);
    EXPECT_FALSE(popups.notice.isOpen());
    EXPECT_EQ(popups.notice.timesOpened(), 1) << "no late time-out notice";
}

TEST_P(FirmwarePageTest, RejectedPart2OpensAMessageBox)
{
    rig.device.rejectFirmwarePart2 = true;
    load(partImage(0xA4, 0x5B, 300));
    page->upgradeClicked();
    rig.loop.runPending();
    EXPECT_TRUE(page->messageBoxOpen());
    EXPECT_EQ(page->messageBoxText(), "Write to Part_2.1.0.0 failed");
    EXPECT_EQ(page->messages(), "Upgrading Part_2.1.0.0...\r\nWrite to Part_2.1.0.0 failed\r\n");
    expectIdle();
    page->closeMessageBox();
    EXPECT_FALSE(page->messageBoxOpen());
}

TEST_P(FirmwarePageTest, NoFileFailsWithoutSendingAnything)
{
    startUpgrade();
    rig.loop.runPending();
    EXPECT_TRUE(popups.notice.isOpen());
    EXPECT_EQ(popups.notice.text(), "Upgrade failed!");
    EXPECT_TRUE(upgradeFrames().empty());
    expectIdle();
}

TEST_P(FirmwarePageTest, DroppedBlockAckIsRecoveredByTheResend)
{
    // Block 0 is covered by timer 40, later blocks by timer 33.
    const Bytes image = partImage(0xA5, 0x5A, 598);
    load(image);
    for (int lostBlock : {0, 1}) {
        SCOPED_TRACE(lostBlock);
        rig.device.dropFirmwareAckOfBlock = lostBlock;
        rig.device.firmwarePart[1].clear();
        const std::size_t blocksBefore = blocksOnWire().size();
        startUpgrade();
        const std::int64_t tookMs = runUntilMessage("Firmware upgrade Successfully\r\n");
        EXPECT_EQ(tookMs, 3600 + 7000) << "one 7 s wait for the lost acknowledgement";
        EXPECT_EQ(countFrames(0x20, 0x01, 0xAA), 3) << "the block announced twice";
        EXPECT_EQ(blocksOnWire().size() - blocksBefore, 4u);
        expectReceivedPart(1, image, 2, 600);
        EXPECT_FALSE(popups.notice.isOpen());
        expectIdle();
        page->clearClicked();
    }
}

TEST_P(FirmwarePageTest, SilentMatrixGetsTheStartTwiceThenTimesOut)
{
    load(partImage(0xA5, 0x5A, 598));
    matrix().setSilent(true);
    startUpgrade();
    rig.loop.advance(3000);
    EXPECT_EQ(countFrames(0x20, 0x01, 0x01), 2) << "re-sent once after 3 s";
    rig.loop.advance(2999);
    EXPECT_FALSE(popups.notice.isOpen());
    rig.loop.advance(1);
    EXPECT_EQ(popups.notice.text(), "Time out!");
    EXPECT_EQ(page->messages(), "Upgrading Part_1.1.0.0...\r\nWrite to Part_1.1.0.0 failed\r\n");
    expectIdle();
    rig.loop.advance(20000);
    EXPECT_EQ(countFrames(0x20, 0x01, 0x01), 2) << "nothing more after the end";
}

TEST_P(FirmwarePageTest, AHandshakeCutShortDoesNotSkipAStepNextTime)
{
    load(partImage(0xA5, 0x5A, 598));
    matrix().setReplyDelayMs(50);
    page->upgradeClicked();
    // Accept at 50, prepare at 250, its answer at 300 sends the second prepare.
    rig.loop.advance(320);
    ASSERT_EQ(countFrames(0x20, 0x01, 0x10), 1) << "the second prepare is out";
    matrix().sendStandby();
    rig.loop.runPending();
    expectIdle();
    rig.loop.advance(100);  // the late answer to the second prepare is ignored
    EXPECT_EQ(countFrames(0x20, 0x01, 0xAA), 0) << "no block announced after the end";

    matrix().setReplyDelayMs(0);
    matrix().clearReceived();
    popups.notice.close();
    page->upgradeClicked();
    runUntilMessage("Firmware upgrade Successfully\r\n");
    const auto frames = upgradeFrames();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames[1].p1(), 0x80);
    EXPECT_EQ(frames[2].p1(), 0x10) << "the second prepare is sent again";
    EXPECT_EQ(frames[3].p1(), 0xAA);
}

// Found by the fault simulation: a prepare answered late is re-sent, both
// answers arrive, and the second one (indistinguishable from the answer to
// the second prepare) restarted the handshake in mid-transfer, announcing
// block 0 with the data of a later block. The matrix then held a damaged
// image and the page reported success.
TEST_P(FirmwarePageTest, DoubledPrepareAnswerDoesNotSendALaterBlockAsBlockZero)
{
    const Bytes image = partImage(0xA5, 0x5A, 1300);
    load(image);
    page->upgradeClicked();
    rig.loop.advance(100);  // accepted; the prepare goes out at 200
    // Every answer from now on takes 3.5 s: the first prepare is re-sent
    // after its 3 s wait, and both of its answers come back.
    matrix().setReplyDelayMs(3500);
    runUntilMessage("Firmware upgrade Successfully\r\n");
    EXPECT_EQ(countFrames(0x20, 0x01, 0x80), 2) << "the first prepare was re-sent";
    expectReceivedPart(1, image, 2, 1302);
    EXPECT_EQ(rig.device.firmwareBadBlocks, 0);
    rig.loop.advance(30000);
    expectIdle();
}

// Found by the fault simulation: a start accepted late is re-sent, and the
// second acceptance, arriving during the transfer, started the part over
// with block 0 announced and a later block's data sent under it.
TEST_P(FirmwarePageTest, DoubledStartAcceptanceDoesNotRestartThePart)
{
    const Bytes image = partImage(0xA4, 0x5B, 1300);
    load(image);
    matrix().setReplyDelayMs(3200);  // the start is re-sent after 3 s
    page->upgradeClicked();
    rig.loop.advance(3300);
    matrix().setReplyDelayMs(0);
    runUntilMessage("Firmware upgrade Successfully\r\n");
    EXPECT_EQ(countFrames(0x20, 0x02, 0x01), 2) << "the start was re-sent";
    EXPECT_EQ(countFrames(0x20, 0x02, 0xAA), 5) << "blocks 0 .. 4 announced once each";
    expectReceivedPart(2, image, 2, 1302);
    rig.loop.advance(30000);
    expectIdle();
}

// Found by the fault simulation: an acknowledgement held back by the line
// (of another block, or of an upgrade that had already ended) was taken as
// the answer for the block in flight; the page jumped past blocks the
// matrix never got and still reported success.
TEST_P(FirmwarePageTest, StaleBlockAcknowledgementDoesNotSkipBlocks)
{
    const Bytes image = partImage(0xA5, 0x5A, 1300);
    load(image);
    page->upgradeClicked();
    // Block 0 is acknowledged once block 1 is announced.
    ASSERT_TRUE(rig.loop.advanceUntil([&] { return countFrames(0x20, 0x01, 0xAA) == 2; }, 5000));
    // An acknowledgement of block 3 arrives before block 1 has even gone out.
    matrix().replyFrame(CommandFrame().set(2, 0x20).set(3, 0x01).set(7, 1).set(8, 1).set(10, 3).seal());
    runUntilMessage("Firmware upgrade Successfully\r\n");
    EXPECT_EQ(countFrames(0x20, 0x01, 0xAA), 5) << "blocks 0 .. 4 announced once each";
    expectReceivedPart(1, image, 2, 1302);
    expectIdle();
}

TEST_P(FirmwarePageTest, PartsOfOneByteIndexRange)
{
    // 65535 data bytes: blocks 0 .. 255, the last one announced with index 255.
    Bytes image = partImage(0xA5, 0x5A, 65535);
    load(image);
    startUpgrade();
    runUntilMessage("Firmware upgrade Successfully\r\n", 200000);
    const auto frames = upgradeFrames();
    EXPECT_EQ(hexOf(frames.back()), "A5 5B 20 01 56 00 FE 00 01 00 FF 00 8B");
    expectReceivedPart(1, image, 2, image.size());
    EXPECT_EQ(page->progressPosition(), 65535);

    // One byte more cannot be indexed: refused before anything is sent.
    page->clearClicked();
    load(partImage(0xA5, 0x5A, 65536));
    startUpgrade();
    rig.loop.runPending();
    EXPECT_TRUE(upgradeFrames().empty());
    EXPECT_EQ(popups.notice.text(), "Upgrade failed!");
    EXPECT_NE(page->messages().find("65536"), std::string::npos) << page->messages();
    expectIdle();
}

TEST_P(FirmwarePageTest, PartShorterThanOneBlockCompletes)
{
    const Bytes image = partImage(0xA5, 0x5A, 100);
    load(image);
    startUpgrade();
    runUntilMessage("Firmware upgrade Successfully\r\n", 30000);
    EXPECT_EQ(hexOf(upgradeFrames().back()), "A5 5B 20 01 56 00 FE 00 01 00 00 00 8A");
    expectReceivedPart(1, image, 2, 102);
    expectIdle();
}

TEST_P(FirmwarePageTest, ReachingPart3StopsWithAClearLine)
{
    Bytes image = partImage(0xA4, 0x5B, 300);
    const Bytes part3 = partImage(0xA3, 0x5C, 100, 9);
    image.insert(image.end(), part3.begin(), part3.end());
    load(image);
    startUpgrade();
    runUntilMessage("System reboot ok\r\n");
    rig.loop.runPending();
    expectReceivedPart(2, image, 2, 302);
    EXPECT_EQ(countFrames(0x20, 0x02, 0x03), 0) << "no start command for part 3";
    EXPECT_EQ(popups.notice.text(), "Upgrade failed!");
    EXPECT_NE(page->messages().find("Part_3.1.0.0"), std::string::npos) << page->messages();
    EXPECT_EQ(page->messages().find("Successfully"), std::string::npos);
    expectIdle();
}

TEST_P(FirmwarePageTest, TwoPart2sInARowAreBothSent)
{
    Bytes image = partImage(0xA4, 0x5B, 300, 1);
    const Bytes second = partImage(0xA4, 0x5B, 400, 2);
    image.insert(image.end(), second.begin(), second.end());
    load(image);
    startUpgrade();
    runUntilMessage("Firmware upgrade Successfully\r\n");
    EXPECT_EQ(countFrames(0x20, 0x02, 0x01), 2);
    expectReceivedPart(2, image, 304, image.size());
    expectIdle();
}

TEST_P(FirmwarePageTest, StandbyDuringTheUploadEndsIt)
{
    load(partImage(0xA5, 0x5A, 2000));
    page->upgradeClicked();
    rig.loop.advance(500);
    ASSERT_EQ(link.firmwareUpgrading, 1);
    matrix().sendStandby();
    rig.loop.runPending();
    EXPECT_EQ(popups.notice.text(), "Matrix is in standby mode!");
    expectIdle();
    rig.loop.advance(2499);
    EXPECT_TRUE(popups.notice.isOpen());
    rig.loop.advance(1);
    EXPECT_FALSE(popups.notice.isOpen());
}

TEST_P(FirmwarePageTest, NotConnectedShowsTheGuardNotice)
{
    load(partImage(0xA5, 0x5A, 598));
    if (GetParam() == Transport::Tcp)
        link.onSocketClose();
    else
        page->serialPort().requestClose();
    page->upgradeClicked();
    EXPECT_EQ(popups.notice.text(), GetParam() == Transport::Tcp ? "Connect to Matrix failed!" : "Open COM failed!");
    EXPECT_EQ(link.firmwareUpgrading, 0);
    EXPECT_TRUE(page->upgradeEnabled());
}

INSTANTIATE_TEST_SUITE_P(BothTransports, FirmwarePageTest, ::testing::Values(Transport::Tcp, Transport::Com),
                         transportName);

// A firmware page alone, for the tests that make the page themselves.
struct FirmwarePageAlone : ::testing::Test, PageWorld {};
using FirmwarePageTcp = FirmwarePageAlone;
using FirmwarePageFiles = FirmwarePageAlone;

// Over TCP an upgrade reply is ignored while the entry of a tab is pending.
TEST_F(FirmwarePageTcp, UpgradeRepliesAreIgnoredWhileTheEntryIsPending)
{
    link.controlMode = ControlMode::Tcp;
    link.matrixAddress = TestRig::kAddress;
    FirmwarePage page(context);
    link.reconnect(PageId::Firmware);
    rig.loop.runPending();
    ScratchDir dir;
    ASSERT_TRUE(page.setFilePath(writeContainer(dir, "a.fw", partImage(0xA5, 0x5A, 598))));
    page.upgradeClicked();
    page.tabSelected(false);  // another tab was selected meanwhile
    rig.loop.runPending();
    rig.tcpMatrix.clearReceived();
    rig.loop.advance(2999);
    EXPECT_TRUE(rig.tcpMatrix.received().empty()) << "the accept was ignored: no prepare follows it";
    rig.loop.advance(1);
    ASSERT_EQ(rig.tcpMatrix.received().size(), 1u);
    EXPECT_EQ(rig.tcpMatrix.received()[0].p1(), 0x01) << "the start still waits for its answer";
}

TEST_F(FirmwarePageFiles, LoaderRulesAndOversizedFiles)
{
    FirmwarePage page(context);
    ScratchDir dir;
    const Bytes image = partImage(0xA5, 0x5A, 300);

    EXPECT_FALSE(page.setFilePath(writeContainer(dir, "a.bin", image)));
    EXPECT_EQ(page.filePath(), "");
    EXPECT_FALSE(popups.notice.isOpen()) << "a wrong extension is ignored without a message";
    EXPECT_TRUE(page.setFilePath(writeContainer(dir, "a.BIN", image)));
    EXPECT_EQ(page.image(), image);
    const std::string good = writeContainer(dir, "a.fw", image);
    EXPECT_TRUE(page.setFilePath(good));
    EXPECT_EQ(page.filePath(), good);

    EXPECT_FALSE(page.setFilePath(writeContainer(dir, "big.fw", Bytes(kMaxFirmwareBytes + 1, 1))));
    EXPECT_EQ(popups.notice.text(), "Firmware file is too large!");
    EXPECT_EQ(page.filePath(), good);
    EXPECT_EQ(page.image(), image);

    ASSERT_TRUE(writeFile(dir.file("big.bin"), Bytes(kMaxSourceBytes + 1, 1)));
    EXPECT_EQ(page.pickMergeSource(FirmwareMerger::Slave, dir.file("big.bin")), FirmwareMerger::PickResult::TooLarge);

    page.clearClicked();
    EXPECT_EQ(page.messages(), "");
}
