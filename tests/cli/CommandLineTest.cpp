// SPDX-License-Identifier: Apache-2.0
#include "cli/CommandLine.h"

#include <gtest/gtest.h>

namespace matrix::cli {
namespace {

ParseResult parse(std::vector<std::string> args) { return parseCommandLine(args); }

TEST(CommandLine, RunsCarryTheirArguments)
{
    auto r = parse({"--tcp", "127.0.0.31", "route", "2", "b"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.text;
    EXPECT_EQ(r.invocation.command, Command::Route);
    EXPECT_EQ(r.invocation.link, LinkKind::Tcp);
    EXPECT_EQ(r.invocation.address, "127.0.0.31");
    EXPECT_EQ(r.invocation.input, 2);
    EXPECT_EQ(r.invocation.output, 2);
    EXPECT_FALSE(r.invocation.json);

    r = parse({"--com", "7", "--json", "edid", "set", "15", "all"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.text;
    EXPECT_EQ(r.invocation.command, Command::EdidSet);
    EXPECT_EQ(r.invocation.comPort, 7);
    EXPECT_TRUE(r.invocation.json);
    EXPECT_EQ(r.invocation.modeRow, 15);
    EXPECT_EQ(r.invocation.edidTarget, kAllInputs);

    r = parse({"edid", "copy", "D", "IN3", "--tcp", "10.0.0.2"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.text;
    EXPECT_EQ(r.invocation.output, 4);
    EXPECT_EQ(r.invocation.edidTarget, 3);

    r = parse({"--tcp", "10.0.0.2", "beep", "off"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run);
    EXPECT_FALSE(r.invocation.beepOn);

    r = parse({"netconfig", "00:1c:91:03:40:5a", "static", "192.168.1.50", "--new-mac", "00-1C-91-03-40-5B"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.text;
    EXPECT_EQ(r.invocation.mac, "001C9103405A");
    EXPECT_TRUE(r.invocation.staticIp);
    EXPECT_EQ(r.invocation.staticAddress, "192.168.1.50");
    EXPECT_EQ(r.invocation.newMac.value_or(""), "001C9103405B");

    r = parse({"discover", "--seconds", "0.5", "--json"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.text;
    EXPECT_DOUBLE_EQ(r.invocation.seconds, 0.5);

    r = parse({"firmware", "merge", "/tmp/out", "--main", "m.bin", "--ir", "ir.bin"});
    ASSERT_EQ(r.kind, ParseResult::Kind::Run) << r.text;
    EXPECT_EQ(r.invocation.command, Command::FirmwareMerge);
    EXPECT_EQ(r.invocation.irFile, "ir.bin");
    EXPECT_TRUE(r.invocation.slaveFile.empty());
}

TEST(CommandLine, BadUsageGivesOneLineReasonAndTheUsage)
{
    struct Case {
        std::vector<std::string> args;
        std::string reasonPart;
    };
    const std::vector<Case> cases = {
        {{}, "no command"},
        {{"--tcp", "127.0.0.1", "rout", "1", "A"}, "unknown command 'rout'"},
        {{"status"}, "--tcp ADDRESS or --com N"},
        {{"--tcp", "1.2.3.4", "--com", "3", "status"}, "only one"},
        {{"--tcp", "1.2.3", "status"}, "bad IPv4"},
        {{"--tcp", "255.255.255.255", "status"}, "bad IPv4"},
        {{"--com", "20", "status"}, "bad COM port"},
        {{"--com", "0", "status"}, "bad COM port"},
        {{"--tcp", "1.2.3.4", "route", "5", "A"}, "bad input '5'"},
        {{"--tcp", "1.2.3.4", "route", "1", "E"}, "bad output 'E'"},
        {{"--tcp", "1.2.3.4", "route", "1"}, "missing arguments"},
        {{"--tcp", "1.2.3.4", "route-all", "0"}, "bad input"},
        {{"--tcp", "1.2.3.4", "status", "extra"}, "unexpected argument 'extra'"},
        {{"--tcp", "1.2.3.4", "beep", "loud"}, "'on' or 'off'"},
        {{"--tcp", "1.2.3.4", "edid", "set", "16", "IN1"}, "bad mode row '16'"},
        {{"--tcp", "1.2.3.4", "edid", "set", "3", "IN5"}, "bad target 'IN5'"},
        {{"--tcp", "1.2.3.4", "edid", "copy", "1", "IN1"}, "bad output '1'"},
        {{"--tcp", "1.2.3.4", "edid"}, "needs a subcommand"},
        {{"--tcp", "1.2.3.4", "edid", "read"}, "unknown command 'edid read'"},
        {{"--tcp", "1.2.3.4", "--verbose", "status"}, "unknown option '--verbose'"},
        {{"--tcp", "1.2.3.4", "discover"}, "takes no --tcp"},
        {{"discover", "--seconds", "-1"}, "bad --seconds"},
        {{"discover", "--seconds", "abc"}, "bad --seconds"},
        {{"--tcp", "1.2.3.4", "status", "--seconds", "2"}, "takes no --seconds"},
        {{"netconfig", "001C9103405", "auto"}, "bad MAC"},
        {{"netconfig", "001C9103405A", "dhcp"}, "'auto' or 'static ADDRESS'"},
        {{"netconfig", "001C9103405A", "static"}, "static needs an ADDRESS"},
        {{"netconfig", "001C9103405A", "static", "300.1.1.1"}, "bad IPv4"},
        {{"netconfig", "001C9103405A", "auto", "--new-mac", "zz"}, "bad --new-mac"},
        {{"firmware", "merge", "/tmp"}, "--main FILE is required"},
        {{"--tcp"}, "--tcp needs an address"},
    };
    for (const auto& c : cases) {
        auto r = parse(c.args);
        ASSERT_EQ(r.kind, ParseResult::Kind::Error) << c.reasonPart;
        EXPECT_NE(r.text.find(c.reasonPart), std::string::npos) << "reason: " << r.text;
        EXPECT_EQ(r.text.find('\n'), std::string::npos) << r.text;
        EXPECT_EQ(r.usage.rfind("usage: matrixctl", 0), 0u) << r.usage;
    }
}

TEST(CommandLine, HelpForTheWholeAndForEachCommand)
{
    auto whole = parse({"--help"});
    ASSERT_EQ(whole.kind, ParseResult::Kind::Help);
    for (const char* word :
         {"status", "routing", "route-all", "port-to-port", "beep on|off", "factory-reset", "edid upload FILE TARGET",
          "firmware upgrade FILE", "discover", "netconfig", "firmware merge", "Exit status"})
        EXPECT_NE(whole.text.find(word), std::string::npos) << word;

    auto one = parse({"--tcp", "1.2.3.4", "route", "--help"});
    ASSERT_EQ(one.kind, ParseResult::Kind::Help);
    EXPECT_NE(one.text.find("route INPUT OUTPUT"), std::string::npos) << one.text;

    // Help wins over missing arguments and a missing link.
    auto edid = parse({"edid", "set", "-h"});
    ASSERT_EQ(edid.kind, ParseResult::Kind::Help);
    EXPECT_NE(edid.text.find("15 Default EDID"), std::string::npos);

    auto merge = parse({"firmware", "merge", "--help"});
    ASSERT_EQ(merge.kind, ParseResult::Kind::Help);
    EXPECT_NE(merge.text.find("--main FILE"), std::string::npos);
}

TEST(CommandLine, ValueParsers)
{
    EXPECT_EQ(parseOutputPort("a"), 1);
    EXPECT_EQ(parseOutputPort("D"), 4);
    EXPECT_EQ(parseOutputPort("3"), 3);
    EXPECT_FALSE(parseOutputPort("AB"));
    EXPECT_FALSE(parseOutputPort("0"));
    EXPECT_EQ(parseEdidTarget("in2"), 2);
    EXPECT_EQ(parseEdidTarget("ALL"), kAllInputs);
    EXPECT_FALSE(parseEdidTarget("IN0"));
    EXPECT_FALSE(parseEdidTarget("IN12"));
    EXPECT_FALSE(parseInputNumber("01x"));
    EXPECT_FALSE(parseInputNumber(""));
    EXPECT_EQ(parseMac("ab:cd:ef:01:23:45"), "ABCDEF012345");
    EXPECT_FALSE(parseMac("ab:cd:ef:01:23:4g"));
    EXPECT_FALSE(parseMac("abcdef0123456"));
}

}  // namespace
}  // namespace matrix::cli
