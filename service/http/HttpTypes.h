// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/Roles.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace matrix::service {

// A request as the API sees it: head and body read whole.
struct HttpRequest {
    std::string method;
    std::vector<std::string> segments;  // the path split at '/', decoded, without the empty first one
    std::string contentType;
    std::string body;
    std::string peer;  // "address:port" of the client, for the hub's Caller
    // Whose rights: the token's name ("loopback" when none is configured)
    // and role. Read-only unless the server admitted more.
    std::string tokenName;
    Role role = Role::Viewer;
};

struct HttpResponse {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
};

constexpr std::size_t kMaxBodyBytes = 256 * 1024;

}  // namespace matrix::service
