// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/mqtt/MqttMapping.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;

namespace matrix::service {

struct MqttSettings {
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string username;  // empty: no login
    std::string password;
    std::string clientId;  // empty: "matrixd-" and the host name
    std::string baseTopic = "matrix";
    std::string discoveryPrefix = "homeassistant";
    int keepaliveSeconds = 30;
    int reconnectFirstMs = 1000;   // back-off doubles from here ...
    int reconnectMaxMs = 60000;    // ... up to here
    int connectTimeoutMs = 10000;  // TCP connect and the broker's answer to CONNECT
};

// matrixd's MQTT connection: libmosquitto driven from the Qt loop (socket
// notifiers for reading and writing, a timer for keep-alives), so it needs
// no thread of its own and never blocks the HTTP side. A lost broker is
// retried with back-off; every new session publishes all retained topics.
class MqttBridge : public QObject {
    Q_OBJECT
public:
    using Log = MqttMapping::Log;

    MqttBridge(MqttSettings settings, MqttMapping::Matrices matrices, std::string softwareVersion, Log log,
               QObject* parent = nullptr);
    // Says offline and disconnects cleanly, so the last will is not needed.
    ~MqttBridge() override;

    void start();
    // A hub event (loop thread).
    void event(const HubEvent& event);
    bool connected() const { return connected_; }

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    void connectNow();
    void lost(const std::string& why);
    void watchSocket();
    void dropNotifiers(bool fromTheirSignal = true);
    void afterIo(int rc, const char* what);
    void publish(const MqttMapping::Message& message);

    MqttSettings settings_;
    Log log_;
    MqttMapping mapping_;
    mosquitto* mosq_ = nullptr;
    int socket_ = -1;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    QTimer misc_;
    QTimer reconnect_;
    QTimer connectTimeout_;
    int attempt_ = 0;
    std::string lastFailure_;
    std::string refusal_;  // the broker's answer when it refused the session
    bool connected_ = false;
    bool stopping_ = false;
};

}  // namespace matrix::service
