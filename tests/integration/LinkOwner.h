// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"
#include "core/link/FrameAssembler.h"
#include "core/transport/StreamSocket.h"

#include <vector>

namespace matrix::testing {

// A page's view of the link socket: every event, and the replies its
// assembler made of what it read.
struct LinkOwner : StreamSocketOwner {
    explicit LinkOwner(StreamSocket& socket) : socket(socket) {}

    void onSocketConnect(int errorCode) override { connects.push_back(errorCode); }
    void onSocketRead() override
    {
        ++readEvents;
        std::uint8_t buffer[1024];
        const long n = socket.receive(buffer, readCapacity);
        if (n <= 0)
            return;
        readSizes.push_back(static_cast<std::size_t>(n));
        assembler.feed(buffer, static_cast<std::size_t>(n), [this](const CommandFrame& f) { frames.push_back(f); });
    }
    void onSocketClose() override { ++closes; }

    int events() const { return static_cast<int>(connects.size()) + readEvents + closes; }

    StreamSocket& socket;
    std::size_t readCapacity = 1024;
    std::vector<int> connects;
    int readEvents = 0;
    int closes = 0;
    std::vector<std::size_t> readSizes;
    FrameAssembler assembler;
    std::vector<CommandFrame> frames;
};

}  // namespace matrix::testing
