// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Hub.h"

namespace matrix::service {

Hub::~Hub()
{
    // Units close their clients while the listeners still exist, so the
    // last link events reach nobody rather than a destroyed front-end.
    listeners_.clear();
    units_.clear();
}

MatrixUnit& Hub::add(std::unique_ptr<MatrixUnit> unit)
{
    units_.push_back(std::move(unit));
    return *units_.back();
}

void Hub::startAll()
{
    for (auto& unit : units_)
        unit->start();
}

void Hub::stopAll()
{
    for (auto& unit : units_)
        unit->stop();
}

std::vector<MatrixUnit*> Hub::units()
{
    std::vector<MatrixUnit*> result;
    for (auto& unit : units_)
        result.push_back(unit.get());
    return result;
}

MatrixUnit* Hub::find(const std::string& id)
{
    for (auto& unit : units_)
        if (unit->id() == id)
            return unit.get();
    return nullptr;
}

int Hub::subscribe(Listener listener)
{
    const int id = nextSubscription_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void Hub::unsubscribe(int subscription) { listeners_.erase(subscription); }

LockOwner Hub::newLockOwner() { return nextLockOwner_++; }

void Hub::publish(const HubEvent& event)
{
    // A listener may subscribe or unsubscribe while it is called: walk by id.
    int next = 0;
    for (auto it = listeners_.lower_bound(next); it != listeners_.end(); it = listeners_.lower_bound(next)) {
        next = it->first + 1;
        const Listener listener = it->second;
        listener(event);
    }
}

}  // namespace matrix::service
