// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the frame assembler the way each transport does:
// byte by byte (serial) and in reads of varying sizes (TCP), and checks that
// both see the same frames.
#include "core/link/FrameAssembler.h"
#include "core/link/HexLog.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using matrix::CommandFrame;
    using matrix::FrameAssembler;

    if (size == 0)
        return 0;
    // The first byte chooses the read size of the stream path.
    const std::size_t chunk = (data[0] % 32) + 1;
    ++data;
    --size;

    FrameAssembler serial;
    matrix::HexLog log;
    std::vector<CommandFrame> serialFrames;
    for (std::size_t i = 0; i < size; ++i)
        if (auto frame = serial.feed(data[i], &log))
            serialFrames.push_back(*frame);

    FrameAssembler stream;
    std::vector<CommandFrame> streamFrames;
    for (std::size_t at = 0; at < size; at += chunk) {
        std::size_t n = size - at < chunk ? size - at : chunk;
        stream.feed(data + at, n, [&](const CommandFrame& f) { streamFrames.push_back(f); });
    }

    if (serialFrames.size() != streamFrames.size())
        std::abort();
    for (std::size_t i = 0; i < serialFrames.size(); ++i) {
        if (!(serialFrames[i] == streamFrames[i]) || !serialFrames[i].headerOk())
            std::abort();
    }
    if (serial.pendingBytes() >= CommandFrame::kSize || stream.pendingBytes() != serial.pendingBytes())
        std::abort();
    return 0;
}
