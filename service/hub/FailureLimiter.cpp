// SPDX-License-Identifier: Apache-2.0
#include "service/hub/FailureLimiter.h"

#include <algorithm>

namespace matrix::service {

namespace {

void dropOlderThan(std::deque<std::int64_t>& times, std::int64_t limit)
{
    while (!times.empty() && times.front() <= limit)
        times.pop_front();
}

}  // namespace

std::optional<int> FailureLimiter::retryAfterSeconds(const std::string& address)
{
    const auto it = failures_.find(address);
    if (it == failures_.end())
        return std::nullopt;
    const std::int64_t now = loop_.nowMs();
    auto& times = it->second;
    dropOlderThan(times, now - kWindowMs);
    if (times.size() <= static_cast<std::size_t>(kMaxFailures)) {
        if (times.empty())
            failures_.erase(it);
        return std::nullopt;
    }
    // Free again once the failure that made it one too many is a minute old.
    const std::int64_t freeAt = times[times.size() - kMaxFailures - 1] + kWindowMs;
    return static_cast<int>(std::max<std::int64_t>(1, (freeAt - now + 999) / 1000));
}

void FailureLimiter::recordFailure(const std::string& address)
{
    const std::int64_t now = loop_.nowMs();
    if (failures_.size() >= kMaxAddresses && failures_.find(address) == failures_.end())
        forgetExpired(now);
    auto& times = failures_[address];
    times.push_back(now);
    // More than one over the limit tells nothing new.
    while (times.size() > static_cast<std::size_t>(kMaxFailures) + 1)
        times.pop_front();
}

void FailureLimiter::forgetExpired(std::int64_t now)
{
    for (auto it = failures_.begin(); it != failures_.end();) {
        dropOlderThan(it->second, now - kWindowMs);
        it = it->second.empty() ? failures_.erase(it) : std::next(it);
    }
    // Still full (a flood from many addresses): forget the one whose last failure
    // is oldest.
    if (failures_.size() >= kMaxAddresses) {
        const auto oldest = std::min_element(failures_.begin(), failures_.end(), [](const auto& a, const auto& b) {
            return a.second.back() < b.second.back();
        });
        failures_.erase(oldest);
    }
}

}  // namespace matrix::service
