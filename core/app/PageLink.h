// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/link/CommandFrame.h"
#include "core/link/FrameAssembler.h"
#include "core/link/FrameSender.h"
#include "core/link/HexLog.h"
#include "core/transport/SerialChannel.h"
#include "core/transport/StreamSocket.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace matrix {

// A page's end of the link: its own serial port, the sender, one assembler
// per path and the hidden hex logs. Every page receives the same way; what
// a page does with a frame, and which TCP replies it listens to, stays
// with the page.
class PageLink {
public:
    // The held tail and one read never exceed this buffer.
    static constexpr std::size_t kSocketBufferBytes = 1024;
    using FrameHandler = std::function<void(const CommandFrame&)>;
    using ReadHandler = std::function<void(const std::uint8_t* data, std::size_t length)>;

    PageLink(PageContext& context, FrameSender::Echo echo);
    ~PageLink();
    PageLink(const PageLink&) = delete;
    PageLink& operator=(const PageLink&) = delete;

    SerialChannel& serial() { return *serial_; }
    const SerialChannel& serial() const { return *serial_; }
    FrameSender& sender() { return sender_; }
    void send(const CommandFrame& frame) { sender_.send(frame); }

    HexLog& receivedLog() { return receivedLog_; }
    const HexLog& receivedLog() const { return receivedLog_; }
    HexLog& sentLog() { return sender_.sentLog(); }
    const HexLog& sentLog() const { return sender_.sentLog(); }

    // Serial frames, every byte echoed to the received log. Bytes are not
    // ours in TCP control mode, nor from a port number outside 1..255.
    void onSerialFrame(FrameHandler handler);
    // On the tab's first selection the COM link the user connected is
    // taken at once, with the pages' shared stop bits; nothing is sent.
    // After a Disconnect the port is left alone: the page must not talk
    // over a link the user closed, nor keep the port from other programs.
    void openChosenPort();
    // Re-creates the socket for its new owner and connects it to the
    // matrix. A new socket is a new stream: a partial reply of the old one
    // must not prefix the first reply on this one.
    void reconnect(StreamSocket& socket, StreamSocketOwner& owner);
    void socketConnectDone(int errorCode);
    void socketClosed();

    // Reads all the socket holds and passes each read on.
    void drainSocket(StreamSocket& socket, const ReadHandler& onRead);
    // Replies may be split over reads or arrive several in one read: every
    // complete frame is handed on in order and the tail is kept.
    void feedSocket(const std::uint8_t* data, std::size_t length, const FrameHandler& onFrame, bool echoBytes);
    void dropSocketTail() { socketAssembler_.reset(); }
    void dropSerialTail() { serialAssembler_.reset(); }

private:
    PageContext& context_;
    std::unique_ptr<SerialChannel> serial_;
    FrameSender sender_;
    FrameAssembler serialAssembler_;
    FrameAssembler socketAssembler_;
    HexLog receivedLog_;
};

}  // namespace matrix
