// SPDX-License-Identifier: Apache-2.0
// Staged routes: merging sends nothing, a take sends them in output order one
// after the other, and a fault half-way says what the matrix now carries.
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

TEST(PendingRouting, TakeSendsOneRouteAtATimeAndStopsAtTheFirstFault)
{
    const std::vector<Route> plan{{1, 2}, {2, 2}, {3, 4}, {4, 1}};
    struct Case {
        int faultOutput;  // the route to it gets `status`, the others Ok
        client::Status status;
        std::vector<Route> changed;
        std::optional<Route> failed;
        std::vector<Route> notSent;
    } cases[] = {
        {0, client::Status::Ok, plan, std::nullopt, {}},
        {1, client::Status::TimeOut, {}, Route{1, 2}, {{2, 2}, {3, 4}, {4, 1}}},
        {3, client::Status::LinkDown, {{1, 2}, {2, 2}}, Route{3, 4}, {{4, 1}}},
        {4, client::Status::Standby, {{1, 2}, {2, 2}, {3, 4}}, Route{4, 1}, {}},
    };
    for (const auto& c : cases) {
        std::vector<Route> sent;
        std::vector<std::function<void(client::Status)>> unanswered;
        std::vector<TakeOutcome> outcomes;
        runTake(
            plan,
            [&](const Route& route, std::function<void(client::Status)> answer) {
                sent.push_back(route);
                unanswered.push_back(std::move(answer));
            },
            [&](const TakeOutcome& outcome) { outcomes.push_back(outcome); });
        while (!unanswered.empty()) {
            ASSERT_EQ(unanswered.size(), 1u) << "a route was sent before the previous one was answered";
            auto answer = std::move(unanswered.back());
            unanswered.pop_back();
            answer(sent.back().output == c.faultOutput ? c.status : client::Status::Ok);
        }
        ASSERT_EQ(outcomes.size(), 1u) << c.faultOutput;
        EXPECT_EQ(sent, std::vector<Route>(plan.begin(), plan.end() - static_cast<long>(c.notSent.size())));
        EXPECT_EQ(outcomes[0].status, c.status) << c.faultOutput;
        EXPECT_EQ(outcomes[0].changed, c.changed) << c.faultOutput;
        EXPECT_EQ(outcomes[0].failed, c.failed) << c.faultOutput;
        EXPECT_EQ(outcomes[0].notSent, c.notSent) << c.faultOutput;
    }
}

}  // namespace
}  // namespace matrix::service
