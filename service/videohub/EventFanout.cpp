// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/EventFanout.h"

#include <variant>

namespace matrix::service::videohub {

EventFanout::EventFanout(const Backend& backend) : backend_(backend), announcedModel_(backend.modelName())
{
    for (int p = 0; p < kPorts; ++p) {
        announcedInputs_[p] = backend.inputLabel(p);
        announcedOutputs_[p] = backend.outputLabel(p);
    }
}

void EventFanout::deliver(const HubEvent& event, const std::vector<Session*>& sessions)
{
    const auto each = [&](const auto& tell) {
        for (Session* s : sessions)
            tell(*s);
    };
    if (std::holds_alternative<LinkChanged>(event) || std::holds_alternative<MatrixReady>(event)) {
        // Down at once; back only once the routing is read (MatrixReady), so
        // the dump never shows the routing from before an outage.
        each([](Session& s) { s.presenceChanged(); });
    } else if (std::holds_alternative<InfoChanged>(event)) {
        // The model is read after the link comes up, so a client may have
        // been shown the stand-in name first.
        const std::string model = backend_.modelName();
        if (model != announcedModel_) {
            announcedModel_ = model;
            each([](Session& s) { s.deviceChanged(); });
        }
    } else if (const auto* routed = std::get_if<RoutingChanged>(&event)) {
        if (routed->output >= 1 && routed->output <= kPorts)
            each([&](Session& s) { s.routingChanged(routed->output - 1); });
    } else if (const auto* locked = std::get_if<LockChanged>(&event)) {
        if (locked->output >= 1 && locked->output <= kPorts)
            each([&](Session& s) { s.lockChanged(locked->output - 1); });
    } else if (const auto* names = std::get_if<NamesChanged>(&event)) {
        for (int p = 0; p < kPorts; ++p) {
            const bool inputChanged = names->inputs[p] != announcedInputs_[p];
            const bool outputChanged = names->outputs[p] != announcedOutputs_[p];
            announcedInputs_[p] = names->inputs[p];
            announcedOutputs_[p] = names->outputs[p];
            each([&](Session& s) {
                if (inputChanged)
                    s.inputLabelChanged(p);
                if (outputChanged)
                    s.outputLabelChanged(p);
            });
        }
    }
    // Cables, beep, EDID, standby, firmware, scenes (the live one too), staged
    // routes and schedules have no Videohub form.
}

}  // namespace matrix::service::videohub
