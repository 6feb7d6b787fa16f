// SPDX-License-Identifier: Apache-2.0
#include "tests/support/MemorySerial.h"

namespace matrix::testing {

void MemorySerialHub::addPort(int portNumber, sim::MatrixResponder* responder)
{
    Line& line = ports_[portNumber];
    line.present = true;
    line.responder = responder;
    if (line.holder)
        attach(portNumber);
}

void MemorySerialHub::unplug(int portNumber)
{
    Line& line = ports_[portNumber];
    line.present = false;
    if (line.responder)
        line.responder->setTransmit(nullptr);
    if (MemorySerialPort* holder = line.holder) {
        if (holder->live_)
            holder->faultFromLine();
    }
}

void MemorySerialHub::holdElsewhere(int portNumber, bool held) { ports_[portNumber].heldElsewhere = held; }

std::unique_ptr<SerialChannel> MemorySerialHub::makeSerial()
{
    return std::make_unique<MemorySerialPort>(*this, loop_);
}

void MemorySerialHub::attach(int portNumber)
{
    Line& line = ports_[portNumber];
    if (!line.responder)
        return;
    MemorySerialPort* holder = line.holder;
    line.responder->setTransmit([this, portNumber](const std::vector<std::uint8_t>& bytes) {
        Line& l = ports_[portNumber];
        if (l.present && l.holder)
            l.holder->receiveFromLine(bytes);
    });
    line.responder->setLinkCloser([this, portNumber] { unplug(portNumber); });
    (void)holder;
}

MemorySerialPort::MemorySerialPort(MemorySerialHub& hub, EventLoop& loop)
    : hub_(hub),
      loop_(loop),
      alive_(std::make_shared<bool>(true))
{
}

MemorySerialPort::~MemorySerialPort()
{
    *alive_ = false;
    closeNow();
}

bool MemorySerialPort::open(int portNumber, const SerialSettings& settings)
{
    closeNow();
    auto it = hub_.ports_.find(portNumber);
    if (it == hub_.ports_.end())
        return false;
    MemorySerialHub::Line& line = it->second;
    if (!line.present || line.heldElsewhere || line.holder)
        return false;
    line.holder = this;
    line.settings = settings;
    ++line.opens;
    portNumber_ = portNumber;
    hub_.attach(portNumber);
    return true;
}

bool MemorySerialPort::startWorker()
{
    if (!isOpen())
        return false;
    live_ = true;
    unread_.clear();
    return true;
}

void MemorySerialPort::requestClose()
{
    // A probe is closed too: a port left open after probing would lock
    // other programs out of it.
    closeNow();
}

void MemorySerialPort::closeNow()
{
    if (portNumber_ != 0) {
        auto& line = hub_.ports_[portNumber_];
        if (line.holder == this)
            line.holder = nullptr;
    }
    portNumber_ = 0;
    live_ = false;
    unread_.clear();
}

void MemorySerialPort::write(const std::uint8_t* data, std::size_t length)
{
    if (!live_)
        return;
    // Unread received bytes are discarded before every write.
    unread_.clear();
    std::vector<std::uint8_t> block(data, data + length);
    auto& line = hub_.ports_[portNumber_];
    line.writes.push_back(block);
    if (!line.present || !line.responder)
        return;
    sim::MatrixResponder* responder = line.responder;
    int port = portNumber_;
    MemorySerialHub* hub = &hub_;
    loop_.post([hub, port, responder, block] {
        auto& l = hub->ports_[port];
        if (l.present && l.responder == responder)
            responder->receive(block);
    });
}

void MemorySerialPort::receiveFromLine(const std::vector<std::uint8_t>& bytes)
{
    if (!live_)
        return;
    unread_.insert(unread_.end(), bytes.begin(), bytes.end());
    scheduleDelivery();
}

void MemorySerialPort::scheduleDelivery()
{
    if (deliveryScheduled_)
        return;
    deliveryScheduled_ = true;
    auto alive = alive_;
    loop_.post([this, alive] {
        if (!*alive)
            return;
        deliveryScheduled_ = false;
        while (live_ && !unread_.empty()) {
            std::uint8_t byte = unread_.front();
            unread_.pop_front();
            deliverByte(byte, portNumber_);
        }
    });
}

void MemorySerialPort::faultFromLine()
{
    auto alive = alive_;
    loop_.post([this, alive] {
        if (*alive)
            reportFault();
    });
}

}  // namespace matrix::testing
