// SPDX-License-Identifier: Apache-2.0
#include "cli/FirmwareMergeCommand.h"

#include "core/pages/firmware/FirmwareContainer.h"
#include "core/pages/firmware/FirmwareMerger.h"

#include <array>
#include <sys/stat.h>

namespace matrix::cli {

namespace {

// The texts of the merge tool, in the order main, slave 1, IR 2, panel 3.
constexpr const char* kCaptions[] = {"Main MCU firmware:", "Slave MCU1 firmware:", "IR MCU2 firmware:",
                                     "Plane MCU3 firmware:"};
constexpr const char* kSaveLines[] = {"Save MCU firmware Merged,Ver0.0", "Save MCU1 firmware Merged,Ver0.0",
                                      "Save MCU2 firmware Merged,Ver0.0", "Save MCU3 firmware Merged,Ver0.0"};
constexpr const char* kSuffixes[] = {"_mm0.0", "_ms0.0", "_ir0.0", "_pnl0.0"};

bool isDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

RunResult runFirmwareMerge(const Invocation& inv)
{
    const std::array<std::string, FirmwareMerger::kSourceCount> paths{inv.mainFile, inv.slaveFile, inv.irFile,
                                                                       inv.panelFile};
    if (!isDirectory(inv.outputDir))
        return RunResult::failure(ExitCode::Usage, "not a directory: " + inv.outputDir);

    // The merger's own pick step checks each source as the browse buttons do.
    FirmwareMerger merger;
    RunResult result;
    int last = -1;
    for (int i = 0; i < FirmwareMerger::kSourceCount; ++i) {
        const std::string& path = paths[static_cast<std::size_t>(i)];
        if (path.empty())
            continue;
        switch (merger.pickSource(i, path)) {
        case FirmwareMerger::PickResult::Taken: break;
        case FirmwareMerger::PickResult::WrongExtension:
            return RunResult::failure(ExitCode::Usage, "not a .bin file: " + path);
        case FirmwareMerger::PickResult::CannotOpen: return RunResult::failure(ExitCode::Usage, "cannot read " + path);
        case FirmwareMerger::PickResult::TooLarge:
            return RunResult::failure(ExitCode::Usage, "file too large (at most 50000 bytes): " + path);
        }
        result.messages.push_back(std::string(kCaptions[i]) + path);
        result.messages.push_back(kSaveLines[i]);
        last = i;
    }

    // The output name follows the merge tool: main alone is a 4x4 file,
    // anything more an 8x8 one with a suffix per source up to the last.
    std::string name;
    if (last == FirmwareMerger::Main) {
        name = std::string("Matrix44") + kSuffixes[0] + ".fw";
    } else {
        name = "Matrix88";
        for (int j = 0; j <= last; ++j)
            if (merger.source(j).loaded)
                name += kSuffixes[j];
        name += ".fw";
    }
    std::string dir = inv.outputDir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    const std::string output = dir + name;

    std::array<const Bytes*, FirmwareMerger::kSourceCount> parts{};
    for (int i = 0; i < FirmwareMerger::kSourceCount; ++i)
        parts[static_cast<std::size_t>(i)] = &merger.source(i).data;
    Bytes image = FirmwareMerger::buildImage(parts);
    if (image.size() > kMaxFirmwareBytes)
        return RunResult::failure(ExitCode::Usage, "merged image too large (at most 200000 bytes)");
    scramble(image);
    if (!writeFile(output, image))
        return RunResult::failure(ExitCode::Usage, "cannot write " + output);

    result.messages.push_back("Firmware merged complete,save to file:" + output);
    result.outputFile = output;
    return result;
}

}  // namespace matrix::cli
