// SPDX-License-Identifier: Apache-2.0
#include "core/client/ClientEngine.h"

#include "core/protocol/Protocol.h"
#include "core/transport/Ipv4.h"

#include <algorithm>
#include <utility>

namespace matrix::client {

ClientEngine::ClientEngine(MatrixClient& client, MatrixState& state, EventLoop& loop,
                           MatrixClient::SerialFactory makeSerial, std::unique_ptr<StreamSocket> socket,
                           MatrixClient::Options options)
    : client_(client),
      state_(state),
      loop_(loop),
      makeSerial_(std::move(makeSerial)),
      socket_(std::move(socket)),
      options_(options)
{
}

ClientEngine::~ClientEngine()
{
    *alive_ = false;
    if (socket_)
        socket_->close();
    if (serial_)
        serial_->requestClose();
}

void ClientEngine::open(const LinkTarget& target, std::function<void(Status)> done)
{
    if (phase_ != Phase::Closed)
        close();
    target_ = target;
    haveTarget_ = true;
    openDone_ = std::move(done);
    backoffMs_ = options_.reconnectFirstMs;
    connectNow();
}

void ClientEngine::close()
{
    haveTarget_ = false;
    dropLink(phase_ == Phase::Up, true);
}

void ClientEngine::attach(std::function<void(const Bytes&)> write, std::function<bool()> stillOurs)
{
    attachedWrite_ = std::move(write);
    stillOurs_ = std::move(stillOurs);
    phase_ = Phase::Up;
    state_.linkUp = true;
}

void ClientEngine::receive(const CommandFrame& frame)
{
    if (phase_ == Phase::Up)
        onFrame(frame);
}

void ClientEngine::connectNow()
{
    phase_ = Phase::Connecting;
    // Results posted for an earlier attempt (closed and re-opened meanwhile) are not this one's.
    const int attempt = ++attempt_;
    assembler_.reset();
    const bool tcp = target_.kind == LinkTarget::Kind::Tcp;
    if (tcp && socket_ && parseDottedIpv4(target_.address)) {
        socket_->recreate(this);
        socket_->connectTo(target_.address, kMatrixTcpPort);
        linkTimer_.once(options_.connectTimeoutMs, [this] {
            if (phase_ == Phase::Connecting)
                dropLink(false, true);
        });
        return;
    }
    // A TCP target with nothing to connect to fails on the next turn, as a refused connect would.
    serial_ = !tcp && makeSerial_ ? makeSerial_() : nullptr;
    bool opened = false;
    if (serial_) {
        SerialChannel* channel = serial_.get();
        serial_->setByteHandler([this, channel](std::uint8_t byte, int) {
            if (serial_.get() != channel || phase_ != Phase::Up)
                return;
            if (auto frame = assembler_.feed(byte))
                onFrame(*frame);
        });
        serial_->setFaultHandler([this, channel] {
            if (serial_.get() == channel && phase_ == Phase::Up)
                dropLink(true, false);
        });
        opened = serial_->open(target_.comPort, liveSerialSettings()) && serial_->startWorker();
    }
    // Reported on the next turn, so open() never calls back before it returns.
    postConnectResult(opened, attempt);
}

void ClientEngine::postConnectResult(bool opened, int attempt)
{
    auto token = alive_;
    loop_.post([this, token, opened, attempt] {
        if (!*token || phase_ != Phase::Connecting || attempt != attempt_)
            return;
        if (opened)
            linkCameUp();
        else
            dropLink(false, true);
    });
}

void ClientEngine::linkCameUp()
{
    linkTimer_.stop();
    phase_ = Phase::Up;
    backoffMs_ = options_.reconnectFirstMs;
    linkMessage_.clear();
    state_.linkUp = true;
    auto token = alive_;
    emit(StateChange::Kind::Link, 0);
    if (!*token)
        return;
    if (openDone_)
        std::exchange(openDone_, nullptr)(Status::Ok);
    if (!*token || phase_ != Phase::Up)
        return;
    if (options_.supervise) {
        // After a first open as after a reconnect, start from what the matrix says.
        client_.readDeviceInfo([](const Result<DeviceInfo>&) {});
        client_.refresh();
    }
    pump();
}

// The link is down, closed or lost: a link that was up says so, every job
// ends with LinkDown, a pending open() hears it where `finish`, and a
// supervised target is tried again.
void ClientEngine::dropLink(bool wasUp, bool finish)
{
    phase_ = Phase::Closed;
    linkTimer_.stop();
    auto token = alive_;
    if (target_.kind == LinkTarget::Kind::Tcp) {
        if (socket_)
            socket_->close();
    } else if (serial_) {
        serial_->requestClose();
        // The channel may be calling us right now (a fault): drop it later.
        retiredSerial_.push_back(std::move(serial_));
        loop_.post([this, token] {
            if (*token)
                retiredSerial_.clear();
        });
    }
    assembler_.reset();
    linkMessage_ = downText();
    if (wasUp) {
        state_.linkUp = false;
        emit(StateChange::Kind::Link, 0);
        if (!*token)
            return;
    }
    failAll(Status::LinkDown, linkMessage_);
    if (finish && *token && openDone_)
        std::exchange(openDone_, nullptr)(Status::LinkDown);
    if (!*token || !options_.supervise || !haveTarget_ || phase_ != Phase::Closed)
        return;
    phase_ = Phase::Waiting;
    linkTimer_.once(std::exchange(backoffMs_, std::min(backoffMs_ * 2, options_.reconnectMaxMs)), [this] {
        if (phase_ == Phase::Waiting)
            connectNow();
    });
}

void ClientEngine::onSocketConnect(int errorCode)
{
    if (phase_ != Phase::Connecting || target_.kind != LinkTarget::Kind::Tcp)
        return;
    if (errorCode == 0)
        linkCameUp();
    else
        dropLink(false, true);
}

void ClientEngine::onSocketRead()
{
    std::uint8_t buffer[1024];
    for (;;) {
        const long got = socket_ ? socket_->receive(buffer, sizeof buffer) : 0;
        if (got <= 0)
            return;
        if (phase_ != Phase::Up)
            continue;
        auto token = alive_;
        for (long i = 0; i < got; ++i) {
            if (auto frame = assembler_.feed(buffer[i])) {
                onFrame(*frame);
                if (!*token || phase_ != Phase::Up)
                    return;
            }
        }
    }
}

void ClientEngine::onSocketClose()
{
    if (target_.kind == LinkTarget::Kind::Tcp && (phase_ == Phase::Connecting || phase_ == Phase::Up))
        dropLink(phase_ == Phase::Up, phase_ == Phase::Connecting);
}

void ClientEngine::refuse(std::function<void(Status, const std::string&)> fail, Status status, std::string message)
{
    auto token = alive_;
    loop_.post([token, fail = std::move(fail), status, message = std::move(message)] {
        if (*token)
            fail(status, message);
    });
}

void ClientEngine::enqueue(Job job)
{
    if (phase_ == Phase::Closed || phase_ == Phase::Waiting) {
        refuse(std::move(job.fail), Status::LinkDown, linkMessage_.empty() ? downText() : linkMessage_);
        return;
    }
    if (firmwareRunning() ||
        (job.firmware && std::any_of(queue_.begin(), queue_.end(), [](const auto& j) { return j->firmware; }))) {
        refuse(std::move(job.fail), Status::Busy, "a firmware upgrade holds the link");
        return;
    }
    queue_.push_back(std::make_unique<Job>(std::move(job)));
    pump();
}

void ClientEngine::pump()
{
    if (current_ || phase_ != Phase::Up || queue_.empty())
        return;
    current_ = std::move(queue_.front());
    queue_.pop_front();
    ++currentSerial_;
    runAsk(0);
}

void ClientEngine::runAsk(std::size_t index)
{
    askIndex_ = index;
    if (index >= current_->asks.size()) {
        endCurrent([](Job& job) { job.done(); });
        return;
    }
    const Ask& ask = current_->asks[index];
    if (ask.onSend) {
        const std::uint64_t serial = currentSerial_;
        // A copy: the callback may end the job that holds the ask.
        const auto onSend = ask.onSend;
        onSend();
        if (!stillRuns(serial))
            return;
    }
    if (const int pauseMs = ask.pauseMs; pauseMs >= 0) {
        const std::uint64_t serial = currentSerial_;
        if (!ask.step.bytes.empty())
            write(ask.step.bytes);
        if (!stillRuns(serial))
            return;  // the traffic log's listener closed the link
        askTimer_.once(pauseMs, [this] {
            if (current_)
                runAsk(askIndex_ + 1);
        });
        return;
    }
    step_ = ask.step;
    resendsDone_ = 0;
    badSumResent_ = false;
    write(step_->bytes);
    askTimer_.once(step_->waits.firstMs, [this] { onReplyTimer(); });
}

void ClientEngine::failAll(Status status, const std::string& message)
{
    // Everything ends now: the one in flight first, then the queue in order.
    std::deque<std::unique_ptr<Job>> jobs = std::exchange(queue_, {});
    if (current_)
        jobs.push_front(std::move(current_));
    step_.reset();
    askTimer_.stop();
    auto token = alive_;
    for (auto& job : jobs) {
        job->fail(status, message);
        if (!*token)
            return;
    }
}

void ClientEngine::write(const Bytes& bytes)
{
    if (client_.onTraffic)
        client_.onTraffic(true, bytes);
    if (attachedWrite_)
        attachedWrite_(bytes);
    else if (target_.kind == LinkTarget::Kind::Tcp && socket_)
        socket_->send(bytes.data(), bytes.size());
    else if (target_.kind == LinkTarget::Kind::Com && serial_)
        serial_->write(bytes.data(), bytes.size());
}

void ClientEngine::onReplyTimer()
{
    if (!step_)
        return;
    if (stillOurs_ && !stillOurs_())
        failCurrent(Status::LinkDown);
    else if (resendsDone_ < step_->resends)
        resend(Resend::AfterWait);
    else
        failCurrent(Status::TimeOut);
}

void ClientEngine::resend(Resend why)
{
    ++resendsDone_;
    if (step_->resendWrites.empty())
        write(step_->bytes);
    for (const Bytes& bytes : step_->resendWrites)
        write(bytes);
    askTimer_.once(step_->waits.secondMs, [this] { onReplyTimer(); });
    if (client_.onResend)
        client_.onResend(why);
}

void ClientEngine::onBadSum()
{
    askTimer_.stop();
    if (!badSumResent_) {
        badSumResent_ = true;
        resendsDone_ = step_->resends;  // so that the wait after this re-send is the last
        resend(Resend::AfterBadSum);
        return;
    }
    if (step_->skipAfterBadSums) {
        step_.reset();
        runAsk(askIndex_ + 1);
        return;
    }
    failCurrent(Status::TimeOut);
}

void ClientEngine::failCurrent(Status status, const std::string& message)
{
    if (current_)
        endCurrent([&](Job& job) { job.fail(status, message); });
}

void ClientEngine::endCurrent(const std::function<void(Job&)>& tell)
{
    askTimer_.stop();
    step_.reset();
    auto job = std::move(current_);
    auto token = alive_;
    tell(*job);
    if (*token)
        pump();
}

void ClientEngine::onFrame(const CommandFrame& frame)
{
    if (client_.onTraffic)
        client_.onTraffic(false, bytesOf(frame));
    if (protocol::isStandby(frame)) {
        auto token = alive_;
        failCurrent(Status::Standby);
        if (*token && client_.onStandby)
            client_.onStandby();
        return;
    }
    if (!step_ || !step_->matches(frame))
        return;
    if (!frame.checksumOk()) {
        if (step_->resendOnBadSum)
            onBadSum();
        return;
    }
    askTimer_.stop();
    step_.reset();
    const Ask& ask = current_->asks[askIndex_];
    if (const std::string refused = ask.refusal ? ask.refusal(frame) : std::string(); !refused.empty()) {
        failCurrent(Status::Rejected, refused);
        return;
    }
    const std::uint64_t serial = currentSerial_;
    // A copy: what it tells (a state change, a confirmed route) may end the
    // job that holds the ask.
    if (const auto take = ask.take)
        take(frame);
    if (stillRuns(serial))
        runAsk(askIndex_ + 1);
}

}  // namespace matrix::client
