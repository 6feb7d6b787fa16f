// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace matrix::service {

// "/api/v1/matrices/" -> {"api", "v1", "matrices"}: a trailing slash names the same thing.
std::vector<std::string> splitPath(const std::string& path);

// Whether the segments fit the pattern's; a "{name}" segment takes any one segment.
bool matchesPattern(const std::vector<std::string>& pattern, const std::vector<std::string>& segments);

// The routes as one table of {method, path pattern, handler}. What a request
// finds follows from the table alone: its handler, 405 with the methods the
// path does take (for `Allow`), or 404.
template <typename Handler>
class Router {
public:
    struct Route {
        std::string method;
        std::string pattern;
        Handler handler;
    };
    struct Found {
        int status = 404;  // 200: `handler` is set; 405: `allow` lists the path's methods
        const Handler* handler = nullptr;
        std::string allow;
    };

    explicit Router(std::vector<Route> routes) : routes_(std::move(routes))
    {
        for (const Route& route : routes_)
            patterns_.push_back(splitPath(route.pattern));
    }

    Found find(const std::string& method, const std::vector<std::string>& segments) const
    {
        Found found;
        for (std::size_t i = 0; i < routes_.size(); ++i) {
            if (!matchesPattern(patterns_[i], segments))
                continue;
            if (routes_[i].method == method)
                return {200, &routes_[i].handler, {}};
            if (found.allow.find(routes_[i].method) == std::string::npos)
                found.allow += (found.allow.empty() ? "" : ", ") + routes_[i].method;
        }
        if (!found.allow.empty())
            found.status = 405;
        return found;
    }

private:
    std::vector<Route> routes_;
    std::vector<std::vector<std::string>> patterns_;
};

}  // namespace matrix::service
