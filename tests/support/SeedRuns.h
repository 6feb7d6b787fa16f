// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>

namespace matrix::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Seeds CI runs. A session takes well under a millisecond here and about
// 15 ms under the sanitizers, so the sanitizer build runs fewer.
inline constexpr std::uint32_t kDefaultSeeds = 10000;
inline constexpr std::uint32_t kSanitizedSeeds = 1000;

inline std::uint32_t envNumber(const char* name, std::uint32_t fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
}

// Runs the seed named in `seedVariable` alone (verbose), or else seeds 1..N
// with N from `countVariable`, giving up after five failing seeds so that
// one fault does not flood the log.
inline void runSeeds(const char* seedVariable, const char* countVariable,
                     const std::function<bool(std::uint32_t seed, bool verbose)>& runSeed)
{
    if (const std::uint32_t only = envNumber(seedVariable, 0)) {
        EXPECT_TRUE(runSeed(only, true)) << "seed " << only;
        return;
    }
    const std::uint32_t count = envNumber(countVariable, kSanitized ? kSanitizedSeeds : kDefaultSeeds);
    int failed = 0;
    for (std::uint32_t seed = 1; seed <= count; ++seed) {
        if (!runSeed(seed, false) && ++failed >= 5) {
            ADD_FAILURE() << "stopped after 5 failing seeds";
            break;
        }
    }
}

}  // namespace matrix::testing
