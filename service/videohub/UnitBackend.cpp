// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/UnitBackend.h"

#include <utility>

namespace matrix::service::videohub {

Caller UnitBackend::caller(LockId who) const
{
    const auto peer = peers_.find(who);
    return {"videohub", peer == peers_.end() ? std::string() : peer->second, who, {}};
}

bool UnitBackend::present() const { return unit_.ready(); }

std::string UnitBackend::uniqueId() const { return unit_.config().videohubUniqueId; }

std::string UnitBackend::friendlyName() const { return unit_.name(); }

std::string UnitBackend::modelName() const
{
    // Until the matrix has told its type (or for a type we do not know),
    // the name of the common box stands in.
    const auto& info = unit_.state().info;
    if (info && info->deviceType >= 1 && info->deviceType <= 3)
        return info->model();
    return "HDMI MATRIX";
}

std::string UnitBackend::inputLabel(int input) const { return unit_.inputName(input + 1); }

std::string UnitBackend::outputLabel(int output) const { return unit_.outputName(output + 1); }

std::optional<int> UnitBackend::routedInput(int output) const
{
    const std::optional<int> input = unit_.state().routing.at(output);
    if (!input)
        return std::nullopt;
    return *input - 1;
}

LockId UnitBackend::lockOwner(int output) const { return unit_.lockOwner(output + 1); }

Outcome UnitBackend::route(const std::vector<std::pair<int, int>>& routes, LockId who,
                           std::function<void(int output, bool routed)> each)
{
    std::vector<MatrixUnit::Route> steps;
    for (const auto& [output, input] : routes)
        steps.push_back({output + 1, input + 1});
    return unit_.routeSteps(caller(who), std::move(steps), {},
                            [each = std::move(each)](int output, const Outcome& outcome) {
                                if (each)
                                    each(output - 1, outcome.ok());
                            });
}

Outcome UnitBackend::rename(bool inputs, const std::vector<std::pair<int, std::string>>& labels, LockId who)
{
    std::vector<MatrixUnit::Rename> renames;
    for (const auto& [port, label] : labels)
        renames.emplace_back(port + 1, label);
    return unit_.rename(caller(who), inputs ? PortSide::Input : PortSide::Output, renames);
}

Outcome UnitBackend::lock(int output, LockAction action, LockId who)
{
    return unit_.lock(caller(who), output + 1, action);
}

}  // namespace matrix::service::videohub
