// SPDX-License-Identifier: Apache-2.0
#include "service/mqtt/UnitMatrix.h"

#include "service/hub/MatrixUnit.h"

namespace matrix::service {

namespace {

// MQTT and HTTP hold no locks of their own: owner 0.
constexpr LockOwner kNoOwner = 0;

std::function<void(client::Status, RouteRefusal)> fromRoute(MqttMatrix::Done done)
{
    return [done = std::move(done)](client::Status status, RouteRefusal refusal) {
        if (refusal == RouteRefusal::Locked)
            done("output is locked");
        else
            done(status == client::Status::Ok ? std::string() : client::statusText(status));
    };
}

template <typename T>
std::function<void(const client::Result<T>&)> fromResult(MqttMatrix::Done done)
{
    return [done = std::move(done)](const client::Result<T>& result) {
        if (result.ok())
            done(std::string());
        else
            done(client::statusText(result.status) + (result.message.empty() ? "" : " (" + result.message + ")"));
    };
}

}  // namespace

std::string UnitMatrix::id() const { return unit_.id(); }
std::string UnitMatrix::name() const { return unit_.name(); }
const client::MatrixState& UnitMatrix::state() const { return unit_.state(); }
std::string UnitMatrix::model() const { return unit_.state().info ? unit_.state().info->model() : std::string(); }
std::string UnitMatrix::version() const { return unit_.state().info ? unit_.state().info->version() : std::string(); }
std::string UnitMatrix::inputName(int input) const { return unit_.inputName(input); }
std::string UnitMatrix::outputName(int output) const { return unit_.outputName(output); }
std::optional<int> UnitMatrix::findInput(std::string_view text) const { return unit_.findInput(text); }
std::vector<std::string> UnitMatrix::sceneNames() const { return unit_.sceneNames(); }

void UnitMatrix::route(int output, int input, Done done) { unit_.route(output, input, kNoOwner, fromRoute(std::move(done))); }

void UnitMatrix::setBeep(bool on, Done done) { unit_.client().setBeep(on, fromResult<client::Nothing>(std::move(done))); }

void UnitMatrix::recallScene(const std::string& name, Done done)
{
    unit_.recallScene(name, kNoOwner, fromRoute(std::move(done)));
}

void UnitMatrix::factoryReset(Done done) { unit_.client().factoryReset(fromResult<client::Nothing>(std::move(done))); }

}  // namespace matrix::service
