// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace matrix::service::videohub {

// The hub's lock id of a connection (its LockOwner); 0 is nobody.
using LockId = int;

// What a Videohub connection needs of its matrix. Ports are 0-based here, as
// on the wire; the adapter over the hub's unit turns them into 1..4. Reads go
// to the live state every time: the connection keeps no copy of it.
class Backend {
public:
    virtual ~Backend() = default;

    virtual bool present() const = 0;  // the matrix link is up
    virtual std::string modelName() const = 0;
    virtual std::string inputLabel(int input) const = 0;
    virtual std::string outputLabel(int output) const = 0;
    // The input an output carries; nothing until the matrix has told us.
    virtual std::optional<int> routedInput(int output) const = 0;
    virtual LockId lockOwner(int output) const = 0;

    // `done(true)` once the matrix carries the route; false when it was
    // refused (locked by someone else) or failed (time-out, link down, ...).
    virtual void route(int output, int input, LockId who, std::function<void(bool routed)> done) = 0;
    // The labels of one block, (port, label) each, applied together once the
    // state file holds them: false, and nothing changed, when the save failed.
    using Labels = std::vector<std::pair<int, std::string>>;
    virtual bool rename(bool inputs, const Labels& labels) = 0;
    virtual void setLock(int output, LockId owner) = 0;  // 0 unlocks
};

}  // namespace matrix::service::videohub
