// Replies from the LAN are untrusted: any number of datagrams of any length
// and content. The input is cut into datagrams (a length byte, then that
// many bytes) and fed to discovery and to the configuration reader; the
// sanitizers catch any access outside their buffers.
#include "core/app/PageContext.h"
#include "core/net/Discovery.h"
#include "core/net/NetworkConfig.h"
#include "tests/support/ManualLoop.h"
#include "tests/support/MemoryDatagram.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace matrix;

namespace {

struct QuietShell : ShellRequests {
    void postPageBusy(int) override {}
    void postShellRequest(int) override {}
    void postNetConfigStatus(int) override {}
};

struct NoLink : StreamSocket {
    void recreate(StreamSocketOwner*) override {}
    void connectTo(const std::string&, std::uint16_t) override {}
    long send(const std::uint8_t*, std::size_t) override { return -1; }
    long receive(std::uint8_t*, std::size_t) override { return -1; }
    void close() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ManualLoop loop;
    NoLink link;
    testing::MemoryDatagramSocket socket;
    Platform platform{loop, [] { return std::unique_ptr<SerialChannel>(); }, link, socket};
    LinkState linkState;
    SharedState shared;
    Popups popups(loop, linkState);
    QuietShell shell;
    PageContext context{platform, linkState, shared, popups, shell};
    Discovery discovery(context);
    NetworkConfig config(context, discovery);

    // The first byte picks the reader; the rest are datagrams. A length
    // byte of 255 stands for a long datagram (up to 2000 bytes).
    if (size == 0)
        return 0;
    const bool configuring = data[0] & 1;
    discovery.search();
    if (configuring) {
        config.open();
        config.ok();
    }
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
        socket.arrive(std::move(datagram));
        if (!discovery.addresses().empty())
            discovery.selectRow(static_cast<int>(discovery.addresses().size() - 1));
    }
    return 0;
}
