// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/MatrixUnit.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace matrix::service {

// All configured matrices and the one event bus the front-ends listen on.
// Events are the JSON objects of the HTTP event stream, e.g.
//   {"type":"routing","matrix":"hall","output":2,"input":3}
//   {"type":"link","matrix":"hall","link":"up"}
//   {"type":"cable","matrix":"hall","port":"input","number":1,"cable":true}
//   {"type":"beep","matrix":"hall","on":true}
//   {"type":"edid","matrix":"hall","input":1,"code":3,"text":"..."}
//   {"type":"firmware","matrix":"hall","done":n,"total":m}
//   {"type":"scene","matrix":"hall","scene":"Lecture"} (a scene was recalled)
//   {"type":"names",...} {"type":"scenes",...} {"type":"lock",...} {"type":"standby",...}
// Every front-end (HTTP/SSE, MQTT, Videohub) is an adapter over this.
class Hub {
public:
    using Listener = std::function<void(const nlohmann::json& event)>;

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
    void publish(const nlohmann::json& event);

private:
    std::vector<std::unique_ptr<MatrixUnit>> units_;
    std::map<int, Listener> listeners_;
    int nextSubscription_ = 1;
    LockOwner nextLockOwner_ = 1;
};

}  // namespace matrix::service
