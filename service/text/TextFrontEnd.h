// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/text/SerialLine.h"
#include "service/text/TextBackend.h"
#include "service/text/TextServer.h"

#include <memory>
#include <string>

namespace matrix {
class EventLoop;
}

namespace matrix::service::text {

// The text protocol of one matrix, as its config section asks: a TCP server
// (text_port), a serial line (text_serial), or both, over one backend.
class TextFrontEnd {
public:
    TextFrontEnd(Hub& hub, MatrixUnit& unit, EventLoop& loop);
    ~TextFrontEnd();

    // False with a message when the TCP port cannot be had. A serial device
    // that is missing is no failure: it is tried again until it appears.
    bool start(std::string* error);

private:
    MatrixUnit& unit_;
    EventLoop& loop_;
    std::unique_ptr<TextServer> server_;
    std::unique_ptr<SerialLine> serial_;
    TextBackend backend_;  // last: its events reach the two above
};

}  // namespace matrix::service::text
