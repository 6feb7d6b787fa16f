// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace matrix::service {

// One line on standard error (journald adds time and unit). Safe from any
// thread: the HTTP workers log their requests themselves.
void logLine(const std::string& line);

// Whether frames are logged (--verbose).
void setVerbose(bool on);
bool verbose();

}  // namespace matrix::service
