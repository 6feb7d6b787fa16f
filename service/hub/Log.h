// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace matrix::service {

// One line on standard error (journald adds time and unit). Safe from any
// thread: the HTTP workers log their requests themselves. Control characters
// and invalid UTF-8 in `line` are escaped, so one call is always one line and
// never drives the terminal that shows it.
void logLine(const std::string& line);

// Text a client sent (a path, a name, a payload) as it goes into a log line:
// control characters, invalid UTF-8 and backslashes as \xNN (a backslash as
// \\), so that what is printed cannot be mistaken for anything else.
std::string escapeForLog(std::string_view text);

// Whether frames are logged (--verbose).
void setVerbose(bool on);
bool verbose();

}  // namespace matrix::service
