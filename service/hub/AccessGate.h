// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/Config.h"
#include "service/hub/FailureLimiter.h"
#include "service/hub/OriginPolicy.h"
#include "service/hub/Roles.h"
#include "service/hub/TokenTable.h"
#include "service/hub/TrustedProxies.h"

#include <optional>
#include <string>
#include <string_view>

namespace matrix::service {

// What the gate needs of an HTTP request, taken before its body is read.
struct AccessRequest {
    std::string_view method;
    std::string_view host;           // Host
    std::string_view origin;         // Origin
    std::string_view secFetchSite;   // Sec-Fetch-Site
    std::string_view authorization;  // Authorization
    std::string_view queryToken;     // ?token= where a header cannot be sent (the event stream)
    std::string peer;                // the connection's own address
    std::string_view forwarded;      // Forwarded
    std::string_view xForwardedFor;  // X-Forwarded-For
};

struct AccessDecision {
    int status = 200;  // 200: go on; else answer this with `error` and do nothing
    std::string error;
    int retryAfterSeconds = 0;          // with 429: the Retry-After value
    std::optional<TokenHolder> holder;  // with 200: whose rights (a token's name, or "loopback")
    ClientAddress client;               // for the log, whatever the status
};

// Every check a request meets before it may ask anything, in the order that
// gives nothing away: the Host and the site first (421, 403), then a client
// that guessed too often (429), then the token (401). Loop thread only.
class AccessGate {
public:
    AccessGate(const HttpConfig& http, const EventLoop& loop);

    // `needsToken` false (the page's files): the Host and the site only.
    AccessDecision admit(const AccessRequest& request, bool needsToken = true);
    // 403 for an operation outside the admitted holder's role.
    static bool allowed(const AccessDecision& decision, Operation operation);

private:
    OriginPolicy origins_;
    TrustedProxies proxies_;
    TokenTable tokens_;
    FailureLimiter failures_;
};

}  // namespace matrix::service
