// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>

namespace matrix {

constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 19;

// "COM7" for 7.
std::string comPortName(int portNumber);

// The port number a "COMn" list text names, when n is 1..19.
std::optional<int> comPortNumber(const std::string& text);

// The device behind COMn. With MATRIX_COM_DIR set, COMn is the entry COMn
// in that directory and nothing else is probed; otherwise a fixed table:
// COM1-4 /dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7, COM13-19 /dev/ttyACM0-6.
// Empty for numbers outside 1..19.
std::string comDevicePath(int portNumber);
std::string comDevicePath(int portNumber, const char* comDirOrNull);

}  // namespace matrix
