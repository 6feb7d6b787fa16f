// SPDX-License-Identifier: Apache-2.0
#include "core/transport/ComPorts.h"
#include "core/transport/Ipv4.h"

#include <gtest/gtest.h>

using namespace matrix;

TEST(ComPorts, NamesAndNumbers)
{
    EXPECT_EQ(comPortName(7), "COM7");
    EXPECT_EQ(comPortNumber("COM1"), 1);
    EXPECT_EQ(comPortNumber("COM19"), 19);
    for (const char* bad : {"COM0", "COM20", "COM", "COM01", "com3", "COM3 ", "XCOM3", "COMx"})
        EXPECT_FALSE(comPortNumber(bad).has_value()) << bad;
}

TEST(ComPorts, DevicePaths)
{
    EXPECT_EQ(comDevicePath(1, nullptr), "/dev/ttyS0");
    EXPECT_EQ(comDevicePath(4, nullptr), "/dev/ttyS3");
    EXPECT_EQ(comDevicePath(5, nullptr), "/dev/ttyUSB0");
    EXPECT_EQ(comDevicePath(12, nullptr), "/dev/ttyUSB7");
    EXPECT_EQ(comDevicePath(13, nullptr), "/dev/ttyACM0");
    EXPECT_EQ(comDevicePath(19, nullptr), "/dev/ttyACM6");
    EXPECT_EQ(comDevicePath(20, nullptr), "");
    EXPECT_EQ(comDevicePath(3, "/tmp/ports"), "/tmp/ports/COM3");
    EXPECT_EQ(comDevicePath(3, "/tmp/ports/"), "/tmp/ports/COM3");
    EXPECT_EQ(comDevicePath(3, ""), "/dev/ttyS2");
}

TEST(Ipv4, OnlyStrictDottedQuadsAreAddresses)
{
    EXPECT_EQ(parseDottedIpv4("192.168.1.50"), 0xC0A80132u);
    EXPECT_EQ(parseDottedIpv4("127.0.0.1"), 0x7F000001u);
    EXPECT_EQ(parseDottedIpv4("0.0.0.0"), 0u);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "a.b.c.d", "1..2.3",
                            "1.2.3.", "1234.1.1.1", "255.255.255.255", "matrix.local"})
        EXPECT_FALSE(parseDottedIpv4(bad).has_value()) << bad;
    EXPECT_EQ(formatDottedIpv4(0xC0A80132u), "192.168.1.50");
}

// Where discovery datagrams go; a bad redirect must never become the real broadcast.
TEST(Ipv4, BroadcastIsRedirectedOnlyToAGoodAddress)
{
    const std::string all = "255.255.255.255";
    struct Case {
        std::string dotted;
        const char* redirect;
        std::optional<std::uint32_t> want;
    } cases[] = {
        {all, nullptr, kBroadcastIpv4},        {all, "", kBroadcastIpv4},
        {all, "127.255.255.255", 0x7FFFFFFFu}, {all, "not an address", std::nullopt},
        {all, all.c_str(), kBroadcastIpv4},    {"127.0.0.5", "127.255.255.255", 0x7F000005u},
        {"no address", nullptr, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(datagramDestination(c.dotted, c.redirect), c.want)
            << c.dotted << " / " << (c.redirect ? c.redirect : "-");
}
