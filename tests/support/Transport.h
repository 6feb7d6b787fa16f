// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace matrix::testing {

// The two ways a page reaches the matrix.
enum class Transport { Com, Tcp };

// Parameters for a suite that runs over both.
inline auto bothTransports() { return ::testing::Values(Transport::Com, Transport::Tcp); }

inline std::string transportName(const ::testing::TestParamInfo<Transport>& info)
{
    return info.param == Transport::Tcp ? "Tcp" : "Com";
}

// A frame's 13 bytes as they cross the wire; with goodSum false the sum
// byte is off by one.
inline std::vector<std::uint8_t> frameBytes(const CommandFrame& frame, bool goodSum = true)
{
    std::vector<std::uint8_t> bytes(frame.data(), frame.data() + CommandFrame::kSize);
    if (!goodSum)
        bytes[CommandFrame::kSize - 1] = static_cast<std::uint8_t>(bytes[CommandFrame::kSize - 1] + 1);
    return bytes;
}

inline std::vector<std::uint8_t> frameBytes(int command, int sub, int p1, int p2, int p3, bool goodSum = true)
{
    return frameBytes(CommandFrame().set(2, command).set(3, sub).set(4, p1).set(5, p2).set(6, p3).seal(), goodSum);
}

}  // namespace matrix::testing
