// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <termios.h>

namespace matrix {

// Puts a terminal (here always a pty end) in raw mode at one speed both
// ways: no echo of the frames, no line editing, no CR/LF translation.
inline void makeRawTty(int fd, speed_t speed)
{
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, speed);
    ::tcsetattr(fd, TCSANOW, &settings);
}

}  // namespace matrix
