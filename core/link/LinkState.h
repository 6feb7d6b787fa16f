// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace matrix {

class StreamSocket;

enum class ControlMode { Com = 0, Tcp = 1 };

// Page numbers as the link knows them.
enum class PageId { General = 1, Edid = 2, Routing = 3, Firmware = 4 };

// The link fields that every page and the main window share. One object,
// owned by the session and passed by reference; touched on the loop thread only.
struct LinkState {
    ControlMode controlMode = ControlMode::Com;
    int comOpen = 0;            // the user connected the COM link
    int comPort = 0;            // COM number of the last COM Connect (1..19)
    StreamSocket* linkSocket = nullptr;
    int socketConnected = 0;    // the current socket completed its connect
    int tcpLinkUp = 0;          // the General page confirmed the TCP connection
    std::string matrixAddress;  // dotted IPv4 text
    PageId activePage = PageId::General;
    std::string noticeText;
    std::string progressText;
    int progressOpen = 0;
    int busy = 0;  // the Routing page has a command in flight

    bool tcpMode() const { return controlMode == ControlMode::Tcp; }
};

}  // namespace matrix
