// SPDX-License-Identifier: Apache-2.0
#include "sim/app/SimContext.h"

#include "sim/AllCommands.h"

#include <vector>

namespace matrix::simapp {

std::unique_ptr<sim::MatrixResponder> SimContext::makeResponder()
{
    auto responder = std::make_unique<sim::MatrixResponder>(loop_, device_);
    sim::installAllCommands(*responder);
    knobs_.applyTo(*responder);
    return responder;
}

void SimContext::forEachLink(const std::function<void(sim::MatrixResponder&, LinkKind)>& fn)
{
    // A link may close while we walk (the "close" knob): walk a copy.
    std::vector<std::pair<sim::MatrixResponder*, LinkKind>> links(links_.begin(), links_.end());
    for (auto& [responder, kind] : links)
        if (links_.count(responder))
            fn(*responder, kind);
}

}  // namespace matrix::simapp
