// SPDX-License-Identifier: Apache-2.0
#include "service/mqtt/MqttFrontEnd.h"

#include "service/hub/Hub.h"
#include "service/hub/Log.h"

namespace matrix::service {

MqttFrontEnd::MqttFrontEnd(Hub& hub, const MqttConfig& config) : hub_(hub)
{
    for (MatrixUnit* unit : hub.units())
        views_.push_back(std::make_unique<UnitMatrix>(*unit));
    MqttSettings settings;
    settings.host = config.host;
    settings.port = config.port;
    settings.username = config.username;
    settings.password = config.password;
    settings.clientId = config.clientId;
    settings.baseTopic = config.baseTopic;
    settings.discoveryPrefix = config.discoveryPrefix;
    bridge_ = std::make_unique<MqttBridge>(
        settings,
        [this] {
            std::vector<MqttMatrix*> out;
            for (const auto& view : views_)
                out.push_back(view.get());
            return out;
        },
        MATRIXD_VERSION, [](const std::string& line) { logLine(line); });
    subscription_ = hub.subscribe([this](const HubEvent& event) { bridge_->event(event); });
}

MqttFrontEnd::~MqttFrontEnd()
{
    hub_.unsubscribe(subscription_);
    bridge_.reset();
}

void MqttFrontEnd::start() { bridge_->start(); }

}  // namespace matrix::service
