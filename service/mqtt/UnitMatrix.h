// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/mqtt/MqttMatrix.h"

namespace matrix::service {

class MatrixUnit;

// The MQTT mapping's view of a hub unit: reads go to the unit's state
// model, routes through the unit (so output locks hold), the rest through
// its client queue.
class UnitMatrix : public MqttMatrix {
public:
    explicit UnitMatrix(MatrixUnit& unit) : unit_(unit) {}

    std::string id() const override;
    std::string name() const override;
    const client::MatrixState& state() const override;
    std::string model() const override;
    std::string version() const override;
    std::string inputName(int input) const override;
    std::string outputName(int output) const override;
    std::optional<int> findInput(std::string_view text) const override;
    std::vector<std::string> sceneNames() const override;
    std::optional<std::string> activeScene() const override;

    void route(int output, int input, Done done) override;
    void setBeep(bool on, Done done) override;
    void recallScene(const std::string& name, Done done) override;
    void factoryReset(Done done) override;

private:
    MatrixUnit& unit_;
};

}  // namespace matrix::service
