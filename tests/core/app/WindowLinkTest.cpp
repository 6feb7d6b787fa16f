// SPDX-License-Identifier: Apache-2.0
#include "core/app/WindowLink.h"

#include "tests/support/ManualLoop.h"
#include "tests/support/MemoryDatagram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace matrix;

namespace {

// A socket that records what the link asks of it and hands out queued reads.
struct ScriptedSocket : StreamSocket {
    void recreate(StreamSocketOwner* o) override
    {
        owner = o;
        ++recreations;
    }
    void connectTo(const std::string&, std::uint16_t) override { ++connects; }
    long send(const std::uint8_t*, std::size_t length) override { return static_cast<long>(length); }
    long receive(std::uint8_t* buffer, std::size_t capacity) override
    {
        if (reads.empty())
            return 0;
        std::vector<std::uint8_t> next = reads.front();
        reads.erase(reads.begin());
        const std::size_t n = std::min(capacity, next.size());
        std::copy(next.begin(), next.begin() + static_cast<long>(n), buffer);
        return static_cast<long>(n);
    }
    void close() override { ++closes; }
    StreamSocketOwner* owner = nullptr;
    int recreations = 0, connects = 0, closes = 0;
    std::vector<std::vector<std::uint8_t>> reads;
};

struct LinkRig {
    ManualLoop loop;
    ScriptedSocket socket;
    matrix::testing::MemoryDatagramSocket datagram;
    Platform platform{loop, [] { return std::unique_ptr<SerialChannel>(); }, socket, datagram};
    WindowLink link{platform};
};

enum class Event { Reconnect, Connected, Refused, Closed, Confirm, Drop };

}  // namespace

TEST(WindowLink, TcpStateFollowsTheSocketAndTheGeneralPagesConfirmation)
{
    using S = TcpState;
    using E = Event;
    struct Case {
        S from;
        E event;
        S to;
    };
    const Case cases[] = {
        {S::Down, E::Connected, S::Connected},
        {S::Down, E::Refused, S::Down},
        {S::Connected, E::Confirm, S::Up},
        {S::Down, E::Confirm, S::Down},
        {S::Connected, E::Reconnect, S::Down},
        {S::Connected, E::Closed, S::Down},
        {S::Up, E::Reconnect, S::Reconnecting},
        {S::Up, E::Closed, S::Reconnecting},
        {S::Reconnecting, E::Connected, S::Up},
        {S::Reconnecting, E::Refused, S::Reconnecting},
        {S::Reconnecting, E::Confirm, S::Down},
        {S::Up, E::Confirm, S::Up},
        {S::Up, E::Drop, S::Down},
        {S::Reconnecting, E::Drop, S::Down},
    };
    for (const Case& c : cases) {
        LinkRig r;
        r.link.setTcpState(c.from);
        switch (c.event) {
        case E::Reconnect: r.link.reconnect(PageId::Edid); break;
        case E::Connected: r.link.onSocketConnect(0); break;
        case E::Refused: r.link.onSocketConnect(111); break;
        case E::Closed: r.link.onSocketClose(); break;
        case E::Confirm: r.link.confirmTcp(); break;
        case E::Drop: r.link.dropTcp(); break;
        }
        EXPECT_EQ(r.link.tcpState(), c.to) << static_cast<int>(c.from) << " on " << static_cast<int>(c.event);
        EXPECT_EQ(r.link.tcpLinkUp(), c.to == S::Up || c.to == S::Reconnecting);
    }
}

// Reads go to the page the socket was last made for; a page that is not
// listening drops the read and any half frame with it.
TEST(WindowLink, SocketFramesReachThePageThatTookTheLinkWhole)
{
    LinkRig r;
    std::vector<PageId> heard;
    bool edidListens = true;
    r.link.setSocketReader(PageId::General,
                           {nullptr, nullptr, [&](const CommandFrame&) { heard.push_back(PageId::General); }});
    r.link.setSocketReader(PageId::Edid, {[&] { return edidListens; }, nullptr,
                                          [&](const CommandFrame&) { heard.push_back(PageId::Edid); }});
    const std::vector<std::uint8_t> frame{0xA5, 0x5B, 0x02, 0x03, 0x01, 0, 0, 0, 0, 0, 0, 0, 0xFA};

    r.link.reconnect(PageId::Edid);
    EXPECT_EQ(r.socket.owner, &r.link);
    r.socket.reads = {{frame.begin(), frame.begin() + 5}};
    edidListens = false;
    r.link.onSocketRead();  // the half frame is dropped ...
    edidListens = true;
    r.socket.reads = {{frame.begin() + 5, frame.end()}, frame};
    r.link.onSocketRead();  // ... so its rest is no frame; the next whole one is
    EXPECT_EQ(heard, std::vector<PageId>{PageId::Edid});

    // A new socket for General: a half frame of the old stream is forgotten.
    r.socket.reads = {{frame.begin(), frame.begin() + 7}};
    r.link.onSocketRead();
    r.link.reconnect(PageId::General);
    r.socket.reads = {{frame.begin() + 7, frame.end()}, frame};
    r.link.onSocketRead();
    EXPECT_EQ(heard, (std::vector<PageId>{PageId::Edid, PageId::General}));
    EXPECT_EQ(r.socket.connects, 2);
}
