// SPDX-License-Identifier: Apache-2.0
// Staged routes: later merges replace an output, a take plans them in output
// order. The take itself runs through the hub (HubApiTest).
#include "service/hub/PendingRouting.h"

#include <gtest/gtest.h>

namespace matrix::service {
namespace {

TEST(PendingRouting, MergesAndPlansInOutputOrder)
{
    struct Case {
        const char* what;
        std::vector<std::vector<Route>> merges;
        std::vector<Route> plan;
    } cases[] = {
        {"nothing staged", {}, {}},
        {"one merge, out of order", {{{3, 1}, {1, 4}}}, {{1, 4}, {3, 1}}},
        {"a later merge replaces an output", {{{2, 3}, {3, 3}}, {{2, 1}}}, {{2, 1}, {3, 3}}},
        {"the last route of one merge wins", {{{4, 2}, {4, 3}}}, {{4, 3}}},
    };
    for (const auto& c : cases) {
        PendingRouting pending;
        for (const auto& merge : c.merges)
            pending.merge(merge);
        EXPECT_EQ(pending.takePlan(), c.plan) << c.what;
        EXPECT_EQ(pending.empty(), c.plan.empty()) << c.what;
        pending.clear();
        EXPECT_TRUE(pending.takePlan().empty()) << c.what;
    }
}

}  // namespace
}  // namespace matrix::service
