// SPDX-License-Identifier: Apache-2.0
#include "service/mqtt/MqttBridge.h"

#include <QSocketNotifier>
#include <QSysInfo>

#include <mosquitto.h>

#include <mutex>

namespace matrix::service {

namespace {

constexpr int kQos = 1;              // retained state must arrive; duplicates are harmless
constexpr int kMiscPeriodMs = 1000;  // keep-alive pings and retries need no finer clock

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

MqttSettings withDefaults(MqttSettings settings)
{
    if (settings.clientId.empty())
        settings.clientId = "matrixd-" + QSysInfo::machineHostName().toStdString();
    return settings;
}

}  // namespace

MqttBridge::MqttBridge(MqttSettings settings, MqttMapping::Matrices matrices, std::string softwareVersion, Log log,
                       QObject* parent)
    : QObject(parent),
      settings_(withDefaults(std::move(settings))),
      log_(std::move(log)),
      mapping_(
          {settings_.baseTopic, settings_.discoveryPrefix, std::move(softwareVersion), settings_.clientId},
          std::move(matrices), [this](const MqttMapping::Message& message) { publish(message); }, log_)
{
    initLibrary();
    mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    mosquitto_connect_callback_set(mosq_, &MqttBridge::onConnect);
    mosquitto_message_callback_set(mosq_, &MqttBridge::onMessage);
    if (!settings_.username.empty())
        mosquitto_username_pw_set(mosq_, settings_.username.c_str(),
                                  settings_.password.empty() ? nullptr : settings_.password.c_str());
    const MqttMapping::Message will = mapping_.will();
    mosquitto_will_set(mosq_, will.topic.c_str(), static_cast<int>(will.payload.size()), will.payload.data(), kQos,
                       will.retain);

    misc_.setInterval(kMiscPeriodMs);
    connect(&misc_, &QTimer::timeout, this, [this] { afterIo(mosquitto_loop_misc(mosq_), "keep-alive"); });
    reconnect_.setSingleShot(true);
    connect(&reconnect_, &QTimer::timeout, this, &MqttBridge::connectNow);
    // A broker behind a dead route, or one that takes the TCP connection and
    // never answers, would otherwise hold the session in "connecting" forever.
    connectTimeout_.setSingleShot(true);
    connect(&connectTimeout_, &QTimer::timeout, this, [this] { lost("no answer to connect"); });
}

MqttBridge::~MqttBridge()
{
    stopping_ = true;
    if (connected_) {
        // QoS 0 goes into the packet queue at once, ahead of the DISCONNECT;
        // a QoS 1 message past the in-flight window would be held behind it.
        const MqttMapping::Message off = mapping_.offline();
        mosquitto_publish(mosq_, nullptr, off.topic.c_str(), static_cast<int>(off.payload.size()), off.payload.data(),
                          0, off.retain);
        mosquitto_disconnect(mosq_);
    }
    dropNotifiers(false);
    mosquitto_destroy(mosq_);
}

void MqttBridge::start() { connectNow(); }

void MqttBridge::event(const HubEvent& event)
{
    if (connected_)
        mapping_.event(event);
}

void MqttBridge::connectNow()
{
    const int rc = mosquitto_connect_async(mosq_, settings_.host.c_str(), settings_.port, settings_.keepaliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(mosquitto_strerror(rc));
        return;
    }
    watchSocket();
    misc_.start();
    connectTimeout_.start(settings_.connectTimeoutMs);
}

void MqttBridge::watchSocket()
{
    const int fd = mosquitto_socket(mosq_);
    if (fd != socket_) {
        dropNotifiers();
        socket_ = fd;
        if (fd >= 0) {
            readable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read, this);
            writable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write, this);
            connect(readable_.get(), &QSocketNotifier::activated, this,
                    [this] { afterIo(mosquitto_loop_read(mosq_, 1), "read"); });
            connect(writable_.get(), &QSocketNotifier::activated, this,
                    [this] { afterIo(mosquitto_loop_write(mosq_, 1), "write"); });
        }
    }
    // Only while something waits to go out: a write notifier left on fires
    // on every loop turn.
    if (writable_)
        writable_->setEnabled(mosquitto_want_write(mosq_));
}

void MqttBridge::dropNotifiers(bool fromTheirSignal)
{
    // A connection found lost inside a notifier's own signal must not
    // delete that notifier under it: disabled, it is gone on the next turn.
    for (auto* notifier : {&readable_, &writable_}) {
        if (!*notifier)
            continue;
        (*notifier)->setEnabled(false);
        if (fromTheirSignal)
            notifier->release()->deleteLater();
        else
            notifier->reset();
    }
    socket_ = -1;
}

void MqttBridge::afterIo(int rc, const char* what)
{
    if (stopping_)
        return;
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(std::string(what) + ": " + mosquitto_strerror(rc));
        return;
    }
    if (mosquitto_socket(mosq_) < 0) {
        lost(std::string(what) + ": connection closed");
        return;
    }
    watchSocket();
}

void MqttBridge::lost(const std::string& ioFailure)
{
    const std::string why = refusal_.empty() ? ioFailure : refusal_;
    refusal_.clear();
    const bool wasConnected = connected_;
    connected_ = false;
    misc_.stop();
    connectTimeout_.stop();
    dropNotifiers();
    if (stopping_ || reconnect_.isActive())
        return;
    // Closes what the library may still hold; the next connect starts afresh.
    mosquitto_disconnect(mosq_);
    const int delayMs = MqttMapping::reconnectDelayMs(attempt_++, settings_.reconnectFirstMs, settings_.reconnectMaxMs);
    // One line per change of reason, and one a minute at most while it lasts.
    if (wasConnected || why != lastFailure_ || delayMs == settings_.reconnectMaxMs)
        log_("mqtt: " + settings_.host + ":" + std::to_string(settings_.port) + " " +
             (wasConnected ? "lost" : "not connected") + " (" + why + "); retrying in " +
             std::to_string(delayMs / 1000.0).substr(0, 4) + " s");
    lastFailure_ = wasConnected ? std::string() : why;
    reconnect_.start(delayMs);
}

void MqttBridge::publish(const MqttMapping::Message& message)
{
    if (!connected_)
        return;  // the next session publishes everything again
    mosquitto_publish(mosq_, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                      message.payload.data(), kQos, message.retain);
    if (writable_)
        writable_->setEnabled(mosquitto_want_write(mosq_));
}

void MqttBridge::onConnect(mosquitto*, void* self, int rc)
{
    auto* bridge = static_cast<MqttBridge*>(self);
    if (rc != 0) {
        // The loop call that delivered this returns an error and takes the
        // reconnect path, which logs this reason rather than its own.
        bridge->refusal_ = mosquitto_connack_string(rc);
        return;
    }
    bridge->connected_ = true;
    bridge->connectTimeout_.stop();
    bridge->attempt_ = 0;
    bridge->log_("mqtt: connected to " + bridge->settings_.host + ":" + std::to_string(bridge->settings_.port) +
                 " as " + bridge->settings_.clientId);
    for (const std::string& topic : bridge->mapping_.subscriptions())
        mosquitto_subscribe(bridge->mosq_, nullptr, topic.c_str(), kQos);
    bridge->mapping_.connected();
}

void MqttBridge::onMessage(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* bridge = static_cast<MqttBridge*>(self);
    if (!message || !message->topic)
        return;
    const std::string payload(static_cast<const char*>(message->payload),
                              static_cast<std::size_t>(message->payloadlen));
    bridge->mapping_.message(message->topic, payload, message->retain);
}

}  // namespace matrix::service
