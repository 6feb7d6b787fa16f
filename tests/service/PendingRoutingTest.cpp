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

// Answers each route at once: Ok, or `fault` for the route to `faultOutput`.
struct FaultAtOutput {
    int faultOutput = 0;
    client::Status fault = client::Status::TimeOut;
    std::vector<Route> sent;
    void operator()(const Route& route, const std::function<void(client::Status)>& answer)
    {
        sent.push_back(route);
        answer(route.output == faultOutput ? fault : client::Status::Ok);
    }
};

TEST(PendingRouting, TakeSendsInOrderAndStopsAtTheFirstFault)
{
    const std::vector<Route> plan{{1, 2}, {2, 2}, {3, 4}, {4, 1}};
    struct Case {
        int faultOutput;
        client::Status status;
        std::vector<Route> sent;
        std::vector<Route> changed;
        std::optional<Route> failed;
        std::vector<Route> notSent;
    } cases[] = {
        {0, client::Status::Ok, plan, plan, std::nullopt, {}},
        {1, client::Status::TimeOut, {{1, 2}}, {}, Route{1, 2}, {{2, 2}, {3, 4}, {4, 1}}},
        {3, client::Status::LinkDown, {{1, 2}, {2, 2}, {3, 4}}, {{1, 2}, {2, 2}}, Route{3, 4}, {{4, 1}}},
        {4, client::Status::Standby, plan, {{1, 2}, {2, 2}, {3, 4}}, Route{4, 1}, {}},
    };
    for (const auto& c : cases) {
        FaultAtOutput matrix{c.faultOutput, c.status, {}};
        int doneCalls = 0;
        TakeOutcome outcome;
        runTake(
            plan, [&](const Route& r, std::function<void(client::Status)> answer) { matrix(r, answer); },
            [&](const TakeOutcome& o) {
                ++doneCalls;
                outcome = o;
            });
        EXPECT_EQ(doneCalls, 1) << c.faultOutput;
        EXPECT_EQ(matrix.sent, c.sent) << c.faultOutput;
        EXPECT_EQ(outcome.status, c.status) << c.faultOutput;
        EXPECT_EQ(outcome.changed, c.changed) << c.faultOutput;
        EXPECT_EQ(outcome.failed, c.failed) << c.faultOutput;
        EXPECT_EQ(outcome.notSent, c.notSent) << c.faultOutput;
    }
}

TEST(PendingRouting, TakeWaitsForEachAnswerBeforeTheNextRoute)
{
    std::vector<Route> sent;
    std::function<void(client::Status)> answer;
    bool done = false;
    runTake({{2, 1}, {4, 3}},
            [&](const Route& route, std::function<void(client::Status)> a) {
                sent.push_back(route);
                answer = std::move(a);
            },
            [&](const TakeOutcome&) { done = true; });
    EXPECT_EQ(sent, (std::vector<Route>{{2, 1}}));
    auto first = std::move(answer);
    first(client::Status::Ok);
    EXPECT_EQ(sent, (std::vector<Route>{{2, 1}, {4, 3}}));
    EXPECT_FALSE(done);
    answer(client::Status::Ok);
    EXPECT_TRUE(done);
}

}  // namespace
}  // namespace matrix::service
