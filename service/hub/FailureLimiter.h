// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>

namespace matrix::service {

// Slows down guessing: an address with more than kMaxFailures failed attempts
// in the last kWindowMs is refused (429) until enough of them are a minute old.
// Time is the loop's clock, so tests run it on virtual time.
class FailureLimiter {
public:
    static constexpr int kMaxFailures = 10;
    static constexpr std::int64_t kWindowMs = 60'000;
    // Addresses remembered at most; past it the oldest are forgotten first.
    static constexpr std::size_t kMaxAddresses = 4096;

    explicit FailureLimiter(const EventLoop& loop) : loop_(loop) {}

    // The Retry-After seconds when `address` must wait; nothing when it may try.
    std::optional<int> retryAfterSeconds(const std::string& address);
    void recordFailure(const std::string& address);

private:
    void forgetExpired(std::int64_t now);

    const EventLoop& loop_;
    // Per address, the times of its recent failures, oldest first.
    std::unordered_map<std::string, std::deque<std::int64_t>> failures_;
};

}  // namespace matrix::service
