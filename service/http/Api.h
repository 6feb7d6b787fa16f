// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/http/HttpTypes.h"

#include <set>
#include <string>

namespace matrix::service {

class Hub;

// The JSON API under /api/v1, on the loop thread. A request is checked
// whole before anything goes to the matrix, so a refused one sends nothing;
// `reply` is called exactly once, after the matrix acknowledged when it had to.
class Api {
public:
    explicit Api(Hub& hub) : hub_(hub) {}
    void handle(const HttpRequest& request, std::function<void(HttpResponse)> reply);

private:
    Hub& hub_;
    std::set<std::string> firmwareActive_;  // matrices whose upgrade has not ended yet
};

}  // namespace matrix::service
