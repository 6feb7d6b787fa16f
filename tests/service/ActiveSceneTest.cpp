// SPDX-License-Identifier: Apache-2.0
// Which scene is live as the routing, the recalls and the scenes change; a
// front-end announces it exactly when update() says it moved.
#include "service/hub/ActiveScene.h"

#include <gtest/gtest.h>

namespace matrix::service {
namespace {

constexpr std::optional<int> kUnknown;

TEST(ActiveScene, FollowsRoutingRecallsAndScenes)
{
    ActiveScene::Scenes scenes{
        {"all-laptop", {1, 1, 1, 1}},
        {"talk", {3, 0, 2, 0}},   // leaves B and D as they are
        {"panel", {3, 0, 2, 0}},  // the same routing under another name
        {"blank", {0, 0, 0, 0}},  // sets nothing: never live
    };
    struct Step {
        const char* what;
        const char* touch;   // recalled or saved, or null
        const char* remove;  // deleted, or null
        LiveRouting live;
        std::optional<std::string> active;
        bool announced;
    } steps[] = {
        {"routing still unknown", nullptr, nullptr, {}, std::nullopt, false},
        {"partly known, the set outputs match", nullptr, nullptr, {3, kUnknown, 2, kUnknown}, "panel", true},
        {"a tie goes to the first name", nullptr, nullptr, {3, 4, 2, 1}, "panel", false},
        {"recalled: the tie goes to it", "talk", nullptr, {3, 4, 2, 1}, "talk", true},
        {"an output it leaves changes", nullptr, nullptr, {3, 1, 2, 4}, "talk", false},
        {"an output it sets changes", nullptr, nullptr, {3, 1, 1, 4}, std::nullopt, true},
        {"back again: still the recalled one", nullptr, nullptr, {3, 1, 2, 4}, "talk", true},
        {"the other one saved", "panel", nullptr, {3, 1, 2, 4}, "panel", true},
        {"every output on the laptop", nullptr, nullptr, {1, 1, 1, 1}, "all-laptop", true},
        {"one output unknown again", nullptr, nullptr, {1, 1, kUnknown, 1}, std::nullopt, true},
        {"deleted: the recalled scene gone", nullptr, "panel", {3, 1, 2, 4}, "talk", true},
        {"the blank scene recalled", "blank", nullptr, {3, 1, 2, 4}, "talk", false},
    };
    ActiveScene active;
    for (const auto& step : steps) {
        if (step.touch)
            active.touched(step.touch);
        if (step.remove) {
            scenes.erase(step.remove);
            active.forget(step.remove);
        }
        EXPECT_EQ(active.update(scenes, step.live), step.announced) << step.what;
        EXPECT_EQ(active.current(), step.active) << step.what;
    }
}

}  // namespace
}  // namespace matrix::service
