// SPDX-License-Identifier: Apache-2.0
#include "tests/support/MemoryNetwork.h"

#include "core/transport/Ipv4.h"

namespace matrix::testing {

MemoryLinkSocket::MemoryLinkSocket(EventLoop& loop) : loop_(loop), alive_(std::make_shared<bool>(true)) {}

MemoryLinkSocket::~MemoryLinkSocket()
{
    *alive_ = false;
    for (int id = 1; id <= timerId_; ++id)
        loop_.killTimer(this, id);
    close();
}

void MemoryLinkSocket::listen(const std::string& dottedAddress, sim::MatrixResponder* responder)
{
    listeners_[dottedAddress] = responder;
}

void MemoryLinkSocket::stopListening(const std::string& dottedAddress) { listeners_.erase(dottedAddress); }

void MemoryLinkSocket::recreate(StreamSocketOwner* owner)
{
    close();
    owner_ = owner;
    ++recreations_;
}

void MemoryLinkSocket::connectTo(const std::string& dottedAddress, std::uint16_t port)
{
    if (!parseDottedIpv4(dottedAddress))
        return;  // no attempt at all for a text that is not an address
    ++connectAttempts_;
    const int generation = generation_;
    auto it = listeners_.find(dottedAddress);
    sim::MatrixResponder* responder = (it != listeners_.end() && port == kMatrixTcpPort) ? it->second : nullptr;
    auto alive = alive_;
    auto complete = [this, alive, generation, responder] {
        if (!*alive || generation != generation_)
            return;
        if (responder) {
            attach(responder);
            connected_ = true;
            if (owner_)
                owner_->onSocketConnect(0);
        } else if (owner_) {
            owner_->onSocketConnect(kConnectionRefused);
        }
    };
    if (connectDelayMs_ <= 0) {
        loop_.post(complete);
    } else {
        int id = ++timerId_;
        loop_.startTimer(this, id, connectDelayMs_, [this, id, complete] {
            loop_.killTimer(this, id);
            complete();
        });
    }
}

void MemoryLinkSocket::attach(sim::MatrixResponder* responder)
{
    peer_ = responder;
    const int generation = generation_;
    auto alive = alive_;
    responder->setTransmit([this, alive, generation](const std::vector<std::uint8_t>& bytes) {
        if (!*alive || generation != generation_ || !connected_)
            return;
        rx_.insert(rx_.end(), bytes.begin(), bytes.end());
        loop_.post([this, alive, generation] {
            if (*alive && generation == generation_ && owner_ && !rx_.empty())
                owner_->onSocketRead();
        });
    });
    responder->setLinkCloser([this, alive, generation] {
        if (*alive && generation == generation_)
            peerClosed();
    });
}

void MemoryLinkSocket::peerClosed()
{
    connected_ = false;
    if (peer_)
        peer_->setTransmit(nullptr);
    peer_ = nullptr;
    const int generation = generation_;
    auto alive = alive_;
    loop_.post([this, alive, generation] {
        if (*alive && generation == generation_ && owner_)
            owner_->onSocketClose();
    });
}

long MemoryLinkSocket::send(const std::uint8_t* data, std::size_t length)
{
    if (!connected_ || !peer_)
        return -1;
    std::vector<std::uint8_t> block(data, data + length);
    sent_.push_back(block);
    sim::MatrixResponder* peer = peer_;
    const int generation = generation_;
    auto alive = alive_;
    loop_.post([this, alive, generation, peer, block] {
        if (*alive && generation == generation_ && peer_ == peer)
            peer->receive(block);
    });
    return static_cast<long>(length);
}

long MemoryLinkSocket::receive(std::uint8_t* buffer, std::size_t capacity)
{
    std::size_t n = 0;
    while (n < capacity && !rx_.empty()) {
        buffer[n++] = rx_.front();
        rx_.pop_front();
    }
    return static_cast<long>(n);
}

void MemoryLinkSocket::close()
{
    ++generation_;
    if (peer_)
        peer_->setTransmit(nullptr);
    peer_ = nullptr;
    connected_ = false;
    rx_.clear();
}

}  // namespace matrix::testing
