// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <random>

namespace matrix::testing {

// Every random choice of a fault run, from one seed. The engine's raw
// output is fixed by the C++ standard; the standard distributions are not
// (each library maps differently), so the mapping to choices is ours and a
// printed seed replays the same run with any standard library.
class SeededChoices {
public:
    explicit SeededChoices(std::uint32_t seed) : engine_(seed) {}

    // True with probability p: the top 24 bits as a fraction in [0, 1).
    bool chance(double p)
    {
        const std::uint32_t raw = static_cast<std::uint32_t>(engine_()) >> 8;
        return static_cast<double>(raw) / 16777216.0 < p;
    }

    // A number in low..high, both included. Draws past the last whole
    // multiple of the span are drawn again, so every value is equally likely.
    int between(int low, int high)
    {
        const std::uint64_t span = static_cast<std::uint64_t>(static_cast<std::int64_t>(high) - low) + 1;
        const std::uint64_t limit = (std::uint64_t{1} << 32) / span * span;
        std::uint64_t raw = engine_();
        while (raw >= limit)
            raw = engine_();
        return static_cast<int>(static_cast<std::int64_t>(low) + static_cast<std::int64_t>(raw % span));
    }

private:
    std::mt19937 engine_;
};

}  // namespace matrix::testing
