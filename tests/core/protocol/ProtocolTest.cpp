// SPDX-License-Identifier: Apache-2.0
#include "core/protocol/Protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

using matrix::CommandFrame;
using matrix::Input;
using matrix::Output;
namespace p = matrix::protocol;

namespace {

std::string hex(const CommandFrame& f)
{
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < CommandFrame::kSize; ++i) {
        std::snprintf(cell, sizeof cell, i == 0 ? "%02X" : " %02X", f[i]);
        text += cell;
    }
    return text;
}

CommandFrame frameOf(const std::string& text)
{
    std::istringstream in(text);
    std::uint8_t bytes[CommandFrame::kSize]{};
    for (auto& byte : bytes) {
        unsigned value = 0;
        in >> std::hex >> value;
        byte = static_cast<std::uint8_t>(value);
    }
    return CommandFrame::fromBytes(bytes);
}

}  // namespace

TEST(Protocol, EveryBuilderSendsTheExactThirteenBytes)
{
    const std::vector<std::pair<CommandFrame, const char*>> rows = {
        {p::deviceTypeRequest(), "A5 5B 01 01 00 00 00 00 00 00 00 00 FE"},
        {p::matrixSizeRequest(), "A5 5B 01 02 00 00 00 00 00 00 00 00 FD"},
        {p::versionRequest(), "A5 5B 01 03 00 00 00 00 00 00 00 00 FC"},
        {p::inputCableRequest(Input{3}), "A5 5B 01 04 03 00 00 00 00 00 00 00 F8"},
        {p::outputCableRequest(Output::D), "A5 5B 01 05 04 00 00 00 00 00 00 00 F6"},
        {p::irStateRequest(), "A5 5B 01 0A 00 00 00 00 00 00 00 00 F5"},
        {p::beepStateRequest(), "A5 5B 01 0B 00 00 00 00 00 00 00 00 F4"},
        {p::irRequest(true), "A5 5B 05 01 0F 00 00 00 00 00 00 00 EB"},
        {p::irRequest(false), "A5 5B 05 01 F0 00 00 00 00 00 00 00 0A"},
        {p::beepRequest(true), "A5 5B 06 01 0F 00 00 00 00 00 00 00 EA"},
        {p::beepRequest(false), "A5 5B 06 01 F0 00 00 00 00 00 00 00 09"},
        {p::routeQueryRequest(Output::A), "A5 5B 02 01 01 00 00 00 00 00 00 00 FC"},
        {p::routeRequest(Output::B, Input{2}), "A5 5B 02 03 02 00 02 00 00 00 00 00 F7"},
        {p::edidStatusRequest(Input{2}), "A5 5B 01 0C 02 00 00 00 00 00 00 00 F1"},
        {p::edidModeRequest(), "A5 5B 03 08 F0 00 00 00 00 00 00 00 05"},
        {p::edidSwitchStateRequest(), "A5 5B 03 0B 00 00 00 00 00 00 00 00 F2"},
        {p::edidSetModeRequest(4, Input::All), "A5 5B 03 01 04 F0 00 00 00 00 00 00 08"},
        {p::edidSetModeRequest(7, Input{3}), "A5 5B 03 02 07 F0 03 00 00 00 00 00 01"},
        {p::edidDefaultRequest(Input::All), "A5 5B 03 09 FE 00 00 00 00 00 00 00 F6"},
        {p::edidDefaultRequest(Input{2}), "A5 5B 03 0A 02 00 00 00 00 00 00 00 F1"},
        {p::edidCopyRequest(Output::A, Input::All), "A5 5B 03 03 01 00 00 00 00 00 00 00 F9"},
        {p::edidCopyRequest(Output::B, Input{4}), "A5 5B 03 04 02 00 04 00 00 00 00 00 F3"},
        {p::edidDownloadRequest(Input::All), "A5 5B 03 06 FE F0 00 00 00 00 00 00 09"},
        {p::edidDownloadRequest(Input{3}), "A5 5B 03 07 03 F0 00 00 00 00 00 00 03"},
        {p::edidDownloadAnnounce(p::kEdidDownloadOneSub), "A5 5B 03 07 56 00 00 01 00 00 00 00 9F"},
        {p::firmwareStartRequest(p::kFirmwarePart1Sub), "A5 5B 20 01 01 00 00 00 00 00 00 00 DE"},
        {p::firmwareStartRequest(p::kFirmwarePart2Sub), "A5 5B 20 02 01 00 00 00 00 00 00 00 DD"},
        {p::firmwarePrepareRequest(), "A5 5B 20 01 80 00 00 00 00 00 00 00 5F"},
        {p::firmwareSecondPrepareRequest(), "A5 5B 20 01 10 00 00 00 00 00 00 00 CF"},
        {p::firmwareAnnounce(2, 5, false), "A5 5B 20 02 AA 00 00 01 01 00 05 00 2D"},
        {p::firmwareAnnounce(1, 9, true), "A5 5B 20 01 56 00 FE 00 01 00 09 00 81"},
        // What the matrix sends.
        {p::standbyFrame(), "A5 5B 88 88 00 00 00 00 00 00 00 00 F0"},
        {p::routeAck(Output::B), "A5 5B 02 03 00 00 02 00 00 00 00 00 F9"},
        {p::cableReply(false, 1, true), "A5 5B 01 04 01 00 01 00 00 00 00 00 F9"},
        {p::cableReply(true, 2, false), "A5 5B 01 05 02 00 FF 00 00 00 00 00 F9"},
        {p::beepStateReply(false), "A5 5B 01 0B 00 00 FF 00 00 00 00 00 F5"},
        {p::firmwareBlockAck(1, 3), "A5 5B 20 01 00 00 00 01 01 00 03 00 DA"},
        {p::firmwareFinalAck(2), "A5 5B 20 02 00 00 FE 00 01 00 00 00 DF"},
        {p::edidDownloadResult(6, false), "A5 5B 03 06 FF 00 00 01 00 00 00 00 F7"},
        {p::edidDownloadReady(7), "A5 5B 03 07 AA 00 00 00 00 00 00 00 4C"},
    };
    for (const auto& [frame, expected] : rows)
        EXPECT_EQ(hex(frame), expected);
}

// Each row: a decoder, a reply it should take and frames it should refuse.
// Near misses differ from a good reply in one byte.
TEST(Protocol, DecodersTakeTheirReplyAndRejectNearMisses)
{
    using Test = std::function<bool(const CommandFrame&)>;
    const Test routeAck = [](const CommandFrame& f) { return p::decodeRouteAck(f) == Output::B; };
    const Test routeStatus = [](const CommandFrame& f) {
        auto s = p::decodeRouteStatus(f);
        return s && s->output == Output::C && s->input == Input{1};
    };
    const Test outputCable = [](const CommandFrame& f) {
        auto c = p::decodeCable(f);
        return c && c->output && c->port == 2;
    };
    const Test standby = [](const CommandFrame& f) { return p::isStandby(f); };
    const Test start1 = [](const CommandFrame& f) {
        return p::decodeFirmwareStart(f, 1) == p::FirmwareStart::Accepted;
    };
    const Test start2 = [](const CommandFrame& f) {
        return p::decodeFirmwareStart(f, 2) == p::FirmwareStart::Accepted;
    };
    const Test refused1 = [](const CommandFrame& f) {
        return p::decodeFirmwareStart(f, 1) == p::FirmwareStart::Rejected;
    };
    const Test prepared = [](const CommandFrame& f) { return p::isFirmwarePrepareAck(f); };
    const Test blockAck = [](const CommandFrame& f) { return p::decodeFirmwareBlockAck(f, 1) == 3; };
    const Test finalAck = [](const CommandFrame& f) { return p::isFirmwareFinalAck(f, 2); };
    const Test rebooted = [](const CommandFrame& f) { return p::isRebootAnswer(f); };
    const Test downloadOk = [](const CommandFrame& f) {
        return p::decodeEdidDownloadResult(f, 7) == p::EdidResult::Ok;
    };
    const Test ready = [](const CommandFrame& f) { return p::isEdidDownloadReady(f, 6); };
    const Test copyOne = [](const CommandFrame& f) { return p::decodeEdidCopy(f, Input{4}) == true; };
    const Test edidStatus = [](const CommandFrame& f) {
        auto s = p::decodeEdidStatus(f);
        return s && s->input == Input{1} && s->code == -2;
    };
    // A decoder, the reply it takes, and the near misses it must refuse.
    struct Row {
        const Test* decoder;
        const char* taken;
        std::vector<const char*> refused;
    };
    const std::vector<Row> rows = {
        {&routeAck,
         "A5 5B 02 03 00 00 02 00 00 00 00 00 F9",
         {"A5 5B 02 03 01 00 02 00 00 00 00 00 F8",    // p1 must be 0
          "A5 5B 02 03 00 00 09 00 00 00 00 00 F2",    // no output 9
          "A5 5B 02 01 00 00 02 00 00 00 00 00 FB",    // a status reply
          "A5 5A 02 03 00 00 02 00 00 00 00 00 FA"}},  // bad sync
        {&routeStatus, "A5 5B 02 01 03 00 01 00 00 00 00 00 F9", {"A5 5B 02 01 00 00 01 00 00 00 00 00 FC"}},
        // taken: p3 0 is a cable too
        {&outputCable, "A5 5B 01 05 02 00 00 00 00 00 00 00 F8", {"A5 5B 01 04 02 00 00 00 00 00 00 00 F9"}},
        {&standby, "A5 5B 88 88 00 00 00 00 00 00 00 00 F0", {"A5 5B 88 87 00 00 00 00 00 00 00 00 F1"}},
        {&start1, "A5 5B 20 01 AA 00 00 00 00 00 00 00 35", {"A5 5B 20 01 AA 00 00 00 00 00 01 00 34"}},
        // taken: part 2 tests byte 7 only
        {&start2, "A5 5B 20 02 AA 00 00 00 00 00 01 00 33", {"A5 5B 20 02 AA 00 00 01 00 00 00 00 33"}},
        {&refused1, "A5 5B 20 01 44 00 00 00 00 00 00 00 9B", {"A5 5B 20 01 44 00 00 01 00 00 00 00 9A"}},
        {&prepared, "A5 5B 20 01 00 00 00 00 00 00 00 00 DF", {"A5 5B 20 01 00 00 00 00 00 00 01 00 DE"}},
        {&blockAck,
         "A5 5B 20 01 00 00 00 01 01 00 03 00 DA",
         {"A5 5B 20 01 00 00 00 01 00 00 03 00 DB", "A5 5B 20 02 00 00 00 01 01 00 03 00 D9"}},  // the other part
        {&finalAck, "A5 5B 20 02 00 00 FE 00 01 00 00 00 DF", {"A5 5B 20 02 00 00 FD 00 01 00 00 00 E0"}},
        {&rebooted,
         "A5 5B 01 01 01 00 00 00 00 00 00 00 FD",
         {"A5 5B 01 01 02 00 00 00 00 00 00 00 FC", "A5 5B 01 01 01 01 00 00 00 00 00 00 FC"}},
        // refused: byte 7 marks the result
        {&downloadOk, "A5 5B 03 07 00 00 00 01 00 00 00 00 F5", {"A5 5B 03 07 00 00 00 00 00 00 00 00 F6"}},
        {&ready, "A5 5B 03 06 AA 00 00 00 00 00 00 00 4D", {"A5 5B 03 06 AA 00 00 01 00 00 00 00 4C"}},
        // refused: another input's answer
        {&copyOne, "A5 5B 03 04 00 00 04 00 00 00 00 00 F7", {"A5 5B 03 04 00 00 03 00 00 00 00 00 F8"}},
        // taken: codes are signed
        {&edidStatus, "A5 5B 01 0C 01 00 FE 00 00 00 00 00 F4", {"A5 5B 01 0C 01 01 FE 00 00 00 00 00 F3"}},
    };
    for (const auto& row : rows) {
        EXPECT_TRUE((*row.decoder)(frameOf(row.taken))) << row.taken;
        for (const char* miss : row.refused)
            EXPECT_FALSE((*row.decoder)(frameOf(miss))) << miss;
    }
}

// The simulator answers with the reply builders and the client reads with
// the decoders: each pair must agree on every value it carries.
TEST(Protocol, RepliesDecodeToWhatTheyWereBuiltFrom)
{
    EXPECT_EQ(p::decodeDeviceType(p::deviceTypeReply(3)), 3);
    const auto size = p::decodeMatrixSize(p::matrixSizeReply(4, 8));
    ASSERT_TRUE(size);
    EXPECT_EQ(size->inputs * 10 + size->outputs, 48);
    const auto version = p::decodeVersion(p::versionReply(2, 7));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->major * 10 + version->minor, 27);
    for (bool on : {false, true}) {
        EXPECT_EQ(p::decodeIrState(p::irStateReply(on)), on);
        EXPECT_EQ(p::decodeBeepState(p::beepStateReply(on)), on);
        EXPECT_EQ(p::decodeCable(p::cableReply(true, 4, on))->connected, on);
        EXPECT_EQ(p::decodeEdidCopy(p::edidCopyAllReply(on), Input::All), on);
        EXPECT_EQ(p::decodeEdidDownloadResult(p::edidDownloadResult(6, on), 6),
                  on ? p::EdidResult::Ok : p::EdidResult::Failed);
        EXPECT_EQ(p::decodeFirmwareStart(p::firmwareStartReply(2, on), 2),
                  on ? p::FirmwareStart::Accepted : p::FirmwareStart::Rejected);
    }
    EXPECT_TRUE(p::isSwitchAck(p::switchAck(p::kBeepCommand), p::kBeepCommand));
    EXPECT_FALSE(p::isSwitchAck(p::switchAck(p::kBeepCommand), p::kIrCommand));
    EXPECT_EQ(p::decodeEdidSwitchState(p::edidSwitchStateReply(p::kEdidSwitchRefused)), 15);
    EXPECT_TRUE(p::isFirmwarePrepareAck(p::firmwarePrepareAck()));
    EXPECT_EQ(p::decodeRouteStatus(p::routeQueryReply(Output::D, Input{2}))->input, Input{2});
    EXPECT_EQ(p::decodeEdidStatus(p::edidStatusReply(Input{3}, 0x13))->code, 0x13);
    EXPECT_TRUE(p::isEdidDownloadReady(p::edidDownloadReady(7), 7));
}

TEST(Protocol, RawBlocksHaveTheirFixedShape)
{
    std::vector<std::uint8_t> edid(256);
    std::iota(edid.begin(), edid.end(), 0);
    const auto transfer = p::edidTransferBlock(edid.data());
    ASSERT_EQ(transfer.size(), 290u);
    EXPECT_EQ(transfer[0], 0);
    EXPECT_EQ(std::vector<std::uint8_t>(transfer.begin() + 1, transfer.begin() + 257), edid);
    EXPECT_EQ(std::count(transfer.begin() + 257, transfer.end(), 0), 33);

    // A short tail is padded with zeros and the block still sums to 0.
    const std::vector<std::uint8_t> tail = {0x10, 0x20, 0xF0};
    const auto block = p::firmwareBlockAt(tail, 0, tail.size());
    ASSERT_EQ(block.size(), 257u);
    EXPECT_EQ(block[0], 0xE0);
    EXPECT_EQ(block[1], 0x10);
    EXPECT_EQ(block[3], 0xF0);
    EXPECT_EQ(std::count(block.begin() + 4, block.end(), 0), 253);
    EXPECT_TRUE(matrix::sumIsZero(block.data(), block.size()));
}
