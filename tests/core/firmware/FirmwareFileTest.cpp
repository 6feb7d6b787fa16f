// SPDX-License-Identifier: Apache-2.0
#include "core/formats/FirmwareContainer.h"
#include "core/formats/FirmwareMerger.h"
#include "tests/core/firmware/FirmwareTestFiles.h"

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

TEST(FirmwareContainer, ScramblingIsItsOwnInverseAndDependsOnTheLength)
{
    Bytes image = patternBytes(1234);
    Bytes stored = image;
    scramble(stored);
    EXPECT_NE(stored, image);
    for (std::size_t i = 0; i < image.size(); ++i)
        ASSERT_EQ(stored[i], image[i] ^ scrambleKey(1234)) << i;
    scramble(stored);
    EXPECT_EQ(stored, image);

    // Same content, different lengths: different keys, different bytes.
    Bytes shortFile(300, 0x11);
    Bytes longFile(301, 0x11);
    scramble(shortFile);
    scramble(longFile);
    EXPECT_NE(shortFile[0], longFile[0]);
    EXPECT_EQ(scrambleKey(300), static_cast<std::uint8_t>(300 & 0xFF) ^ kScrambleConstant);
}

TEST(FirmwareContainer, ExtensionRules)
{
    struct Case {
        const char* path;
        bool firmware;
        bool source;
    } cases[] = {
        {"/a/image.fw", true, false},  {"/a/IMAGE.BIN", true, false},  {"/a/image.bin", false, true},
        {"/a/image.FW", false, false}, {"/a/image.Bin", false, false}, {"fw", false, false},
        {".fw", true, false},          {"/a/image.fwx", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hasFirmwareExtension(c.path), c.firmware) << c.path;
        EXPECT_EQ(hasSourceExtension(c.path), c.source) << c.path;
    }
}

TEST(FirmwareContainer, LoadUnscramblesAndRefusesOversizedFiles)
{
    ScratchDir dir;
    Bytes image = partImage(0xA5, 0x5A, 5000);
    Bytes loaded;
    ASSERT_EQ(loadFirmwareFile(writeContainer(dir, "a.fw", image), loaded), FileReadStatus::Ok);
    EXPECT_EQ(loaded, image);

    Bytes exact(kMaxFirmwareBytes, 0x42);
    EXPECT_EQ(loadFirmwareFile(writeContainer(dir, "max.fw", exact), loaded), FileReadStatus::Ok);
    EXPECT_EQ(loaded.size(), kMaxFirmwareBytes);

    Bytes previous = loaded;
    Bytes over(kMaxFirmwareBytes + 1, 0x42);
    EXPECT_EQ(loadFirmwareFile(writeContainer(dir, "over.fw", over), loaded), FileReadStatus::TooLarge);
    EXPECT_EQ(loaded, previous) << "a refused file must leave the loaded image alone";
    EXPECT_EQ(loadFirmwareFile(dir.file("missing.fw"), loaded), FileReadStatus::CannotOpen);
}

TEST(FirmwareContainer, MarkerScan)
{
    // Markers the scan stops at: A3 or A4 followed by 5B or 5C, never A5 5A or A2 5D.
    Bytes image{0xA5, 0x5A, 0x00, 0xA2, 0x5D, 0xA4, 0x00, 0xA3, 0x5C, 0x01, 0xA4, 0x5B, 0x02, 0xA4};
    EXPECT_EQ(scanForMarker(image, 0), 7u);
    EXPECT_EQ(scanForMarker(image, 8), 10u);
    EXPECT_EQ(scanForMarker(image, 11), image.size()) << "a trailing A4 has no second byte";
    EXPECT_EQ(scanForMarker(image, 14), 14u);
    EXPECT_EQ(scanForMarker(image, 99), 99u);
    EXPECT_EQ(scanForMarker(Bytes{0xA3, 0x5B}, 0), 0u);
    EXPECT_EQ(scanForMarker(Bytes{0xA4, 0x5C}, 0), 0u);

    EXPECT_EQ(partAtMarker(image, 0), 1);
    EXPECT_EQ(partAtMarker(image, 3), 4);
    EXPECT_EQ(partAtMarker(image, 7), 3);
    EXPECT_EQ(partAtMarker(image, 10), 2);
    EXPECT_EQ(partAtMarker(image, 13), 0) << "the byte past the end reads as 0";
    EXPECT_EQ(partAtMarker(Bytes{}, 0), 0);
}

TEST(FirmwareMerger, MainAndSlaveMergeInto1504BytesWithMarkers)
{
    ScratchDir dir;
    Bytes main = patternBytes(1000, 1);
    Bytes slave = patternBytes(500, 2);
    ASSERT_TRUE(writeFile(dir.file("main.bin"), main));
    ASSERT_TRUE(writeFile(dir.file("slave.bin"), slave));

    FirmwareMerger merger;
    EXPECT_EQ(merger.pickSource(FirmwareMerger::Main, dir.file("main.bin")), FirmwareMerger::PickResult::Taken);
    EXPECT_EQ(merger.pickSource(FirmwareMerger::Slave, dir.file("slave.bin")), FirmwareMerger::PickResult::Taken);
    std::string messages;
    ASSERT_EQ(merger.merge(messages), FirmwareMerger::MergeResult::Written);

    const std::string output = dir.folder() + "Matrix88_mm0.0_ms0.0.fw";
    EXPECT_EQ(merger.outputPath(), output);
    EXPECT_EQ(messages, "Main MCU firmware:" + dir.file("main.bin") + "\r\nSave MCU firmware Merged,Ver0.0\r\n" +
                            "Slave MCU1 firmware:" + dir.file("slave.bin") +
                            "\r\nSave MCU1 firmware Merged,Ver0.0\r\n" +
                            "Firmware merged complete,save to file:" + output + "\r\n");
    EXPECT_EQ(merger.source(FirmwareMerger::Main).version1, "0");
    EXPECT_EQ(merger.source(FirmwareMerger::Slave).version2, "0");

    Bytes stored;
    ASSERT_EQ(readFileBounded(output, kMaxFirmwareBytes, stored), FileReadStatus::Ok);
    ASSERT_EQ(stored.size(), 1504u);
    Bytes image;
    ASSERT_EQ(loadFirmwareFile(output, image), FileReadStatus::Ok);
    Bytes expected{0xA5, 0x5A};
    expected.insert(expected.end(), main.begin(), main.end());
    expected.push_back(0xA4);
    expected.push_back(0x5B);
    expected.insert(expected.end(), slave.begin(), slave.end());
    EXPECT_EQ(image, expected);
    EXPECT_NE(stored, expected) << "the file on disk is scrambled";
}

TEST(FirmwareMerger, OutputNames)
{
    ScratchDir dir;
    std::filesystem::create_directories(dir.folder() + "m");
    std::filesystem::create_directories(dir.folder() + "s");
    std::filesystem::create_directories(dir.folder() + "i");
    std::filesystem::create_directories(dir.folder() + "p");
    const std::string paths[] = {dir.folder() + "m/main.hex", dir.folder() + "s/slave.bin", dir.folder() + "i/ir.bin",
                                 dir.folder() + "p/panel.bin"};
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(writeFile(paths[i], patternBytes(64, static_cast<unsigned>(i))));

    struct Case {
        std::vector<int> sources;
        std::string output;
    } cases[] = {
        {{0}, dir.folder() + "m/Matrix44_mm0.0.fw"},
        {{0, 1, 2, 3}, dir.folder() + "p/Matrix88_mm0.0_ms0.0_ir0.0_pnl0.0.fw"},
        {{0, 2}, dir.folder() + "i/Matrix88_mm0.0_ir0.0.fw"},
        {{1}, dir.folder() + "s/Matrix88_ms0.0.fw"},
    };
    for (const auto& c : cases) {
        FirmwareMerger merger;
        for (int s : c.sources)
            ASSERT_EQ(merger.pickSource(s, paths[s]), FirmwareMerger::PickResult::Taken);
        std::string messages;
        EXPECT_EQ(merger.merge(messages), FirmwareMerger::MergeResult::Written);
        EXPECT_EQ(merger.outputPath(), c.output);
        EXPECT_TRUE(std::filesystem::exists(c.output)) << c.output;
    }

    FirmwareMerger empty;
    std::string messages;
    EXPECT_EQ(empty.merge(messages), FirmwareMerger::MergeResult::NothingToMerge);
    EXPECT_EQ(messages, "");
}

TEST(FirmwareMerger, SourcePickingRules)
{
    ScratchDir dir;
    ASSERT_TRUE(writeFile(dir.file("slave.BIN"), patternBytes(10)));
    ASSERT_TRUE(writeFile(dir.file("main.dat"), patternBytes(10)));
    ASSERT_TRUE(writeFile(dir.file("big.bin"), Bytes(kMaxSourceBytes + 1, 1)));
    ASSERT_TRUE(writeFile(dir.file("max.bin"), Bytes(kMaxSourceBytes, 1)));

    FirmwareMerger merger;
    EXPECT_EQ(merger.pickSource(FirmwareMerger::Main, dir.file("main.dat")), FirmwareMerger::PickResult::Taken);
    EXPECT_EQ(merger.pickSource(FirmwareMerger::Slave, dir.file("slave.BIN")),
              FirmwareMerger::PickResult::WrongExtension);
    EXPECT_FALSE(merger.source(FirmwareMerger::Slave).loaded);
    EXPECT_EQ(merger.source(FirmwareMerger::Slave).pathBox, "");
    EXPECT_EQ(merger.pickSource(FirmwareMerger::Ir, dir.file("big.bin")), FirmwareMerger::PickResult::TooLarge);
    EXPECT_TRUE(merger.source(FirmwareMerger::Ir).data.empty());
    EXPECT_EQ(merger.pickSource(FirmwareMerger::Panel, dir.file("max.bin")), FirmwareMerger::PickResult::Taken);
    EXPECT_EQ(merger.source(FirmwareMerger::Panel).data.size(), kMaxSourceBytes);

    // A folder whose name contains the file's name keeps its name.
    EXPECT_EQ(FirmwareMerger::folderOf("/x/main.bin.d/main.bin"), "/x/main.bin.d/");
    EXPECT_EQ(FirmwareMerger::folderOf("main.bin"), "");
}
