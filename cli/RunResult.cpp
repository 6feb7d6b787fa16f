// SPDX-License-Identifier: Apache-2.0
#include "cli/RunResult.h"

#include "cli/JsonWriter.h"
#include "cli/TextTable.h"

namespace matrix::cli {

namespace {

std::string routesTable(const RunResult& r)
{
    TextTable table({"OUTPUT", "INPUT"});
    for (const auto& route : r.routes)
        table.addRow({outputLetter(route.output), std::to_string(route.input)});
    return table.render();
}

}  // namespace

std::string renderText(Command command, const RunResult& r)
{
    std::string out;
    switch (command) {
    case Command::Status: {
        if (r.cables.empty())
            break;
        TextTable table({"PORT", "CABLE"});
        for (const auto& c : r.cables)
            table.addRow({c.port, c.known ? (c.connected ? "Connect" : "Disconnect") : "?"});
        out = table.render();
        break;
    }
    case Command::Routing:
    case Command::Route:
    case Command::RouteAll:
    case Command::PortToPort:
        if (!r.routes.empty())
            out = routesTable(r);
        break;
    case Command::Beep:
        if (r.beep)
            out = std::string("Beep: ") + (*r.beep ? "on" : "off") + "\n";
        break;
    case Command::EdidStatus:
    case Command::EdidSet:
    case Command::EdidCopy:
    case Command::EdidUpload: {
        if (!r.message.empty())
            out += r.message + "\n";
        bool any = false;
        for (const auto& e : r.edid)
            any = any || !e.status.empty();
        if (any) {
            TextTable table({"INPUT", "EDID"});
            for (const auto& e : r.edid)
                table.addRow({"IN" + std::to_string(e.input), e.status.empty() ? "?" : e.status});
            out += table.render();
        }
        return out;
    }
    case Command::FirmwareUpgrade:
    case Command::FirmwareMerge:
        for (const auto& line : r.messages)
            out += line + "\n";
        return out;
    case Command::Discover: {
        if (r.exit != ExitCode::Success)
            break;
        TextTable table({"IP", "MAC"});
        for (const auto& m : r.matrices)
            table.addRow({m.ip, m.mac});
        out = table.render();
        break;
    }
    case Command::FactoryReset:
    case Command::NetConfig:
        break;
    }
    if (out.empty() && !r.message.empty())
        out = r.message + "\n";
    return out;
}

std::string renderJson(Command command, const RunResult& r)
{
    JsonWriter j;
    j.beginObject();
    j.field("ok", r.exit == ExitCode::Success);
    if (r.exit != ExitCode::Success) {
        j.field("error", r.error);
        j.field("exitCode", static_cast<int>(r.exit));
    }
    if (!r.message.empty())
        j.field("message", r.message);
    switch (command) {
    case Command::Status:
        j.key("inputs").beginArray();
        for (const auto& c : r.cables) {
            if (c.port.rfind("IN", 0) != 0)
                continue;
            j.beginObject().field("port", c.port.substr(2));
            j.key("connected");
            c.known ? j.value(c.connected) : j.null();
            j.field("text", c.text).endObject();
        }
        j.endArray();
        j.key("outputs").beginArray();
        for (const auto& c : r.cables) {
            if (c.port.rfind("OUT", 0) != 0)
                continue;
            j.beginObject().field("port", c.port.substr(3));
            j.key("connected");
            c.known ? j.value(c.connected) : j.null();
            j.field("text", c.text).endObject();
        }
        j.endArray();
        break;
    case Command::Routing:
    case Command::Route:
    case Command::RouteAll:
    case Command::PortToPort:
        j.key("routing").beginObject();
        for (const auto& route : r.routes)
            j.field(outputLetter(route.output), route.input);
        j.endObject();
        break;
    case Command::Beep:
        j.key("beep");
        r.beep ? j.value(*r.beep) : j.null();
        break;
    case Command::EdidStatus:
    case Command::EdidSet:
    case Command::EdidCopy:
    case Command::EdidUpload:
        j.key("edid").beginObject();
        for (const auto& e : r.edid) {
            j.key("IN" + std::to_string(e.input));
            e.status.empty() ? j.null() : j.value(e.status);
        }
        j.endObject();
        break;
    case Command::FirmwareUpgrade:
    case Command::FirmwareMerge:
        if (!r.outputFile.empty())
            j.field("file", r.outputFile);
        j.key("messages").beginArray();
        for (const auto& line : r.messages)
            j.value(line);
        j.endArray();
        break;
    case Command::Discover:
        j.key("matrices").beginArray();
        for (const auto& m : r.matrices)
            j.beginObject().field("ip", m.ip).field("mac", m.mac).endObject();
        j.endArray();
        break;
    case Command::FactoryReset:
    case Command::NetConfig:
        break;
    }
    j.endObject();
    return j.text() + "\n";
}

}  // namespace matrix::cli
