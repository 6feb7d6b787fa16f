// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"
#include "sim/NetResponder.h"
#include "tests/support/MemoryDatagram.h"

#include <memory>
#include <vector>

namespace matrix::testing {

// The program's datagram socket on an in-memory network segment with
// simulated matrices on it. A broadcast reaches every matrix (their answers
// arrive in the order the matrices were attached) and, like a real
// broadcast socket listening on the port it sends to, the socket itself.
// Datagrams arrive as posted events; those meant for a socket that has been
// closed or re-bound since are lost, as on a real network.
class MemoryUdpSegment : public MemoryDatagramSocket {
public:
    explicit MemoryUdpSegment(EventLoop& loop);
    ~MemoryUdpSegment() override;

    void attach(sim::NetResponder* matrix) { matrices_.push_back(matrix); }
    void detachAll() { matrices_.clear(); }

    bool bind(std::uint16_t port) override;
    void close() override;
    long sendTo(const std::string& address, std::uint16_t port, const std::uint8_t* data, std::size_t length) override;

    // A datagram from somewhere on the segment to the socket's port.
    void deliverLater(std::uint16_t port, std::vector<std::uint8_t> datagram);

    // Whether our own broadcasts come back to us (a real socket: yes).
    bool loopBack = true;
    // Answers of the matrices that a test wants to see.
    std::vector<std::vector<std::uint8_t>> answers;

private:
    EventLoop& loop_;
    std::vector<sim::NetResponder*> matrices_;
    int generation_ = 0;
    std::shared_ptr<bool> alive_;
};

}  // namespace matrix::testing
