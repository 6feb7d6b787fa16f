// SPDX-License-Identifier: Apache-2.0
#include "service/hub/ActiveScene.h"

#include <algorithm>

namespace matrix::service {

bool sceneMatches(const SceneRouting& scene, const LiveRouting& live)
{
    bool setsAny = false;
    for (int i = 0; i < client::kPortCount; ++i) {
        if (scene[i] == 0)
            continue;
        setsAny = true;
        if (live[i] != scene[i])
            return false;
    }
    return setsAny;
}

void ActiveScene::touched(const std::string& name)
{
    forget(name);
    recent_.push_back(name);
}

void ActiveScene::forget(const std::string& name) { std::erase(recent_, name); }

std::optional<std::string> ActiveScene::compute(const Scenes& scenes, const LiveRouting& live) const
{
    for (auto it = recent_.rbegin(); it != recent_.rend(); ++it) {
        const auto scene = scenes.find(*it);
        if (scene != scenes.end() && sceneMatches(scene->second, live))
            return *it;
    }
    for (const auto& [name, routing] : scenes)
        if (sceneMatches(routing, live))
            return name;
    return std::nullopt;
}

bool ActiveScene::update(const Scenes& scenes, const LiveRouting& live)
{
    auto next = compute(scenes, live);
    if (next == current_)
        return false;
    current_ = std::move(next);
    return true;
}

}  // namespace matrix::service
