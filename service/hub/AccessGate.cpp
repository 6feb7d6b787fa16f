// SPDX-License-Identifier: Apache-2.0
#include "service/hub/AccessGate.h"

namespace matrix::service {

AccessGate::AccessGate(const HttpConfig& http, const EventLoop& loop)
    : origins_(http.host, http.port, http.serverNames),
      proxies_(http.trustedProxies),
      tokens_(makeTokenTable(http)),
      failures_(loop)
{
}

AccessDecision AccessGate::admit(const AccessRequest& request, bool needsToken)
{
    AccessDecision decision;
    decision.client = proxies_.resolve(request.peer, request.forwarded, request.xForwardedFor);
    const auto refuse = [&](int status, std::string error) {
        decision.status = status;
        decision.error = std::move(error);
        return decision;
    };
    switch (origins_.check({request.method, request.host, request.origin, request.secFetchSite})) {
    case OriginVerdict::ForeignHost: return refuse(421, "this server does not answer for that Host");
    case OriginVerdict::CrossSite: return refuse(403, "a request from another site may not change anything");
    case OriginVerdict::Ok: break;
    }
    if (!needsToken)
        return decision;
    if (const auto wait = failures_.retryAfterSeconds(decision.client.address)) {
        decision.retryAfterSeconds = *wait;
        return refuse(429, "too many wrong tokens; try again later");
    }
    std::string_view secret = bearerSecret(request.authorization);
    if (secret.empty())
        secret = request.queryToken;
    // A single-seat install: no token at all, and the client on this machine.
    if (tokens_.empty()) {
        if (!decision.client.loopback())
            return refuse(401, "missing or wrong token");
        decision.holder = TokenHolder{"loopback", Role::Admin};
        return decision;
    }
    decision.holder = tokens_.find(secret);
    if (!decision.holder) {
        // Only a wrong secret is a guess; a request without one is not.
        if (!secret.empty())
            failures_.recordFailure(decision.client.address);
        return refuse(401, "missing or wrong token");
    }
    return decision;
}

bool AccessGate::allowed(const AccessDecision& decision, Operation operation)
{
    return decision.status == 200 && decision.holder && allows(decision.holder->role, operation);
}

}  // namespace matrix::service
