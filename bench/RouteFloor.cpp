// SPDX-License-Identifier: Apache-2.0
// The floor of a route from a command line: the smallest program that does
// what `matrixctl route` does on the wire (connect to port 8000, send the
// route frame, read its acknowledgement, close), with no event loop and no
// Qt. bench_ctl_route times it as a whole process beside matrixctl.
//
// Usage: bench_route_floor ADDRESS INPUT OUTPUT   (exit 0 when acknowledged)

#include "core/protocol/Protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

using namespace matrix;

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const int input = std::atoi(argv[2]);
    const int output = std::atoi(argv[3]);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(8000);
    if (::inet_pton(AF_INET, argv[1], &address.sin_addr) != 1 || (ntohl(address.sin_addr.s_addr) >> 24) != 127)
        return 2;  // loopback only
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 3;
    const CommandFrame request = protocol::routeRequest(Output{output}, Input{input});
    if (::write(fd, request.data(), CommandFrame::kSize) != static_cast<ssize_t>(CommandFrame::kSize))
        return 3;
    std::uint8_t reply[CommandFrame::kSize];
    std::size_t got = 0;
    while (got < sizeof reply) {
        const ssize_t n = ::read(fd, reply + got, sizeof reply - got);
        if (n <= 0)
            return 1;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return protocol::decodeRouteAck(CommandFrame::fromBytes(reply)) == Output{output} ? 0 : 1;
}
