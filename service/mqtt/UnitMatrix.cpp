// SPDX-License-Identifier: Apache-2.0
#include "service/mqtt/UnitMatrix.h"

#include "service/hub/MatrixUnit.h"

namespace matrix::service {

namespace {

const Caller kMqtt{"mqtt", {}, 0, {}};

// A refusal ends the request at once, as a failure would later.
void settle(const Outcome& started, const MqttMatrix::Done& done)
{
    if (!started.ok() && done)
        done(started);
}

}  // namespace

std::string UnitMatrix::id() const { return unit_.id(); }
std::string UnitMatrix::name() const { return unit_.name(); }
const client::MatrixState& UnitMatrix::state() const { return unit_.state(); }
std::string UnitMatrix::model() const { return unit_.state().info ? unit_.state().info->model() : std::string(); }
std::string UnitMatrix::version() const { return unit_.state().info ? unit_.state().info->version() : std::string(); }
std::string UnitMatrix::inputName(int input) const { return unit_.inputName(input); }
std::string UnitMatrix::outputName(int output) const { return unit_.outputName(output); }
std::optional<int> UnitMatrix::findInput(std::string_view text) const
{
    // Exactly as the select offers it: no trimming, no case folding. A name
    // is never a bare number, so "2" can only mean the port.
    const auto& names = unit_.inputNames();
    for (int i = 0; i < client::kPortCount; ++i)
        if (names[i] == text)
            return i + 1;
    if (text.size() == 1 && text[0] >= '1' && text[0] < '1' + client::kPortCount)
        return text[0] - '0';
    return std::nullopt;
}
std::vector<std::string> UnitMatrix::sceneNames() const { return unit_.sceneNames(); }
std::optional<std::string> UnitMatrix::activeScene() const { return unit_.activeScene(); }

void UnitMatrix::route(int output, int input, Done done) { settle(unit_.route(kMqtt, output, input, done), done); }

void UnitMatrix::setBeep(bool on, Done done) { settle(unit_.setBeep(kMqtt, on, done), done); }

void UnitMatrix::recallScene(const std::string& name, Done done) { settle(unit_.recallScene(kMqtt, name, done), done); }

void UnitMatrix::factoryReset(Done done) { settle(unit_.factoryReset(kMqtt, done), done); }

}  // namespace matrix::service
