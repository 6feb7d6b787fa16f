// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"
#include "core/link/FrameAssembler.h"
#include "core/link/HexLog.h"
#include "core/transport/Platform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace matrix {

enum class ControlMode { Com = 0, Tcp = 1 };

// Page numbers as the link knows them.
enum class PageId { General = 1, Edid = 2, Routing = 3, Firmware = 4 };
constexpr int kPageCount = 4;

// The TCP side of the window's link. The user's link is up once the General
// page has confirmed a connected socket; every page that takes the link
// re-creates the socket, so a link that is up may be reconnecting.
enum class TcpState {
    Down,          // never connected, dropped, or confirmed without a socket
    Connected,     // the socket connected; the General page has not confirmed it
    Up,            // confirmed, and the current socket is connected
    Reconnecting,  // confirmed, and the current socket has not connected (yet)
};

using FrameHandler = std::function<void(const CommandFrame&)>;

class WindowLink;

// A page's handle on the COM port, its send step and its hidden hex logs.
// Each page opens the port with its own settings; another tab closes it.
class PagePort {
public:
    enum class Echo { BeforeSending, AfterSending };

    PagePort(WindowLink& link, std::unique_ptr<SerialChannel> serial);
    ~PagePort();

    SerialChannel& serial() { return *serial_; }
    const SerialChannel& serial() const { return *serial_; }
    void setEcho(Echo echo) { echo_ = echo; }

    // To the link socket in TCP control mode, to this page's port otherwise.
    // Nothing checks that the link is up: the reply time-out covers it.
    void send(const CommandFrame& frame) { sendRaw(frame.data(), CommandFrame::kSize); }
    // Raw data blocks that follow an announcing frame (EDID, firmware).
    void sendRaw(const std::uint8_t* data, std::size_t length, bool echo = true);

    HexLog& receivedLog() { return receivedLog_; }
    const HexLog& receivedLog() const { return receivedLog_; }
    HexLog& sentLog() { return sentLog_; }
    const HexLog& sentLog() const { return sentLog_; }

    // Serial frames, every byte echoed to the received log. Bytes are not
    // ours in TCP control mode, nor from a port number outside 1..255.
    void onSerialFrame(FrameHandler handler);
    void dropSerialTail() { assembler_.reset(); }

    // On the tab's first selection the user's COM link is taken at once,
    // with the pages' shared stop bits. After a Disconnect the port is left
    // alone: no talking over a closed link, nor keeping it from others.
    void openChosenPort();
    // The page's activation takes the port again with 2 stop bits, which
    // later first selections keep too. False without a COM link or port.
    bool reopen();

private:
    WindowLink& link_;
    std::unique_ptr<SerialChannel> serial_;
    Echo echo_ = Echo::BeforeSending;
    FrameAssembler assembler_;
    HexLog receivedLog_;
    HexLog sentLog_;
};

// How a page takes the socket's bytes while it holds the link.
struct SocketReader {
    // A read the page does not take is dropped, and any half frame with it.
    std::function<bool()> listening;
    // Where the received bytes are echoed as they arrive, if anywhere.
    HexLog* echo = nullptr;
    FrameHandler onFrame;
};

// The window's one link to the matrix: the user's choice of COM or TCP, the
// COM connection, the TCP state and socket, the page that holds the link,
// and each page's port. Touched on the loop thread only.
class WindowLink : public StreamSocketOwner {
public:
    // The held tail and one read never exceed this buffer.
    static constexpr std::size_t kSocketBufferBytes = 1024;

    explicit WindowLink(Platform& platform);
    ~WindowLink() override;

    ControlMode controlMode = ControlMode::Com;
    bool tcpMode() const { return controlMode == ControlMode::Tcp; }
    // The user connected the COM link. It outlives a switch to TCP mode:
    // the port stays open for a switch back.
    bool comOpen = false;
    int comPort = 0;            // COM number of the last COM Connect (1..19)
    std::string matrixAddress;  // dotted IPv4 text
    PageId activePage = PageId::General;
    bool busy = false;               // the Routing page has a command in flight
    bool firmwareUpgrading = false;  // tab switches are refused meanwhile
    // The serial settings record of the EDID, Routing and Firmware pages:
    // 1 stop bit at start, 2 once any of their re-opens has run.
    int pageStopBits = 1;

    PagePort& port(PageId page);  // made on the page's first use

    TcpState tcpState() const { return tcp_; }
    bool socketConnected() const { return tcp_ == TcpState::Connected || tcp_ == TcpState::Up; }
    bool tcpLinkUp() const { return tcp_ == TcpState::Up || tcp_ == TcpState::Reconnecting; }
    // For a harness that starts from a given link.
    void setTcpState(TcpState state) { tcp_ = state; }

    // Re-creates the socket for the page and connects it. A new socket is a
    // new stream: a partial reply of the old one must not prefix this one's.
    void reconnect(PageId page);
    // The General page's check after a connect.
    void confirmTcp() { tcp_ = socketConnected() ? TcpState::Up : TcpState::Down; }
    void dropTcp();
    void sendToSocket(const std::uint8_t* data, std::size_t length) { platform_.linkSocket.send(data, length); }
    void setSocketReader(PageId page, SocketReader reader) { readers_[index(page)] = std::move(reader); }

    void onSocketConnect(int errorCode) override;
    void onSocketRead() override;
    void onSocketClose() override;

private:
    static std::size_t index(PageId page) { return static_cast<std::size_t>(page) - 1; }

    Platform& platform_;
    TcpState tcp_ = TcpState::Down;
    std::array<std::unique_ptr<PagePort>, kPageCount> ports_;
    std::array<SocketReader, kPageCount> readers_;
    PageId reader_ = PageId::General;  // the page the current socket was made for
    FrameAssembler socketAssembler_;
};

}  // namespace matrix
