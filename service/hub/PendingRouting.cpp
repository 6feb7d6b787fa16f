// SPDX-License-Identifier: Apache-2.0
#include "service/hub/PendingRouting.h"

namespace matrix::service {

void PendingRouting::merge(const std::vector<Route>& routes)
{
    for (const Route& route : routes)
        staged_[route.output] = route.input;
}

void PendingRouting::unstage(const Route& route)
{
    const auto it = staged_.find(route.output);
    if (it != staged_.end() && it->second == route.input)
        staged_.erase(it);
}

std::vector<Route> PendingRouting::takePlan() const
{
    std::vector<Route> plan;
    for (const auto& [output, input] : staged_)
        plan.push_back({output, input});
    return plan;
}

}  // namespace matrix::service
