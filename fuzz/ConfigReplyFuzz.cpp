// SPDX-License-Identifier: Apache-2.0
// The network configuration conversation with untrusted input on both
// sides: the dialog's fields as a user may type them, and whatever the
// segment sends back on port 30601. A matrix is first found by discovery
// (its MAC becomes the key of the acknowledgement), the fields are typed,
// OK sends the request, and the replies arrive as datagrams. Besides what
// the sanitizers catch, the run stops when:
//   - the request on the wire is not one well-formed 76-byte message to
//     port 30601 (request mark, mode byte, checksum);
//   - an acknowledgement is reported that no complete reply carrying the
//     addressed MAC and the acknowledgement mark justifies, or a justified
//     one is missed (an independent reading of the reply buffer);
//   - the reply buffer claims more bytes than it holds.
#include "core/net/NetMessages.h"
#include "fuzz/NetFuzzWorld.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace matrix;

namespace {

struct CountingShell : ShellRequests {
    int acknowledged = 0;
    void postPageBusy(int) override {}
    void postShellRequest(ShellRequest) override {}
    void postNetConfigStatus(NetConfigStatus status) override
    {
        if (status == NetConfigStatus::Configured)
            ++acknowledged;
    }
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "config_reply: %s\n", what);
    std::abort();
}

// Reads the input front to back; past its end every read gives zeros.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool more() const { return at < size; }
    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    std::string text(std::size_t maxBytes)
    {
        std::string t;
        const std::size_t length = byte() % (maxBytes + 1);
        for (std::size_t i = 0; i < length && more(); ++i)
            t.push_back(static_cast<char>(byte()));
        return t;
    }
};

// The reply buffer as the dialog is meant to read it: datagrams pile up
// (at most its size) until 76 bytes are there; then the first complete
// 76-byte run starting with the key decides, and the buffer empties.
struct ReplyModel {
    std::vector<std::uint8_t> buffer;
    int acknowledged = 0;

    void take(const std::vector<std::uint8_t>& datagram, const std::uint8_t* key)
    {
        for (std::uint8_t b : datagram)
            if (buffer.size() < net::ReplyBuffer::kCapacityBytes)
                buffer.push_back(b);
        if (buffer.size() < net::kConfigMessageBytes)
            return;
        for (std::size_t p = 0; p + net::kConfigMessageBytes <= buffer.size(); ++p)
            if (buffer[p] == key[0] && buffer[p + 1] == key[1] && buffer[p + 2] == key[2]) {
                if (buffer[p + net::kConfigDirectionOffset] == net::kConfigAckMark)
                    ++acknowledged;
                break;
            }
        buffer.clear();
    }
};

std::vector<std::uint8_t> discoveryReply(const std::uint8_t* mac6)
{
    std::vector<std::uint8_t> reply(net::kDiscoveryReplyMinBytes, 0);
    for (std::size_t i = 0; i < 6; ++i)
        reply[net::kDiscoveryMacOffset + i] = mac6[i];
    const std::uint8_t address[4] = {127, 0, 0, 9};
    for (std::size_t i = 0; i < 4; ++i)
        reply[net::kDiscoveryIpv4Offset + i] = address[i];
    reply[net::kDiscoverySignatureOffset] = net::kDiscoverySignature0;
    reply[net::kDiscoverySignatureOffset + 1] = net::kDiscoverySignature1;
    return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CountingShell shell;
    fuzz::NetFuzzWorld world(shell);
    testing::MemoryDatagramSocket& socket = world.socket;
    Discovery& discovery = world.discovery;
    NetworkConfig& config = world.config;
    PageState& state = world.state;

    Input in{data, size};
    const std::uint8_t flags = in.byte();
    const bool found = flags & 1;
    const bool staticIp = flags & 2;
    const bool typeFields = flags & 4;
    // Bit 3: the key bytes are put in front of a datagram when its length
    // byte has its top bit set, so that the search reaches replies of ours.
    const bool keyHelp = flags & 8;

    if (found) {
        std::uint8_t mac[6];
        for (auto& b : mac)
            b = in.byte();
        discovery.search();
        socket.arrive(discoveryReply(mac));
        discovery.selectRow(0);
    } else {
        state.link.matrixAddress = in.text(20);
    }
    config.open();
    config.setAutoIp(!staticIp);
    if (typeFields) {
        for (int i = 0; i < NetworkConfig::kAddressFields; ++i)
            config.setAddressField(i, in.text(6));
        for (int i = 0; i < NetworkConfig::kMacFields; ++i)
            config.setMacField(i, in.text(4));
    }

    const std::size_t sentBefore = socket.sent.size();
    config.ok();
    if (socket.sent.size() != sentBefore + 1)
        fail("OK did not send exactly one datagram");
    const auto& request = socket.sent.back();
    if (request.port != 30601 || request.data.size() != net::kConfigMessageBytes)
        fail("request is not 76 bytes to port 30601");
    net::ConfigMessage message{};
    std::copy(request.data.begin(), request.data.end(), message.begin());
    if (message[net::kConfigDirectionOffset] != net::kConfigRequestMark ||
        message[net::kConfigChecksumOffset] != net::configChecksum(message) ||
        message[net::kConfigModeOffset] != (staticIp ? net::kConfigModeStatic : net::kConfigModeAuto))
        fail("request is not well formed");

    const std::uint8_t* key = message.data() + net::kConfigTargetMacOffset;
    ReplyModel model;
    while (in.more()) {
        const std::uint8_t lengthByte = in.byte();
        std::size_t length = lengthByte;
        std::vector<std::uint8_t> datagram;
        if (keyHelp && (lengthByte & 0x80)) {
            datagram.assign(key, key + net::kConfigReplyKeyBytes);
            length &= 0x7F;
        }
        if (length == 0x7F && in.more())
            length = (static_cast<std::size_t>(in.byte()) << 4) % 1600;  // long datagrams too
        for (std::size_t i = 0; i < length && in.more(); ++i)
            datagram.push_back(in.byte());
        model.take(datagram, key);
        socket.arrive(datagram);
        if (config.bufferedBytes() > net::ReplyBuffer::kCapacityBytes)
            fail("reply buffer count past its size");
        if (config.bufferedBytes() != model.buffer.size())
            fail("reply buffer holds a different count than was received");
        if (shell.acknowledged != model.acknowledged)
            fail("acknowledgement reported differently from the replies received");
    }
    return 0;
}
