// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "bench/BenchSupport.h"
#include "core/session/MatrixSession.h"
#include "platform/QtPlatform.h"

#include <QString>

#include <string>

namespace matrix::bench {

// A whole session on the real Qt platform, past the General tab's start-up
// activation, and the two ways a user connects its General page.
struct QtSession {
    QtSession()
    {
        waitFor([] { return false; }, 300);
    }

    // COM mode, the port, Connect: true when the port opened.
    bool connectCom(const std::string& port)
    {
        page.selectComMode();
        page.selectComPort(port);
        page.comConnectClicked();
        return page.comIndicatorConnected();
    }

    // TCP mode, the address, Connect: true when the link came up within 5 s.
    bool connectTcp(const QString& address)
    {
        page.selectTcpMode();
        page.setIpText(address.toStdString());
        page.tcpConnectClicked();
        return waitFor([this] { return page.tcpIndicatorConnected(); }, 5000);
    }

    QtPlatform qt;
    MatrixSession session{qt.platform};
    GeneralPage& page = session.general;
};

}  // namespace matrix::bench
