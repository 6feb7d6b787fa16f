// SPDX-License-Identifier: Apache-2.0
#include "core/formats/FirmwareMerger.h"

namespace matrix {

std::string FirmwareMerger::folderOf(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

FirmwareMerger::PickResult FirmwareMerger::pickSource(int index, const std::string& path)
{
    SourceFile& src = sources_[static_cast<std::size_t>(index)];
    src.fileName = path.substr(folderOf(path).size());
    if (index != Main && !hasSourceExtension(path)) {
        src.loaded = false;
        return PickResult::WrongExtension;
    }
    Bytes data;
    switch (readFileBounded(path, kMaxSourceBytes, data)) {
    case FileReadStatus::TooLarge: return PickResult::TooLarge;
    case FileReadStatus::CannotOpen: return PickResult::CannotOpen;
    case FileReadStatus::Ok: break;
    }
    src.pathBox = path;
    src.loaded = true;
    src.data = std::move(data);
    return PickResult::Taken;
}

Bytes FirmwareMerger::buildImage(const std::array<const Bytes*, kSourceCount>& sources)
{
    Bytes image;
    for (int i = 0; i < kSourceCount; ++i) {
        const Bytes* data = sources[static_cast<std::size_t>(i)];
        if (!data || data->empty())
            continue;
        image.push_back(kPartMarkers[i].first);
        image.push_back(kPartMarkers[i].second);
        image.insert(image.end(), data->begin(), data->end());
    }
    return image;
}

FirmwareMerger::MergeResult FirmwareMerger::merge(std::string& messages)
{
    std::array<std::string, kSourceCount> folders;
    for (int i = 0; i < kSourceCount; ++i) {
        SourceFile& src = sources_[static_cast<std::size_t>(i)];
        if (src.pathBox.empty()) {
            src.loaded = false;
            continue;
        }
        messages += std::string(kCaptions[i]) + src.pathBox + "\r\n" + kSaveLines[i] + "\r\n";
        // The folder is everything up to the last separator, so a folder
        // whose name contains the file's name stays intact.
        folders[static_cast<std::size_t>(i)] = folderOf(src.pathBox);
        src.loaded = true;
        src.version1 = "0";
        src.version2 = "0";
    }

    std::string output;
    for (int i = 0; i < kSourceCount; ++i) {
        if (!sources_[static_cast<std::size_t>(i)].loaded)
            continue;
        if (i == Main) {
            output = folders[Main] + "Matrix44" + kSuffixes[Main] + ".fw";
        } else {
            output = folders[static_cast<std::size_t>(i)] + "Matrix88";
            for (int j = 0; j <= i; ++j)
                if (sources_[static_cast<std::size_t>(j)].loaded)
                    output += kSuffixes[j];
            output += ".fw";
        }
    }
    if (output.empty())
        return MergeResult::NothingToMerge;

    std::array<const Bytes*, kSourceCount> parts{};
    for (int i = 0; i < kSourceCount; ++i)
        parts[static_cast<std::size_t>(i)] = &sources_[static_cast<std::size_t>(i)].data;
    Bytes image = buildImage(parts);
    // A merged file must fit the upgrade's image buffer, or it could never be sent.
    if (image.size() > kMaxFirmwareBytes)
        return MergeResult::TooLarge;
    scramble(image);
    if (!writeFile(output, image))
        return MergeResult::CannotWrite;
    outputPath_ = output;
    messages += "Firmware merged complete,save to file:" + output + "\r\n";
    return MergeResult::Written;
}

}  // namespace matrix
