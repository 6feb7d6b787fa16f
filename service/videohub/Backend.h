// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/Outcome.h"

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
// to the live state every time: the connection keeps no copy of it. The
// rules (names, locks, link down, firmware running) are the hub's: the
// requests answer with its Outcome.
class Backend {
public:
    virtual ~Backend() = default;

    // The matrix link is up and its routing was read since: a whole dump is true.
    virtual bool present() const = 0;
    virtual std::string modelName() const = 0;
    virtual std::string uniqueId() const = 0;      // 12 upper-case hex digits, stable per matrix
    virtual std::string friendlyName() const = 0;  // the matrix's configured name
    virtual std::string inputLabel(int input) const = 0;
    virtual std::string outputLabel(int output) const = 0;
    // The input an output carries; nothing until the matrix has told us.
    virtual std::optional<int> routedInput(int output) const = 0;
    virtual LockId lockOwner(int output) const = 0;

    // (output, input) pairs in order. A refusal comes back at once and then
    // nothing was sent; once accepted, `each(output, routed)` follows for
    // every pair (false when it was not carried out).
    virtual Outcome route(const std::vector<std::pair<int, int>>& routes, LockId who,
                          std::function<void(int output, bool routed)> each) = 0;
    // (port, label) pairs of one side, applied all or none.
    virtual Outcome rename(bool inputs, const std::vector<std::pair<int, std::string>>& labels, LockId who) = 0;
    virtual Outcome lock(int output, LockAction action, LockId who) = 0;
};

}  // namespace matrix::service::videohub
