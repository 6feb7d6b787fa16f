// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "service/hub/Roles.h"

#include <string>

namespace matrix::service {

// Who holds an output lock: 0 is nobody; front-ends that lock (Videohub
// connections) take a unique id from Hub::newLockOwner().
using LockOwner = int;

// Who asks for an operation. Every operation of the hub takes one: the hub
// checks its role and writes it into the log line of each change.
struct Caller {
    std::string frontEnd;     // "http", "mqtt", "videohub", ...
    std::string peer;         // "127.0.0.1:50312"; empty when there is none (MQTT)
    LockOwner lockOwner = 0;  // the connection's own locks do not stop it
    std::string tokenName;    // HTTP: the token's name, or "loopback" when none is configured
    // Front-ends without tokens (Videohub, MQTT) are guarded by where they
    // listen and whom they let in; HTTP always sets the token's role.
    Role role = Role::Admin;
};

// What a connection asks of an output lock.
enum class LockAction {
    Take,     // lock for the caller, when nobody else holds it
    Release,  // unlock, when nobody else holds it
    Force,    // unlock whoever holds it
};

// Why an operation did not happen (or did not end well). Every front-end maps
// it to its own reply with one table: an HTTP status (httpStatus), a Videohub
// NAK (anything but None), a text-protocol `ERR <status> <text>` (its codes are
// the API's statuses, so httpStatus and Outcome::text), an MQTT log line
// (Outcome::text). refusalCode is the refusal's name for machines.
enum class Refusal {
    None,             // done
    BadInput,         // malformed or against a rule (names, EDID file, ...)
    NotFound,         // no such port, scene or matrix
    NameTaken,        // another port of that side already has the name
    Locked,           // the output is locked by someone else
    FirmwareRunning,  // an upgrade holds the matrix
    LinkDown,         // no link to the matrix
    NotKnownYet,      // the matrix has not told us what was asked for yet
    Standby,          // the matrix is in standby
    TimeOut,          // the matrix did not answer
    MatrixRefused,    // the matrix answered with a failure
    StorageFailed,    // the state file could not be written; nothing was kept
    LimitReached,     // a cap (scenes per matrix) would be passed
    NotAllowed,       // the caller's role does not cover the operation
    InUse,            // something else still names it (a scene a schedule recalls)
};

struct Outcome {
    Refusal refusal = Refusal::None;
    std::string message;  // for people; empty takes the refusal's own text

    bool ok() const { return refusal == Refusal::None; }
    // The message, or the refusal's own text ("Output is locked", ...).
    std::string text() const;

    static Outcome done() { return {}; }
    static Outcome refused(Refusal refusal, std::string message = {}) { return {refusal, std::move(message)}; }
};

// How the client's statuses read as an outcome.
Outcome outcomeOf(client::Status status, const std::string& message = {});

// The one table of replies per front-end.
int httpStatus(Refusal refusal);
const char* refusalCode(Refusal refusal);  // "locked", "link-down", ...
const char* refusalText(Refusal refusal);  // "Output is locked", ...

}  // namespace matrix::service
