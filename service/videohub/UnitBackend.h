// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/MatrixUnit.h"
#include "service/videohub/Backend.h"

#include <map>
#include <string>

namespace matrix::service::videohub {

// The hub's unit seen from the wire: ports 0-based, the unit's names as
// labels, its lock owners and its request queue.
class UnitBackend : public Backend {
public:
    explicit UnitBackend(MatrixUnit& unit) : unit_(unit) {}

    bool present() const override;
    std::string modelName() const override;
    std::string uniqueId() const override;
    std::string friendlyName() const override;
    std::string inputLabel(int input) const override;
    std::string outputLabel(int output) const override;
    std::optional<int> routedInput(int output) const override;
    LockId lockOwner(int output) const override;
    Outcome route(const std::vector<std::pair<int, int>>& routes, LockId who,
                  std::function<void(int output, bool routed)> each) override;
    Outcome rename(bool inputs, const std::vector<std::pair<int, std::string>>& labels, LockId who) override;
    Outcome lock(int output, LockAction action, LockId who) override;

    // The connection's address, named in the log line of each change it makes.
    void setPeer(LockId who, std::string peer) { peers_[who] = std::move(peer); }
    void forgetPeer(LockId who) { peers_.erase(who); }

private:
    Caller caller(LockId who) const;

    MatrixUnit& unit_;
    std::map<LockId, std::string> peers_;
};

}  // namespace matrix::service::videohub
