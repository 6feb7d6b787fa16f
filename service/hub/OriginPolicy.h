// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace matrix::service {

// The headers of a request that say which site it comes from.
struct RequestOrigin {
    std::string_view method;
    std::string_view host;          // Host; empty when the request had none
    std::string_view origin;        // Origin; empty when absent
    std::string_view secFetchSite;  // Sec-Fetch-Site; empty when absent
};

enum class OriginVerdict {
    Ok,
    ForeignHost,  // 421: the Host names another server (DNS rebinding)
    CrossSite,    // 403: a change asked by another site's page
};

int httpStatus(OriginVerdict verdict);

// Refuses what a browser sends on behalf of another site. Scripts, curl and
// control systems send no Origin and no Sec-Fetch-Site, so they pass; the
// web page is same-origin, so it passes too.
class OriginPolicy {
public:
    // `listenHost`/`listenPort` as configured; `serverNames` from [http]
    // server_names.
    OriginPolicy(std::string listenHost, int listenPort, std::vector<std::string> serverNames);

    OriginVerdict check(const RequestOrigin& request) const;

private:
    bool hostAllowed(std::string_view host) const;

    std::string listenHost_;
    int listenPort_;
    std::vector<std::string> serverNames_;
};

}  // namespace matrix::service
