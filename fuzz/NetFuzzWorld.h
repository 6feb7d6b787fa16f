// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/app/WindowNetHost.h"
#include "core/net/Discovery.h"
#include "core/net/NetworkConfig.h"
#include "tests/support/ManualLoop.h"
#include "tests/support/MemoryDatagram.h"

#include <cstdint>
#include <memory>
#include <string>

namespace matrix::fuzz {

// No TCP link: the network part reaches the matrix by datagrams only.
struct NoLink : StreamSocket {
    void recreate(StreamSocketOwner*) override {}
    void connectTo(const std::string&, std::uint16_t) override {}
    long send(const std::uint8_t*, std::size_t) override { return -1; }
    long receive(std::uint8_t*, std::size_t) override { return -1; }
    void close() override {}
};

// Discovery and the configuration model on an in-memory datagram socket,
// as the program wires them, with the caller's stand-in for the shell.
struct NetFuzzWorld {
    explicit NetFuzzWorld(ShellRequests& shell) : state(platform, shell) {}

    ManualLoop loop;
    NoLink link;
    testing::MemoryDatagramSocket socket;
    Platform platform{loop, [] { return std::unique_ptr<SerialChannel>(); }, link, socket};
    PageState state;
    WindowNetHost host{state.context};
    Discovery discovery{platform, host};
    NetworkConfig config{platform, host, discovery};
};

}  // namespace matrix::fuzz
