// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/Outcome.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace matrix::service::text {

constexpr int kPorts = 4;

// A change at the matrix, in the terms of the text protocol.
struct Event {
    enum class Kind { Route, Link, Cable, Beep, Name, Scene };
    Kind kind = Kind::Route;
    int port = 0;          // Route: the output; Cable, Name: the port (1..4)
    int input = 0;         // Route: the input now on the output
    bool onInput = false;  // Cable, Name: an input (else an output)
    bool on = false;       // Link up, cable present, beep on
    std::string text{};    // Name: the new name; Scene: the live scene (`on`), else none
};

// The matrix as the text front-end sees it. Ports are 1..4. Reads answer at
// once from what is known; changes end through `done` with the hub's Outcome
// (its ERR line comes from the hub's one table), possibly before they return
// when refused. `who` names the peer for the audit log
// ("text 192.168.10.20:51234", "text /dev/ttyUSB1").
class Backend {
public:
    using Done = std::function<void(const Outcome&)>;

    virtual ~Backend() = default;

    virtual bool linkUp() const = 0;
    virtual std::optional<int> routedInput(int output) const = 0;
    virtual std::optional<bool> beepOn() const = 0;
    virtual std::optional<bool> cable(bool input, int port) const = 0;
    virtual std::string name(bool input, int port) const = 0;
    // A number (outputs also A-D) or a port's name; nothing when no port fits.
    virtual std::optional<int> findInput(std::string_view text) const = 0;
    virtual std::optional<int> findOutput(std::string_view text) const = 0;
    virtual std::vector<std::string> scenes() const = 0;
    // The staged routes, shared with every front-end: input per output.
    virtual std::map<int, int> pending() const = 0;

    virtual void route(int output, int input, const std::string& who, Done done) = 0;
    virtual void routeAll(int input, const std::string& who, Done done) = 0;
    virtual void recall(const std::string& scene, const std::string& who, Done done) = 0;
    virtual void setBeep(bool on, const std::string& who, Done done) = 0;
    // Staging sends nothing; a take sends the staged routes as one job.
    virtual void stage(int output, int input, const std::string& who, Done done) = 0;
    virtual void take(const std::string& who, Done done) = 0;
    virtual void clearPending(const std::string& who, Done done) = 0;
};

}  // namespace matrix::service::text
