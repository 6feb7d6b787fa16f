// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/HubEvent.h"

#include <nlohmann/json.hpp>

namespace matrix::service {

// An event as the HTTP event stream sends it (and MQTT on B/<id>/event), e.g.
//   {"type":"routing","matrix":"hall","output":2,"input":3}
//   {"type":"firmware","matrix":"hall","state":"done","done":n,"total":m}
// Null for events that have no such form (MatrixReady): send nothing.
nlohmann::json eventJson(const HubEvent& event);

// Staged routes as the API and the event show them: {"B":3,"C":1}.
nlohmann::json pendingJson(const std::map<int, int>& routes);

}  // namespace matrix::service
