// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/HubEvent.h"
#include "service/videohub/Backend.h"
#include "service/videohub/BlockFormat.h"
#include "service/videohub/Session.h"

#include <array>
#include <string>
#include <vector>

namespace matrix::service::videohub {

// The Videohub wire form of the hub's events for the clients of one matrix:
// which session call (hence which block) each event becomes. The labels and
// the model are compared with what was announced, so clients get only the
// lines that changed.
class EventFanout {
public:
    explicit EventFanout(const Backend& backend);

    // `event` is for this matrix; `sessions` are its connected clients.
    void deliver(const HubEvent& event, const std::vector<Session*>& sessions);

private:
    const Backend& backend_;
    std::array<std::string, kPorts> announcedInputs_;
    std::array<std::string, kPorts> announcedOutputs_;
    std::string announcedModel_;
};

}  // namespace matrix::service::videohub
