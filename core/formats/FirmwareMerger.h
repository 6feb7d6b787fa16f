// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/formats/FirmwareContainer.h"

#include <array>
#include <string>

namespace matrix {

// The merge tool: up to four source firmware files (main, slave 1, IR 2,
// panel 3) become one scrambled container, each part its marker followed by
// the source's bytes.
class FirmwareMerger {
public:
    enum Source { Main = 0, Slave = 1, Ir = 2, Panel = 3 };
    static constexpr int kSourceCount = 4;

    // The merge tool's texts per source, in Source order: the line before
    // the source's path, the line after it, and the output name's part.
    static constexpr const char* kCaptions[kSourceCount] = {
        "Main MCU firmware:", "Slave MCU1 firmware:", "IR MCU2 firmware:", "Plane MCU3 firmware:"};
    static constexpr const char* kSaveLines[kSourceCount] = {
        "Save MCU firmware Merged,Ver0.0", "Save MCU1 firmware Merged,Ver0.0", "Save MCU2 firmware Merged,Ver0.0",
        "Save MCU3 firmware Merged,Ver0.0"};
    static constexpr const char* kSuffixes[kSourceCount] = {"_mm0.0", "_ms0.0", "_ir0.0", "_pnl0.0"};

    struct SourceFile {
        std::string pathBox;   // the path shown in its read-only box
        std::string fileName;  // name of the last picked file, without folder
        Bytes data;
        bool loaded = false;
        std::string version1;
        std::string version2;
    };

    enum class PickResult { Taken, WrongExtension, CannotOpen, TooLarge };
    enum class MergeResult { NothingToMerge, Written, TooLarge, CannotWrite };

    // A browse button of the merge tool. Slave, IR and panel files must end
    // in ".bin"; the main file is taken whatever its extension.
    PickResult pickSource(int source, const std::string& path);

    // The "Merge" button. Message lines are appended to `messages`;
    // outputPath() names the file written.
    MergeResult merge(std::string& messages);

    const SourceFile& source(int index) const { return sources_[static_cast<std::size_t>(index)]; }
    const std::string& outputPath() const { return outputPath_; }

    // The folder part of a path, separator included ("" when there is none).
    static std::string folderOf(const std::string& path);
    // Builds the merged, unscrambled image of the given sources.
    static Bytes buildImage(const std::array<const Bytes*, kSourceCount>& sources);

private:
    std::array<SourceFile, kSourceCount> sources_;
    std::string outputPath_;
};

}  // namespace matrix
