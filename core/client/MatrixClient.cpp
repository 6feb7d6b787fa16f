// SPDX-License-Identifier: Apache-2.0
#include "core/client/MatrixClient.h"

#include "core/client/ClientEngine.h"
#include "core/client/ClientRequests.h"

namespace matrix::client {

std::string statusText(Status status)
{
    switch (status) {
    case Status::Ok:
        return "OK";
    case Status::TimeOut:
        return "Time out!";
    case Status::Standby:
        return "Matrix is in standby mode!";
    case Status::LinkDown:
        return "Connect to Matrix failed!";
    case Status::Rejected:
        return "Rejected by the matrix";
    case Status::BadInput:
        return "Bad input";
    case Status::Busy:
        return "A firmware upgrade holds the link";
    }
    return "Unknown";
}

std::string DeviceInfo::model() const
{
    switch (deviceType) {
    case 1:
        return "HDMI MATRIX";
    case 2:
        return "HDBT MATRIX";
    case 3:
        return "HDMI+HDBT etc MATRIX";
    default:
        return "Not Known";
    }
}

std::string DeviceInfo::version() const { return std::to_string(versionMajor) + "." + std::to_string(versionMinor); }

namespace {

bool validPort(int port) { return port >= 1 && port <= kPortCount; }

// One exchange of a chain: what to send, how long to wait, the reply it
// takes and what the reply means.
struct Ask {
    Bytes bytes;
    int firstWaitMs;
    std::function<bool(const CommandFrame&)> matches;
    std::function<void(const CommandFrame&)> take;
};

template <typename T>
std::function<void(Status, const std::string&)> failWith(std::function<void(const Result<T>&)> done)
{
    return [done = std::move(done)](Status status, const std::string& message) {
        if (!done)
            return;
        Result<T> result;
        result.status = status;
        result.message = message;
        done(result);
    };
}

}  // namespace

class MatrixClient::Impl {
public:
    Impl(MatrixClient& client, EventLoop& loop, SerialFactory makeSerial, std::unique_ptr<StreamSocket> socket,
         Options options)
        : engine(client, client.state_, loop, std::move(makeSerial), std::move(socket), options)
    {
        engine.onLinkUpRefresh = [this, &client] {
            // A supervised link starts from what the matrix says, after a
            // first open as after a reconnect.
            client.readDeviceInfo([](const Result<DeviceInfo>&) {});
            client.refresh();
        };
    }

    // Sends the asks one after the other; each reply moves to the next.
    void runAsks(std::shared_ptr<std::vector<Ask>> asks, std::size_t index, std::function<void()> finish)
    {
        if (index >= asks->size()) {
            finish();
            return;
        }
        const Ask& ask = (*asks)[index];
        Step step;
        step.bytes = ask.bytes;
        step.firstWaitMs = ask.firstWaitMs;
        step.secondWaitMs = requests::kSecondWaitMs;
        step.matches = ask.matches;
        step.onReply = [this, asks, index, finish = std::move(finish)](const CommandFrame& frame) {
            if ((*asks)[index].take)
                (*asks)[index].take(frame);
            runAsks(asks, index + 1, finish);
        };
        engine.send(std::move(step));
    }

    // A job made of a chain of asks that ends with `value`.
    template <typename T>
    void chain(std::function<void(const Result<T>&)> done, std::shared_ptr<T> value, std::vector<Ask> asks,
               std::function<void()> onSuccess = {})
    {
        Job job;
        job.fail = failWith<T>(done);
        auto shared = std::make_shared<std::vector<Ask>>(std::move(asks));
        job.begin = [this, shared, value, done, onSuccess] {
            runAsks(shared, 0, [this, value, done, onSuccess] {
                engine.succeed([&] {
                    if (onSuccess)
                        onSuccess();
                    if (done) {
                        Result<T> result;
                        result.value = *value;
                        done(result);
                    }
                });
            });
        };
        engine.enqueue(std::move(job));
    }

    template <typename T>
    void refuse(std::function<void(const Result<T>&)> done, Status status, std::string message)
    {
        engine.refuse(failWith<T>(std::move(done)), status, std::move(message));
    }

    // Asks of the routing query: which input each output carries.
    std::vector<Ask> routingAsks(std::shared_ptr<Routing> routing)
    {
        std::vector<Ask> asks;
        for (int output = 1; output <= kPortCount; ++output) {
            asks.push_back({requests::routingQuery(output),
                            output == 1 ? requests::kRouteFirstWaitMs : requests::kFirstWaitMs,
                            [output](const CommandFrame& f) { return requests::isRoutingReply(f, output); },
                            [this, routing, output](const CommandFrame& f) {
                                (*routing)[output - 1] = f.p3();
                                engine.setRouting(output, f.p3());
                            }});
        }
        return asks;
    }

    // Asks of the cable run, inputs and outputs alternating as the status run does.
    std::vector<Ask> cableAsks(std::shared_ptr<Cables> cables)
    {
        std::vector<Ask> asks;
        for (int port = 1; port <= kPortCount; ++port) {
            asks.push_back({requests::inputCableQuery(port), requests::kFirstWaitMs,
                            [port](const CommandFrame& f) { return requests::isInputCableReply(f, port); },
                            [this, cables, port](const CommandFrame& f) {
                                const bool connected = requests::cableConnected(f);
                                cables->input[port - 1] = connected;
                                engine.setInputCable(port, connected);
                            }});
            asks.push_back({requests::outputCableQuery(port), requests::kFirstWaitMs,
                            [port](const CommandFrame& f) { return requests::isOutputCableReply(f, port); },
                            [this, cables, port](const CommandFrame& f) {
                                const bool connected = requests::cableConnected(f);
                                cables->output[port - 1] = connected;
                                engine.setOutputCable(port, connected);
                            }});
        }
        return asks;
    }

    Ask beepAsk(std::shared_ptr<bool> on)
    {
        return {requests::beepQuery(), requests::kFirstWaitMs, requests::isBeepStateReply,
                [this, on](const CommandFrame& f) {
                    *on = requests::featureOn(f);
                    engine.setBeep(*on);
                }};
    }

    // Routes of several outputs, one after the other, as a recall does.
    void routeSeries(std::vector<std::pair<int, int>> outputInput, std::function<void(const Result<Nothing>&)> done)
    {
        std::vector<Ask> asks;
        for (auto [output, input] : outputInput) {
            asks.push_back({requests::route(input, output), requests::kFirstWaitMs,
                            [output](const CommandFrame& f) { return requests::isRouteAck(f, output); },
                            [this, output, input](const CommandFrame&) { engine.setRouting(output, input); }});
        }
        chain<Nothing>(std::move(done), std::make_shared<Nothing>(), std::move(asks));
    }

    ClientEngine engine;
};

MatrixClient::MatrixClient(EventLoop& loop, SerialFactory makeSerial, std::unique_ptr<StreamSocket> socket,
                           Options options)
    : impl_(std::make_unique<Impl>(*this, loop, std::move(makeSerial), std::move(socket), options))
{
}

MatrixClient::MatrixClient(EventLoop& loop, SerialFactory makeSerial, std::unique_ptr<StreamSocket> socket)
    : MatrixClient(loop, std::move(makeSerial), std::move(socket), Options{})
{
}

MatrixClient::~MatrixClient() = default;

void MatrixClient::open(const LinkTarget& target, std::function<void(Status)> done)
{
    impl_->engine.open(target, std::move(done));
}

void MatrixClient::close() { impl_->engine.close(); }

bool MatrixClient::firmwareRunning() const { return impl_->engine.firmwareRunning(); }

std::size_t MatrixClient::queuedRequests() const { return impl_->engine.queued(); }

const std::string& MatrixClient::linkMessage() const { return impl_->engine.linkMessage(); }

void MatrixClient::refresh(std::function<void(Status)> done)
{
    auto routing = std::make_shared<Routing>();
    auto cables = std::make_shared<Cables>();
    auto beep = std::make_shared<bool>();
    std::vector<Ask> asks = impl_->routingAsks(routing);
    for (auto& ask : impl_->cableAsks(cables))
        asks.push_back(std::move(ask));
    asks.push_back(impl_->beepAsk(beep));
    std::function<void(const Result<Nothing>&)> typed;
    if (done)
        typed = [done = std::move(done)](const Result<Nothing>& r) { done(r.status); };
    impl_->chain<Nothing>(std::move(typed), std::make_shared<Nothing>(), std::move(asks));
}

void MatrixClient::readDeviceInfo(std::function<void(const Result<DeviceInfo>&)> done)
{
    auto info = std::make_shared<DeviceInfo>();
    std::vector<Ask> asks;
    asks.push_back({requests::deviceTypeQuery(), requests::kFirstWaitMs, requests::isDeviceTypeReply,
                    [info](const CommandFrame& f) { info->deviceType = f.p1(); }});
    asks.push_back({requests::sizeQuery(), requests::kFirstWaitMs, requests::isSizeReply,
                    [info](const CommandFrame& f) {
                        info->inputCount = f.p1();
                        info->outputCount = f.p3();
                    }});
    asks.push_back({requests::versionQuery(), requests::kFirstWaitMs, requests::isVersionReply,
                    [info](const CommandFrame& f) {
                        info->versionMajor = f.p1();
                        info->versionMinor = f.p3();
                    }});
    Impl* impl = impl_.get();
    impl_->chain<DeviceInfo>(std::move(done), info, std::move(asks), [impl, info] { impl->engine.setInfo(*info); });
}

void MatrixClient::readCables(std::function<void(const Result<Cables>&)> done)
{
    auto cables = std::make_shared<Cables>();
    impl_->chain<Cables>(std::move(done), cables, impl_->cableAsks(cables));
}

void MatrixClient::readRouting(std::function<void(const Result<Routing>&)> done)
{
    auto routing = std::make_shared<Routing>();
    impl_->chain<Routing>(std::move(done), routing, impl_->routingAsks(routing));
}

void MatrixClient::route(int output, int input, std::function<void(const Result<Nothing>&)> done)
{
    if (!validPort(output) || !validPort(input)) {
        impl_->refuse(std::move(done), Status::BadInput, "ports are 1 to 4");
        return;
    }
    std::vector<Ask> asks;
    Impl* impl = impl_.get();
    asks.push_back({requests::route(input, output), requests::kRouteFirstWaitMs,
                    [output](const CommandFrame& f) { return requests::isRouteAck(f, output); },
                    [impl, output, input](const CommandFrame&) { impl->engine.setRouting(output, input); }});
    impl_->chain<Nothing>(std::move(done), std::make_shared<Nothing>(), std::move(asks));
}

void MatrixClient::routeAll(int input, std::function<void(const Result<Nothing>&)> done)
{
    if (!validPort(input)) {
        impl_->refuse(std::move(done), Status::BadInput, "inputs are 1 to 4");
        return;
    }
    std::vector<std::pair<int, int>> routes;
    for (int output = 1; output <= kPortCount; ++output)
        routes.emplace_back(output, input);
    impl_->routeSeries(std::move(routes), std::move(done));
}

void MatrixClient::portToPort(std::function<void(const Result<Nothing>&)> done)
{
    std::vector<std::pair<int, int>> routes;
    for (int port = 1; port <= kPortCount; ++port)
        routes.emplace_back(port, port);
    impl_->routeSeries(std::move(routes), std::move(done));
}

void MatrixClient::setBeep(bool on, std::function<void(const Result<Nothing>&)> done)
{
    Impl* impl = impl_.get();
    impl_->chain<Nothing>(std::move(done), std::make_shared<Nothing>(),
                          {{requests::beepSet(on), requests::kFirstWaitMs, requests::isBeepAck,
                            [impl, on](const CommandFrame&) { impl->engine.setBeep(on); }}});
}

void MatrixClient::readBeep(std::function<void(const Result<bool>&)> done)
{
    auto on = std::make_shared<bool>();
    impl_->chain<bool>(std::move(done), on, {impl_->beepAsk(on)});
}

void MatrixClient::setIr(bool on, std::function<void(const Result<Nothing>&)> done)
{
    impl_->chain<Nothing>(std::move(done), std::make_shared<Nothing>(),
                          {{requests::irSet(on), requests::kFirstWaitMs, requests::isIrAck, {}}});
}

void MatrixClient::readIr(std::function<void(const Result<bool>&)> done)
{
    auto on = std::make_shared<bool>();
    impl_->chain<bool>(std::move(done), on,
                       {{requests::irQuery(), requests::kFirstWaitMs, requests::isIrStateReply,
                         [on](const CommandFrame& f) { *on = requests::featureOn(f); }}});
}

void MatrixClient::factoryReset(std::function<void(const Result<Nothing>&)> done)
{
    Impl* impl = impl_.get();
    std::vector<Ask> asks;
    for (int port = 1; port <= kPortCount; ++port) {
        asks.push_back({requests::route(port, port), requests::kFirstWaitMs,
                        [port](const CommandFrame& f) { return requests::isRouteAck(f, port); },
                        [impl, port](const CommandFrame&) { impl->engine.setRouting(port, port); }});
    }
    asks.push_back({requests::edidModeRequest(), requests::kFirstWaitMs, requests::isEdidModeRequestAck, {}});
    asks.push_back({requests::resetEdidMode(), requests::kFirstWaitMs, requests::isEdidSetAck, {}});
    asks.push_back({requests::beepSet(true), requests::kFirstWaitMs, requests::isResetBeepAck,
                    [impl](const CommandFrame&) { impl->engine.setBeep(true); }});
    impl_->chain<Nothing>(std::move(done), std::make_shared<Nothing>(), std::move(asks));
}

}  // namespace matrix::client
