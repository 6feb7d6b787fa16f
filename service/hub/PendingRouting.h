// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"

#include <map>
#include <optional>
#include <vector>

namespace matrix::service {

// One output switched to one input (both 1..4).
struct Route {
    int output = 0;
    int input = 0;
    friend bool operator==(const Route&, const Route&) = default;
};

// What a take did. On a fault `failed` is the route the matrix did not
// confirm; `changed` holds the routes it did (they stay: a take is not rolled
// back, the routing shown is what the matrix carries) and `notSent` the rest.
struct TakeOutcome {
    client::Status status = client::Status::Ok;
    std::vector<Route> changed;
    std::optional<Route> failed;
    std::vector<Route> notSent;
};

// The staged routes of one matrix, shared by everyone, as on a router panel
// with a take button. The caller checks outputs, inputs and locks before a
// merge: nothing here talks to the matrix.
class PendingRouting {
public:
    // Later routes for an output replace earlier ones.
    void merge(const std::vector<Route>& routes);
    void clear() { staged_.clear(); }
    // Drops the route when the output is still staged to that input.
    void unstage(const Route& route);
    bool empty() const { return staged_.empty(); }
    // input per output, for the outputs that have a staged route.
    const std::map<int, int>& staged() const { return staged_; }
    // The routes in output order, as a take sends them.
    std::vector<Route> takePlan() const;

private:
    std::map<int, int> staged_;
};

}  // namespace matrix::service
