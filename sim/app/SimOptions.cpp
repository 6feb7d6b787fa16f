// SPDX-License-Identifier: Apache-2.0
#include "sim/app/SimOptions.h"

#include "core/transport/ComPorts.h"
#include "core/transport/Ipv4.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <map>

#include <cstdlib>

namespace matrix::simapp {

namespace {

bool isLoopback(std::uint32_t address) { return (address >> 24) == 127; }

}  // namespace

std::string simHelpText(const std::string& program)
{
    return "Usage: " + program + R"( [options]
Simulated 4x4 HDMI matrix: TCP port 8000 and a pseudo-terminal serial side.

Options:
  -h, --help               Displays help on commandline options.
  --help-all               Displays help including Qt specific options.
  --tcp <ADDRESS>          Serve TCP port 8000 on ADDRESS (default 127.0.0.1).
  --allow-any-address      Allow a TCP address outside 127.0.0.0/8.
  --no-tcp                 Serve no TCP.
  --com-dir <DIR>          Directory for the COMn link (default
                           $MATRIX_COM_DIR).
  --com <N>                Serve a pseudo-terminal linked as DIR/COMN (1..19).
  --drop <N>               Drop the next N replies of each link.
  --silent                 Answer nothing.
  --corrupt <N>            Corrupt the checksum of the next N replies of each
                           link.
  --delay-ms <MS>          Delay every reply by MS milliseconds.
  --split <N>              Send replies in pieces of at most N bytes.
  --split-gap-ms <MS>      Pause between the pieces of a split reply (TCP).
  --coalesce <N>           Hold replies and send N of them in one write.
  --standby-after-ms <MS>  Send a standby notice MS ms after each link starts.
  --control-stdin          Read knob commands from standard input.
  --udp                    Answer discovery (UDP 30600) and address-mode
                           messages (UDP 30601).
  --mac <MAC>              The box's MAC address, 12 hexadecimal digits (with
                           --udp).
  --ip <ADDRESS>           The IPv4 address the box reports in discovery
                           replies (with --udp).
  --firmware-dir <DIR>     At exit, write each received firmware part to
                           DIR/partN.bin.
)";
}

std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& arguments, std::string* message)
{
    // Values are taken as text and checked below, so that every mistake gets
    // the simulator's own message; a repeated option counts with its last value.
    CLI::App parser;
    parser.set_help_flag();
    parser.allow_extras();
    bool help = false;
    parser.add_flag("-h,--help,--help-all", help);
    std::map<std::string, bool> flags = {{"--allow-any-address", false}, {"--no-tcp", false},
                                         {"--silent", false},            {"--control-stdin", false},
                                         {"--udp", false}};
    for (auto& [name, set] : flags)
        parser.add_flag(name, set)->disable_flag_override();
    std::map<std::string, std::string> values = {
        {"--tcp", "127.0.0.1"}, {"--com-dir", ""},     {"--com", ""},         {"--drop", "0"},
        {"--corrupt", "0"},     {"--delay-ms", "0"},   {"--split", "0"},      {"--split-gap-ms", "20"},
        {"--coalesce", "0"},    {"--standby-after-ms", "0"}, {"--mac", ""},   {"--ip", ""},
        {"--firmware-dir", ""},
    };
    std::map<std::string, CLI::Option*> valueOptions;
    for (auto& [name, value] : values)
        valueOptions[name] = parser.add_option(name, value)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    try {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - (arguments.empty() ? 0 : 1));
        parser.parse(reversed);
    } catch (const CLI::ArgumentMismatch&) {
        // A flag given a value, or a value option at the end without one.
        for (const auto& argument : arguments) {
            const std::string name = argument.substr(0, argument.find('='));
            if (flags.count(name) && name != argument) {
                *message = "Unexpected value after '" + name + "'.";
                return std::nullopt;
            }
        }
        *message = "Missing value after '" + arguments.back() + "'.";
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        *message = e.what();
        return std::nullopt;
    }
    if (help) {
        *message = simHelpText(arguments.empty() ? "matrix-sim" : arguments.front());
        return std::nullopt;
    }
    for (const auto& extra : parser.remaining()) {
        if (extra.size() > 1 && extra[0] == '-') {
            *message = "Unknown option '" + extra.substr(extra.find_first_not_of('-')) + "'.";
            return std::nullopt;
        }
    }
    if (!parser.remaining().empty()) {
        *message = "unexpected argument: " + parser.remaining().front();
        return std::nullopt;
    }
    auto isSet = [&](const std::string& name) {
        return flags.count(name) ? flags.at(name) : valueOptions.at(name)->count() > 0;
    };

    SimOptions options;
    options.tcp = !isSet("--no-tcp");
    options.tcpAddressText = values["--tcp"];
    const auto address = parseDottedIpv4(options.tcpAddressText);
    if (!address) {
        *message = "not a dotted IPv4 address: " + options.tcpAddressText;
        return std::nullopt;
    }
    if (options.tcp && !isLoopback(*address) && !isSet("--allow-any-address")) {
        *message = "refusing to listen on " + options.tcpAddressText +
                   ": not a loopback address (127.0.0.0/8); add --allow-any-address to expose the simulator";
        return std::nullopt;
    }
    options.tcpAddress = *address;

    const auto number = [&](const std::string& name, int& into) {
        const std::string& text = values[name];
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
            *message = name + " needs a number of 0 or more";
            return false;
        }
        into = value;
        return true;
    };
    SimKnobs& knobs = options.knobs;
    if (!number("--drop", knobs.dropReplies) || !number("--corrupt", knobs.corruptChecksums) ||
        !number("--delay-ms", knobs.replyDelayMs) || !number("--split", knobs.splitBytes) ||
        !number("--split-gap-ms", knobs.splitGapMs) || !number("--coalesce", knobs.coalesce) ||
        !number("--standby-after-ms", knobs.standbyAfterMs))
        return std::nullopt;
    knobs.silent = isSet("--silent");
    options.controlStdin = isSet("--control-stdin");
    options.firmwareDir = values["--firmware-dir"];

    if (isSet("--com")) {
        const auto port = comPortNumber("COM" + values["--com"]);
        if (!port) {
            *message = "--com needs a port number from 1 to 19";
            return std::nullopt;
        }
        options.comNumber = *port;
        if (isSet("--com-dir")) {
            options.comDir = values["--com-dir"];
        } else if (const char* fromEnvironment = std::getenv("MATRIX_COM_DIR"); fromEnvironment && *fromEnvironment) {
            options.comDir = fromEnvironment;
        } else {
            *message = "--com needs --com-dir DIR (or MATRIX_COM_DIR)";
            return std::nullopt;
        }
    } else if (isSet("--com-dir")) {
        *message = "--com-dir needs --com N";
        return std::nullopt;
    }
    options.udp = isSet("--udp");
    if (isSet("--mac")) {
        const std::string& text = values["--mac"];
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
    if (isSet("--ip")) {
        const auto reported = parseDottedIpv4(values["--ip"]);
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
