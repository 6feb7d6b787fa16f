// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/HubEvent.h"
#include "service/hub/MatrixUnit.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace matrix::service {

// All configured matrices and the one event bus the front-ends listen on:
// the one surface every front-end uses.
//
// A front-end plugs in by
// - subscribing to the typed events (HubEvent.h) and writing each in its own
//   wire form (SSE JSON through eventJson, MQTT topics, Videohub blocks);
// - finding the matrix (find) and asking for operations on its MatrixUnit
//   with a Caller that says who asks (its name, the peer, its lock id from
//   newLockOwner when it holds locks);
// - mapping each Outcome to its own reply (httpStatus, NAK, the text
//   protocol's `ERR <httpStatus> <text>`, Outcome::text for a log line).
// Front-ends never talk to each other and keep no copy of a matrix's state.
class Hub {
public:
    using Listener = std::function<void(const HubEvent& event)>;

    Hub() = default;
    ~Hub();
    Hub(const Hub&) = delete;
    Hub& operator=(const Hub&) = delete;

    // Takes a unit made for this hub; units keep the order they were added in.
    MatrixUnit& add(std::unique_ptr<MatrixUnit> unit);
    void startAll();
    void stopAll();

    std::vector<MatrixUnit*> units();
    MatrixUnit* find(const std::string& id);

    // Listeners are called on the loop thread, in subscription order.
    int subscribe(Listener listener);
    void unsubscribe(int subscription);

    LockOwner newLockOwner();

    // Hands the event to every listener (units call this).
    void publish(const HubEvent& event);

private:
    std::vector<std::unique_ptr<MatrixUnit>> units_;
    std::map<int, Listener> listeners_;
    int nextSubscription_ = 1;
    LockOwner nextLockOwner_ = 1;
};

}  // namespace matrix::service
