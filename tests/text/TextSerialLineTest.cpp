// SPDX-License-Identifier: Apache-2.0
// The text protocol on a serial line, on virtual time: the line's settings,
// a request and an event across it, and a device that comes and goes.
#include "service/text/SerialLine.h"

#include "tests/support/ManualLoop.h"
#include "tests/text/HeldBackend.h"

#include <gtest/gtest.h>

namespace matrix::service::text {
namespace {

// The far end of the cable, with a device node that can be plugged and pulled.
struct UsbAdapter {
    bool present = false;
    int tries = 0;
    SerialSettings settings;
    std::string received;  // what the text side wrote to the line
    class Channel* holder = nullptr;
};

class Channel : public SerialChannel {
public:
    explicit Channel(UsbAdapter& adapter) : adapter_(adapter) {}
    ~Channel() override { requestClose(); }
    bool open(int, const SerialSettings& settings) override
    {
        ++adapter_.tries;
        if (!adapter_.present)
            return false;
        adapter_.settings = settings;
        adapter_.holder = this;
        return true;
    }
    bool startWorker() override { return adapter_.holder == this; }
    void requestClose() override
    {
        if (adapter_.holder == this)
            adapter_.holder = nullptr;
    }
    void write(const std::uint8_t* data, std::size_t length) override
    {
        adapter_.received.append(reinterpret_cast<const char*>(data), length);
    }
    bool isOpen() const override { return adapter_.holder == this; }
    void type(const std::string& text)
    {
        for (char c : text)
            deliverByte(static_cast<std::uint8_t>(c), 1);
    }
    void pull() { reportFault(); }

private:
    UsbAdapter& adapter_;
};

struct SerialRig {
    ManualLoop loop;
    UsbAdapter adapter;
    HeldBackend backend;
    std::vector<std::string> log;
    SerialLine line{loop,
                    backend,
                    "/dev/ttyUSB1",
                    9600,
                    [this] { return std::make_unique<Channel>(adapter); },
                    [this](const std::string& text) { log.push_back(text); }};
};

TEST(TextSerialLine, SpeaksTheProtocolAt8N1WithoutDroppingInput)
{
    SerialRig rig;
    rig.adapter.present = true;
    rig.line.start();
    ASSERT_TRUE(rig.line.isOpen());
    EXPECT_EQ(rig.adapter.settings.baud, 9600);
    EXPECT_EQ(rig.adapter.settings.parity, 'N');
    EXPECT_EQ(rig.adapter.settings.dataBits, 8);
    EXPECT_EQ(rig.adapter.settings.stopBits, 1);
    EXPECT_FALSE(rig.adapter.settings.discardInputOnWrite) << "a reply must not eat the next request";

    rig.adapter.holder->type("ROUTE B 1\r\nPING\r\n");
    rig.line.event({Event::Kind::Beep, 0, 0, false, true});
    EXPECT_EQ(rig.adapter.received, "OK ROUTE B 1\r\nOK PONG\r\nEVENT BEEP ON\r\n");
    EXPECT_EQ(rig.backend.changes, std::vector<std::string>{"route 2 1 by text /dev/ttyUSB1"});
}

TEST(TextSerialLine, AMissingDeviceIsTriedWithBackOffAndItsLossLoggedOnce)
{
    SerialRig rig;
    rig.line.start();
    EXPECT_FALSE(rig.line.isOpen());
    // The wait doubles from 1 s up to 30 s: tries at 0, 1, 3, 7, 15, 31, 61, 91 s.
    const std::pair<int, int> triesAtMs[] = {{999, 1},   {1000, 2},  {2999, 2},  {3000, 3},  {7000, 4},
                                             {15000, 5}, {31000, 6}, {61000, 7}, {90999, 7}, {91000, 8}};
    for (const auto& [atMs, tries] : triesAtMs) {
        rig.loop.advance(atMs - rig.loop.nowMs());
        EXPECT_EQ(rig.adapter.tries, tries) << "at " << atMs << " ms";
    }
    EXPECT_EQ(rig.log, std::vector<std::string>{"text /dev/ttyUSB1 cannot be opened; trying again"});

    rig.adapter.present = true;
    rig.loop.advance(30000);
    ASSERT_TRUE(rig.line.isOpen());
    EXPECT_EQ(rig.log.back(), "text /dev/ttyUSB1 open, 9600 baud 8N1");

    rig.adapter.present = false;
    rig.adapter.holder->pull();
    rig.loop.runPending();
    EXPECT_FALSE(rig.line.isOpen());
    EXPECT_EQ(rig.log.back(), "text /dev/ttyUSB1 lost: the device went away");
    rig.adapter.present = true;
    rig.loop.advance(999);
    EXPECT_FALSE(rig.line.isOpen());
    rig.loop.advance(1);
    EXPECT_TRUE(rig.line.isOpen()) << "after a loss the wait starts at 1 s again";
    EXPECT_EQ(rig.log.size(), 4u) << "retries in between stay quiet";
    EXPECT_EQ(rig.loop.runningTimerCount(), 0u) << "no retry timer left once open";
}

}  // namespace
}  // namespace matrix::service::text
