// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/app/SimKnobs.h"

#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace matrix::simapp {

struct SimOptions {
    bool tcp = true;
    std::uint32_t tcpAddress = 0x7F000001;  // 127.0.0.1
    std::string tcpAddressText = "127.0.0.1";
    std::string comDir;
    int comNumber = 0;  // 0: no serial side
    bool controlStdin = false;
    // UDP discovery (30600) and address-mode configuration (30601) on every
    // IPv4 address; off by default, since it answers broadcasts.
    bool udp = false;
    std::optional<std::array<std::uint8_t, 6>> mac;  // the box's MAC (--mac)
    std::optional<std::array<std::uint8_t, 4>> ip;   // the address it reports (--ip)
    SimKnobs knobs;
    // Where the received firmware parts are written (partN.bin) at exit.
    std::string firmwareDir;
};

// Parses the command line; on failure returns nothing and sets the message.
// Refuses a TCP address outside 127.0.0.0/8 unless --allow-any-address is
// given, so that a demo cannot put the simulator on the network by mistake.
std::optional<SimOptions> parseSimOptions(const QStringList& arguments, std::string* message);

}  // namespace matrix::simapp
