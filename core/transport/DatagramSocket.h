// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace matrix {

constexpr std::uint16_t kDiscoveryPort = 30600;
constexpr std::uint16_t kNetConfigPort = 30601;

// The one UDP socket used by discovery and network configuration.
class DatagramSocket {
public:
    virtual ~DatagramSocket() = default;

    // Closes what is held, binds the port on every local address with
    // broadcast enabled. False when the port cannot be bound.
    virtual bool bind(std::uint16_t port) = 0;
    virtual void close() = 0;
    virtual long sendTo(const std::string& dottedAddress, std::uint16_t port, const std::uint8_t* data,
                        std::size_t length) = 0;
    // One datagram per call; returns its length, or -1 when none is waiting.
    // A datagram longer than capacity is truncated.
    virtual long receive(std::uint8_t* buffer, std::size_t capacity) = 0;

    void setReadableHandler(std::function<void()> handler) { onReadable_ = std::move(handler); }

protected:
    void notifyReadable()
    {
        if (onReadable_)
            onReadable_();
    }

private:
    std::function<void()> onReadable_;
};

}  // namespace matrix
