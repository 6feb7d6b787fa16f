// SPDX-License-Identifier: Apache-2.0
#include "service/hub/OriginPolicy.h"

#include "core/transport/Ipv4.h"

#include <algorithm>
#include <cctype>

namespace matrix::service {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// "name:port" -> ("name", "port"); "name" -> ("name", "").
std::pair<std::string_view, std::string_view> splitPort(std::string_view authority)
{
    const auto colon = authority.rfind(':');
    if (colon == std::string_view::npos)
        return {authority, {}};
    return {authority.substr(0, colon), authority.substr(colon + 1)};
}

bool isSafeMethod(std::string_view method) { return method == "GET" || method == "HEAD" || method == "OPTIONS"; }

}  // namespace

int httpStatus(OriginVerdict verdict)
{
    switch (verdict) {
    case OriginVerdict::Ok: return 200;
    case OriginVerdict::ForeignHost: return 421;
    case OriginVerdict::CrossSite: return 403;
    }
    return 403;
}

OriginPolicy::OriginPolicy(std::string listenHost, int listenPort, std::vector<std::string> serverNames)
    : listenHost_(std::move(listenHost)),
      listenPort_(listenPort),
      serverNames_(std::move(serverNames))
{
}

bool OriginPolicy::hostAllowed(std::string_view host) const
{
    const auto [name, port] = splitPort(host);
    const std::string ownPort = std::to_string(listenPort_);
    // An address in the Host cannot be a rebinding attack: the browser then
    // treats that address itself as the site. On a wildcard listener any of
    // this machine's addresses may be used, so any address passes there.
    if (parseDottedIpv4(std::string(name)))
        return (name == listenHost_ || listenHost_ == "0.0.0.0") && (port.empty() || port == ownPort);
    // Browsers resolve "localhost" themselves, never through DNS.
    if (equalsIgnoringCase(name, "localhost") && (listenHost_.rfind("127.", 0) == 0 || listenHost_ == "0.0.0.0"))
        return port.empty() || port == ownPort;
    // A configured name may come through a reverse proxy on another port.
    return std::any_of(serverNames_.begin(), serverNames_.end(),
                       [&](const std::string& serverName) { return equalsIgnoringCase(name, serverName); });
}

OriginVerdict OriginPolicy::check(const RequestOrigin& request) const
{
    // HTTP/1.0 tools may send no Host; browsers always do.
    if (!request.host.empty() && !hostAllowed(request.host))
        return OriginVerdict::ForeignHost;
    if (isSafeMethod(request.method))
        return OriginVerdict::Ok;
    if (request.secFetchSite == "cross-site" || request.secFetchSite == "same-site")
        return OriginVerdict::CrossSite;
    if (request.origin.empty())
        return OriginVerdict::Ok;
    // Our own origin: the Host this request was sent to, with either scheme
    // (a TLS proxy in front turns https into http).
    std::string_view authority = request.origin;
    for (std::string_view scheme : {"http://", "https://"})
        if (authority.substr(0, scheme.size()) == scheme) {
            const std::string_view defaultPort = scheme == "http://" ? "80" : "443";
            authority.remove_prefix(scheme.size());
            if (request.host.empty())
                return OriginVerdict::CrossSite;
            if (equalsIgnoringCase(authority, request.host))
                return OriginVerdict::Ok;
            // "https://matrix.lan" against "Host: matrix.lan:443".
            const auto [hostName, hostPort] = splitPort(request.host);
            if (splitPort(authority).second.empty() && hostPort == defaultPort &&
                equalsIgnoringCase(authority, hostName))
                return OriginVerdict::Ok;
            return OriginVerdict::CrossSite;
        }
    // "null" (a sandboxed frame, a file) or anything else.
    return OriginVerdict::CrossSite;
}

}  // namespace matrix::service
