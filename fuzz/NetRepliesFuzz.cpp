// SPDX-License-Identifier: Apache-2.0
// Replies from the LAN are untrusted: any number of datagrams of any length
// and content. The input is cut into datagrams (a length byte, then that
// many bytes) and fed to discovery and to the configuration reader; the
// sanitizers catch any access outside their buffers. While discovery keeps
// the socket, its rows are also checked against an independent reading of
// the replies: a row for each signed reply, with the address it carries.
#include "fuzz/NetFuzzWorld.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace matrix;

namespace {

struct QuietShell : ShellRequests {
    void postPageBusy(int) override {}
    void postShellRequest(ShellRequest) override {}
    void postNetConfigStatus(NetConfigStatus) override {}
};

// Discovery as it is meant to read the segment: datagrams pile up (at most
// its buffer) until a reply's length is there; a reply with the signature
// gives one row, and the buffer empties either way. Our own one-byte
// request, heard back, is no part of any reply.
struct DiscoveryModel {
    std::vector<std::uint8_t> pending;
    std::vector<std::string> rows;

    void take(const std::vector<std::uint8_t>& datagram)
    {
        if (datagram.size() == 1 && datagram[0] == net::kDiscoveryRequest)
            return;
        for (std::uint8_t b : datagram)
            if (pending.size() < net::ReplyBuffer::kCapacityBytes)
                pending.push_back(b);
        if (pending.size() < net::kDiscoveryReplyMinBytes)
            return;
        if (pending[18] == 0x77 && pending[19] == 0x88)
            rows.push_back(std::to_string(pending[6]) + "." + std::to_string(pending[7]) + "." +
                           std::to_string(pending[8]) + "." + std::to_string(pending[9]));
        pending.clear();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QuietShell shell;
    fuzz::NetFuzzWorld world(shell);

    // The first byte picks the reader; the rest are datagrams. A length
    // byte of 255 stands for a long datagram (up to 2000 bytes).
    if (size == 0)
        return 0;
    const bool configuring = data[0] & 1;
    world.discovery.search();
    if (configuring) {
        world.config.open();
        world.config.ok();
    }
    DiscoveryModel model;
    std::size_t at = 1;
    while (at < size) {
        std::size_t length = data[at++];
        if (length == 255 && at + 1 < size) {
            length = (static_cast<std::size_t>(data[at]) << 8 | data[at + 1]) % 2001;
            at += 2;
        }
        std::vector<std::uint8_t> datagram;
        for (std::size_t i = 0; i < length; ++i)
            datagram.push_back(at < size ? data[at++] : static_cast<std::uint8_t>(i));
        if (!configuring)
            model.take(datagram);
        world.socket.arrive(std::move(datagram));
        if (!configuring && world.discovery.addresses() != model.rows) {
            std::fprintf(stderr, "discovery_reply: rows differ from the signed replies received\n");
            std::abort();
        }
        if (!world.discovery.addresses().empty())
            world.discovery.selectRow(static_cast<int>(world.discovery.addresses().size() - 1));
    }
    return 0;
}
