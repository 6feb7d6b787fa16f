// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/videohub/Backend.h"

#include <string>

namespace matrix::service::videohub {

constexpr int kPorts = 4;  // inputs and outputs of the box

namespace header {
inline constexpr char kPreamble[] = "PROTOCOL PREAMBLE:";
inline constexpr char kDevice[] = "VIDEOHUB DEVICE:";
inline constexpr char kInputLabels[] = "INPUT LABELS:";
inline constexpr char kOutputLabels[] = "OUTPUT LABELS:";
inline constexpr char kLocks[] = "VIDEO OUTPUT LOCKS:";
inline constexpr char kRouting[] = "VIDEO OUTPUT ROUTING:";
inline constexpr char kEndPrelude[] = "END PRELUDE:";
inline constexpr char kPing[] = "PING:";
inline constexpr char kOldPing[] = "PING";  // older clients send it without the colon
}  // namespace header

inline constexpr char kAck[] = "ACK\n\n";
inline constexpr char kNak[] = "NAK\n\n";

// The text of each block the server sends, blank line included. `viewer` is
// the connection the lock block is written for: its own locks read O,
// everyone else's L.
std::string preambleBlock();
std::string deviceBlock(const Backend& backend);
std::string inputLabelsBlock(const Backend& backend);
std::string outputLabelsBlock(const Backend& backend);
std::string locksBlock(const Backend& backend, LockId viewer);
std::string routingBlock(const Backend& backend);
std::string endPreludeBlock();

// One-line updates of the same blocks (only the line that changed).
std::string inputLabelUpdate(const Backend& backend, int input);
std::string outputLabelUpdate(const Backend& backend, int output);
std::string lockUpdate(const Backend& backend, LockId viewer, int output);
std::string routingUpdate(const Backend& backend, int output);

// Every block but the preamble, END PRELUDE last: what a client gets again
// when the link is back. While the matrix is away the device block says so
// and the rest is the last known state: clients wait for END PRELUDE.
std::string stateBlocks(const Backend& backend, LockId viewer);
// Everything a connecting client gets: the preamble and stateBlocks.
std::string statusDump(const Backend& backend, LockId viewer);

}  // namespace matrix::service::videohub
