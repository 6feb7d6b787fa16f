// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/HubEvent.h"
#include "service/mqtt/MqttMatrix.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace matrix::service {

// The MQTT side of matrixd without any I/O: turns hub events and matrix
// state into (topic, payload, retain) and received commands into matrix
// calls. The bridge feeds it what the broker delivers and publishes what it
// hands out, so every topic and payload can be checked in a unit test.
class MqttMapping {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool retain = false;
        bool operator==(const Message&) const = default;
    };
    struct Options {
        std::string baseTopic = "matrix";
        std::string discoveryPrefix = "homeassistant";
        std::string softwareVersion;  // matrixd's own, for the origin block and the bridge device
        // This matrixd's client id: the list of matrices it announced is its
        // own, so two of them on one broker never clear each other's matrices.
        std::string instance = "matrixd";
    };
    using Matrices = std::function<std::vector<MqttMatrix*>()>;
    using Publish = std::function<void(const Message&)>;
    using Log = std::function<void(const std::string&)>;

    MqttMapping(Options options, Matrices matrices, Publish publish, Log log);

    // Topics to subscribe to after every connect.
    std::vector<std::string> subscriptions() const;
    // The last will: the bridge is offline when the broker loses us.
    Message will() const;
    Message offline() const;

    // A new session: the broker may have lost everything, so all retained
    // topics go out again, then the list of matrices announced.
    void connected();
    // A hub event: its JSON on B/<id>/event, and what it changed retained
    // (discovery configs before the states that use their options).
    void event(const HubEvent& event);
    // A message the broker delivered on one of the subscriptions; `retained`
    // when the broker kept it from earlier.
    void message(const std::string& topic, const std::string& payload, bool retained = false);

    // Broker reconnect back-off: doubles from firstMs up to maxMs.
    static int reconnectDelayMs(int attempt, int firstMs, int maxMs);

    static constexpr std::size_t kPayloadMaxBytes = 1024;  // no command is longer; more is junk

private:
    struct Entry {
        std::string topic;
        std::optional<std::string> payload;  // nullopt: unknown yet, leave what the broker has
        bool discovery = false;
    };

    class RetainedList;
    std::vector<Entry> retained(const std::string& id, const MqttMatrix* matrix) const;
    nlohmann::json discoveryConfig(const MqttMatrix& matrix, const std::string& component, const std::string& object,
                                   const std::string& name) const;
    std::string discoveryTopic(const std::string& id, const std::string& component, const std::string& object) const;
    std::string node(const std::string& id) const;
    std::string announcedTopic() const;
    Message bridgeConfig() const;

    void sync(const MqttMatrix& matrix, bool discoveryAgain);
    void put(const std::string& topic, const std::string& payload, bool retain);
    void clearRemoved(const std::string& payload);
    void command(MqttMatrix& matrix, const std::string& rest, const std::string& payload);
    MqttMatrix* find(const std::string& id) const;

    Options options_;
    Matrices matrices_;
    Publish publish_;
    Log log_;
    std::map<std::string, std::string> published_;  // retained topic -> payload sent this session
};

}  // namespace matrix::service
