// SPDX-License-Identifier: Apache-2.0
#include "core/link/FrameSender.h"

#include "core/link/LinkState.h"
#include "core/transport/SerialChannel.h"
#include "core/transport/StreamSocket.h"

namespace matrix {

FrameSender::FrameSender(LinkState& link, SerialChannel& serial, Echo echo) : link_(link), serial_(serial), echo_(echo)
{
}

void FrameSender::send(const CommandFrame& frame) { sendRaw(frame.data(), CommandFrame::kSize, true); }

void FrameSender::sendRaw(const std::uint8_t* data, std::size_t length, bool echo)
{
    if (echo && echo_ == Echo::BeforeSending)
        sentLog_.echoSent(data, length);
    transmit(data, length);
    if (echo && echo_ == Echo::AfterSending)
        sentLog_.echoSent(data, length);
}

void FrameSender::transmit(const std::uint8_t* data, std::size_t length)
{
    if (link_.tcpMode()) {
        if (link_.linkSocket)
            link_.linkSocket->send(data, length);
    } else {
        serial_.write(data, length);
    }
}

}  // namespace matrix
