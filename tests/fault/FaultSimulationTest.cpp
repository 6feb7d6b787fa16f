// SPDX-License-Identifier: Apache-2.0
// Seeded fault simulation: many whole sessions of the program against the
// simulated matrix on virtual time, each from one seed that chooses the
// clicks and the faults. A failing seed prints itself; replay it alone with
//   MATRIX_FAULT_SEED=N test_fault
// and run more seeds with MATRIX_FAULT_SEEDS=count.
#include "tests/fault/FaultSession.h"
#include "tests/support/SeedRuns.h"

#include "core/formats/FirmwareContainer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace matrix::testing {
namespace {

// The seed being run, for the crash message.
volatile std::sig_atomic_t currentSeed = 0;

extern "C" void onCrash(int signalNumber)
{
    char text[64] = "\nfault simulation crashed in seed ";
    std::size_t at = 34;
    char digits[16];
    int n = 0;
    unsigned long seed = static_cast<unsigned long>(currentSeed);
    do {
        digits[n++] = static_cast<char>('0' + seed % 10);
        seed /= 10;
    } while (seed && n < 15);
    while (n)
        text[at++] = digits[--n];
    text[at++] = '\n';
    [[maybe_unused]] auto written = ::write(2, text, at);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

Bytes edidBytes(bool withExtension, std::uint8_t flavour)
{
    Bytes bytes(withExtension ? 256 : 128, 0);
    const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    std::copy(std::begin(header), std::end(header), bytes.begin());
    for (std::size_t i = 8; i < 126; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + flavour);
    bytes[126] = withExtension ? 1 : 0;
    for (std::size_t block = 0; block < bytes.size() / 128; ++block) {
        if (block == 1)
            for (std::size_t i = 128; i < 255; ++i)
                bytes[i] = static_cast<std::uint8_t>(i + flavour);
        unsigned sum = 0;
        for (std::size_t i = block * 128; i < block * 128 + 127; ++i)
            sum += bytes[i];
        bytes[block * 128 + 127] = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
    }
    return bytes;
}

// A firmware image of one part: its marker and `length` data bytes without
// stray markers.
Bytes firmwareImage(int part, std::size_t length, unsigned seed)
{
    Bytes image;
    image.push_back(part == 1 ? 0xA5 : 0xA4);
    image.push_back(part == 1 ? 0x5A : 0x5B);
    unsigned x = seed;
    for (std::size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        auto b = static_cast<std::uint8_t>(x >> 16);
        if (b == 0xA3 || b == 0xA4)
            b = 0x11;
        image.push_back(b);
    }
    return image;
}

class FaultSimulation : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                         ("fault-sim-" + std::to_string(::getpid())));
        std::filesystem::create_directories(*dir_);
        files_ = new FaultFiles;
        auto put = [](const std::string& name, Bytes bytes, bool container) -> std::string {
            if (container)
                scramble(bytes);
            const std::string path = (*dir_ / name).string();
            EXPECT_TRUE(writeFile(path, bytes)) << path;
            return path;
        };
        files_->edidFiles.push_back(put("display-128.bin", edidBytes(false, 3), false));
        files_->edidFiles.push_back(put("display-256.bin", edidBytes(true, 9), false));
        Bytes broken = edidBytes(false, 5);
        broken[127] ^= 0x01;
        files_->edidFiles.push_back(put("broken.bin", broken, false));
        files_->firmwareFiles.push_back(put("small.fw", firmwareImage(1, 100, 1), true));
        files_->firmwareFiles.push_back(put("one-block.fw", firmwareImage(1, 256, 2), true));
        files_->firmwareFiles.push_back(put("medium.BIN", firmwareImage(1, 700, 3), true));
        files_->firmwareFiles.push_back(put("larger.fw", firmwareImage(1, 1300, 4), true));
        files_->firmwareFiles.push_back(put("part2.fw", firmwareImage(2, 600, 5), true));
    }

    static void TearDownTestSuite()
    {
        std::error_code ignored;
        std::filesystem::remove_all(*dir_, ignored);
        delete dir_;
        delete files_;
    }

    // Runs one seed; returns false when an invariant broke. A replayed seed
    // also prints what the session did when it passes.
    static bool runSeed(std::uint32_t seed, bool printJournal = false)
    {
        currentSeed = static_cast<std::sig_atomic_t>(seed);
        FaultSession session(seed, *files_);
        const auto violations = session.run();
        if (violations.empty()) {
            if (printJournal) {
                std::string text = "seed " + std::to_string(seed) + " passed; what the session did:\n";
                for (const auto& line : session.journal())
                    text += "    " + line + "\n";
                std::fputs(text.c_str(), stdout);
            }
            return true;
        }
        std::string report =
            "seed " + std::to_string(seed) + " (replay: MATRIX_FAULT_SEED=" + std::to_string(seed) + ")\n";
        for (const auto& line : violations)
            report += "  " + line + "\n";
        report += "  what the session did:\n";
        for (const auto& line : session.journal())
            report += "    " + line + "\n";
        ADD_FAILURE() << report;
        return false;
    }

    static std::filesystem::path* dir_;
    static FaultFiles* files_;
};

std::filesystem::path* FaultSimulation::dir_ = nullptr;
FaultFiles* FaultSimulation::files_ = nullptr;

TEST_F(FaultSimulation, EverySessionEndsIdleAndShowsTheMatrixRouting)
{
    std::signal(SIGSEGV, onCrash);
    std::signal(SIGABRT, onCrash);
    std::signal(SIGFPE, onCrash);
    std::signal(SIGBUS, onCrash);

    runSeeds("MATRIX_FAULT_SEED", "MATRIX_FAULT_SEEDS",
             [](std::uint32_t seed, bool verbose) { return runSeed(seed, verbose); });
}

}  // namespace
}  // namespace matrix::testing
