// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/http/HttpTypes.h"

#include <string>

namespace matrix::service {

class Hub;

// The JSON API under /api/v1, on the loop thread: the HTTP front-end of the
// hub. It reads the request and asks the hub's unit, which checks the rules;
// a refused request sends nothing. `reply` is called exactly once, after the
// matrix acknowledged when it had to. One handler function per operation.
class Api {
public:
    explicit Api(Hub& hub) : hub_(hub) {}
    void handle(const HttpRequest& request, std::function<void(HttpResponse)> reply);

private:
    Hub& hub_;
};

}  // namespace matrix::service
