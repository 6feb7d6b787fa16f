// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"
#include "core/transport/StreamSocket.h"
#include "sim/MatrixResponder.h"

#include <deque>
#include <map>
#include <memory>
#include <string>

namespace matrix::testing {

// In-memory TCP: simulated matrices listening on dotted addresses, and the
// program's one link socket. Connects, reads and closes reach the socket's
// owner as posted events, in order.
class MemoryLinkSocket : public StreamSocket {
public:
    static constexpr int kConnectionRefused = 10061;

    explicit MemoryLinkSocket(EventLoop& loop);
    ~MemoryLinkSocket() override;

    // A matrix answers connects to address:8000.
    void listen(const std::string& dottedAddress, sim::MatrixResponder* responder);
    void stopListening(const std::string& dottedAddress);
    // Connects complete after this many virtual milliseconds (0: next turn of the loop).
    void setConnectDelayMs(int ms) { connectDelayMs_ = ms; }

    void recreate(StreamSocketOwner* owner) override;
    void connectTo(const std::string& dottedAddress, std::uint16_t port) override;
    long send(const std::uint8_t* data, std::size_t length) override;
    long receive(std::uint8_t* buffer, std::size_t capacity) override;
    void close() override;

    // Test view.
    int connectAttempts() const { return connectAttempts_; }
    int recreations() const { return recreations_; }
    bool connected() const { return connected_; }
    const std::vector<std::vector<std::uint8_t>>& sent() const { return sent_; }
    std::size_t bytesWaiting() const { return rx_.size(); }

private:
    void attach(sim::MatrixResponder* responder);
    void peerClosed();

    EventLoop& loop_;
    std::map<std::string, sim::MatrixResponder*> listeners_;
    StreamSocketOwner* owner_ = nullptr;
    sim::MatrixResponder* peer_ = nullptr;
    bool connected_ = false;
    int connectDelayMs_ = 0;
    int connectAttempts_ = 0;
    int recreations_ = 0;
    int generation_ = 0;  // events of an older socket never reach a newer owner
    int timerId_ = 0;
    std::deque<std::uint8_t> rx_;
    std::vector<std::vector<std::uint8_t>> sent_;
    std::shared_ptr<bool> alive_;
};

}  // namespace matrix::testing
