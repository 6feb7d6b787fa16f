// SPDX-License-Identifier: Apache-2.0
#include "cli/CommandLine.h"

#include "core/transport/Ipv4.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

namespace matrix::cli {

namespace {

// The positional arguments of the commands, each with its own field of the
// invocation.
enum class Argument { Input, Output, SourceOutput, ModeRow, Target, BeepState, File, OutputDir };

struct CommandInfo {
    Command command;
    std::vector<std::string> words;  // "edid", "set"
    std::string synopsis;            // arguments after the words
    // The positional arguments, read in order (Discover and NetConfig read
    // theirs themselves).
    std::vector<Argument> arguments;
    std::string summary;
    std::string details;
    bool needsLink;
};

const std::vector<CommandInfo>& commandTable()
{
    static const std::vector<CommandInfo> table = {
        {Command::Status,
         {"status"},
         "",
         {},
         "cable state of inputs 1-4 and outputs A-D",
         "Runs the General page's Status query: one request per port, IN1, OUTA, IN2, ...\n"
         "A port with a cable shows \"Connect\", one without \"Disconnect\".",
         true},
        {Command::Routing,
         {"routing"},
         "",
         {},
         "the input each output A-D carries",
         "Shows the Matrix tab, which reads the routing of outputs A-D from the matrix.",
         true},
        {Command::Route,
         {"route"},
         "INPUT OUTPUT",
         {Argument::Input, Argument::Output},
         "INPUT 1-4, OUTPUT A-D (or 1-4)",
         "Routes one input to one output, as a click on the routing grid does.",
         true},
        {Command::RouteAll,
         {"route-all"},
         "INPUT",
         {Argument::Input},
         "INPUT to every output (\"All Output\")",
         "Routes one input to every output, as the output configuration's \"All Output\" does.",
         true},
        {Command::PortToPort,
         {"port-to-port"},
         "",
         {},
         "output k from input k",
         "Routes output A from input 1, B from 2, C from 3 and D from 4 (\"Port to Port\").",
         true},
        {Command::Beep,
         {"beep"},
         "on|off",
         {Argument::BeepState},
         "switch the key beep on or off",
         "Asks the matrix for the new beep state and waits for its acknowledgement.",
         true},
        {Command::FactoryReset,
         {"factory-reset"},
         "",
         {},
         "input n to output n, built-in EDID, beep on",
         "Runs the General page's Factory Reset chain.",
         true},
        {Command::EdidStatus,
         {"edid", "status"},
         "",
         {},
         "EDID status text of inputs 1-4",
         "Reads the EDID each input presents, as the EDID tab does when it is shown.",
         true},
        {Command::EdidSet,
         {"edid", "set"},
         "MODE TARGET",
         {Argument::ModeRow, Argument::Target},
         "MODE: row 0-15 of the mode list; TARGET: IN1-IN4 or all",
         "Rows: 0 1080i,Stereo Audio 2.0   1 1080i,Dolby/DTS 5.1   2 1080i,HD Audio 7.1\n"
         "      3 1080p,Stereo Audio 2.0   4 1080p,Dolby/DTS 5.1   5 1080p,HD Audio 7.1\n"
         "      6 3D,Stereo Audio 2.0      7 3D,Dolby/DTS 5.1      8 3D,HD Audio 7.1\n"
         "      9 4K2K,Stereo Audio 2.0   10 4K2K,Dolby/DTS 5.1   11 4K2K,HD Audio 7.1\n"
         "     12 DVI 1024X768           13 DVI 1920X1080         14 DVI 1920X1200\n"
         "     15 Default EDID",
         true},
        {Command::EdidCopy,
         {"edid", "copy"},
         "OUTPUT TARGET",
         {Argument::SourceOutput, Argument::Target},
         "OUTPUT: A-D; TARGET: IN1-IN4 or all",
         "Copies the EDID of the display on OUTPUT to the input(s).",
         true},
        {Command::EdidUpload,
         {"edid", "upload"},
         "FILE TARGET",
         {Argument::File, Argument::Target},
         "a 128- or 256-byte EDID file to IN1-IN4 or all",
         "The file is checked as the EDID page checks it before it is sent.",
         true},
        {Command::FirmwareUpgrade,
         {"firmware", "upgrade"},
         "FILE",
         {Argument::File},
         "upload a firmware file (.fw or .BIN)",
         "Shows a progress bar on a terminal, the \"Messages\" lines otherwise.",
         true},
        {Command::Discover,
         {"discover"},
         "[--seconds S]",
         {},
         "matrices answering a search: IP and MAC",
         "Broadcasts a search on UDP port 30600 and lists the answers for S seconds (default 3).",
         false},
        {Command::NetConfig,
         {"netconfig"},
         "MAC (auto | static ADDRESS) [--new-mac MAC]",
         {},
         "set a matrix's address mode",
         "Addresses the matrix by its MAC (12 hex digits, ':' or '-' allowed) with a broadcast\n"
         "on UDP port 30601. --new-mac gives the matrix a new MAC (default: keep MAC).",
         false},
        {Command::FirmwareMerge,
         {"firmware", "merge"},
         "OUTPUT_DIR --main FILE [--slave FILE] [--ir FILE] [--panel FILE]",
         {Argument::OutputDir},
         "build a firmware file from processor files",
         "Writes Matrix44_mm0.0.fw (main only) or Matrix88_....fw into OUTPUT_DIR.",
         false},
    };
    return table;
}

std::string wordsText(const CommandInfo& info)
{
    std::string text;
    for (const auto& w : info.words)
        text += (text.empty() ? "" : " ") + w;
    return text;
}

std::string commandUsage(const CommandInfo& info)
{
    std::string head = info.needsLink ? "matrixctl (--tcp ADDRESS | --com N) [--json] " : "matrixctl ";
    std::string line = head + wordsText(info);
    if (!info.synopsis.empty())
        line += " " + info.synopsis;
    if (!info.needsLink)
        line += " [--json]";
    return "usage: " + line + "\n";
}

std::string commandHelp(const CommandInfo& info)
{
    return commandUsage(info) + "\n" + info.summary + "\n\n" + info.details + "\n";
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::optional<int> parseIntInRange(const std::string& text, int low, int high)
{
    if (text.empty() || text.size() > 3 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return std::nullopt;
    int value = std::atoi(text.c_str());
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

ParseResult usageError(const std::string& reason, const std::string& usage)
{
    ParseResult r;
    r.kind = ParseResult::Kind::Error;
    r.text = reason;
    r.usage = usage;
    return r;
}

}  // namespace

std::string outputLetter(int output) { return std::string(1, static_cast<char>('A' + output - 1)); }

std::optional<int> parseInputNumber(const std::string& text) { return parseIntInRange(text, 1, 4); }

std::optional<int> parseOutputPort(const std::string& text)
{
    if (text.size() == 1) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        if (c >= 'A' && c <= 'D')
            return c - 'A' + 1;
    }
    return parseIntInRange(text, 1, 4);
}

std::optional<int> parseEdidTarget(const std::string& text)
{
    std::string t = upper(text);
    if (t == "ALL")
        return kAllInputs;
    if (t.size() == 3 && t.rfind("IN", 0) == 0 && t[2] >= '1' && t[2] <= '4')
        return t[2] - '0';
    return std::nullopt;
}

std::optional<std::string> parseMac(const std::string& text)
{
    std::string hex;
    for (char c : text) {
        if (c == ':' || c == '-')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 12)
        return std::nullopt;
    return hex;
}

std::string overallUsage()
{
    return "usage: matrixctl (--tcp ADDRESS | --com N) [--json] COMMAND [ARGUMENTS]\n"
           "       matrixctl discover [--seconds S] [--json]\n"
           "       matrixctl netconfig MAC (auto | static ADDRESS) [--new-mac MAC]\n"
           "       matrixctl firmware merge OUTPUT_DIR --main FILE [--slave FILE] [--ir FILE] [--panel FILE]\n";
}

std::string overallHelp()
{
    std::ostringstream out;
    out << overallUsage() << "\n"
        << "Controls a 4x4 HDMI matrix over TCP (port 8000 of ADDRESS) or a serial port (COM1-COM19).\n\n"
        << "Commands:\n";
    for (const auto& info : commandTable()) {
        std::string left = wordsText(info);
        if (info.command != Command::Discover && info.command != Command::NetConfig &&
            info.command != Command::FirmwareMerge && !info.synopsis.empty())
            left += " " + info.synopsis;
        out << "  " << left;
        if (left.size() < 25)
            out << std::string(25 - left.size(), ' ');
        else
            out << "\n  " << std::string(25, ' ');
        out << info.summary << "\n";
    }
    out << "\nOptions:\n"
        << "  --tcp ADDRESS            the matrix's IPv4 address\n"
        << "  --com N                  serial port COMN (MATRIX_COM_DIR/COMN when that variable is set)\n"
        << "  --json                   one JSON document on standard output\n"
        << "  --help                   this text; COMMAND --help for one command\n\n"
        << "Exit status: 0 success; 1 the matrix answered with a failure or did not answer;\n"
        << "2 bad usage or bad input; 3 the link cannot be opened.\n";
    return out.str();
}

namespace {

// The source of an EDID copy: a display is named by its letter only.
std::optional<int> parseOutputLetter(const std::string& text)
{
    if (text.size() != 1 || std::isdigit(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    return parseOutputPort(text);
}

std::optional<int> parseModeRow(const std::string& text) { return parseIntInRange(text, 0, 15); }

// One positional argument into its field; the reason when it is wrong.
std::optional<std::string> readArgument(Argument argument, const std::string& text, Invocation& inv)
{
    // The numbered ones: how each is read, where it goes, and the words of
    // the reason ("bad <what> '<text>' (<range>)").
    struct Number {
        Argument argument;
        std::optional<int> (*parse)(const std::string&);
        int Invocation::*field;
        const char* what;
        const char* range;
    };
    static const Number kNumbers[] = {
        {Argument::Input, parseInputNumber, &Invocation::input, "input", "1-4"},
        {Argument::Output, parseOutputPort, &Invocation::output, "output", "A-D or 1-4"},
        {Argument::SourceOutput, parseOutputLetter, &Invocation::output, "output", "A-D"},
        {Argument::ModeRow, parseModeRow, &Invocation::modeRow, "mode row", "0-15"},
        {Argument::Target, parseEdidTarget, &Invocation::edidTarget, "target", "IN1-IN4 or all"},
    };
    for (const Number& number : kNumbers) {
        if (number.argument != argument)
            continue;
        const std::optional<int> value = number.parse(text);
        if (!value)
            return std::string("bad ") + number.what + " '" + text + "' (" + number.range + ")";
        inv.*number.field = *value;
        return std::nullopt;
    }
    if (argument == Argument::BeepState) {
        if (text != "on" && text != "off")
            return "beep takes 'on' or 'off', not '" + text + "'";
        inv.beepOn = text == "on";
    }
    if (argument == Argument::File)
        inv.file = text;
    if (argument == Argument::OutputDir)
        inv.outputDir = text;
    return std::nullopt;
}

// Values of the options that only some commands take, as given (a repeated
// option keeps every value).
struct CommandOptions {
    std::vector<std::string> seconds, newMac, mainFile, slaveFile, irFile, panelFile;
};

std::optional<std::string> countArguments(const std::vector<std::string>& rest, std::size_t n)
{
    if (rest.size() < n)
        return "missing arguments";
    if (rest.size() > n)
        return "unexpected argument '" + rest[n] + "'";
    return std::nullopt;
}

// The plain positional arguments of the command, each into its field.
std::optional<std::string> readPositionals(const CommandInfo& info, const std::vector<std::string>& rest,
                                           Invocation& inv)
{
    if (auto e = countArguments(rest, info.arguments.size()))
        return e;
    for (std::size_t i = 0; i < info.arguments.size(); ++i)
        if (auto e = readArgument(info.arguments[i], rest[i], inv))
            return e;
    return std::nullopt;
}

std::optional<std::string> readDiscover(const std::vector<std::string>& rest, const CommandOptions& options,
                                        Invocation& inv)
{
    if (auto e = countArguments(rest, 0))
        return e;
    for (const auto& v : options.seconds) {
        char* end = nullptr;
        double s = std::strtod(v.c_str(), &end);
        if (v.empty() || *end != '\0' || !(s > 0) || s > 3600)
            return "bad --seconds '" + v + "' (a number above 0)";
        inv.seconds = s;
    }
    return std::nullopt;
}

// "auto", or "static ADDRESS", after the MAC.
std::optional<std::string> readAddressMode(const std::vector<std::string>& rest, Invocation& inv)
{
    if (rest[1] == "auto")
        return rest.size() > 2 ? std::optional<std::string>("unexpected argument '" + rest[2] + "'") : std::nullopt;
    if (rest[1] != "static")
        return "give 'auto' or 'static ADDRESS', not '" + rest[1] + "'";
    if (rest.size() < 3)
        return "static needs an ADDRESS";
    if (rest.size() > 3)
        return "unexpected argument '" + rest[3] + "'";
    if (!parseDottedIpv4(rest[2]))
        return "bad IPv4 address '" + rest[2] + "'";
    inv.staticIp = true;
    inv.staticAddress = rest[2];
    return std::nullopt;
}

std::optional<std::string> readNetConfig(const std::vector<std::string>& rest, const CommandOptions& options,
                                         Invocation& inv)
{
    if (rest.size() < 2)
        return "missing arguments";
    auto mac = parseMac(rest[0]);
    if (!mac)
        return "bad MAC '" + rest[0] + "' (12 hex digits)";
    inv.mac = *mac;
    if (auto e = readAddressMode(rest, inv))
        return e;
    for (const auto& v : options.newMac) {
        auto parsedMac = parseMac(v);
        if (!parsedMac)
            return "bad --new-mac '" + v + "' (12 hex digits)";
        inv.newMac = *parsedMac;
    }
    return std::nullopt;
}

std::optional<std::string> readFirmwareMerge(const CommandInfo& info, const std::vector<std::string>& rest,
                                             const CommandOptions& options, Invocation& inv)
{
    if (auto e = readPositionals(info, rest, inv))
        return e;
    // The last of a repeated option counts.
    for (auto [values, into] :
         {std::pair{&options.mainFile, &inv.mainFile}, std::pair{&options.slaveFile, &inv.slaveFile},
          std::pair{&options.irFile, &inv.irFile}, std::pair{&options.panelFile, &inv.panelFile}})
        if (!values->empty())
            *into = values->back();
    if (inv.mainFile.empty())
        return "--main FILE is required";
    return std::nullopt;
}

// The command's own arguments and options into the invocation; the reason
// when they are wrong.
std::optional<std::string> readArguments(const CommandInfo& info, const std::vector<std::string>& rest,
                                         const CommandOptions& options, Invocation& inv)
{
    switch (info.command) {
    case Command::Discover: return readDiscover(rest, options, inv);
    case Command::NetConfig: return readNetConfig(rest, options, inv);
    case Command::FirmwareMerge: return readFirmwareMerge(info, rest, options, inv);
    default: return readPositionals(info, rest, inv);
    }
}

// One parse of a command line: CLI11 subcommands per command word, the link
// and command options taken anywhere on the line and checked against the
// command afterwards, so that a misplaced one gets a reason of ours.
class LineParser {
public:
    explicit LineParser(const std::vector<std::string>& args) : args_(args), whole_(overallUsage()) { buildApp(); }

    ParseResult run()
    {
        if (auto error = parse())
            return *error;
        if (auto error = takeExtras())
            return *error;
        if (auto error = takeComPorts())
            return *error;
        const CommandInfo* info = chosenCommand();
        if (!unknownWords_.empty())
            return unknownCommand();
        if (!info)
            return noCommand();
        if (help_)
            return helpText(commandHelp(*info));
        return readCommand(*info);
    }

private:
    void buildApp()
    {
        app_.set_help_flag();  // our own help texts
        app_.allow_extras();   // unknown words and options are reported in our words
        app_.require_subcommand(0, 1);
        app_.add_flag("-h,--help", help_);
        app_.add_flag("--json", inv_.json);
        for (const auto& [name, values] : valueOptions_)
            app_.add_option(name, *values)
                ->expected(1)
                ->allow_extra_args(false)
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        for (const auto& info : commandTable())
            leaves_[addCommandWords(info)] = &info;
    }

    // The subcommand chain of the command's words, sharing the words it has
    // in common with commands added before; returns the leaf.
    CLI::App* addCommandWords(const CommandInfo& info)
    {
        CLI::App* parent = &app_;
        for (const auto& word : info.words) {
            CLI::App* sub = nullptr;
            for (CLI::App* existing : parent->get_subcommands({}))
                sub = existing->get_name() == word ? existing : sub;
            if (!sub) {
                sub = parent->add_subcommand(word);
                sub->fallthrough();
                sub->allow_extras();
                sub->require_subcommand(0, 1);
            }
            parent = sub;
        }
        parent->add_option("arguments", rest_);
        return parent;
    }

    std::optional<ParseResult> parse()
    {
        try {
            // CLI11 takes the arguments last first.
            std::vector<std::string> reversed(args_.rbegin(), args_.rend());
            app_.parse(reversed);
        } catch (const CLI::ArgumentMismatch&) {
            // Values are taken whatever they look like, so only an option at
            // the end of the line can lack its value.
            const std::string& last = args_.back();
            if (last == "--tcp")
                return usageError("--tcp needs an address", whole_);
            if (last == "--com")
                return usageError("--com needs a port number", whole_);
            return usageError(last + " needs a value", whole_);
        } catch (const CLI::ParseError& e) {
            return usageError(e.what(), whole_);
        }
        return std::nullopt;
    }

    // Unknown options end the parse as they come; words that name no
    // command are kept for after the command is known.
    std::optional<ParseResult> takeExtras()
    {
        for (const CLI::App* level = &app_; level;) {
            for (const auto& extra : level->remaining()) {
                if (extra.size() > 1 && extra[0] == '-' && !std::isdigit(static_cast<unsigned char>(extra[1])))
                    return usageError("unknown option '" + extra + "'", whole_);
                unknownWords_.push_back(extra);
            }
            auto parsed = level->get_subcommands();
            level = parsed.empty() ? nullptr : parsed.front();
        }
        return std::nullopt;
    }

    std::optional<ParseResult> takeComPorts()
    {
        for (const auto& value : com_) {
            auto port = parseIntInRange(value, 1, 19);
            if (!port)
                return usageError("bad COM port number '" + value + "' (1-19)", whole_);
            inv_.comPort = *port;
            inv_.link = LinkKind::Com;
        }
        if (!tcp_.empty()) {
            inv_.address = tcp_.back();
            inv_.link = LinkKind::Tcp;
        }
        return std::nullopt;
    }

    // The command chosen: the deepest subcommand given.
    const CommandInfo* chosenCommand()
    {
        const CLI::App* chosen = nullptr;
        for (const CLI::App* level = &app_;;) {
            auto parsed = level->get_subcommands();
            if (parsed.empty())
                break;
            chosen = parsed.front();
            words_.push_back(chosen->get_name());
            level = chosen;
        }
        auto leaf = leaves_.find(chosen);
        return leaf == leaves_.end() ? nullptr : leaf->second;
    }

    // A word before the command names no command; one after "edid" or
    // "firmware" names no subcommand of it.
    ParseResult unknownCommand() const
    {
        auto at = [&](const std::string& word) { return std::find(args_.begin(), args_.end(), word) - args_.begin(); };
        if (words_.empty() || at(unknownWords_.front()) < at(words_.front()))
            return usageError("unknown command '" + unknownWords_.front() + "'", whole_);
        return usageError("unknown command '" + words_.front() + " " + unknownWords_.front() + "'", whole_);
    }

    ParseResult noCommand() const
    {
        if (help_)
            return helpText(overallHelp());
        if (words_.empty())
            return usageError("no command given", whole_);
        return usageError("'" + words_.front() + "' needs a subcommand", whole_);
    }

    static ParseResult helpText(std::string text)
    {
        ParseResult r;
        r.kind = ParseResult::Kind::Help;
        r.text = std::move(text);
        return r;
    }

    ParseResult readCommand(const CommandInfo& info)
    {
        const std::string usage = commandUsage(info);
        inv_.command = info.command;
        if (auto reason = optionsMisplaced(info))
            return usageError(*reason, usage);
        if (auto reason = readArguments(info, rest_, options_, inv_))
            return usageError(*reason, usage);
        ParseResult r;
        r.kind = ParseResult::Kind::Run;
        r.invocation = inv_;
        return r;
    }

    // The link options the command needs or refuses, and the command
    // options given to a command that takes none of them.
    std::optional<std::string> optionsMisplaced(const CommandInfo& info) const
    {
        const std::size_t linkOptions = tcp_.size() + com_.size();
        if (info.needsLink) {
            if (linkOptions == 0)
                return "give --tcp ADDRESS or --com N";
            if (linkOptions > 1)
                return "give only one of --tcp and --com";
            if (inv_.link == LinkKind::Tcp && !parseDottedIpv4(inv_.address))
                return "bad IPv4 address '" + inv_.address + "'";
        } else if (linkOptions > 0) {
            return "'" + wordsText(info) + "' takes no --tcp or --com";
        }
        for (const auto& [name, values] : valueOptions_) {
            bool allowed = name == "--tcp" || name == "--com" ||
                           (name == "--seconds" && info.command == Command::Discover) ||
                           (name == "--new-mac" && info.command == Command::NetConfig) ||
                           (name != "--seconds" && name != "--new-mac" && info.command == Command::FirmwareMerge);
            if (!values->empty() && !allowed)
                return "'" + wordsText(info) + "' takes no " + name;
        }
        return std::nullopt;
    }

    const std::vector<std::string>& args_;
    const std::string whole_;
    CLI::App app_;
    bool help_ = false;
    Invocation inv_;
    std::vector<std::string> tcp_, com_;
    CommandOptions options_;
    const std::vector<std::pair<std::string, std::vector<std::string>*>> valueOptions_ = {
        {"--tcp", &tcp_},
        {"--com", &com_},
        {"--seconds", &options_.seconds},
        {"--new-mac", &options_.newMac},
        {"--main", &options_.mainFile},
        {"--slave", &options_.slaveFile},
        {"--ir", &options_.irFile},
        {"--panel", &options_.panelFile},
    };
    std::map<const CLI::App*, const CommandInfo*> leaves_;
    std::vector<std::string> rest_;
    std::vector<std::string> unknownWords_;
    std::vector<std::string> words_;
};

}  // namespace

ParseResult parseCommandLine(const std::vector<std::string>& args) { return LineParser(args).run(); }

}  // namespace matrix::cli
