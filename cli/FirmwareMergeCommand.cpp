// SPDX-License-Identifier: Apache-2.0
#include "cli/FirmwareMergeCommand.h"

#include "core/formats/FirmwareContainer.h"
#include "core/formats/FirmwareMerger.h"

#include <array>
#include <filesystem>
#include <system_error>

namespace matrix::cli {

namespace {

constexpr auto& kCaptions = FirmwareMerger::kCaptions;
constexpr auto& kSaveLines = FirmwareMerger::kSaveLines;
constexpr auto& kSuffixes = FirmwareMerger::kSuffixes;

// Like mkdir -p; an existing directory is fine. Empty on success, the
// reason otherwise.
std::string makeDirectories(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error)
        return error.message();
    if (!std::filesystem::is_directory(path, error))
        return "not a directory";
    return {};
}

}  // namespace

RunResult runFirmwareMerge(const Invocation& inv)
{
    const std::array<std::string, FirmwareMerger::kSourceCount> paths{inv.mainFile, inv.slaveFile, inv.irFile,
                                                                      inv.panelFile};
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
    // Created only once the sources are good, so a refused merge leaves nothing behind.
    if (std::string why = makeDirectories(inv.outputDir); !why.empty())
        return RunResult::failure(ExitCode::Usage, "cannot create directory " + inv.outputDir + ": " + why);
    if (!writeFile(output, image))
        return RunResult::failure(ExitCode::Usage, "cannot write " + output);

    result.messages.push_back("Firmware merged complete,save to file:" + output);
    result.outputFile = output;
    return result;
}

}  // namespace matrix::cli
