// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/Config.h"
#include "service/mqtt/MqttBridge.h"
#include "service/mqtt/UnitMatrix.h"

#include <memory>
#include <vector>

namespace matrix::service {

class Hub;

// matrixd's MQTT side: the bridge over every hub unit, fed with the hub's events.
class MqttFrontEnd {
public:
    MqttFrontEnd(Hub& hub, const MqttConfig& config);
    // Says offline on the broker before the connection closes.
    ~MqttFrontEnd();
    MqttFrontEnd(const MqttFrontEnd&) = delete;
    MqttFrontEnd& operator=(const MqttFrontEnd&) = delete;

    void start();

private:
    Hub& hub_;
    std::vector<std::unique_ptr<UnitMatrix>> views_;
    std::unique_ptr<MqttBridge> bridge_;
    int subscription_ = 0;
};

}  // namespace matrix::service
