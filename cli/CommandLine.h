// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace matrix::cli {

enum class Command {
    Status,
    Routing,
    Route,
    RouteAll,
    PortToPort,
    Beep,
    FactoryReset,
    EdidStatus,
    EdidSet,
    EdidCopy,
    EdidUpload,
    FirmwareUpgrade,
    FirmwareMerge,
    Discover,
    NetConfig,
};

enum class LinkKind { None, Tcp, Com };

// Targets of the EDID rows: input 1..4, or all inputs.
constexpr int kAllInputs = 0;  // Input::All

// One parsed command line. Only the fields of the chosen command are set.
struct Invocation {
    Command command = Command::Status;
    LinkKind link = LinkKind::None;
    std::string address;  // --tcp
    int comPort = 0;      // --com
    bool json = false;

    int input = 0;   // route, route-all: 1..4
    int output = 0;  // route: 1..4; edid copy: source output 1..4
    bool beepOn = false;
    int modeRow = 0;     // edid set: 0..15
    int edidTarget = 0;  // 1..4, or kAllInputs
    std::string file;    // edid upload, firmware upgrade

    double seconds = 3.0;  // discover
    std::string mac;       // netconfig: 12 upper-case hex digits
    bool staticIp = false;
    std::string staticAddress;
    std::optional<std::string> newMac;

    std::string outputDir;  // firmware merge
    std::string mainFile, slaveFile, irFile, panelFile;
};

// What the command line asks for: a run, a help text, or a usage error.
struct ParseResult {
    enum class Kind { Run, Help, Error } kind = Kind::Error;
    Invocation invocation;
    std::string text;   // Help: the help text; Error: the one-line reason
    std::string usage;  // Error: the usage of the command concerned (or the whole)
};

ParseResult parseCommandLine(const std::vector<std::string>& args);

// Texts of --help.
std::string overallUsage();
std::string overallHelp();

// Parsers of single values, shared with the tests. Empty on bad input.
std::optional<int> parseInputNumber(const std::string& text);  // 1..4
std::optional<int> parseOutputPort(const std::string& text);   // A-D or 1-4 -> 1..4
std::optional<int> parseEdidTarget(const std::string& text);   // IN1..IN4 -> 1..4, all -> kAllInputs
std::optional<std::string> parseMac(const std::string& text);  // 12 hex digits, ':' or '-' allowed

// "A" for output 1.
std::string outputLetter(int output);

}  // namespace matrix::cli
