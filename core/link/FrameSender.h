// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"
#include "core/link/HexLog.h"

namespace matrix {

struct LinkState;
class SerialChannel;

// A page's build-echo-send step: the frame goes to the link socket in TCP
// control mode and to the page's own serial port otherwise. Nothing checks
// that the link is up; callers run the command guard first, and a frame
// that cannot be sent is covered by the sender's reply time-out.
class FrameSender {
public:
    enum class Echo { BeforeSending, AfterSending };

    FrameSender(LinkState& link, SerialChannel& serial, Echo echo = Echo::BeforeSending);

    void send(const CommandFrame& frame);
    // Raw data blocks that follow an announcing frame (EDID, firmware).
    void sendRaw(const std::uint8_t* data, std::size_t length, bool echo = true);

    HexLog& sentLog() { return sentLog_; }
    const HexLog& sentLog() const { return sentLog_; }

private:
    void transmit(const std::uint8_t* data, std::size_t length);
    LinkState& link_;
    SerialChannel& serial_;
    Echo echo_;
    HexLog sentLog_;
};

}  // namespace matrix
