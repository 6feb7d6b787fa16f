// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "core/link/FrameAssembler.h"
#include "core/transport/Timer.h"

#include <deque>
#include <type_traits>

namespace matrix::client {

using Bytes = std::vector<std::uint8_t>;

inline bool validPort(int port) { return port >= 1 && port <= kPortCount; }

template <typename Block>
Bytes bytesOf(const Block& block)
{
    return Bytes(block.begin(), block.end());
}
inline Bytes bytesOf(const CommandFrame& frame) { return bytesOf(frame.bytes()); }

// One thing sent and the reply it waits for. Each expiry re-sends the
// same bytes (or `resendWrites`, in order) until `resends` are used up; the
// expiry after that ends the request with TimeOut.
struct Step {
    Bytes bytes;
    protocol::Waits waits = protocol::kReplyWaits;
    int resends = 1;
    std::vector<Bytes> resendWrites;
    std::function<bool(const CommandFrame&)> matches;
    // A matching reply that does not add up is noise the wait covers, unless
    // the step re-sends at once: then once, with the second wait as its last,
    // and a second such reply ends the request with TimeOut, or where
    // `skipAfterBadSums` passes the step over (a series goes on).
    bool resendOnBadSum = false;
    bool skipAfterBadSums = false;
};

// One exchange of a job: what to send, how long to wait, the reply it
// takes and what the reply means.
struct Ask {
    Ask() = default;
    // `request` is a frame, or a block of bytes.
    template <typename Request>
    Ask(const Request& request, protocol::Waits waits, std::function<bool(const CommandFrame&)> matches,
        std::function<void(const CommandFrame&)> take = {})
        : take(std::move(take))
    {
        step.bytes = bytesOf(request);
        step.waits = waits;
        step.matches = std::move(matches);
    }

    Step step;  // by default one re-send, of the same bytes
    std::function<void(const CommandFrame&)> take;
    // A reply that matches but says no: the request ends Rejected with this text.
    std::function<std::string(const CommandFrame&)> refusal;
    // Nothing expected: write `step.bytes` (if any), then go on after this pause.
    int pauseMs = -1;
    std::function<void()> onSend;
};

// A queued request: its asks, one after the other, then done(); or fail().
// The engine guarantees one of the two endings runs exactly once.
struct Job {
    std::vector<Ask> asks;
    std::function<void()> done;
    std::function<void(Status, const std::string&)> fail;
    bool firmware = false;
};

// The link, the request queue and the state model of one matrix: the part
// of the client that every operation shares.
class ClientEngine : public StreamSocketOwner {
public:
    ClientEngine(MatrixClient& client, MatrixState& state, EventLoop& loop, MatrixClient::SerialFactory makeSerial,
                 std::unique_ptr<StreamSocket> socket, MatrixClient::Options options);
    ~ClientEngine() override;

    void open(const LinkTarget& target, std::function<void(Status)> done);
    void close();
    void attach(std::function<void(const Bytes&)> write, std::function<bool()> stillOurs);
    void receive(const CommandFrame& frame);
    void cancel() { failAll(Status::LinkDown, {}); }
    void setAttachedKind(LinkTarget::Kind kind) { target_.kind = kind; }

    // Queues a job; when the link is down or a firmware upgrade holds it,
    // the job ends (posted) without anything sent.
    void enqueue(Job job);
    // Ends a job before it is queued (bad input), posted like every early end.
    void refuse(std::function<void(Status, const std::string&)> fail, Status status, std::string message);

    // Raw bytes with no reply expected, beside any job in flight.
    void write(const Bytes& bytes);
    void failCurrent(Status status, const std::string& message = {});

    bool comLink() const { return target_.kind == LinkTarget::Kind::Com; }
    bool firmwareRunning() const { return current_ && current_->firmware; }
    std::size_t queued() const { return queue_.size() + (current_ ? 1 : 0); }
    const std::string& linkMessage() const { return linkMessage_; }

    // State model: stores `value` in `slot`, a part of the state, and emits
    // onChange for `index` only when that changed what was known.
    template <typename T>
    void update(std::optional<T>& slot, const std::type_identity_t<T>& value, StateChange::Kind kind, int index = 0)
    {
        if (slot == value)
            return;
        slot = value;
        emit(kind, index);
    }

    // StreamSocketOwner
    void onSocketConnect(int errorCode) override;
    void onSocketRead() override;
    void onSocketClose() override;

private:
    enum class Phase { Closed, Connecting, Up, Waiting };

    void connectNow();
    void postConnectResult(bool opened, int attempt);
    void linkCameUp();
    void dropLink(bool wasUp, bool finish);
    void failAll(Status status, const std::string& message);
    void pump();
    void runAsk(std::size_t index);
    // Ends the job in flight: it leaves the engine before `tell` calls back
    // its user, who may queue the next one; then the queue moves on.
    void endCurrent(const std::function<void(Job&)>& tell);
    // Whether the job in flight is still `serial`: a callback into users
    // (progress, state changes) may have ended it, or closed the link.
    bool stillRuns(std::uint64_t serial) const { return current_ && currentSerial_ == serial; }
    void onReplyTimer();
    void resend(Resend why);
    void onBadSum();
    void onFrame(const CommandFrame& frame);
    void emit(StateChange::Kind kind, int index)
    {
        if (client_.onChange)
            client_.onChange(StateChange{kind, index});
    }
    std::string downText() const { return comLink() ? "Open COM failed!" : "Connect to Matrix failed!"; }

    MatrixClient& client_;
    MatrixState& state_;
    EventLoop& loop_;
    MatrixClient::SerialFactory makeSerial_;
    std::unique_ptr<StreamSocket> socket_;
    MatrixClient::Options options_;

    LinkTarget target_;
    bool haveTarget_ = false;
    Phase phase_ = Phase::Closed;
    std::unique_ptr<SerialChannel> serial_;
    std::vector<std::unique_ptr<SerialChannel>> retiredSerial_;
    FrameAssembler assembler_;
    std::function<void(Status)> openDone_;
    int backoffMs_ = 0;
    int attempt_ = 0;
    std::string linkMessage_;
    std::function<void(const Bytes&)> attachedWrite_;
    std::function<bool()> stillOurs_;

    Timer linkTimer_{loop_};  // a TCP connect gives up, or the back-off before the next attempt ends
    Timer askTimer_{loop_};   // the step in flight waits for its answer, or a job pauses between writes

    std::deque<std::unique_ptr<Job>> queue_;
    std::unique_ptr<Job> current_;
    std::uint64_t currentSerial_ = 0;  // never reused
    std::size_t askIndex_ = 0;
    std::optional<Step> step_;
    int resendsDone_ = 0;
    bool badSumResent_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace matrix::client
