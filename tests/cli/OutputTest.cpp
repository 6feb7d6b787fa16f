// SPDX-License-Identifier: Apache-2.0
#include "cli/ProgressLine.h"
#include "cli/RunResult.h"
#include "cli/TextTable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace matrix::cli {
namespace {

QJsonObject parseJson(const std::string& text)
{
    QJsonParseError error{};
    auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    EXPECT_TRUE(doc.isObject()) << text;
    return doc.object();
}

TEST(RunResult, JsonBytesAsScriptsReadThem)
{
    // Exact documents: scripts may compare them as text, so key order,
    // spacing and escapes are part of the output.
    RunResult fw;
    fw.messages = {"a\"b\\c\r\n\x01\t 请打开串口", "done"};
    fw.outputFile = "/tmp/x.fw";
    RunResult failed = RunResult::failure(ExitCode::LinkFailed, "Connect to Matrix failed!");
    RunResult beep;
    beep.beep = false;
    RunResult status;
    status.cables = {{"IN1", true, true, "HDMI IN1: Connect"}, {"OUTA", false, false, ""}};
    RunResult configured;
    configured.message = "Matrix configuration completed successfully!";
    struct Case {
        Command command;
        const RunResult* result;
        std::string json;
    };
    const std::vector<Case> cases = {
        {Command::FirmwareMerge, &fw,
         "{\"ok\":true,\"file\":\"/tmp/x.fw\",\"messages\":[\"a\\\"b\\\\c\\r\\n\\u0001\\t 请打开串口\",\"done\"]}\n"},
        {Command::Routing, &failed,
         "{\"ok\":false,\"error\":\"Connect to Matrix failed!\",\"exitCode\":3,\"routing\":{}}\n"},
        {Command::Beep, &beep, "{\"ok\":true,\"beep\":false}\n"},
        {Command::Beep, &configured,
         "{\"ok\":true,\"message\":\"Matrix configuration completed successfully!\",\"beep\":null}\n"},
        {Command::Status, &status,
         "{\"ok\":true,\"inputs\":[{\"port\":\"1\",\"connected\":true,\"text\":\"HDMI IN1: Connect\"}],"
         "\"outputs\":[{\"port\":\"A\",\"connected\":null,\"text\":\"\"}]}\n"},
        {Command::NetConfig, &configured,
         "{\"ok\":true,\"message\":\"Matrix configuration completed successfully!\"}\n"},
        {Command::Discover, &failed,
         "{\"ok\":false,\"error\":\"Connect to Matrix failed!\",\"exitCode\":3,\"matrices\":[]}\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(renderJson(c.command, *c.result), c.json);
}

TEST(TextTable, ColumnsAlignOnTheWidestCell)
{
    TextTable t({"INPUT", "EDID"});
    t.addRow({"IN1", "1080p,Stereo Audio 2.0"});
    t.addRow({"IN10", "User define"});
    EXPECT_EQ(t.render(), "INPUT  EDID\n"
                          "IN1    1080p,Stereo Audio 2.0\n"
                          "IN10   User define\n");
}

TEST(ProgressLine, PercentBytesAndTimeLeft)
{
    EXPECT_EQ(formatProgressLine(0, 1000, 0, 10), "[..........]   0%  0/1000 bytes");
    // Half done after 4 s: 4 s left.
    EXPECT_EQ(formatProgressLine(500, 1000, 4000, 10), "[#####.....]  50%  500/1000 bytes  0:04 left");
    EXPECT_EQ(formatProgressLine(1000, 1000, 9000, 10), "[##########] 100%  1000/1000 bytes  0:00 left");
    // Out-of-range positions are clamped, an empty range shows nothing done.
    EXPECT_EQ(formatProgressLine(1200, 1000, 1000, 4), "[####] 100%  1000/1000 bytes  0:00 left");
    EXPECT_EQ(formatProgressLine(5, 0, 1000, 4), "[....]   0%  0/0 bytes");
    EXPECT_EQ(formatDuration(3725), "1:02:05");
    EXPECT_EQ(formatDuration(65), "1:05");
}

TEST(RunResult, StatusAsTableAndJson)
{
    RunResult r;
    r.cables = {{"IN1", true, true, "HDMI IN1: Connect"},
                {"IN2", true, false, "HDMI IN2: Disconnect"},
                {"OUTA", true, true, "HDMI OUTA: Connect"},
                {"OUTB", false, false, ""}};
    EXPECT_EQ(renderText(Command::Status, r), "PORT  CABLE\n"
                                              "IN1   Connect\n"
                                              "IN2   Disconnect\n"
                                              "OUTA  Connect\n"
                                              "OUTB  ?\n");
    auto o = parseJson(renderJson(Command::Status, r));
    EXPECT_TRUE(o["ok"].toBool());
    auto inputs = o["inputs"].toArray();
    ASSERT_EQ(inputs.size(), 2);
    EXPECT_EQ(inputs[0].toObject()["port"].toString(), "1");
    EXPECT_TRUE(inputs[0].toObject()["connected"].toBool());
    EXPECT_EQ(inputs[1].toObject()["text"].toString(), "HDMI IN2: Disconnect");
    auto outputs = o["outputs"].toArray();
    ASSERT_EQ(outputs.size(), 2);
    EXPECT_EQ(outputs[0].toObject()["port"].toString(), "A");
    EXPECT_TRUE(outputs[1].toObject()["connected"].isNull());
}

TEST(RunResult, FailuresCarryTheProgramsTextAndExitCode)
{
    auto r = RunResult::failure(ExitCode::MatrixFailed, "Time out!");
    EXPECT_EQ(renderText(Command::Routing, r), "");
    auto o = parseJson(renderJson(Command::Routing, r));
    EXPECT_FALSE(o["ok"].toBool());
    EXPECT_EQ(o["error"].toString(), "Time out!");
    EXPECT_EQ(o["exitCode"].toInt(), 1);
}

TEST(RunResult, RoutingEdidAndDiscoveryShapes)
{
    RunResult r;
    r.routes = {{1, 2}, {2, 2}, {3, 3}, {4, 1}};
    EXPECT_EQ(renderText(Command::Route, r), "OUTPUT  INPUT\nA       2\nB       2\nC       3\nD       1\n");
    auto o = parseJson(renderJson(Command::Routing, r));
    EXPECT_EQ(o["routing"].toObject()["D"].toInt(), 1);

    RunResult e;
    e.message = "Set successfully!";
    e.edid = {{1, "1080p,Stereo Audio 2.0"}, {2, ""}};
    EXPECT_EQ(renderText(Command::EdidSet, e),
              "Set successfully!\nINPUT  EDID\nIN1    1080p,Stereo Audio 2.0\nIN2    ?\n");
    o = parseJson(renderJson(Command::EdidSet, e));
    EXPECT_EQ(o["message"].toString(), "Set successfully!");
    EXPECT_TRUE(o["edid"].toObject()["IN2"].isNull());

    RunResult d;
    d.matrices = {{"10.0.0.7", "001C9103405A"}};
    EXPECT_EQ(renderText(Command::Discover, d), "IP        MAC\n10.0.0.7  001C9103405A\n");
    o = parseJson(renderJson(Command::Discover, d));
    EXPECT_EQ(o["matrices"].toArray()[0].toObject()["mac"].toString(), "001C9103405A");
}

}  // namespace
}  // namespace matrix::cli
