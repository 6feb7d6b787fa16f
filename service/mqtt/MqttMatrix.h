// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "service/hub/Outcome.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service {

// What the MQTT mapping reads of one matrix and asks of it. In matrixd it is
// a thin view of a MatrixUnit (UnitMatrix); tests give it a recording fake,
// so the topic mapping is checked without a broker or a link.
class MqttMatrix {
public:
    virtual ~MqttMatrix() = default;

    virtual std::string id() const = 0;
    virtual std::string name() const = 0;
    virtual const client::MatrixState& state() const = 0;
    virtual std::string model() const = 0;    // empty while unknown
    virtual std::string version() const = 0;  // firmware "1.0"; empty while unknown
    virtual std::string inputName(int input) const = 0;
    virtual std::string outputName(int output) const = 0;
    // An input's name, exactly as the select offers it, or "2".
    virtual std::optional<int> findInput(std::string_view text) const = 0;
    virtual std::vector<std::string> sceneNames() const = 0;
    // The scene the routing is now, if any.
    virtual std::optional<std::string> activeScene() const = 0;

    // Each ends once, with the hub's outcome (a refusal at once).
    using Done = std::function<void(const Outcome& outcome)>;
    virtual void route(int output, int input, Done done) = 0;
    virtual void setBeep(bool on, Done done) = 0;
    virtual void recallScene(const std::string& name, Done done) = 0;
    virtual void factoryReset(Done done) = 0;
};

}  // namespace matrix::service
