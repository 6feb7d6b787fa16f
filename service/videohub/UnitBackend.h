// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/MatrixUnit.h"
#include "service/videohub/Backend.h"

namespace matrix::service::videohub {

// The hub's unit seen from the wire: ports 0-based, the unit's names as
// labels, its lock owners and its request queue.
class UnitBackend : public Backend {
public:
    explicit UnitBackend(MatrixUnit& unit) : unit_(unit) {}

    bool present() const override;
    std::string modelName() const override;
    std::string inputLabel(int input) const override;
    std::string outputLabel(int output) const override;
    std::optional<int> routedInput(int output) const override;
    LockId lockOwner(int output) const override;
    void route(int output, int input, LockId who, std::function<void(bool routed)> done) override;
    bool rename(bool inputs, const Labels& labels) override;
    void setLock(int output, LockId owner) override;

private:
    MatrixUnit& unit_;
};

}  // namespace matrix::service::videohub
