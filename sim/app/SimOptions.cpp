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

namespace {

// One parse of the simulator's command line. Values are taken as text and
// checked afterwards, so that every mistake gets the simulator's own
// message; a repeated option counts with its last value. Each reader
// returns false with the message set.
class SimOptionsParser {
public:
    SimOptionsParser(const std::vector<std::string>& arguments, std::string& message)
        : arguments_(arguments),
          message_(message)
    {
        parser_.set_help_flag();
        parser_.allow_extras();
        parser_.add_flag("-h,--help,--help-all", help_);
        for (auto& [name, set] : flags_)
            parser_.add_flag(name, set)->disable_flag_override();
        for (auto& [name, value] : values_)
            valueOptions_[name] =
                parser_.add_option(name, value)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }

    std::optional<SimOptions> run()
    {
        SimOptions options;
        if (!parse() || !readTcp(options) || !readKnobs(options) || !readCom(options) || !readMac(options) ||
            !readIp(options))
            return std::nullopt;
        options.udp = isSet("--udp");
        if (!options.tcp && options.comNumber == 0 && !options.udp) {
            fail("nothing to serve: --no-tcp without --com or --udp");
            return std::nullopt;
        }
        return options;
    }

private:
    bool fail(const std::string& text)
    {
        message_ = text;
        return false;
    }

    bool isSet(const std::string& name) const
    {
        return flags_.count(name) ? flags_.at(name) : valueOptions_.at(name)->count() > 0;
    }

    bool parse()
    {
        try {
            std::vector<std::string> reversed(arguments_.rbegin(), arguments_.rend() - (arguments_.empty() ? 0 : 1));
            parser_.parse(reversed);
        } catch (const CLI::ArgumentMismatch&) {
            // A flag given a value, or a value option at the end without one.
            for (const auto& argument : arguments_) {
                const std::string name = argument.substr(0, argument.find('='));
                if (flags_.count(name) && name != argument)
                    return fail("Unexpected value after '" + name + "'.");
            }
            return fail("Missing value after '" + arguments_.back() + "'.");
        } catch (const CLI::ParseError& e) {
            return fail(e.what());
        }
        if (help_)
            return fail(simHelpText(arguments_.empty() ? "matrix-sim" : arguments_.front()));
        for (const auto& extra : parser_.remaining()) {
            if (extra.size() > 1 && extra[0] == '-')
                return fail("Unknown option '" + extra.substr(extra.find_first_not_of('-')) + "'.");
        }
        if (!parser_.remaining().empty())
            return fail("unexpected argument: " + parser_.remaining().front());
        return true;
    }

    bool readTcp(SimOptions& options)
    {
        options.tcp = !isSet("--no-tcp");
        options.tcpAddressText = values_["--tcp"];
        const auto address = parseDottedIpv4(options.tcpAddressText);
        if (!address)
            return fail("not a dotted IPv4 address: " + options.tcpAddressText);
        if (options.tcp && !isLoopback(*address) && !isSet("--allow-any-address"))
            return fail("refusing to listen on " + options.tcpAddressText +
                        ": not a loopback address (127.0.0.0/8); add --allow-any-address to expose the simulator");
        options.tcpAddress = *address;
        return true;
    }

    bool number(const std::string& name, int& into)
    {
        const std::string& text = values_[name];
        int value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0)
            return fail(name + " needs a number of 0 or more");
        into = value;
        return true;
    }

    bool readKnobs(SimOptions& options)
    {
        SimKnobs& knobs = options.knobs;
        if (!number("--drop", knobs.dropReplies) || !number("--corrupt", knobs.corruptChecksums) ||
            !number("--delay-ms", knobs.replyDelayMs) || !number("--split", knobs.splitBytes) ||
            !number("--split-gap-ms", knobs.splitGapMs) || !number("--coalesce", knobs.coalesce) ||
            !number("--standby-after-ms", knobs.standbyAfterMs))
            return false;
        knobs.silent = isSet("--silent");
        options.controlStdin = isSet("--control-stdin");
        options.firmwareDir = values_["--firmware-dir"];
        return true;
    }

    bool readCom(SimOptions& options)
    {
        if (!isSet("--com"))
            return !isSet("--com-dir") || fail("--com-dir needs --com N");
        const auto port = comPortNumber("COM" + values_["--com"]);
        if (!port)
            return fail("--com needs a port number from 1 to 19");
        options.comNumber = *port;
        if (isSet("--com-dir")) {
            options.comDir = values_["--com-dir"];
        } else if (const char* fromEnvironment = std::getenv("MATRIX_COM_DIR"); fromEnvironment && *fromEnvironment) {
            options.comDir = fromEnvironment;
        } else {
            return fail("--com needs --com-dir DIR (or MATRIX_COM_DIR)");
        }
        return true;
    }

    bool readMac(SimOptions& options)
    {
        if (!isSet("--mac"))
            return true;
        const std::string& text = values_["--mac"];
        std::array<std::uint8_t, 6> bytes{};
        bool ok = text.size() == 12;
        for (std::size_t i = 0; ok && i < 6; ++i) {
            char* end = nullptr;
            const std::string pair = text.substr(2 * i, 2);
            bytes[i] = static_cast<std::uint8_t>(std::strtoul(pair.c_str(), &end, 16));
            ok = end == pair.c_str() + 2;
        }
        if (!ok)
            return fail("--mac needs 12 hexadecimal digits");
        options.mac = bytes;
        return true;
    }

    bool readIp(SimOptions& options)
    {
        if (!isSet("--ip"))
            return true;
        const auto reported = parseDottedIpv4(values_["--ip"]);
        if (!reported)
            return fail("--ip needs a dotted IPv4 address");
        options.ip = std::array<std::uint8_t, 4>{
            static_cast<std::uint8_t>(*reported >> 24), static_cast<std::uint8_t>(*reported >> 16),
            static_cast<std::uint8_t>(*reported >> 8), static_cast<std::uint8_t>(*reported)};
        return true;
    }

    const std::vector<std::string>& arguments_;
    std::string& message_;
    CLI::App parser_;
    bool help_ = false;
    std::map<std::string, bool> flags_ = {{"--allow-any-address", false},
                                          {"--no-tcp", false},
                                          {"--silent", false},
                                          {"--control-stdin", false},
                                          {"--udp", false}};
    std::map<std::string, std::string> values_ = {
        {"--tcp", "127.0.0.1"}, {"--com-dir", ""},           {"--com", ""},    {"--drop", "0"},
        {"--corrupt", "0"},     {"--delay-ms", "0"},         {"--split", "0"}, {"--split-gap-ms", "20"},
        {"--coalesce", "0"},    {"--standby-after-ms", "0"}, {"--mac", ""},    {"--ip", ""},
        {"--firmware-dir", ""},
    };
    std::map<std::string, CLI::Option*> valueOptions_;
};

}  // namespace

std::optional<SimOptions> parseSimOptions(const std::vector<std::string>& arguments, std::string* message)
{
    return SimOptionsParser(arguments, *message).run();
}

}  // namespace matrix::simapp
