// SPDX-License-Identifier: Apache-2.0
#include "service/http/Router.h"

namespace matrix::service {

std::vector<std::string> splitPath(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = 1;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (!segments.empty() && segments.back().empty())
        segments.pop_back();
    return segments;
}

bool matchesPattern(const std::vector<std::string>& pattern, const std::vector<std::string>& segments)
{
    if (pattern.size() != segments.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool any = pattern[i].size() > 2 && pattern[i].front() == '{' && pattern[i].back() == '}';
        if (!any && pattern[i] != segments[i])
            return false;
    }
    return true;
}

}  // namespace matrix::service
