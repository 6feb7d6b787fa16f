// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace matrix {

constexpr std::uint16_t kMatrixTcpPort = 8000;

// Receives the events of the link socket; only the owner that re-created the
// socket last gets them.
class StreamSocketOwner {
public:
    virtual ~StreamSocketOwner() = default;
    virtual void onSocketConnect(int errorCode) = 0;  // 0: connected
    virtual void onSocketRead() = 0;
    virtual void onSocketClose() = 0;
};

// The one TCP link socket of the program.
class StreamSocket {
public:
    virtual ~StreamSocket() = default;

    // Closes the current socket and makes a new one whose events go to owner.
    virtual void recreate(StreamSocketOwner* owner) = 0;
    // Starts a non-blocking connect; a text that is not a dotted IPv4
    // address makes no connection attempt at all.
    virtual void connectTo(const std::string& dottedAddress, std::uint16_t port) = 0;
    virtual long send(const std::uint8_t* data, std::size_t length) = 0;
    // Returns the bytes copied (0 when nothing is waiting).
    virtual long receive(std::uint8_t* buffer, std::size_t capacity) = 0;
    virtual void close() = 0;
};

}  // namespace matrix
