// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace matrix::testing {

// A pseudo-terminal standing in for a COM port: the far end (slave) is
// linked as DIR/COMn, the test keeps the near end (master) to play the
// matrix. On Linux both ends share one termios, so tcgetattr on the master
// shows the line settings the port applied.
class PtyLine {
public:
    PtyLine(const std::string& comDir, int comNumber);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool ok() const { return master_ >= 0; }
    int masterFd() const { return master_; }
    const std::string& devicePath() const { return devicePath_; }

    void send(const std::vector<std::uint8_t>& bytes);
    // Reads what the port wrote, waiting up to timeoutMs for `count` bytes.
    std::vector<std::uint8_t> receive(std::size_t count, int timeoutMs = 2000);
    // Bytes sent towards the port that it has not read yet.
    std::size_t unreadAtPort() const;
    // Hangs the line up, as a pulled adapter does.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string linkPath_;
    std::string devicePath_;
};

}  // namespace matrix::testing
