// SPDX-License-Identifier: Apache-2.0
// Mode rows, status texts and the EDID file check, on real display EDIDs
// and on broken variants made from them.
#include "core/formats/EdidFile.h"
#include "core/formats/EdidModes.h"
#include "tests/core/edid/EdidTestFiles.h"

#include <gtest/gtest.h>

namespace matrix::edid {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(EdidModes, RowsAndModeNumbers)
{
    const auto& rows = modeRows();
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows[0], "1080i,Stereo Audio 2.0");
    EXPECT_EQ(rows[2], "1080i,HD Audio 7.1");
    EXPECT_EQ(rows[11], "4K2K,HD Audio 7.1");
    EXPECT_EQ(rows[12], "DVI 1024X768 ");
    EXPECT_EQ(rows[14], "DVI 1920X1200 ");
    EXPECT_EQ(rows[15], "Default EDID");
    EXPECT_EQ(modeNumberForRow(0), 1);
    EXPECT_EQ(modeNumberForRow(2), 3);
    EXPECT_EQ(modeNumberForRow(14), 15);
    EXPECT_EQ(modeNumberForRow(15), std::nullopt);
    EXPECT_EQ(modeNumberForRow(-1), std::nullopt);
}

TEST(EdidModes, StatusCodesAreSignedBytes)
{
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {0, "1080i,Stereo Audio 2.0"}, {5, "1080p,HD Audio 7.1"}, {12, "DVI 1024X768"},  {14, "DVI 1920X1200"},
        {15, "Copy HDMI OUT A"},       {18, "Copy HDMI OUT D"},   {0x13, "User define"}, {0x7F, "User define"},
        {0x80, "User define"},         {0xF0, "User define"},     {0xFF, "User define"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statusText(static_cast<std::uint8_t>(c.code)), c.text) << c.code;
}

TEST(EdidFile, RealDisplayEdidsAreAccepted)
{
    for (const std::string& name : TempEdidDir::sampleNames()) {
        const std::string path = TempEdidDir::sample(name);
        const Bytes bytes = TempEdidDir::read(path);
        const EdidFileCheck check = checkEdidFile(path);
        ASSERT_EQ(check.verdict, EdidFileVerdict::Accept) << name;
        EXPECT_EQ(check.echoBytes, bytes.size()) << name;
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), check.data.begin())) << name;
        if (bytes.size() == 128) {
            EXPECT_TRUE(std::all_of(check.data.begin() + 128, check.data.end(), [](auto b) { return b == 0; })) << name;
        }
    }
}

TEST(EdidFile, BrokenVariantsOfRealFiles)
{
    TempEdidDir dir;
    const Bytes monitor = TempEdidDir::read(TempEdidDir::sample("monitor-nec-128.bin"));
    const Bytes tv = TempEdidDir::read(TempEdidDir::sample("tv-sony-256.bin"));
    auto changed = [](Bytes b, std::size_t at, int value) {
        b[at] = static_cast<std::uint8_t>(value);
        return b;
    };
    auto flipped = [](Bytes b, std::size_t at) {
        b[at] ^= 0x01;
        return b;
    };
    const struct {
        const char* name;
        Bytes bytes;
        EdidFileVerdict verdict;
    } cases[] = {
        {"one base byte changed", flipped(monitor, 60), EdidFileVerdict::Reject},
        {"checksum byte changed", flipped(tv, 127), EdidFileVerdict::Reject},
        {"bad extension checksum", flipped(tv, 200), EdidFileVerdict::Reject},
        {"header broken", changed(tv, 0, 0x01), EdidFileVerdict::Reject},
        {"200 bytes", Bytes(tv.begin(), tv.begin() + 200), EdidFileVerdict::Reject},
        {"129 bytes", Bytes(tv.begin(), tv.begin() + 129), EdidFileVerdict::Reject},
        {"257 bytes", changed(Bytes(tv.begin(), tv.end()), 0, 0) /* resized below */, EdidFileVerdict::Reject},
        {"empty", Bytes{}, EdidFileVerdict::Reject},
        {"extension count 2", changed(tv, 126, 2), EdidFileVerdict::Ignore},
        {"extension count 0xFF", changed(monitor, 126, 0xFF), EdidFileVerdict::Ignore},
        // A 128-byte file that announces an extension it does not carry.
        {"128 bytes, extension count 1", changed(changed(monitor, 126, 1), 127, monitor[127] - 1),
         EdidFileVerdict::Reject},
        // Extension count 0 in a 256-byte file: the second block is not examined.
        {"256 bytes, count 0, junk extension", flipped(changed(changed(tv, 126, 0), 127, tv[127] + 1), 200),
         EdidFileVerdict::Accept},
    };
    for (const auto& c : cases) {
        Bytes bytes = c.bytes;
        if (std::string(c.name) == "257 bytes")
            bytes.push_back(0);
        EXPECT_EQ(checkEdidBytes(bytes).verdict, c.verdict) << c.name;
        EXPECT_EQ(checkEdidFile(dir.write("variant.bin", bytes)).verdict, c.verdict) << c.name;
    }
}

TEST(EdidFile, UnreadablePathsAreRefused)
{
    TempEdidDir dir;
    EXPECT_EQ(checkEdidFile(dir.dir() + "/missing.bin").verdict, EdidFileVerdict::Reject);
    EXPECT_EQ(checkEdidFile(dir.dir()).verdict, EdidFileVerdict::Reject);
    EXPECT_EQ(checkEdidFile("").verdict, EdidFileVerdict::Reject);
}

}  // namespace
}  // namespace matrix::edid
