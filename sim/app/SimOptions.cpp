// SPDX-License-Identifier: Apache-2.0
#include "sim/app/SimOptions.h"

#include "core/transport/ComPorts.h"
#include "core/transport/Ipv4.h"

#include <QCommandLineParser>

#include <cstdlib>

namespace matrix::simapp {

namespace {

bool isLoopback(std::uint32_t address) { return (address >> 24) == 127; }

}  // namespace

std::optional<SimOptions> parseSimOptions(const QStringList& arguments, std::string* message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription("Simulated 4x4 HDMI matrix: TCP port 8000 and a pseudo-terminal serial side.");
    parser.addHelpOption();
    const QCommandLineOption tcp("tcp", "Serve TCP port 8000 on ADDRESS (default 127.0.0.1).", "ADDRESS", "127.0.0.1");
    const QCommandLineOption anyAddress("allow-any-address", "Allow a TCP address outside 127.0.0.0/8.");
    const QCommandLineOption noTcp("no-tcp", "Serve no TCP.");
    const QCommandLineOption comDir("com-dir", "Directory for the COMn link (default $MATRIX_COM_DIR).", "DIR");
    const QCommandLineOption com("com", "Serve a pseudo-terminal linked as DIR/COMN (1..19).", "N");
    const QCommandLineOption drop("drop", "Drop the next N replies of each link.", "N", "0");
    const QCommandLineOption silent("silent", "Answer nothing.");
    const QCommandLineOption corrupt("corrupt", "Corrupt the checksum of the next N replies of each link.", "N", "0");
    const QCommandLineOption delay("delay-ms", "Delay every reply by MS milliseconds.", "MS", "0");
    const QCommandLineOption split("split", "Send replies in pieces of at most N bytes.", "N", "0");
    const QCommandLineOption splitGap("split-gap-ms", "Pause between the pieces of a split reply (TCP).", "MS", "20");
    const QCommandLineOption coalesce("coalesce", "Hold replies and send N of them in one write.", "N", "0");
    const QCommandLineOption standby("standby-after-ms", "Send a standby notice MS ms after each link starts.", "MS",
                                     "0");
    const QCommandLineOption control("control-stdin", "Read knob commands from standard input.");
    const QCommandLineOption udp("udp", "Answer discovery (UDP 30600) and address-mode messages (UDP 30601).");
    const QCommandLineOption mac("mac", "The box's MAC address, 12 hexadecimal digits (with --udp).", "MAC");
    const QCommandLineOption ip("ip", "The IPv4 address the box reports in discovery replies (with --udp).", "ADDRESS");
    const QCommandLineOption firmwareDir("firmware-dir", "At exit, write each received firmware part to DIR/partN.bin.",
                                         "DIR");
    parser.addOptions({tcp, anyAddress, noTcp, comDir, com, drop, silent, corrupt, delay, split, splitGap, coalesce,
                       standby, control, udp, mac, ip, firmwareDir});

    if (!parser.parse(arguments)) {
        *message = parser.errorText().toStdString();
        return std::nullopt;
    }
    if (parser.isSet("help")) {
        *message = parser.helpText().toStdString();
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message = "unexpected argument: " + parser.positionalArguments().first().toStdString();
        return std::nullopt;
    }

    SimOptions options;
    options.tcp = !parser.isSet(noTcp);
    options.tcpAddressText = parser.value(tcp).toStdString();
    const auto address = parseDottedIpv4(options.tcpAddressText);
    if (!address) {
        *message = "not a dotted IPv4 address: " + options.tcpAddressText;
        return std::nullopt;
    }
    if (options.tcp && !isLoopback(*address) && !parser.isSet(anyAddress)) {
        *message = "refusing to listen on " + options.tcpAddressText +
                   ": not a loopback address (127.0.0.0/8); add --allow-any-address to expose the simulator";
        return std::nullopt;
    }
    options.tcpAddress = *address;

    const auto number = [&](const QCommandLineOption& option, int& into) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < 0) {
            *message = "--" + option.names().first().toStdString() + " needs a number of 0 or more";
            return false;
        }
        into = value;
        return true;
    };
    SimKnobs& knobs = options.knobs;
    if (!number(drop, knobs.dropReplies) || !number(corrupt, knobs.corruptChecksums) ||
        !number(delay, knobs.replyDelayMs) || !number(split, knobs.splitBytes) || !number(splitGap, knobs.splitGapMs) ||
        !number(coalesce, knobs.coalesce) || !number(standby, knobs.standbyAfterMs))
        return std::nullopt;
    knobs.silent = parser.isSet(silent);
    options.controlStdin = parser.isSet(control);
    options.firmwareDir = parser.value(firmwareDir).toStdString();

    if (parser.isSet(com)) {
        const auto port = comPortNumber("COM" + parser.value(com).toStdString());
        if (!port) {
            *message = "--com needs a port number from 1 to 19";
            return std::nullopt;
        }
        options.comNumber = *port;
        if (parser.isSet(comDir)) {
            options.comDir = parser.value(comDir).toStdString();
        } else if (const char* fromEnvironment = std::getenv("MATRIX_COM_DIR"); fromEnvironment && *fromEnvironment) {
            options.comDir = fromEnvironment;
        } else {
            *message = "--com needs --com-dir DIR (or MATRIX_COM_DIR)";
            return std::nullopt;
        }
    } else if (parser.isSet(comDir)) {
        *message = "--com-dir needs --com N";
        return std::nullopt;
    }
    options.udp = parser.isSet(udp);
    if (parser.isSet(mac)) {
        const std::string text = parser.value(mac).toStdString();
        std::array<std::uint8_t, 6> bytes{};
        bool ok = text.size() == 12;
        for (std::size_t i = 0; ok && i < 6; ++i) {
            char* end = nullptr;
            const std::string pair = text.substr(2 * i, 2);
            bytes[i] = static_cast<std::uint8_t>(std::strtoul(pair.c_str(), &end, 16));
            ok = end == pair.c_str() + 2;
        }
        if (!ok) {
            *message = "--mac needs 12 hexadecimal digits";
            return std::nullopt;
        }
        options.mac = bytes;
    }
    if (parser.isSet(ip)) {
        const auto reported = parseDottedIpv4(parser.value(ip).toStdString());
        if (!reported) {
            *message = "--ip needs a dotted IPv4 address";
            return std::nullopt;
        }
        options.ip = std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(*reported >> 24),
                                                 static_cast<std::uint8_t>(*reported >> 16),
                                                 static_cast<std::uint8_t>(*reported >> 8),
                                                 static_cast<std::uint8_t>(*reported)};
    }
    if (!options.tcp && options.comNumber == 0 && !options.udp) {
        *message = "nothing to serve: --no-tcp without --com or --udp";
        return std::nullopt;
    }
    return options;
}

}  // namespace matrix::simapp
