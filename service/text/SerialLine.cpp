// SPDX-License-Identifier: Apache-2.0
#include "service/text/SerialLine.h"

#include <algorithm>
#include <utility>

namespace matrix::service::text {

namespace {

constexpr int kRetryTimerId = 1;
// Any number: the channel opens its configured device whatever it is asked.
constexpr int kPortNumber = 1;

}  // namespace

SerialLine::SerialLine(EventLoop& loop, Backend& backend, std::string device, int baud, ChannelFactory makeChannel,
                       Log log)
    : loop_(loop),
      backend_(backend),
      device_(std::move(device)),
      makeChannel_(std::move(makeChannel)),
      log_(std::move(log))
{
    settings_.baud = baud;
    settings_.parity = 'N';
    settings_.dataBits = 8;
    settings_.stopBits = 1;
    settings_.discardInputOnWrite = false;
}

SerialLine::~SerialLine()
{
    loop_.killTimer(this, kRetryTimerId);
    session_.reset();
    if (channel_)
        channel_->requestClose();
}

void SerialLine::start() { tryOpen(); }

void SerialLine::event(const Event& event)
{
    if (session_)
        session_->event(event);
}

void SerialLine::tryOpen()
{
    loop_.killTimer(this, kRetryTimerId);
    channel_ = makeChannel_();
    if (!channel_->open(kPortNumber, settings_) || !channel_->startWorker()) {
        channel_->requestClose();
        channel_.reset();
        if (!missingLogged_)
            log_("text " + device_ + " cannot be opened; trying again");
        missingLogged_ = true;
        retryLater();
        return;
    }
    missingLogged_ = false;
    retryMs_ = kFirstRetryMs;
    log_("text " + device_ + " open, " + std::to_string(settings_.baud) + " baud 8N1");
    SerialChannel* channel = channel_.get();
    session_ = std::make_unique<Session>(backend_, "text " + device_, [channel](const std::string& bytes) {
        channel->write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    });
    channel_->setByteHandler([this](std::uint8_t byte, int) {
        const char c = static_cast<char>(byte);
        if (closing_)
            return;
        // A serial line cannot be slowed down: past the backlog, input is dropped.
        if (session_->backlogBytes() >= Session::kMaxBacklogBytes)
            return;
        if (!session_->receive(std::string_view(&c, 1)))
            lost(session_->closeReason());
    });
    channel_->setFaultHandler([this] { lost("the device went away"); });
}

void SerialLine::lost(const std::string& why)
{
    if (closing_)
        return;
    closing_ = true;
    log_("text " + device_ + " lost: " + why);
    // Not from inside the channel's own delivery: the session and channel
    // go once the loop is back.
    loop_.post([this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.expired())
            return;
        closing_ = false;
        session_.reset();
        if (channel_) {
            channel_->requestClose();
            channel_.reset();
        }
        retryMs_ = kFirstRetryMs;
        missingLogged_ = true;  // the loss was the news; retries stay quiet
        retryLater();
    });
}

void SerialLine::retryLater()
{
    const int delayMs = retryMs_;
    retryMs_ = std::min(retryMs_ * 2, kMaxRetryMs);
    loop_.startTimer(this, kRetryTimerId, delayMs, [this] { tryOpen(); });
}

}  // namespace matrix::service::text
