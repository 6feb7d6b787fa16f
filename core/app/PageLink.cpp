// SPDX-License-Identifier: Apache-2.0
#include "core/app/PageLink.h"

#include "core/link/LinkState.h"

namespace matrix {

PageLink::PageLink(PageContext& context, FrameSender::Echo echo)
    : context_(context),
      serial_(context.platform.makeSerial()),
      sender_(context.link, *serial_, echo)
{
}

PageLink::~PageLink()
{
    serial_->setByteHandler(nullptr);
    serial_->setFaultHandler(nullptr);
}

void PageLink::onSerialFrame(FrameHandler handler)
{
    serial_->setByteHandler([this, handler = std::move(handler)](std::uint8_t byte, int portNumber) {
        if (context_.link.tcpMode() || portNumber < 1 || portNumber > 255)
            return;
        if (auto frame = serialAssembler_.feed(byte, &receivedLog_))
            handler(*frame);
    });
}

void PageLink::openChosenPort()
{
    const LinkState& link = context_.link;
    if (link.tcpMode() || link.comPort == 0 || !link.comOpen)
        return;
    SerialSettings settings = liveSerialSettings();
    settings.stopBits = context_.link.pageStopBits;
    if (serial_->open(context_.link.comPort, settings))
        serial_->startWorker();
}

void PageLink::reconnect(StreamSocket& socket, StreamSocketOwner& owner)
{
    socket.recreate(&owner);
    socketAssembler_.reset();
    socket.connectTo(context_.link.matrixAddress, kMatrixTcpPort);
    context_.link.socketConnected = false;
}

void PageLink::socketConnectDone(int errorCode)
{
    if (errorCode == 0)
        context_.link.socketConnected = true;
}

void PageLink::socketClosed() { context_.link.socketConnected = false; }

void PageLink::drainSocket(StreamSocket& socket, const ReadHandler& onRead)
{
    std::uint8_t buffer[kSocketBufferBytes];
    for (;;) {
        const long n = socket.receive(buffer, kSocketBufferBytes - socketAssembler_.pendingBytes());
        if (n <= 0)
            return;
        onRead(buffer, static_cast<std::size_t>(n));
    }
}

void PageLink::feedSocket(const std::uint8_t* data, std::size_t length, const FrameHandler& onFrame, bool echoBytes)
{
    socketAssembler_.feed(data, length, onFrame, echoBytes ? &receivedLog_ : nullptr);
}

}  // namespace matrix
