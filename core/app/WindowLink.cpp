// SPDX-License-Identifier: Apache-2.0
#include "core/app/WindowLink.h"

namespace matrix {

PagePort::PagePort(WindowLink& link, std::unique_ptr<SerialChannel> serial) : link_(link), serial_(std::move(serial)) {}

PagePort::~PagePort()
{
    serial_->setByteHandler(nullptr);
    serial_->setFaultHandler(nullptr);
}

void PagePort::sendRaw(const std::uint8_t* data, std::size_t length, bool echo)
{
    if (echo && echo_ == Echo::BeforeSending)
        sentLog_.echoSent(data, length);
    if (link_.tcpMode())
        link_.sendToSocket(data, length);
    else
        serial_->write(data, length);
    if (echo && echo_ == Echo::AfterSending)
        sentLog_.echoSent(data, length);
}

void PagePort::onSerialFrame(FrameHandler handler)
{
    serial_->setByteHandler([this, handler = std::move(handler)](std::uint8_t byte, int portNumber) {
        if (link_.tcpMode() || portNumber < 1 || portNumber > 255)
            return;
        if (auto frame = assembler_.feed(byte, &receivedLog_))
            handler(*frame);
    });
}

void PagePort::openChosenPort()
{
    if (link_.tcpMode() || link_.comPort == 0 || !link_.comOpen)
        return;
    SerialSettings settings = liveSerialSettings();
    settings.stopBits = link_.pageStopBits;
    if (serial_->open(link_.comPort, settings))
        serial_->startWorker();
}

bool PagePort::reopen()
{
    if (!link_.comOpen)
        return false;
    link_.pageStopBits = 2;
    SerialSettings settings = liveSerialSettings();
    settings.stopBits = link_.pageStopBits;
    return serial_->open(link_.comPort, settings) && serial_->startWorker();
}

WindowLink::WindowLink(Platform& platform) : platform_(platform) {}

// No socket event may reach a page that is about to go.
WindowLink::~WindowLink() { platform_.linkSocket.recreate(nullptr); }

PagePort& WindowLink::port(PageId page)
{
    auto& slot = ports_[index(page)];
    if (!slot)
        slot = std::make_unique<PagePort>(*this, platform_.makeSerial());
    return *slot;
}

void WindowLink::reconnect(PageId page)
{
    reader_ = page;
    platform_.linkSocket.recreate(this);
    socketAssembler_.reset();
    platform_.linkSocket.connectTo(matrixAddress, kMatrixTcpPort);
    onSocketClose();
}

void WindowLink::dropTcp()
{
    platform_.linkSocket.close();
    tcp_ = TcpState::Down;
}

void WindowLink::onSocketConnect(int errorCode)
{
    if (errorCode != 0)
        return;
    if (tcp_ == TcpState::Down)
        tcp_ = TcpState::Connected;
    else if (tcp_ == TcpState::Reconnecting)
        tcp_ = TcpState::Up;
}

void WindowLink::onSocketClose()
{
    if (tcp_ == TcpState::Connected)
        tcp_ = TcpState::Down;
    else if (tcp_ == TcpState::Up)
        tcp_ = TcpState::Reconnecting;
}

void WindowLink::onSocketRead()
{
    const SocketReader& reader = readers_[index(reader_)];
    std::uint8_t buffer[kSocketBufferBytes];
    for (;;) {
        const long n = platform_.linkSocket.receive(buffer, kSocketBufferBytes - socketAssembler_.pendingBytes());
        if (n <= 0)
            return;
        if (reader.listening && !reader.listening()) {
            socketAssembler_.reset();
            continue;
        }
        if (reader.onFrame)
            socketAssembler_.feed(buffer, static_cast<std::size_t>(n), reader.onFrame, reader.echo);
    }
}

}  // namespace matrix
