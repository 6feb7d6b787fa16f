// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace matrix::service {

// A saved routing: input per output (1..4; 0 leaves the output as it is).
using SceneRouting = std::array<int, client::kPortCount>;
// What the matrix carries per output, as far as it is known.
using LiveRouting = std::array<std::optional<int>, client::kPortCount>;

// A scene matches when every output it sets carries that input now. Outputs it
// leaves (0) do not count, so a scene of two outputs stays live whatever the
// others carry; an output it sets whose input is unknown does not match. A
// scene that sets no output describes no routing and never matches, or it
// would light up on every change.
bool sceneMatches(const SceneRouting& scene, const LiveRouting& live);

// Which scene is live: of the scenes matching the routing, the one most
// recently recalled or saved, else the first by name. Recalls and saves are
// remembered since the start (the order is not kept across restarts).
// update() after every routing or scene change; it says when the answer moved,
// which is when the front-ends announce it.
class ActiveScene {
public:
    using Scenes = std::map<std::string, SceneRouting>;

    // A recall started or a scene was saved: it wins ties from now on.
    void touched(const std::string& name);
    // A scene was deleted (or renamed away).
    void forget(const std::string& name);

    std::optional<std::string> compute(const Scenes& scenes, const LiveRouting& live) const;
    // Recomputes; true when the live scene differs from the last answer.
    bool update(const Scenes& scenes, const LiveRouting& live);
    const std::optional<std::string>& current() const { return current_; }

private:
    std::vector<std::string> recent_;  // most recent last
    std::optional<std::string> current_;
};

}  // namespace matrix::service
