// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace matrix {

struct SerialSettings {
    int baud = 19200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 2;
    std::uint32_t eventMask = 3;  // received characters and flag events
    std::size_t writeBufferSize = 512;
    // The matrix answers only the frame just sent, so its link drops stale
    // input before each write; a line protocol whose peer may already be
    // sending its next request keeps it.
    bool discardInputOnWrite = true;
};

// The probe uses one stop bit; the live link two.
inline SerialSettings probeSerialSettings() { return {19200, 'N', 8, 1, 3, 512}; }
inline SerialSettings liveSerialSettings() { return {19200, 'N', 8, 2, 3, 512}; }

// One COM port as a page uses it: opened either as a probe (no delivery) or
// live (after startWorker, every received byte reaches onByte in order, on
// the loop thread).
class SerialChannel {
public:
    using ByteHandler = std::function<void(std::uint8_t byte, int portNumber)>;
    using FaultHandler = std::function<void()>;

    virtual ~SerialChannel() = default;

    // Closes whatever the object holds first, then opens COMn exclusively.
    virtual bool open(int portNumber, const SerialSettings& settings) = 0;
    virtual bool startWorker() = 0;
    // Stops delivery and closes the port; returns at once.
    virtual void requestClose() = 0;
    // Discards unread received bytes (unless the settings keep them), then writes the block.
    virtual void write(const std::uint8_t* data, std::size_t length) = 0;
    virtual bool isOpen() const = 0;

    void setByteHandler(ByteHandler handler) { onByte_ = std::move(handler); }
    // A read fault or a vanished device; the shell drops the COM link.
    void setFaultHandler(FaultHandler handler) { onFault_ = std::move(handler); }

protected:
    void deliverByte(std::uint8_t byte, int portNumber)
    {
        if (onByte_)
            onByte_(byte, portNumber);
    }
    void reportFault()
    {
        if (onFault_)
            onFault_();
    }

private:
    ByteHandler onByte_;
    FaultHandler onFault_;
};

}  // namespace matrix
