// SPDX-License-Identifier: Apache-2.0
#include "core/transport/ComPorts.h"

#include <cstdlib>

namespace matrix {

std::string comPortName(int portNumber) { return "COM" + std::to_string(portNumber); }

std::optional<int> comPortNumber(const std::string& text)
{
    if (text.size() < 4 || text.size() > 5 || text.compare(0, 3, "COM") != 0)
        return std::nullopt;
    int value = 0;
    for (std::size_t i = 3; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    if (text[3] == '0' || value < kFirstComPort || value > kLastComPort)
        return std::nullopt;
    return value;
}

std::string comDevicePath(int portNumber) { return comDevicePath(portNumber, std::getenv("MATRIX_COM_DIR")); }

std::string comDevicePath(int portNumber, const char* comDirOrNull)
{
    if (portNumber < kFirstComPort || portNumber > kLastComPort)
        return {};
    if (comDirOrNull && *comDirOrNull) {
        std::string dir = comDirOrNull;
        if (dir.back() != '/')
            dir += '/';
        return dir + comPortName(portNumber);
    }
    if (portNumber <= 4)
        return "/dev/ttyS" + std::to_string(portNumber - 1);
    if (portNumber <= 12)
        return "/dev/ttyUSB" + std::to_string(portNumber - 5);
    return "/dev/ttyACM" + std::to_string(portNumber - 13);
}

}  // namespace matrix
