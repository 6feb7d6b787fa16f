// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"
#include "core/transport/SerialChannel.h"
#include "sim/MatrixResponder.h"

#include <deque>
#include <map>
#include <memory>

namespace matrix::testing {

class MemorySerialPort;

// In-memory COM ports: which numbers exist, who holds each, and the
// simulated matrix on the far end of a port's line. Bytes travel through
// posted tasks, so they arrive later on the loop, in order.
class MemorySerialHub {
public:
    explicit MemorySerialHub(EventLoop& loop) : loop_(loop) {}

    // COMn exists; with a responder, a matrix answers on it.
    void addPort(int portNumber, sim::MatrixResponder* responder = nullptr);
    // The adapter is pulled: the port vanishes and its holder sees a fault.
    void unplug(int portNumber);
    // Another program holds COMn: every open of it fails.
    void holdElsewhere(int portNumber, bool held = true);

    std::unique_ptr<SerialChannel> makeSerial();

    // Test view of the line: every write made on COMn, as blocks.
    const std::vector<std::vector<std::uint8_t>>& writes(int portNumber) { return ports_[portNumber].writes; }
    int openCount(int portNumber) { return ports_[portNumber].opens; }
    MemorySerialPort* holder(int portNumber) { return ports_[portNumber].holder; }
    const SerialSettings& lastSettings(int portNumber) { return ports_[portNumber].settings; }

private:
    friend class MemorySerialPort;
    struct Line {
        bool present = false;
        bool heldElsewhere = false;
        sim::MatrixResponder* responder = nullptr;
        MemorySerialPort* holder = nullptr;
        SerialSettings settings;
        std::vector<std::vector<std::uint8_t>> writes;
        int opens = 0;
    };
    void attach(int portNumber);
    EventLoop& loop_;
    std::map<int, Line> ports_;
};

class MemorySerialPort : public SerialChannel {
public:
    MemorySerialPort(MemorySerialHub& hub, EventLoop& loop);
    ~MemorySerialPort() override;

    bool open(int portNumber, const SerialSettings& settings) override;
    bool startWorker() override;
    void requestClose() override;
    void write(const std::uint8_t* data, std::size_t length) override;
    bool isOpen() const override { return portNumber_ != 0; }

    bool live() const { return live_; }
    int portNumber() const { return portNumber_; }

private:
    friend class MemorySerialHub;
    void closeNow();
    void receiveFromLine(const std::vector<std::uint8_t>& bytes);
    void faultFromLine();
    void scheduleDelivery();

    MemorySerialHub& hub_;
    EventLoop& loop_;
    int portNumber_ = 0;
    bool live_ = false;
    bool deliveryScheduled_ = false;
    std::deque<std::uint8_t> unread_;
    std::shared_ptr<bool> alive_;
};

}  // namespace matrix::testing
