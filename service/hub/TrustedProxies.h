// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/AddressAllowList.h"

#include <string>
#include <string_view>

namespace matrix::service {

// Who sent a request, for the log, the failure limiter and the loopback rule.
struct ClientAddress {
    std::string address;    // dotted IPv4, or the text a proxy gave (escape it
                            // before logging)
    bool viaProxy = false;  // came through a trusted proxy
    // Only a direct connection from 127.x counts: through a proxy on the same
    // machine, the client is wherever the proxy's own client is.
    bool loopback() const;
};

// The reverse proxies whose X-Forwarded-For / Forwarded headers are believed
// ([http] trusted_proxies). Anyone else can write those headers too, so from
// any other peer they are ignored.
class TrustedProxies {
public:
    TrustedProxies() = default;
    explicit TrustedProxies(AddressAllowList proxies) : proxies_(std::move(proxies)) {}

    // `forwarded` and `xForwardedFor` are the header values (several header
    // lines joined with ", "), empty when absent. Forwarded wins over
    // X-Forwarded-For. The client is the last address in the chain that is
    // not itself a trusted proxy: what comes before it, the client wrote.
    ClientAddress resolve(const std::string& peer, std::string_view forwarded, std::string_view xForwardedFor) const;

private:
    bool trusted(const std::string& address) const { return !proxies_.empty() && proxies_.allows(address); }

    AddressAllowList proxies_;  // empty: no proxy is trusted
};

}  // namespace matrix::service
