// SPDX-License-Identifier: Apache-2.0
#include "tests/support/MemoryUdpSegment.h"

namespace matrix::testing {

MemoryUdpSegment::MemoryUdpSegment(EventLoop& loop) : loop_(loop), alive_(std::make_shared<bool>(true)) {}

MemoryUdpSegment::~MemoryUdpSegment() { *alive_ = false; }

bool MemoryUdpSegment::bind(std::uint16_t port)
{
    ++generation_;
    queue.clear();
    return MemoryDatagramSocket::bind(port);
}

void MemoryUdpSegment::close()
{
    ++generation_;
    queue.clear();
    MemoryDatagramSocket::close();
}

long MemoryUdpSegment::sendTo(const std::string& address, std::uint16_t port, const std::uint8_t* data,
                              std::size_t length)
{
    long result = MemoryDatagramSocket::sendTo(address, port, data, length);
    if (boundPort == 0)
        return -1;
    std::vector<std::uint8_t> datagram(data, data + length);
    const bool broadcast = address == "255.255.255.255";
    if (broadcast && loopBack)
        deliverLater(port, datagram);
    for (sim::NetResponder* matrix : matrices_) {
        if (auto answer = matrix->onDatagram(port, datagram)) {
            answers.push_back(*answer);
            // The matrix answers to the port the datagram came from.
            deliverLater(boundPort, std::move(*answer));
        }
    }
    return result;
}

void MemoryUdpSegment::deliverLater(std::uint16_t port, std::vector<std::uint8_t> datagram)
{
    auto alive = alive_;
    const int generation = generation_;
    loop_.post([this, alive, generation, port, datagram = std::move(datagram)]() mutable {
        if (!*alive || generation != generation_ || boundPort != port)
            return;
        arrive(std::move(datagram));
    });
}

}  // namespace matrix::testing
