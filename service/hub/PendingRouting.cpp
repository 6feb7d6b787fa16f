// SPDX-License-Identifier: Apache-2.0
#include "service/hub/PendingRouting.h"

#include <memory>

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

namespace {

struct TakeRun : std::enable_shared_from_this<TakeRun> {
    std::vector<Route> plan;
    SendRoute send;
    std::function<void(const TakeOutcome&)> done;
    TakeOutcome outcome;
    std::size_t next = 0;

    void step()
    {
        if (next == plan.size()) {
            done(outcome);
            return;
        }
        const Route route = plan[next];
        // The run keeps itself alive until the matrix has answered.
        send(route, [self = shared_from_this(), route](client::Status status) {
            if (status != client::Status::Ok) {
                self->outcome.status = status;
                self->outcome.failed = route;
                self->outcome.notSent.assign(self->plan.begin() + static_cast<std::ptrdiff_t>(self->next) + 1,
                                             self->plan.end());
                self->done(self->outcome);
                return;
            }
            self->outcome.changed.push_back(route);
            ++self->next;
            self->step();
        });
    }
};

}  // namespace

void runTake(std::vector<Route> plan, SendRoute send, std::function<void(const TakeOutcome&)> done)
{
    auto run = std::make_shared<TakeRun>();
    run->plan = std::move(plan);
    run->send = std::move(send);
    run->done = std::move(done);
    run->step();
}

}  // namespace matrix::service
