// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/MatrixDevice.h"
#include "sim/MatrixResponder.h"
#include "sim/app/SimKnobs.h"

#include <functional>
#include <map>
#include <memory>

namespace matrix::simapp {

enum class LinkKind { Tcp, Serial };

// What every link of the running simulator shares: the loop, the one
// device behind all links, the knobs, and the list of open links.
class SimContext {
public:
    SimContext(EventLoop& loop, const SimKnobs& knobs) : loop_(loop), knobs_(knobs) {}

    EventLoop& loop() { return loop_; }
    sim::MatrixDevice& device() { return device_; }
    SimKnobs& knobs() { return knobs_; }

    // A responder for a new link: every command family, the current knobs.
    std::unique_ptr<sim::MatrixResponder> makeResponder();
    void attach(sim::MatrixResponder* responder, LinkKind kind) { links_[responder] = kind; }
    void detach(sim::MatrixResponder* responder) { links_.erase(responder); }
    void forEachLink(const std::function<void(sim::MatrixResponder&, LinkKind)>& fn);
    std::size_t linkCount() const { return links_.size(); }

private:
    EventLoop& loop_;
    sim::MatrixDevice device_;
    SimKnobs knobs_;
    std::map<sim::MatrixResponder*, LinkKind> links_;
};

}  // namespace matrix::simapp
