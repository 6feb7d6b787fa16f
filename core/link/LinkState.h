// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace matrix {

class StreamSocket;

enum class ControlMode { Com = 0, Tcp = 1 };

// Page numbers as the link knows them.
enum class PageId { General = 1, Edid = 2, Routing = 3, Firmware = 4 };

// The link fields that every page and the main window share, and the
// few the pages share with each other besides (the firmware upgrade, the
// serial stop bits, the progress animation). One object,
// owned by the session and passed by reference; touched on the loop thread only.
struct LinkState {
    ControlMode controlMode = ControlMode::Com;
    bool comOpen = false;  // the user connected the COM link
    int comPort = 0;       // COM number of the last COM Connect (1..19)
    StreamSocket* linkSocket = nullptr;
    bool socketConnected = false;  // the current socket completed its connect
    bool tcpLinkUp = false;        // the General page confirmed the TCP connection
    std::string matrixAddress;     // dotted IPv4 text
    PageId activePage = PageId::General;
    std::string noticeText;
    std::string progressText;
    bool progressOpen = false;
    bool busy = false;  // the Routing page has a command in flight
    // A firmware upgrade runs; the main window refuses tab switches meanwhile.
    bool firmwareUpgrading = false;
    // The serial settings record of the EDID, Routing and Firmware pages:
    // 1 stop bit at start, 2 once any of their re-opens has run.
    int pageStopBits = 1;
    // Progress-text animation counter 1..3 of the General, Routing and EDID pages.
    int progressDotCount = 1;

    // Steps the progress counter 1, 2, 3, 1, ... and returns the new value.
    int nextProgressDot()
    {
        progressDotCount = progressDotCount % 3 + 1;
        return progressDotCount;
    }

    bool tcpMode() const { return controlMode == ControlMode::Tcp; }
};

}  // namespace matrix
