// SPDX-License-Identifier: Apache-2.0
#include "service/mqtt/MqttMapping.h"

#include "service/hub/EventJson.h"

#include <algorithm>
#include <cctype>

namespace matrix::service {

namespace {

using nlohmann::json;

constexpr const char* kManufacturer = "Generic";
constexpr const char* kModelFallback = "4x4 HDMI matrix";

std::string trimmed(const std::string& text)
{
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
    auto end = std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(begin), isSpace).base();
    return std::string(begin, end);
}

// Home Assistant node and object ids take [a-zA-Z0-9_-]; a base topic may hold '/'.
std::string slug(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
            c = '_';
    }
    return out;
}

// Entity ids are lower case letters, digits and '_' only.
std::string entitySlug(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                                                        : '_';
    return out;
}

// Matrix ids are [a-z0-9-]+; anything else read back from the broker is not
// ours and must never become part of a topic (no wildcards, no levels).
bool plausibleId(const std::string& id)
{
    return !id.empty() && std::all_of(id.begin(), id.end(),
                                      [](unsigned char c) { return std::islower(c) || std::isdigit(c) || c == '-'; });
}

std::optional<int> portNumber(const std::string& text)
{
    if (text.size() == 1 && text[0] >= '1' && text[0] < '1' + client::kPortCount)
        return text[0] - '0';
    return std::nullopt;
}

std::string onOff(bool on) { return on ? "ON" : "OFF"; }

// Text from the broker as it goes into a log line: anyone who may publish
// must not be able to forge lines or flood the journal.
std::string printable(const std::string& text)
{
    constexpr std::size_t kMaxChars = 80;
    std::string out;
    for (char c : text.substr(0, kMaxChars))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    return text.size() > kMaxChars ? out + "..." : out;
}

}  // namespace

MqttMapping::MqttMapping(Options options, Matrices matrices, Publish publish, Log log)
    : options_(std::move(options)),
      matrices_(std::move(matrices)),
      publish_(std::move(publish)),
      log_(std::move(log))
{
}

int MqttMapping::reconnectDelayMs(int attempt, int firstMs, int maxMs)
{
    long long delay = firstMs;
    for (int i = 0; i < attempt && delay < maxMs; ++i)
        delay *= 2;
    return static_cast<int>(std::min<long long>(delay, maxMs));
}

std::vector<std::string> MqttMapping::subscriptions() const
{
    const std::string& b = options_.baseTopic;
    return {b + "/+/output/+/set",        b + "/+/beep/set", b + "/+/scene/set",
            b + "/+/factory_reset/press", announcedTopic(),  options_.discoveryPrefix + "/status"};
}

MqttMapping::Message MqttMapping::will() const { return offline(); }

MqttMapping::Message MqttMapping::offline() const
{
    return {options_.baseTopic + "/bridge/availability", "offline", true};
}

std::string MqttMapping::announcedTopic() const
{
    return options_.baseTopic + "/bridge/matrices/" + slug(options_.instance);
}

std::string MqttMapping::node(const std::string& id) const { return slug(options_.baseTopic) + "_" + id; }

std::string MqttMapping::discoveryTopic(const std::string& id, const std::string& component,
                                        const std::string& object) const
{
    return options_.discoveryPrefix + "/" + component + "/" + node(id) + "/" + object + "/config";
}

json MqttMapping::discoveryConfig(const MqttMatrix& matrix, const std::string& component, const std::string& object,
                                  const std::string& name) const
{
    const std::string b = options_.baseTopic;
    json device = {
        {"identifiers", json::array({node(matrix.id())})},
        {"name", matrix.name()},
        {"manufacturer", kManufacturer},
        {"model", matrix.model().empty() ? std::string(kModelFallback) : matrix.model()},
        {"via_device", "matrixd_" + slug(b)},
    };
    if (!matrix.version().empty())
        device["sw_version"] = matrix.version();
    return {
        {"name", name},
        {"unique_id", node(matrix.id()) + "_" + object},
        {"default_entity_id", component + "." + entitySlug(node(matrix.id()) + "_" + object)},
        {"device", device},
        {"origin", {{"name", "matrixd"}, {"sw_version", options_.softwareVersion}}},
        {"availability",
         json::array({{{"topic", b + "/bridge/availability"}}, {{"topic", b + "/" + matrix.id() + "/availability"}}})},
        {"availability_mode", "all"},
    };
}

MqttMapping::Message MqttMapping::bridgeConfig() const
{
    const std::string b = options_.baseTopic;
    const json config = {
        {"name", "Broker connection"},
        {"unique_id", "matrixd_" + slug(b) + "_connection"},
        {"default_entity_id", "binary_sensor." + entitySlug("matrixd_" + slug(b) + "_connection")},
        {"state_topic", b + "/bridge/availability"},
        {"payload_on", "online"},
        {"payload_off", "offline"},
        {"device_class", "connectivity"},
        {"entity_category", "diagnostic"},
        {"device",
         {{"identifiers", json::array({"matrixd_" + slug(b)})},
          {"name", "matrixd (" + b + ")"},
          {"manufacturer", "Matrix Control"},
          {"model", "matrixd"},
          {"sw_version", options_.softwareVersion}}},
        {"origin", {{"name", "matrixd"}, {"sw_version", options_.softwareVersion}}},
    };
    return {options_.discoveryPrefix + "/binary_sensor/matrixd_" + slug(b) + "/connection/config", config.dump(), true};
}

// Collects the retained entries of one matrix, in the order they are
// published within their kind. With no matrix every payload is empty.
class MqttMapping::RetainedList {
public:
    RetainedList(const MqttMapping& mapping, const std::string& id, const MqttMatrix* matrix)
        : mapping_(mapping),
          id_(id),
          matrix_(matrix),
          state_(matrix ? &matrix->state() : nullptr),
          t_(mapping.options_.baseTopic + "/" + id + "/")
    {
    }

    void port(int n);
    void matrixStates();
    void matrixConfigs();
    std::vector<Entry> take() { return std::move(out_); }

private:
    void add(std::string topic, std::optional<std::string> payload, bool discovery)
    {
        out_.push_back({std::move(topic), matrix_ ? std::move(payload) : std::string(), discovery});
    }
    // A discovery config; `make` runs only with a matrix, and no config withdraws the entity.
    void config(const std::string& component, const std::string& object,
                const std::function<std::optional<json>()>& make)
    {
        std::optional<std::string> payload;
        if (matrix_) {
            const auto made = make();
            payload = made ? made->dump() : std::string();
        }
        add(mapping_.discoveryTopic(id_, component, object), payload, true);
    }
    // An entity whose configuration is fixed but for the matrix it belongs to.
    void fixedConfig(const std::string& component, const std::string& object, const std::string& name,
                     const json& fields)
    {
        config(component, object, [&]() -> std::optional<json> {
            json c = mapping_.discoveryConfig(*matrix_, component, object, name);
            c.update(fields);
            return c;
        });
    }
    void cableConfig(int n, bool input, const std::string& topic);

    const MqttMapping& mapping_;
    const std::string& id_;
    const MqttMatrix* matrix_;
    const client::MatrixState* state_;
    const std::string t_;
    std::vector<Entry> out_;
};

void MqttMapping::RetainedList::port(int n)
{
    const std::string out_n = "output/" + std::to_string(n);
    const std::string in_n = "input/" + std::to_string(n);
    std::optional<std::string> routed, inCable, outCable;
    if (state_ && state_->routing[n - 1])
        routed = matrix_->inputName(*state_->routing[n - 1]);
    if (state_ && state_->inputCable[n - 1])
        inCable = onOff(*state_->inputCable[n - 1]);
    if (state_ && state_->outputCable[n - 1])
        outCable = onOff(*state_->outputCable[n - 1]);
    add(t_ + out_n + "/state", routed, false);
    add(t_ + in_n + "/cable", inCable, false);
    add(t_ + out_n + "/cable", outCable, false);

    config("select", "output_" + std::to_string(n), [&]() -> std::optional<json> {
        json c = mapping_.discoveryConfig(*matrix_, "select", "output_" + std::to_string(n), matrix_->outputName(n));
        json options = json::array();
        for (int i = 1; i <= client::kPortCount; ++i)
            options.push_back(matrix_->inputName(i));
        c["options"] = options;
        c["state_topic"] = t_ + out_n + "/state";
        c["command_topic"] = t_ + out_n + "/set";
        c["icon"] = "mdi:video-input-hdmi";
        return c;
    });
    cableConfig(n, true, t_ + in_n + "/cable");
    cableConfig(n, false, t_ + out_n + "/cable");
}

void MqttMapping::RetainedList::cableConfig(int n, bool input, const std::string& topic)
{
    const std::string object = std::string(input ? "input" : "output") + "_" + std::to_string(n) + "_cable";
    config("binary_sensor", object, [&]() -> std::optional<json> {
        const std::string portName = input ? matrix_->inputName(n) : matrix_->outputName(n);
        json c = mapping_.discoveryConfig(*matrix_, "binary_sensor", object, portName + " cable");
        c["state_topic"] = topic;
        c["payload_on"] = "ON";
        c["payload_off"] = "OFF";
        c["device_class"] = "plug";
        c["entity_category"] = "diagnostic";
        return c;
    });
}

void MqttMapping::RetainedList::matrixStates()
{
    std::optional<std::string> beep, version, scenes;
    if (state_ && state_->beepOn)
        beep = onOff(*state_->beepOn);
    if (matrix_ && !matrix_->version().empty())
        version = matrix_->version();
    if (matrix_)
        scenes = json(matrix_->sceneNames()).dump();
    add(t_ + "availability", state_ ? std::optional<std::string>(state_->linkUp ? "online" : "offline") : std::nullopt,
        false);
    add(t_ + "beep/state", beep, false);
    add(t_ + "scene/state", scenes, false);
    // Home Assistant reads "None" as no option selected.
    add(t_ + "scene/active",
        matrix_ ? std::optional<std::string>(matrix_->activeScene().value_or("None")) : std::nullopt, false);
    add(t_ + "version", version, false);
}

void MqttMapping::RetainedList::matrixConfigs()
{
    fixedConfig("switch", "beep", "Key beep",
                {{"state_topic", t_ + "beep/state"},
                 {"command_topic", t_ + "beep/set"},
                 {"payload_on", "ON"},
                 {"payload_off", "OFF"},
                 {"entity_category", "config"}});
    config("select", "scene", [&]() -> std::optional<json> {
        // A select needs at least one option; with no scenes it is withdrawn.
        const auto names = matrix_->sceneNames();
        if (names.empty())
            return std::nullopt;
        json c = mapping_.discoveryConfig(*matrix_, "select", "scene", "Scene");
        c["options"] = names;
        c["state_topic"] = t_ + "scene/active";
        c["command_topic"] = t_ + "scene/set";
        c["icon"] = "mdi:palette";
        return c;
    });
    fixedConfig("button", "factory_reset", "Factory reset",
                {{"command_topic", t_ + "factory_reset/press"},
                 {"payload_press", "PRESS"},
                 {"entity_category", "config"},
                 {"enabled_by_default", false}});
    fixedConfig("sensor", "firmware_version", "Firmware version",
                {{"state_topic", t_ + "version"}, {"entity_category", "diagnostic"}, {"icon", "mdi:chip"}});
}

// Every retained topic of one matrix. With no matrix, the same topics with
// empty payloads: what clears a matrix that left the configuration.
std::vector<MqttMapping::Entry> MqttMapping::retained(const std::string& id, const MqttMatrix* matrix) const
{
    RetainedList list(*this, id, matrix);
    for (int n = 1; n <= client::kPortCount; ++n)
        list.port(n);
    list.matrixStates();
    list.matrixConfigs();
    return list.take();
}

void MqttMapping::put(const std::string& topic, const std::string& payload, bool retain)
{
    if (retain) {
        auto it = published_.find(topic);
        if (it != published_.end() && it->second == payload)
            return;
        published_[topic] = payload;
    }
    publish_({topic, payload, retain});
}

void MqttMapping::sync(const MqttMatrix& matrix, bool discoveryAgain)
{
    // Configs first: a select's state must be one of the options its config
    // lists, or Home Assistant rejects it (a renamed input stays "unknown").
    const std::vector<Entry> entries = retained(matrix.id(), &matrix);
    for (const bool discovery : {true, false})
        for (const Entry& entry : entries) {
            if (!entry.payload || entry.discovery != discovery)
                continue;
            if (discoveryAgain && entry.discovery)
                published_.erase(entry.topic);
            put(entry.topic, *entry.payload, true);
        }
}

void MqttMapping::connected()
{
    published_.clear();
    put(options_.baseTopic + "/bridge/availability", "online", true);
    const Message bridge = bridgeConfig();
    put(bridge.topic, bridge.payload, true);
    json ids = json::array();
    for (MqttMatrix* matrix : matrices_()) {
        sync(*matrix, false);
        ids.push_back(matrix->id());
    }
    // Read back at the next start: a matrix missing from the configuration
    // then gets its retained configs cleared (see clearRemoved).
    put(announcedTopic(), ids.dump(), true);
}

void MqttMapping::event(const HubEvent& event)
{
    MqttMatrix* matrix = find(eventMatrix(event));
    if (!matrix)
        return;
    if (const json text = eventJson(event); !text.is_null())
        publish_({options_.baseTopic + "/" + matrix->id() + "/event", text.dump(), false});
    sync(*matrix, false);
}

MqttMatrix* MqttMapping::find(const std::string& id) const
{
    for (MqttMatrix* matrix : matrices_()) {
        if (matrix->id() == id)
            return matrix;
    }
    return nullptr;
}

void MqttMapping::clearRemoved(const std::string& payload)
{
    if (payload.empty())
        return;
    const json ids = json::parse(payload, nullptr, false);
    if (!ids.is_array()) {
        log_("mqtt: ignored " + announcedTopic() + ": not a JSON list");
        return;
    }
    for (const json& item : ids) {
        if (!item.is_string() || !plausibleId(item.get<std::string>()) || find(item.get<std::string>()))
            continue;
        const std::string id = item.get<std::string>();
        for (const Entry& entry : retained(id, nullptr)) {
            published_.erase(entry.topic);
            publish_({entry.topic, "", true});
        }
        log_(id + ": mqtt: no longer configured, its retained topics and discovery configs are cleared");
    }
}

void MqttMapping::message(const std::string& topic, const std::string& rawPayload, bool retained)
{
    if (rawPayload.size() > kPayloadMaxBytes) {
        log_("mqtt: ignored " + printable(topic) + ": payload of " + std::to_string(rawPayload.size()) + " bytes");
        return;
    }
    if (topic == options_.discoveryPrefix + "/status") {
        // Home Assistant restarted and forgot what it had discovered.
        if (trimmed(rawPayload) == "online") {
            const Message bridge = bridgeConfig();
            published_.erase(bridge.topic);
            put(bridge.topic, bridge.payload, true);
            for (MqttMatrix* matrix : matrices_())
                sync(*matrix, true);
        }
        return;
    }
    if (topic == announcedTopic()) {
        clearRemoved(rawPayload);
        return;
    }
    const std::string prefix = options_.baseTopic + "/";
    if (topic.compare(0, prefix.size(), prefix) != 0)
        return;
    const std::string rest = topic.substr(prefix.size());
    const auto slash = rest.find('/');
    if (slash == std::string::npos)
        return;
    const std::string id = rest.substr(0, slash);
    MqttMatrix* matrix = find(id);
    if (!matrix) {
        log_("mqtt: ignored " + printable(topic) + ": no such matrix");
        return;
    }
    if (retained) {
        // A retained command would be carried out again at every reconnect,
        // undoing whatever changed at the matrix since.
        log_(id + ": mqtt: ignored " + printable(topic) + ": a retained command (publish commands without retain)");
        return;
    }
    command(*matrix, rest.substr(slash + 1), rawPayload);
}

void MqttMapping::command(MqttMatrix& matrix, const std::string& rest, const std::string& payload)
{
    const std::string id = matrix.id();
    const auto ignore = [&](const std::string& why) {
        log_(id + ": mqtt: ignored " + printable(rest) + " \"" + printable(payload) + "\": " + why);
    };
    const auto report = [log = log_, id](std::string what) {
        return [log, id, what = std::move(what)](const Outcome& outcome) {
            if (!outcome.ok())
                log(id + ": mqtt: " + what + " failed: " + printable(outcome.text()));
        };
    };
    // Select options come back exactly as offered; the fixed words of the
    // switch and the button may carry stray white space.
    const std::string word = trimmed(payload);

    if (rest.size() > 11 && rest.compare(0, 7, "output/") == 0 && rest.compare(rest.size() - 4, 4, "/set") == 0) {
        const auto output = portNumber(rest.substr(7, rest.size() - 11));
        if (!output)
            return ignore("no such output");
        const auto input = matrix.findInput(payload);
        if (!input)
            return ignore("no such input");
        matrix.route(*output, *input,
                     report("output " + std::to_string(*output) + " to input " + std::to_string(*input)));
    } else if (rest == "beep/set") {
        if (word != "ON" && word != "OFF")
            return ignore("expected ON or OFF");
        matrix.setBeep(word == "ON", report("beep " + word));
    } else if (rest == "scene/set") {
        const auto names = matrix.sceneNames();
        if (std::find(names.begin(), names.end(), payload) == names.end())
            return ignore("no such scene");
        matrix.recallScene(payload, report("scene \"" + printable(payload) + "\""));
    } else if (rest == "factory_reset/press") {
        if (word != "PRESS")
            return ignore("expected PRESS");
        matrix.factoryReset(report("factory reset"));
    } else {
        ignore("unknown command");
    }
}

}  // namespace matrix::service
