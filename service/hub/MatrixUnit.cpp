// SPDX-License-Identifier: Apache-2.0
#include "service/hub/MatrixUnit.h"

#include "core/pages/edid/EdidModes.h"
#include "service/hub/Hub.h"
#include "service/hub/Log.h"
#include "service/hub/StateStore.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace matrix::service {

namespace {

constexpr int kPollTimerId = 1;

using Json = nlohmann::json;

template <typename T>
Json orNull(const std::optional<T>& value)
{
    return value ? Json(*value) : Json(nullptr);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<int> findName(std::string_view text, const std::array<std::string, client::kPortCount>& names)
{
    for (int i = 0; i < client::kPortCount; ++i)
        if (names[i] == text)
            return i + 1;
    for (int i = 0; i < client::kPortCount; ++i)
        if (equalsIgnoringCase(names[i], text))
            return i + 1;
    return std::nullopt;
}

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char cell[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(cell, sizeof cell, "%02X ", byte);
        text += cell;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

}  // namespace

MatrixUnit::MatrixUnit(Hub& hub, EventLoop& loop, const MatrixConfig& config,
                       std::unique_ptr<client::MatrixClient> client, StateStore* store)
    : hub_(hub), loop_(loop), config_(config), client_(std::move(client)), store_(store)
{
    inputNames_ = config_.inputs;
    outputNames_ = config_.outputs;
    loadState();
    client_->onChange = [this](const client::StateChange& change) { onClientChange(change); };
    client_->onStandby = [this] {
        logLine(id() + ": matrix is in standby");
        publish({{"type", "standby"}});
    };
    client_->onFirmwareProgress = [this](const client::FirmwareProgress& progress) {
        Json event{{"type", "firmware"}, {"done", progress.done}, {"total", progress.total}};
        if (!progress.line.empty())
            event["line"] = progress.line;
        publish(std::move(event));
    };
    client_->onTraffic = [this](bool sent, const std::vector<std::uint8_t>& bytes) {
        if (verbose())
            logLine(id() + (sent ? ": > " : ": < ") + hex(bytes));
    };
}

MatrixUnit::~MatrixUnit()
{
    loop_.killTimer(this, kPollTimerId);
    if (client_) {
        client_->onChange = nullptr;
        client_->onStandby = nullptr;
        client_->onFirmwareProgress = nullptr;
        client_->onTraffic = nullptr;
        // No close() here: its LinkDown callbacks could reach front-ends that
        // are already gone. stop() closes cleanly; the client drops the rest.
    }
}

void MatrixUnit::start()
{
    if (started_)
        return;
    started_ = true;
    client_->open(config_.link, [this](client::Status status) {
        if (status != client::Status::Ok)
            logLine(id() + ": link not up yet (" + client::statusText(status) + "), retrying");
    });
    if (config_.pollSeconds > 0)
        loop_.startTimer(this, kPollTimerId, config_.pollSeconds * 1000, [this] { poll(); });
}

void MatrixUnit::stop()
{
    if (!started_)
        return;
    started_ = false;
    loop_.killTimer(this, kPollTimerId);
    client_->close();
}

const std::string& MatrixUnit::id() const { return config_.id; }
const std::string& MatrixUnit::name() const { return config_.name; }
client::MatrixClient& MatrixUnit::client() { return *client_; }
const client::MatrixState& MatrixUnit::state() const { return client_->state(); }

void MatrixUnit::publish(Json event)
{
    event["matrix"] = id();
    hub_.publish(event);
}

void MatrixUnit::onClientChange(const client::StateChange& change)
{
    const auto& s = state();
    const int n = change.index;
    using Kind = client::StateChange::Kind;
    switch (change.kind) {
    case Kind::Link:
        logLine(id() + ": link " + (s.linkUp ? "up" : "down"));
        publish({{"type", "link"}, {"link", s.linkUp ? "up" : "down"}});
        if (s.linkUp)
            onLinkUp();
        break;
    case Kind::Info:
        publish({{"type", "info"},
              {"model", s.info ? Json(s.info->model()) : Json(nullptr)},
              {"version", s.info ? Json(s.info->version()) : Json(nullptr)}});
        break;
    case Kind::Routing:
        if (n >= 1 && n <= client::kPortCount)
            publish({{"type", "routing"}, {"output", n}, {"input", orNull(s.routing[n - 1])}});
        break;
    case Kind::InputCable:
    case Kind::OutputCable: {
        if (n < 1 || n > client::kPortCount)
            break;
        const bool input = change.kind == Kind::InputCable;
        publish({{"type", "cable"},
              {"port", input ? "input" : "output"},
              {"number", n},
              {"cable", orNull(input ? s.inputCable[n - 1] : s.outputCable[n - 1])}});
        break;
    }
    case Kind::Beep:
        publish({{"type", "beep"}, {"on", orNull(s.beepOn)}});
        break;
    case Kind::Edid:
        if (n >= 1 && n <= client::kPortCount && s.edidCode[n - 1])
            publish({{"type", "edid"},
                  {"input", n},
                  {"code", *s.edidCode[n - 1]},
                  {"text", edid::statusText(static_cast<std::int8_t>(*s.edidCode[n - 1]))}});
        break;
    }
}

void MatrixUnit::onLinkUp()
{
    // The client reads info, routing, cables and beep again itself; the
    // EDID status is the service's own addition to what it shows.
    client_->readEdidStatus([](const auto&) {});
}

void MatrixUnit::poll()
{
    // Requests of users go first: a poll only fills an idle link.
    if (!client_->linkUp() || client_->firmwareRunning() || client_->queuedRequests() > 0)
        return;
    client_->refresh();
}

std::string MatrixUnit::inputName(int input) const
{
    return input >= 1 && input <= client::kPortCount ? inputNames_[input - 1] : std::string();
}

std::string MatrixUnit::outputName(int output) const
{
    return output >= 1 && output <= client::kPortCount ? outputNames_[output - 1] : std::string();
}

bool MatrixUnit::renameInput(int input, const std::string& name) { return renamePorts(true, {{input, name}}); }

bool MatrixUnit::renameOutput(int output, const std::string& name) { return renamePorts(false, {{output, name}}); }

bool MatrixUnit::renamePorts(bool inputs, const PortRenames& renames)
{
    PortNames& names = inputs ? inputNames_ : outputNames_;
    const PortNames previous = names;
    for (const auto& [port, name] : renames)
        if (port >= 1 && port <= client::kPortCount)
            names[port - 1] = name;
    if (!persist()) {
        names = previous;
        return false;
    }
    publish({{"type", "names"}, {"inputs", inputNames_}, {"outputs", outputNames_}});
    return true;
}

std::optional<int> MatrixUnit::findInput(std::string_view text) const
{
    if (text.size() == 1 && text[0] >= '1' && text[0] < '1' + client::kPortCount)
        return text[0] - '0';
    return findName(text, inputNames_);
}

std::optional<int> MatrixUnit::findOutput(std::string_view text) const
{
    if (text.size() == 1) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        if (c >= '1' && c < '1' + client::kPortCount)
            return c - '0';
        if (c >= 'A' && c < 'A' + client::kPortCount)
            return c - 'A' + 1;
    }
    return findName(text, outputNames_);
}

void MatrixUnit::route(int output, int input, LockOwner who, std::function<void(client::Status, RouteRefusal)> done)
{
    if (output >= 1 && output <= client::kPortCount && locks_[output - 1] != 0 && locks_[output - 1] != who) {
        done(client::Status::Rejected, RouteRefusal::Locked);
        return;
    }
    client_->route(output, input, [done = std::move(done)](const client::Result<client::Nothing>& result) {
        done(result.status, RouteRefusal::None);
    });
}

LockOwner MatrixUnit::lockOwner(int output) const
{
    return output >= 1 && output <= client::kPortCount ? locks_[output - 1] : 0;
}

void MatrixUnit::setLock(int output, LockOwner owner)
{
    if (output < 1 || output > client::kPortCount || locks_[output - 1] == owner)
        return;
    locks_[output - 1] = owner;
    publish({{"type", "lock"}, {"output", output}, {"locked", owner != 0}, {"owner", owner}});
}

void MatrixUnit::releaseLocks(LockOwner owner)
{
    if (owner == 0)
        return;
    for (int output = 1; output <= client::kPortCount; ++output)
        if (locks_[output - 1] == owner)
            setLock(output, 0);
}

std::vector<std::string> MatrixUnit::sceneNames() const
{
    std::vector<std::string> names;
    for (const auto& [name, routing] : scenes_)
        names.push_back(name);
    return names;
}

std::optional<SceneRouting> MatrixUnit::scene(const std::string& name) const
{
    const auto it = scenes_.find(name);
    return it == scenes_.end() ? std::nullopt : std::optional<SceneRouting>(it->second);
}

bool MatrixUnit::sceneLimitReached(const std::string& name) const
{
    return scenes_.size() >= kMaxScenes && scenes_.count(name) == 0;
}

bool MatrixUnit::saveScene(const std::string& name, const SceneRouting& routing)
{
    if (sceneLimitReached(name))
        return false;
    const auto previous = scene(name);
    scenes_[name] = routing;
    if (!persist()) {
        if (previous)
            scenes_[name] = *previous;
        else
            scenes_.erase(name);
        return false;
    }
    publish({{"type", "scenes"}, {"scenes", sceneNames()}});
    return true;
}

bool MatrixUnit::deleteScene(const std::string& name)
{
    const auto it = scenes_.find(name);
    if (it == scenes_.end())
        return false;
    const SceneRouting previous = it->second;
    scenes_.erase(it);
    if (!persist()) {
        scenes_[name] = previous;
        return false;
    }
    publish({{"type", "scenes"}, {"scenes", sceneNames()}});
    return true;
}

void MatrixUnit::recallScene(const std::string& name, LockOwner who,
                             std::function<void(client::Status, RouteRefusal)> done)
{
    const auto routing = scene(name);
    if (!routing) {
        done(client::Status::BadInput, RouteRefusal::None);
        return;
    }
    // All or nothing as far as locks go: a scene that would stop half-way at
    // a locked output sends nothing at all.
    for (int output = 1; output <= client::kPortCount; ++output)
        if ((*routing)[output - 1] != 0 && locks_[output - 1] != 0 && locks_[output - 1] != who) {
            done(client::Status::Rejected, RouteRefusal::Locked);
            return;
        }
    recallStep(std::make_shared<SceneRouting>(*routing), 1, who, std::move(done));
}

void MatrixUnit::recallStep(std::shared_ptr<SceneRouting> routing, int output, LockOwner who,
                            std::function<void(client::Status, RouteRefusal)> done)
{
    while (output <= client::kPortCount && (*routing)[output - 1] == 0)
        ++output;
    if (output > client::kPortCount) {
        done(client::Status::Ok, RouteRefusal::None);
        return;
    }
    route(output, (*routing)[output - 1], who,
          [this, routing, output, who, done = std::move(done)](client::Status status, RouteRefusal refusal) mutable {
              if (status != client::Status::Ok) {
                  done(status, refusal);
                  return;
              }
              recallStep(routing, output + 1, who, std::move(done));
          });
}

void MatrixUnit::loadState()
{
    if (!store_)
        return;
    const Json& section = store_->matrix(id());
    auto loadNames = [&](const char* key, std::array<std::string, client::kPortCount>& names) {
        const auto it = section.find(key);
        if (it == section.end() || !it->is_array() || it->size() != client::kPortCount)
            return;
        for (int i = 0; i < client::kPortCount; ++i)
            if ((*it)[i].is_string() && !(*it)[i].get<std::string>().empty())
                names[i] = (*it)[i].get<std::string>();
    };
    loadNames("inputs", inputNames_);
    loadNames("outputs", outputNames_);
    const auto scenes = section.find("scenes");
    if (scenes == section.end() || !scenes->is_object())
        return;
    for (const auto& [name, value] : scenes->items()) {
        if (!value.is_array() || value.size() != client::kPortCount)
            continue;
        SceneRouting routing{};
        bool valid = true;
        for (int i = 0; i < client::kPortCount; ++i) {
            valid = valid && value[i].is_number_integer() && value[i].get<int>() >= 0 &&
                    value[i].get<int>() <= client::kPortCount;
            if (valid)
                routing[i] = value[i].get<int>();
        }
        if (valid)
            scenes_[name] = routing;
    }
}

bool MatrixUnit::persist()
{
    if (!store_)
        return true;
    Json& section = store_->matrix(id());
    if (inputNames_ != config_.inputs)
        section["inputs"] = inputNames_;
    else
        section.erase("inputs");
    if (outputNames_ != config_.outputs)
        section["outputs"] = outputNames_;
    else
        section.erase("outputs");
    Json scenes = Json::object();
    for (const auto& [name, routing] : scenes_)
        scenes[name] = routing;
    section["scenes"] = std::move(scenes);
    std::string error;
    if (!store_->save(&error)) {
        logLine(id() + ": " + error);
        return false;
    }
    return true;
}

Json MatrixUnit::outputJson(int output) const
{
    const auto& s = state();
    return {{"number", output},
            {"letter", std::string(1, static_cast<char>('A' + output - 1))},
            {"name", outputName(output)},
            {"cable", orNull(s.outputCable[output - 1])},
            {"input", orNull(s.routing[output - 1])},
            {"locked", locks_[output - 1] != 0}};
}

Json MatrixUnit::routingJson() const
{
    Json routing = Json::object();
    for (int output = 1; output <= client::kPortCount; ++output)
        routing[std::string(1, static_cast<char>('A' + output - 1))] = orNull(state().routing[output - 1]);
    return routing;
}

Json MatrixUnit::summaryJson() const
{
    return {{"id", id()}, {"name", name()}, {"link", state().linkUp ? "up" : "down"}};
}

Json MatrixUnit::toJson() const
{
    const auto& s = state();
    Json result = summaryJson();
    result["model"] = s.info ? Json(s.info->model()) : Json(nullptr);
    result["version"] = s.info ? Json(s.info->version()) : Json(nullptr);
    result["beep"] = orNull(s.beepOn);
    result["firmware_running"] = client_->firmwareRunning();
    Json inputs = Json::array();
    Json outputs = Json::array();
    Json edidRows = Json::array();
    for (int n = 1; n <= client::kPortCount; ++n) {
        inputs.push_back({{"number", n}, {"name", inputName(n)}, {"cable", orNull(s.inputCable[n - 1])}});
        outputs.push_back(outputJson(n));
        const auto code = s.edidCode[n - 1];
        edidRows.push_back({{"input", n},
                        {"code", orNull(code)},
                        {"text", code ? Json(edid::statusText(static_cast<std::int8_t>(*code))) : Json(nullptr)}});
    }
    result["inputs"] = std::move(inputs);
    result["outputs"] = std::move(outputs);
    result["edid"] = std::move(edidRows);
    result["scenes"] = sceneNames();
    return result;
}

}  // namespace matrix::service
