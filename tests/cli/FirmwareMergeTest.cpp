// SPDX-License-Identifier: Apache-2.0
#include "cli/FirmwareMergeCommand.h"

#include "core/formats/FirmwareContainer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace matrix::cli {
namespace {

namespace fs = std::filesystem;

class FirmwareMergeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("matrixctl-merge-" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "src");
        fs::create_directories(dir_ / "out");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string source(const std::string& name, std::size_t length, std::uint8_t seed)
    {
        Bytes data(length);
        for (std::size_t i = 0; i < length; ++i)
            data[i] = static_cast<std::uint8_t>(seed + i * 13);
        std::string path = (dir_ / "src" / name).string();
        EXPECT_TRUE(writeFile(path, data));
        return path;
    }

    fs::path dir_;
};

TEST_F(FirmwareMergeTest, WritesTheContainerIntoTheOutputFolder)
{
    Invocation inv;
    inv.command = Command::FirmwareMerge;
    inv.outputDir = (dir_ / "out").string();
    inv.mainFile = source("main.bin", 1000, 1);
    inv.slaveFile = source("slave.bin", 500, 9);
    RunResult r = runFirmwareMerge(inv);
    ASSERT_EQ(r.exit, ExitCode::Success) << r.error;
    EXPECT_EQ(r.outputFile, (dir_ / "out" / "Matrix88_mm0.0_ms0.0.fw").string());
    ASSERT_EQ(r.messages.size(), 5u);
    EXPECT_EQ(r.messages[0], "Main MCU firmware:" + inv.mainFile);
    EXPECT_EQ(r.messages[3], "Save MCU1 firmware Merged,Ver0.0");
    EXPECT_EQ(r.messages[4], "Firmware merged complete,save to file:" + r.outputFile);
    // Nothing is written next to the sources.
    EXPECT_FALSE(fs::exists(dir_ / "src" / "Matrix88_mm0.0_ms0.0.fw"));

    Bytes image;
    ASSERT_EQ(loadFirmwareFile(r.outputFile, image), FileReadStatus::Ok);
    ASSERT_EQ(image.size(), 1504u);
    EXPECT_EQ(image[0], 0xA5);
    EXPECT_EQ(image[1], 0x5A);
    EXPECT_EQ(image[2], 1);
    EXPECT_EQ(image[1002], 0xA4);
    EXPECT_EQ(image[1003], 0x5B);
    EXPECT_EQ(image[1004], 9);

    inv.slaveFile.clear();
    r = runFirmwareMerge(inv);
    ASSERT_EQ(r.exit, ExitCode::Success);
    EXPECT_EQ(fs::path(r.outputFile).filename(), "Matrix44_mm0.0.fw");
}

TEST_F(FirmwareMergeTest, BadSourcesAreBadInput)
{
    Invocation inv;
    inv.command = Command::FirmwareMerge;
    inv.outputDir = (dir_ / "out").string();
    inv.mainFile = source("main.bin", 100, 1);

    inv.irFile = source("ir.BIN", 10, 1);  // the extra sources must end in ".bin"
    EXPECT_EQ(runFirmwareMerge(inv).exit, ExitCode::Usage);
    inv.irFile = (dir_ / "src" / "missing.bin").string();
    EXPECT_EQ(runFirmwareMerge(inv).exit, ExitCode::Usage);
    inv.irFile = source("big.bin", 50001, 1);
    EXPECT_EQ(runFirmwareMerge(inv).exit, ExitCode::Usage);
    // A refused merge creates no output directory.
    inv.outputDir = (dir_ / "never").string();
    EXPECT_EQ(runFirmwareMerge(inv).exit, ExitCode::Usage);
    EXPECT_FALSE(fs::exists(dir_ / "never"));
}

TEST_F(FirmwareMergeTest, OutputDirectoryIsCreatedLikeMkdirP)
{
    Invocation inv;
    inv.command = Command::FirmwareMerge;
    inv.mainFile = source("main.bin", 100, 1);
    inv.outputDir = (dir_ / "new" / "deeper").string();
    RunResult r = runFirmwareMerge(inv);
    ASSERT_EQ(r.exit, ExitCode::Success) << r.error;
    EXPECT_TRUE(fs::is_regular_file(dir_ / "new" / "deeper" / "Matrix44_mm0.0.fw"));

    // Below a regular file no directory can be made: said so, nothing written.
    inv.outputDir = (dir_ / "src" / "main.bin" / "out").string();
    r = runFirmwareMerge(inv);
    EXPECT_EQ(r.exit, ExitCode::Usage);
    EXPECT_EQ(r.error.rfind("cannot create directory " + inv.outputDir + ": ", 0), 0u) << r.error;
}

}  // namespace
}  // namespace matrix::cli
