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
    static constexpr std::size_t kReceiveBufferBytes = 1024;

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

    // A readable event may stand for several datagrams: each waiting one is
    // taken on its own, as if it had raised its own event, while listening
    // holds (a datagram's handler may stop the listening).
    void receiveEach(const bool& listening, const std::function<void(const std::uint8_t*, std::size_t)>& take)
    {
        std::uint8_t datagram[kReceiveBufferBytes];
        while (listening) {
            const long length = receive(datagram, sizeof datagram);
            if (length < 0)
                return;
            take(datagram, static_cast<std::size_t>(length));
        }
    }

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
