// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/UnitBackend.h"

#include <utility>

namespace matrix::service::videohub {

bool UnitBackend::present() const {
    return unit_.state().linkUp;
}

std::string UnitBackend::modelName() const {
    // Until the matrix has told its type (or for a type we do not know),
    // the name of the common box stands in.
    const auto& info = unit_.state().info;
    if (info && info->deviceType >= 1 && info->deviceType <= 3)
        return info->model();
    return "HDMI MATRIX";
}

std::string UnitBackend::inputLabel(int input) const {
    return unit_.inputName(input + 1);
}

std::string UnitBackend::outputLabel(int output) const {
    return unit_.outputName(output + 1);
}

std::optional<int> UnitBackend::routedInput(int output) const {
    const std::optional<int> input = unit_.state().routing.at(output);
    if (!input)
        return std::nullopt;
    return *input - 1;
}

LockId UnitBackend::lockOwner(int output) const {
    return unit_.lockOwner(output + 1);
}

void UnitBackend::route(int output, int input, LockId who, std::function<void(bool routed)> done) {
    unit_.route(output + 1, input + 1, who, [done = std::move(done)](client::Status status, RouteRefusal refusal) {
        if (done)
            done(status == client::Status::Ok && refusal == RouteRefusal::None);
    });
}

bool UnitBackend::rename(bool inputs, const Labels& labels) {
    MatrixUnit::PortRenames renames;
    for (const auto& [port, label] : labels)
        renames.emplace_back(port + 1, label);
    return unit_.renamePorts(inputs, renames);
}

void UnitBackend::setLock(int output, LockId owner) {
    unit_.setLock(output + 1, owner);
}

}  // namespace matrix::service::videohub
