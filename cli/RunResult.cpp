// SPDX-License-Identifier: Apache-2.0
#include "cli/RunResult.h"

#include "cli/TextTable.h"

#include <nlohmann/json.hpp>

namespace matrix::cli {

namespace {

std::string routesTable(const RunResult& r)
{
    TextTable table({"OUTPUT", "INPUT"});
    for (const auto& route : r.routes)
        table.addRow({outputLetter(route.output), std::to_string(route.input)});
    return table.render();
}

// What a command's result shows, beyond the message.
enum class Section { Cables, Routing, Beep, Edid, Firmware, Matrices, None };

Section sectionOf(Command command)
{
    switch (command) {
    case Command::Status: return Section::Cables;
    case Command::Routing:
    case Command::Route:
    case Command::RouteAll:
    case Command::PortToPort: return Section::Routing;
    case Command::Beep: return Section::Beep;
    case Command::EdidStatus:
    case Command::EdidSet:
    case Command::EdidCopy:
    case Command::EdidUpload: return Section::Edid;
    case Command::FirmwareUpgrade:
    case Command::FirmwareMerge: return Section::Firmware;
    case Command::Discover: return Section::Matrices;
    case Command::FactoryReset:
    case Command::NetConfig: break;
    }
    return Section::None;
}

std::string statusText(const RunResult& r)
{
    if (r.cables.empty())
        return {};
    TextTable table({"PORT", "CABLE"});
    for (const auto& c : r.cables)
        table.addRow({c.port, c.known ? (c.connected ? "Connect" : "Disconnect") : "?"});
    return table.render();
}

std::string edidText(const RunResult& r)
{
    std::string out;
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

std::string matricesText(const RunResult& r)
{
    if (r.exit != ExitCode::Success)
        return {};
    TextTable table({"IP", "MAC"});
    for (const auto& m : r.matrices)
        table.addRow({m.ip, m.mac});
    return table.render();
}

// Ordered: scripts and people read the keys in the order they were written.
using Json = nlohmann::ordered_json;

Json cablesJson(const RunResult& r, const std::string& prefix)
{
    Json list = Json::array();
    for (const auto& c : r.cables) {
        if (c.port.rfind(prefix, 0) != 0)
            continue;
        list.push_back({{"port", c.port.substr(prefix.size())},
                        {"connected", c.known ? Json(c.connected) : Json(nullptr)},
                        {"text", c.text}});
    }
    return list;
}

// The command's own keys.
void addCommandJson(Command command, const RunResult& r, Json& j)
{
    switch (sectionOf(command)) {
    case Section::Cables:
        j["inputs"] = cablesJson(r, "IN");
        j["outputs"] = cablesJson(r, "OUT");
        break;
    case Section::Routing:
        j["routing"] = Json::object();
        for (const auto& route : r.routes)
            j["routing"][outputLetter(route.output)] = route.input;
        break;
    case Section::Beep: j["beep"] = r.beep ? Json(*r.beep) : Json(nullptr); break;
    case Section::Edid:
        j["edid"] = Json::object();
        for (const auto& e : r.edid)
            j["edid"]["IN" + std::to_string(e.input)] = e.status.empty() ? Json(nullptr) : Json(e.status);
        break;
    case Section::Firmware:
        if (!r.outputFile.empty())
            j["file"] = r.outputFile;
        j["messages"] = r.messages;
        break;
    case Section::Matrices:
        j["matrices"] = Json::array();
        for (const auto& m : r.matrices)
            j["matrices"].push_back({{"ip", m.ip}, {"mac", m.mac}});
        break;
    case Section::None: break;
    }
}

}  // namespace

std::string renderText(Command command, const RunResult& r)
{
    std::string out;
    switch (sectionOf(command)) {
    case Section::Cables: out = statusText(r); break;
    case Section::Routing:
        if (!r.routes.empty())
            out = routesTable(r);
        break;
    case Section::Beep:
        if (r.beep)
            out = std::string("Beep: ") + (*r.beep ? "on" : "off") + "\n";
        break;
    case Section::Edid: return edidText(r);
    case Section::Firmware:
        for (const auto& line : r.messages)
            out += line + "\n";
        return out;
    case Section::Matrices: out = matricesText(r); break;
    case Section::None: break;
    }
    if (out.empty() && !r.message.empty())
        out = r.message + "\n";
    return out;
}

std::string renderJson(Command command, const RunResult& r)
{
    Json j = Json::object();
    j["ok"] = r.exit == ExitCode::Success;
    if (r.exit != ExitCode::Success) {
        j["error"] = r.error;
        j["exitCode"] = static_cast<int>(r.exit);
    }
    if (!r.message.empty())
        j["message"] = r.message;
    addCommandJson(command, r, j);
    // A file name need not be UTF-8; a stray byte becomes U+FFFD rather
    // than an exception or a document no parser accepts.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace matrix::cli
