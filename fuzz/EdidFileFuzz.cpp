// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the EDID file check and holds it to what the
// download relies on: only a 128- or 256-byte file with the fixed header and
// zero block sums is taken, its bytes are kept unchanged, and a short file
// brings no stale second half with it.
#include "core/formats/EdidFile.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

bool sumsToZero(const std::uint8_t* bytes, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return (sum & 0xFF) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace matrix::edid;
    const std::vector<std::uint8_t> bytes(data, data + size);
    const EdidFileCheck check = checkEdidBytes(bytes);
    if (check.verdict != EdidFileVerdict::Accept) {
        if (check.echoBytes != 0)
            std::abort();
        return 0;
    }
    static const std::uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    if (size != kEdidBlockBytes && size != kEdidFileBytesMax)
        std::abort();
    if (!std::equal(kHeader, kHeader + 8, data) || !sumsToZero(data, kEdidBlockBytes))
        std::abort();
    if (data[126] > 1 || (data[126] == 1 && (size != kEdidFileBytesMax || !sumsToZero(data + 128, 128))))
        std::abort();
    if (!std::equal(data, data + size, check.data.begin()))
        std::abort();
    if (!std::all_of(check.data.begin() + static_cast<long>(size), check.data.end(), [](auto b) { return b == 0; }))
        std::abort();
    if (check.echoBytes != (data[126] == 1 ? kEdidFileBytesMax : kEdidBlockBytes))
        std::abort();
    return 0;
}
