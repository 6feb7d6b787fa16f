// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/EventLoop.h"
#include "core/transport/SerialChannel.h"
#include "service/text/Session.h"

#include <functional>
#include <memory>
#include <string>

namespace matrix::service::text {

// The text protocol on a serial line (8N1). A device that is missing or goes
// away is opened again after 1 s, then 2, 4, ... up to 30 s between tries;
// losing it and getting it back are logged once each. Loop thread only.
class SerialLine {
public:
    using ChannelFactory = std::function<std::unique_ptr<SerialChannel>()>;
    using Log = std::function<void(const std::string& line)>;

    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kMaxRetryMs = 30000;

    // `makeChannel` gives a channel that opens `device` whatever COM number
    // it is asked for (matrixd's QtSerialPort with a device override).
    SerialLine(EventLoop& loop, Backend& backend, std::string device, int baud, ChannelFactory makeChannel, Log log);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    void start();
    bool isOpen() const { return session_ != nullptr; }
    void event(const Event& event);

private:
    void tryOpen();
    void lost(const std::string& why);
    void retryLater();

    EventLoop& loop_;
    Backend& backend_;
    std::string device_;
    SerialSettings settings_;
    ChannelFactory makeChannel_;
    Log log_;
    std::unique_ptr<SerialChannel> channel_;
    std::unique_ptr<Session> session_;
    int retryMs_ = kFirstRetryMs;
    bool missingLogged_ = false;
    bool closing_ = false;  // lost; the channel goes once the loop is back
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace matrix::service::text
