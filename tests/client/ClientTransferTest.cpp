// SPDX-License-Identifier: Apache-2.0
// EDID and firmware operations of the client: the multi-step conversations.
#include "tests/client/ClientRig.h"
#include "tests/core/firmware/FirmwareTestFiles.h"

#include <gtest/gtest.h>

namespace matrix::testing {
namespace {

using client::MatrixClient;
using client::Nothing;
using client::Status;

const char* const kSwitchState = "A5 5B 03 0B 00 00 00 00 00 00 00 00 F2";
const char* const kModeRequest = "A5 5B 03 08 F0 00 00 00 00 00 00 00 05";
const char* const kStatusIn[] = {"", "A5 5B 01 0C 01 00 00 00 00 00 00 00 F2", "A5 5B 01 0C 02 00 00 00 00 00 00 00 F1",
                                 "A5 5B 01 0C 03 00 00 00 00 00 00 00 F0", "A5 5B 01 0C 04 00 00 00 00 00 00 00 EF"};

// A valid 128- or 256-byte E-EDID: header, pattern, summing blocks.
std::vector<std::uint8_t> edidFile(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(header, header + 8, bytes.begin());
    bytes[126] = size == 256 ? 1 : 0;
    for (std::size_t block = 0; block < size / 128; ++block) {
        unsigned sum = 0;
        for (std::size_t i = 0; i < 127; ++i)
            sum += bytes[block * 128 + i];
        bytes[block * 128 + 127] = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
    }
    return bytes;
}

using Op = std::function<void(MatrixClient&, std::function<void(const client::Result<Nothing>&)>)>;

class TransferBothTransports : public ::testing::TestWithParam<Transport> {
protected:
    bool com() const { return GetParam() == Transport::Com; }
};

TEST_P(TransferBothTransports, EdidOperationsSendTheirStepsAndTheMatrixTakesThem)
{
    const auto file128 = edidFile(128, 3);
    struct Case {
        const char* name;
        Op op;
        std::vector<std::string> frames;  // after the COM switch-state query
        std::array<int, 4> codes;         // status codes the matrix then reports
    };
    const Case cases[] = {
        {"mode row 2 on IN3",
         [](MatrixClient& c, auto done) { c.setEdidMode(2, Input{3}, done); },
         {kModeRequest, "A5 5B 03 02 03 F0 03 00 00 00 00 00 05", kStatusIn[3]},
         {4, 4, 2, 4}},
        {"default EDID on all",
         [](MatrixClient& c, auto done) { c.setEdidMode(15, Input::All, done); },
         {kModeRequest, "A5 5B 03 09 FE 00 00 00 00 00 00 00 F6", kStatusIn[1], kStatusIn[2], kStatusIn[3],
          kStatusIn[4]},
         {3, 3, 3, 3}},
        {"copy OUT B to IN1",
         [](MatrixClient& c, auto done) { c.copyEdid(Output{2}, Input{1}, done); },
         {"A5 5B 01 05 02 00 00 00 00 00 00 00 F8", kModeRequest, "A5 5B 03 04 02 00 01 00 00 00 00 00 F6",
          kStatusIn[1]},
         {16, 4, 4, 4}},
        {"copy OUT A to all",
         [](MatrixClient& c, auto done) { c.copyEdid(Output{1}, Input::All, done); },
         {"A5 5B 01 05 01 00 00 00 00 00 00 00 F9", kModeRequest, "A5 5B 03 03 01 00 00 00 00 00 00 00 F9",
          kStatusIn[1], kStatusIn[2], kStatusIn[3], kStatusIn[4]},
         {15, 15, 15, 15}},
        {"file to IN2",
         [&](MatrixClient& c, auto done) { c.uploadEdid(file128, Input{2}, done); },
         {kModeRequest, "A5 5B 03 07 02 F0 00 00 00 00 00 00 04", "A5 5B 03 07 56 00 00 01 00 00 00 00 9F",
          kStatusIn[2]},
         {4, 0x13, 4, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientRig rig(GetParam());
        ASSERT_EQ(rig.open(), Status::Ok);
        Outcome<Nothing> out;
        c.op(*rig.client, out.callback());
        rig.loop.advance(30000);
        EXPECT_EQ(out.endings, 1);
        EXPECT_EQ(out.result.status, Status::Ok) << out.result.message;
        std::vector<std::string> expected = c.frames;
        if (com())
            expected.insert(expected.begin(), kSwitchState);
        EXPECT_EQ(rig.wire(), expected);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(rig.device.edidStatus[i], c.codes[i]);
            const auto& known = rig.client->state().edidCode[i];
            if (known) {
                EXPECT_EQ(*known, c.codes[i]) << "state model of IN" << i + 1;
            }
        }
        EXPECT_EQ(rig.loop.runningTimerCount(), 0u);
    }
    // The file reached the input whole, after a 290-byte block the matrix accepted.
    ClientRig rig(GetParam());
    ASSERT_EQ(rig.open(), Status::Ok);
    const auto file256 = edidFile(256, 9);
    Outcome<Nothing> out;
    rig.client->uploadEdid(file256, Input::All, out.callback());
    rig.settle(out.ended);
    EXPECT_EQ(out.result.status, Status::Ok);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rig.device.inputEdid[i], file256);
}

TEST_P(TransferBothTransports, EdidRefusalsEndRejectedOrBadInputAndSendNothingMore)
{
    struct Case {
        const char* name;
        std::function<void(sim::MatrixDevice&)> knob;
        Op op;
        Status status;
        std::string message;
        std::size_t framesAfterOpening;
    };
    const std::vector<std::uint8_t> broken = [] {
        auto f = edidFile(128, 1);
        f[40] ^= 1;
        return f;
    }();
    const Case cases[] = {
        {"switches not at [1111]", [](sim::MatrixDevice& d) { d.edidSwitchState = 15; },
         [](MatrixClient& c, auto done) { c.setEdidMode(0, Input{1}, done); }, Status::Rejected,
         "Please set the EDID to [1111]!", 0},
        {"display missing", [](sim::MatrixDevice& d) { d.outputCable[1] = false; },
         [](MatrixClient& c, auto done) { c.copyEdid(Output{2}, Input{1}, done); }, Status::Rejected,
         "HDMI OUT B is not connected!", 1},
        {"copy refused, one input", [](sim::MatrixDevice& d) { d.rejectEdidCopy = true; },
         [](MatrixClient& c, auto done) { c.copyEdid(Output{1}, Input{2}, done); }, Status::Rejected, "Copy failed!",
         3},
        {"copy refused, all inputs", [](sim::MatrixDevice& d) { d.rejectEdidCopy = true; },
         [](MatrixClient& c, auto done) { c.copyEdid(Output{1}, Input::All, done); }, Status::Rejected, "Copy failed!",
         3},
        {"download refused", [](sim::MatrixDevice& d) { d.rejectEdidDownload = true; },
         [](MatrixClient& c, auto done) { c.uploadEdid(edidFile(128, 5), Input{1}, done); }, Status::Rejected,
         "Download failed!", 3},
        {"wrong file", [](sim::MatrixDevice&) {},
         [&](MatrixClient& c, auto done) { c.uploadEdid(broken, Input{1}, done); }, Status::BadInput,
         "Please select the correct EDID file!", 0},
        {"mode row 16", [](sim::MatrixDevice&) {},
         [](MatrixClient& c, auto done) { c.setEdidMode(16, Input{1}, done); }, Status::BadInput, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientRig rig(GetParam());
        c.knob(rig.device);
        ASSERT_EQ(rig.open(), Status::Ok);
        Outcome<Nothing> out;
        c.op(*rig.client, out.callback());
        rig.loop.advance(30000);
        EXPECT_EQ(out.endings, 1);
        if (rig.device.edidSwitchState == 15 && !com()) {
            EXPECT_EQ(out.result.status, Status::Ok) << "only the COM link asks for the switches";
            continue;
        }
        EXPECT_EQ(out.result.status, c.status);
        if (!c.message.empty()) {
            EXPECT_EQ(out.result.message, c.message);
        }
        const std::size_t opening = c.status != Status::BadInput && com() ? 1 : 0;
        EXPECT_EQ(rig.wire().size(), c.framesAfterOpening + opening);
    }
}

// A window follows the steps as they first go out: a re-send is no new step.
TEST_P(TransferBothTransports, EdidStepsAreHeardOnceEachInOrder)
{
    using client::EdidStep;
    using StepOp =
        std::function<void(MatrixClient&, std::function<void(const client::Result<Nothing>&)>, client::EdidStepHook)>;
    const auto file = edidFile(128, 3);
    struct Case {
        const char* name;
        StepOp op;
        std::vector<EdidStep> steps;  // after the COM switch-state query
    };
    const Case cases[] = {
        {"mode",
         [](MatrixClient& c, auto done, auto hook) { c.setEdidMode(2, Input{3}, done, hook); },
         {EdidStep::ModeRequest, EdidStep::Change}},
        {"copy",
         [](MatrixClient& c, auto done, auto hook) { c.copyEdid(Output{2}, Input{1}, done, hook); },
         {EdidStep::CableCheck, EdidStep::ModeRequest, EdidStep::Change}},
        {"file",
         [&](MatrixClient& c, auto done, auto hook) { c.uploadEdid(file, Input::All, done, hook); },
         {EdidStep::ModeRequest, EdidStep::Change, EdidStep::Block}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientRig rig(GetParam());
        ASSERT_EQ(rig.open(), Status::Ok);
        // The first answer comes after the first wait: the first step goes out
        // twice (the copy's cable check, which has no re-send, is not first on COM).
        if (com() || c.steps.front() != EdidStep::CableCheck)
            rig.matrix().setReplyDelayMs(5500);
        std::vector<EdidStep> heard;
        Outcome<Nothing> out;
        c.op(*rig.client, out.callback(), [&](EdidStep step) { heard.push_back(step); });
        rig.loop.advance(5001);
        rig.matrix().setReplyDelayMs(0);
        rig.settle(out.ended);
        EXPECT_EQ(out.result.status, Status::Ok);
        std::vector<EdidStep> expected = c.steps;
        if (com())
            expected.insert(expected.begin(), EdidStep::SwitchState);
        EXPECT_EQ(heard, expected);
    }
}

// ---- firmware ---------------------------------------------------------------

struct FirmwareRun {
    Outcome<Nothing> out;
    std::vector<std::string> lines;
    std::int64_t lastDone = 0, total = 0;
    bool monotonic = true;
};

void startUpgrade(ClientRig& rig, FirmwareRun& run, Bytes image)
{
    rig.client->onFirmwareProgress = [&run](const client::FirmwareProgress& p) {
        if (!p.line.empty())
            run.lines.push_back(p.line);
        run.monotonic = run.monotonic && p.done >= run.lastDone && p.done <= p.total;
        run.lastDone = p.done;
        run.total = p.total;
    };
    scramble(image);
    rig.client->upgradeFirmware(image, run.out.callback());
}

// What the matrix stored equals the part's data, padded with zeros to whole blocks.
::testing::AssertionResult holds(const sim::MatrixDevice& device, int part, const Bytes& image, std::size_t from,
                                 std::size_t to)
{
    const Bytes& got = device.firmwarePart[static_cast<std::size_t>(part)];
    if (got.size() < to - from)
        return ::testing::AssertionFailure() << "part " << part << " holds " << got.size() << " bytes";
    for (std::size_t i = 0; i < got.size(); ++i) {
        const std::uint8_t want = i < to - from ? image[from + i] : 0;
        if (got[i] != want)
            return ::testing::AssertionFailure() << "part " << part << " differs at " << i;
    }
    return ::testing::AssertionSuccess();
}

TEST_P(TransferBothTransports, FirmwarePartOneIsSentInBlocksAndTheMatrixHoldsIt)
{
    ClientRig rig(GetParam());
    ASSERT_EQ(rig.open(), Status::Ok);
    const Bytes image = partImage(0xA5, 0x5A, 598);
    FirmwareRun run;
    startUpgrade(rig, run, image);
    Outcome<bool> other;
    rig.client->readSetting(client::Setting::Beep, other.callback());
    EXPECT_TRUE(rig.client->firmwareRunning());
    rig.settle(run.out.ended, 120000);
    EXPECT_EQ(other.result.status, Status::Busy) << "the upgrade holds the link";
    EXPECT_EQ(run.out.endings, 1);
    EXPECT_EQ(run.out.result.status, Status::Ok) << run.out.result.message;
    EXPECT_TRUE(holds(rig.device, 1, image, 2, image.size()));
    EXPECT_EQ(run.lines, (std::vector<std::string>{"Upgrading Part_1.1.0.0...", "System rebooting,Please wait...",
                                                   "System reboot ok", "Part_1.1.0.0 upgrading complete",
                                                   "Firmware upgrade Successfully"}));
    EXPECT_TRUE(run.monotonic);
    EXPECT_EQ(run.lastDone, 598);
    EXPECT_EQ(run.total, 598);
    const auto wire = rig.wire();
    const std::vector<std::string> head{
        "A5 5B 20 01 01 00 00 00 00 00 00 00 DE", "A5 5B 20 01 80 00 00 00 00 00 00 00 5F",
        "A5 5B 20 01 10 00 00 00 00 00 00 00 CF", "A5 5B 20 01 AA 00 00 01 01 00 00 00 33",
        "A5 5B 20 01 AA 00 00 01 01 00 01 00 32", "A5 5B 20 01 56 00 FE 00 01 00 02 00 88"};
    ASSERT_GE(wire.size(), head.size() + 1);
    EXPECT_EQ(std::vector<std::string>(wire.begin(), wire.begin() + 6), head);
    // The matrix reboots for 2 s: the first poll is lost, the second (3 s later) answered.
    EXPECT_EQ(std::vector<std::string>(wire.begin() + 6, wire.end()),
              std::vector<std::string>(2, "A5 5B 01 01 00 00 00 00 00 00 00 00 FE"));
    EXPECT_EQ(rig.loop.runningTimerCount(), 0u);
}

TEST_P(TransferBothTransports, FirmwareFaultsEndTheUpgradeOnceWithTheirStatus)
{
    struct Case {
        const char* name;
        std::function<void(ClientRig&)> knob;
        Bytes image;
        Status status;
        std::string message;
        std::string lastLine;  // the message line it ends with
    };
    const Bytes part1 = partImage(0xA5, 0x5A, 700);
    const Case cases[] = {
        {"part 1 refused", [](ClientRig& r) { r.device.rejectFirmwarePart1 = true; }, part1, Status::Rejected,
         "Write to Part_1.1.0.0 failed!", "Write to Part_1.1.0.0 failed!"},
        {"part 2 refused", [](ClientRig& r) { r.device.rejectFirmwarePart2 = true; }, partImage(0xA4, 0x5B, 300),
         Status::Rejected, "Write to Part_2.1.0.0 failed", "Write to Part_2.1.0.0 failed"},
        {"never reboots", [](ClientRig& r) { r.device.firmwareNeverReboots = true; }, part1, Status::TimeOut, "",
         "Write to Part_1.1.0.0 failed"},
        {"block ack lost once", [](ClientRig& r) { r.device.dropFirmwareAckOfBlock = 1; }, part1, Status::Ok, "",
         "Firmware upgrade Successfully"},
        {"silent matrix", [](ClientRig& r) { r.matrix().setSilent(true); }, part1, Status::TimeOut, "",
         "Write to Part_1.1.0.0 failed"},
        {"no marker", [](ClientRig&) {}, Bytes(300, 0x11), Status::BadInput, "Upgrade failed!", ""},
        {"part 3", [](ClientRig&) {}, partImage(0xA3, 0x5C, 300), Status::BadInput, "Part_3.1.0.0 cannot be upgraded",
         ""},
        {"part too large", [](ClientRig&) {}, partImage(0xA4, 0x5B, 70000), Status::BadInput,
         "Part_2.1.0.0 is too large", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientRig rig(GetParam());
        ASSERT_EQ(rig.open(), Status::Ok);
        c.knob(rig);
        FirmwareRun run;
        startUpgrade(rig, run, c.image);
        rig.loop.advance(200000);
        EXPECT_EQ(run.out.endings, 1);
        EXPECT_EQ(run.out.result.status, c.status);
        EXPECT_EQ(run.out.result.message, c.message);
        EXPECT_EQ(run.lines.empty() ? std::string() : run.lines.back(), c.lastLine);
        EXPECT_FALSE(rig.client->firmwareRunning());
        EXPECT_EQ(rig.loop.runningTimerCount(), 0u);
        if (c.status == Status::BadInput) {
            EXPECT_TRUE(rig.wire().empty());
        }
        if (c.status == Status::Ok) {
            EXPECT_TRUE(holds(rig.device, 1, c.image, 2, c.image.size()));
        }
        if (std::string(c.name) == "never reboots") {
            // Eight polls, 3 s apart, then the time-out 24 s after the final acknowledgement.
            const auto wire = rig.wire();
            EXPECT_EQ(std::count(wire.begin(), wire.end(), "A5 5B 01 01 00 00 00 00 00 00 00 00 FE"), 8);
        }
    }
}

TEST(TransferTcp, PartTwoRunsToTheNextMarkerAndTheNextPartFollows)
{
    ClientRig rig(Transport::Tcp);
    ASSERT_EQ(rig.open(), Status::Ok);
    Bytes first = partImage(0xA4, 0x5B, 512, 1);
    const Bytes second = partImage(0xA4, 0x5B, 300, 2);
    first.insert(first.end(), second.begin(), second.end());
    FirmwareRun run;
    startUpgrade(rig, run, first);
    rig.settle(run.out.ended, 200000);
    EXPECT_EQ(run.out.result.status, Status::Ok) << run.out.result.message;
    // The matrix keeps one image per part number: the second part 2 is what it holds.
    EXPECT_TRUE(holds(rig.device, 2, first, 516, first.size()));
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "Upgrading Part_2.1.0.0..."), 2);
    EXPECT_EQ(run.lastDone, 512 + 300);
}

INSTANTIATE_TEST_SUITE_P(Transports, TransferBothTransports, ::testing::Values(Transport::Com, Transport::Tcp),
                         [](const auto& info) { return info.param == Transport::Com ? "Com" : "Tcp"; });

}  // namespace
}  // namespace matrix::testing
