// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/DatagramSocket.h"

#include <deque>
#include <string>
#include <vector>

namespace matrix::testing {

// A datagram socket that records what is sent and hands out queued datagrams.
class MemoryDatagramSocket : public DatagramSocket {
public:
    struct Sent {
        std::string address;
        std::uint16_t port;
        std::vector<std::uint8_t> data;
    };

    bool bind(std::uint16_t port) override
    {
        if (refuseBind)
            return false;
        boundPort = port;
        return true;
    }
    void close() override { boundPort = 0; }
    long sendTo(const std::string& address, std::uint16_t port, const std::uint8_t* data, std::size_t length) override
    {
        sent.push_back({address, port, std::vector<std::uint8_t>(data, data + length)});
        return static_cast<long>(length);
    }
    long receive(std::uint8_t* buffer, std::size_t capacity) override
    {
        if (queue.empty())
            return -1;
        auto datagram = std::move(queue.front());
        queue.pop_front();
        std::size_t n = datagram.size() < capacity ? datagram.size() : capacity;
        for (std::size_t i = 0; i < n; ++i)
            buffer[i] = datagram[i];
        return static_cast<long>(n);
    }

    // Queues a datagram and raises the readable event.
    void arrive(std::vector<std::uint8_t> datagram)
    {
        queue.push_back(std::move(datagram));
        notifyReadable();
    }

    bool refuseBind = false;
    std::uint16_t boundPort = 0;
    std::vector<Sent> sent;
    std::deque<std::vector<std::uint8_t>> queue;
};

}  // namespace matrix::testing
