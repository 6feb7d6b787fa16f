// SPDX-License-Identifier: Apache-2.0
#include "tests/integration/PtyLine.h"

#include "platform/RawTty.h"

#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace matrix::testing {

PtyLine::PtyLine(const std::string& comDir, int comNumber)
{
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return;
    // Both ends close again unless the line is made whole.
    const auto giveUp = [&] {
        ::close(master);
        ::close(slave);
    };
    char name[PATH_MAX];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        giveUp();
        return;
    }
    makeRawTty(slave, B9600);  // Raw, at a neutral 9600 baud so that a test sees what the port changed.
    // The test keeps a descriptor of the far end too, to look at its input
    // queue; it never reads from it.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    linkPath_ = comDir + "/COM" + std::to_string(comNumber);
    ::unlink(linkPath_.c_str());
    if (::symlink(name, linkPath_.c_str()) != 0) {
        giveUp();
        return;
    }
    master_ = master;
    slave_ = slave;
    devicePath_ = name;
}

PtyLine::~PtyLine()
{
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
    if (!linkPath_.empty())
        ::unlink(linkPath_.c_str());
}

void PtyLine::send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t at = 0;
    while (master_ >= 0 && at < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + at, bytes.size() - at);
        if (n <= 0)
            return;
        at += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> PtyLine::receive(std::size_t count, int timeoutMs)
{
    std::vector<std::uint8_t> got;
    while (master_ >= 0 && got.size() < count) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
            break;
        std::uint8_t buffer[256];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

std::size_t PtyLine::unreadAtPort() const
{
    int queued = 0;
    if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &queued) != 0)
        return 0;
    return static_cast<std::size_t>(queued);
}

void PtyLine::closeMaster()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

}  // namespace matrix::testing
