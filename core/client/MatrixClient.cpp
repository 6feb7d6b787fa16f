// SPDX-License-Identifier: Apache-2.0
#include "core/client/MatrixClient.h"

#include "core/client/ClientEngine.h"
#include "core/formats/EdidFile.h"
#include "core/formats/EdidModes.h"
#include "core/formats/FirmwareContainer.h"
#include "core/protocol/DeviceTypes.h"
#include "core/protocol/Protocol.h"

#include <algorithm>
#include <iterator>

namespace matrix::client {

namespace p = matrix::protocol;

std::string statusText(Status status)
{
    switch (status) {
    case Status::Ok: return "OK";
    case Status::TimeOut: return "Time out!";
    case Status::Standby: return "Matrix is in standby mode!";
    case Status::LinkDown: return "Connect to Matrix failed!";
    case Status::Rejected: return "Rejected by the matrix";
    case Status::BadInput: return "Bad input";
    case Status::Busy: return "A firmware upgrade holds the link";
    }
    return "Unknown";
}

std::string DeviceInfo::model() const
{
    const char* name = protocol::deviceTypeName(deviceType);
    return name ? name : "Not Known";
}

std::string DeviceInfo::version() const { return std::to_string(versionMajor) + "." + std::to_string(versionMinor); }

namespace {

// The cable state reply of one port; `output` picks the kind.
bool isCableReply(const CommandFrame& f, int port, bool output)
{
    const auto cable = p::decodeCable(f);
    return cable && cable->output == output && cable->port == port;
}

// A beep or IR report, when the frame is one and adds up.
std::optional<SettingReport> settingReport(const CommandFrame& f)
{
    if (!f.checksumOk())
        return std::nullopt;
    for (const Setting setting : {Setting::Beep, Setting::Ir}) {
        const bool beep = setting == Setting::Beep;
        if (const auto on = beep ? p::decodeBeepState(f) : p::decodeIrState(f))
            return SettingReport{setting, false, *on, f.p1()};
        if (p::isSwitchAck(f, beep ? p::kBeepCommand : p::kIrCommand))
            return SettingReport{setting, true, false, f.p1()};
    }
    return std::nullopt;
}

// The factory reset puts built-in mode 4 on every input, as the General page does.
constexpr int kFactoryEdidMode = 4;

bool validTarget(Input target) { return target.number() >= 0 && target.number() <= kPortCount; }

// `ask`, telling `onStep` (when set) that `step` goes out as it first does.
Ask edidStep(EdidStep step, Ask ask, const EdidStepHook& onStep)
{
    if (onStep)
        ask.onSend = [onStep, step] { onStep(step); };
    return ask;
}

// Any answer to the mode request opens an EDID change.
Ask edidModeAsk(const EdidStepHook& onStep)
{
    return edidStep(EdidStep::ModeRequest,
                    {p::edidModeRequest(), p::kReplyWaits,
                     [](const CommandFrame& f) { return p::isEdidReply(f, p::kEdidModeRequestSub); }},
                    onStep);
}

template <typename T>
std::function<void(Status, const std::string&)> failWith(Callback<T> done)
{
    return [done = std::move(done)](Status status, const std::string& message) {
        if (done)
            done(Result<T>{status, {}, message});
    };
}

}  // namespace

class MatrixClient::Impl {
public:
    Impl(MatrixClient& client, EventLoop& loop, SerialFactory makeSerial, std::unique_ptr<StreamSocket> socket,
         Options options)
        : engine(client, client.state_, loop, std::move(makeSerial), std::move(socket), options),
          state(client.state_),
          options(options)
    {
    }

    // A job whose asks fill `value`.
    template <typename T>
    void chain(Callback<T> done, std::shared_ptr<T> value, std::vector<Ask> asks, std::function<void()> onSuccess = {},
               bool firmware = false)
    {
        auto succeed = [value, done, onSuccess] {
            if (onSuccess)
                onSuccess();
            if (done)
                done(Result<T>{Status::Ok, *value, {}});
        };
        engine.enqueue(Job{std::move(asks), std::move(succeed), failWith<T>(done), firmware});
    }

    // A chain whose result is its status alone.
    void run(Done done, std::vector<Ask> asks, std::function<void()> onSuccess = {}, bool firmware = false)
    {
        chain<Nothing>(std::move(done), std::make_shared<Nothing>(), std::move(asks), std::move(onSuccess), firmware);
    }

    void refuse(Done done, Status status, std::string message)
    {
        engine.refuse(failWith<Nothing>(std::move(done)), status, std::move(message));
    }

    std::vector<Ask> infoAsks(std::shared_ptr<DeviceInfo> info)
    {
        return {{p::deviceTypeRequest(), p::kReplyWaits,
                 [](const CommandFrame& f) { return p::decodeDeviceType(f).has_value(); },
                 [info](const CommandFrame& f) { info->deviceType = *p::decodeDeviceType(f); }},
                {p::matrixSizeRequest(), p::kReplyWaits,
                 [](const CommandFrame& f) { return p::decodeMatrixSize(f).has_value(); },
                 [info](const CommandFrame& f) {
                     info->inputCount = p::decodeMatrixSize(f)->inputs;
                     info->outputCount = p::decodeMatrixSize(f)->outputs;
                 }},
                {p::versionRequest(), p::kReplyWaits,
                 [](const CommandFrame& f) { return p::decodeVersion(f).has_value(); },
                 [info](const CommandFrame& f) {
                     info->versionMajor = p::decodeVersion(f)->major;
                     info->versionMinor = p::decodeVersion(f)->minor;
                 }}};
    }

    std::vector<Ask> routingAsks(std::shared_ptr<Routing> routing, std::function<void(Output, Input)> answered = {})
    {
        std::vector<Ask> asks;
        for (int output = 1; output <= kPortCount; ++output) {
            asks.push_back({p::routeQueryRequest(Output{output}), output == 1 ? p::kRouteWaits : p::kReplyWaits,
                            [output](const CommandFrame& f) {
                                const auto status = p::decodeRouteStatus(f);
                                return status && status->output == Output{output};
                            },
                            [this, routing, output, answered](const CommandFrame& f) {
                                (*routing)[output - 1] = f.p3();
                                engine.update(state.routing[output - 1], f.p3(), StateChange::Kind::Routing, output);
                                if (answered)
                                    answered(Output{output}, Input{f.p3()});
                            }});
        }
        return asks;
    }

    std::vector<Ask> cableAsks(std::shared_ptr<Cables> cables, std::function<void(int, bool)> onPort = {})
    {
        std::vector<Ask> asks;
        for (int port = 1; port <= kPortCount; ++port)
            for (const bool output : {false, true})
                asks.push_back(
                    {output ? p::outputCableRequest(Output{port}) : p::inputCableRequest(Input{port}), p::kReplyWaits,
                     [port, output](const CommandFrame& f) { return isCableReply(f, port, output); },
                     [this, cables, port, output, onPort](const CommandFrame& f) {
                         const bool connected = p::stateIsOn(f.p3());
                         (output ? cables->output : cables->input)[port - 1] = connected;
                         engine.update((output ? state.outputCable : state.inputCable)[port - 1], connected,
                                       output ? StateChange::Kind::OutputCable : StateChange::Kind::InputCable, port);
                         if (onPort)
                             onPort(port, output);
                     }});
        return asks;
    }

    // A setting's switch to `on`, or without `on` its state query, whose
    // answer lands in `heard`. Only reports that add up match: neither
    // re-sends on a bad sum, so a torn one is noise either way.
    Ask settingAsk(Setting setting, std::optional<bool> on, std::shared_ptr<bool> heard = std::make_shared<bool>())
    {
        const bool beep = setting == Setting::Beep;
        const CommandFrame stateQuery = beep ? p::beepStateRequest() : p::irStateRequest();
        return {on ? (beep ? p::beepRequest(*on) : p::irRequest(*on)) : stateQuery, p::kReplyWaits,
                [setting, query = !on](const CommandFrame& f) {
                    const auto report = settingReport(f);
                    return report && report->setting == setting && report->acknowledged != query;
                },
                [this, beep, on, heard](const CommandFrame& f) {
                    *heard = on.value_or(p::stateIsOn(f.p3()));
                    if (beep)
                        engine.update(state.beepOn, *heard, StateChange::Kind::Beep);
                }};
    }

    // A route and its acknowledgement; `confirmed` (optional) hears it.
    Ask routeAsk(Output output, Input input, p::Waits waits, std::function<void(Output)> confirmed = {})
    {
        return {p::routeRequest(output, input), waits,
                [output](const CommandFrame& f) { return p::decodeRouteAck(f) == output; },
                [this, output, input, confirmed](const CommandFrame&) {
                    if (validPort(output.number()))
                        engine.update(state.routing[output.number() - 1], input.number(), StateChange::Kind::Routing,
                                      output.number());
                    if (confirmed)
                        confirmed(output);
                }};
    }

    bool routable(Output output, Input input) const
    {
        return options.window || (validPort(output.number()) && validPort(input.number()));
    }

    // Runs an EDID change, on a COM link after the switch-state query (a
    // matrix whose switches are not at [1111] takes no EDID). After it the
    // status of the inputs it touched is read again, as its own request, so
    // the operation's result does not hang on it.
    void edidChange(std::vector<Ask> asks, const EdidStepHook& onStep, Input target, Done done)
    {
        if (engine.comLink()) {
            Ask ask{p::edidSwitchStateRequest(), p::kReplyWaits,
                    [](const CommandFrame& f) { return p::decodeEdidSwitchState(f).has_value(); }};
            ask.refusal = [](const CommandFrame& f) {
                return p::decodeEdidSwitchState(f) == p::kEdidSwitchRefused
                           ? std::string("Please set the EDID to [1111]!")
                           : std::string();
            };
            asks.insert(asks.begin(), edidStep(EdidStep::SwitchState, std::move(ask), onStep));
        }
        run(std::move(done), std::move(asks), edidFollowUp(target));
    }

    std::function<void()> edidFollowUp(Input target)
    {
        if (options.window)
            return {};
        return [this, target] { run({}, edidStatusAsks(std::make_shared<EdidCodes>(), target)); };
    }

    // `target` is one input, or all.
    std::vector<Ask> edidStatusAsks(std::shared_ptr<EdidCodes> codes, Input target)
    {
        std::vector<Ask> asks;
        for (int input = 1; input <= kPortCount; ++input) {
            if (!target.isAll() && target != Input{input})
                continue;
            asks.push_back({p::edidStatusRequest(Input{input}), p::kReplyWaits,
                            [input](const CommandFrame& f) {
                                const auto status = p::decodeEdidStatus(f);
                                return status && status->input == Input{input};
                            },
                            [this, codes, input](const CommandFrame& f) {
                                const int code = p::decodeEdidStatus(f)->code;
                                (*codes)[input - 1] = code;
                                engine.update(state.edidCode[input - 1], code, StateChange::Kind::Edid, input);
                            }});
        }
        return asks;
    }

    ClientEngine engine;
    MatrixState& state;
    Options options;
};

MatrixClient::MatrixClient(EventLoop& loop, SerialFactory makeSerial, std::unique_ptr<StreamSocket> socket,
                           Options options)
    : impl_(std::make_unique<Impl>(*this, loop, std::move(makeSerial), std::move(socket), options))
{
}

MatrixClient::~MatrixClient() = default;

MatrixClient::Options windowPageOptions()
{
    // The window holds the link.
    return {.supervise = false, .window = true};
}

void MatrixClient::open(const LinkTarget& target, std::function<void(Status)> done)
{
    impl_->engine.open(target, std::move(done));
}

void MatrixClient::attach(std::function<void(const std::vector<std::uint8_t>&)> write, std::function<bool()> stillOurs)
{
    impl_->engine.attach(std::move(write), std::move(stillOurs));
}

void MatrixClient::receive(const CommandFrame& frame)
{
    if (onSetting)
        if (const auto report = settingReport(frame))
            onSetting(*report);
    impl_->engine.receive(frame);
}

void MatrixClient::close() { impl_->engine.close(); }
void MatrixClient::cancel() { impl_->engine.cancel(); }
void MatrixClient::setAttachedKind(LinkTarget::Kind kind) { impl_->engine.setAttachedKind(kind); }
bool MatrixClient::firmwareRunning() const { return impl_->engine.firmwareRunning(); }
std::size_t MatrixClient::queuedRequests() const { return impl_->engine.queued(); }
const std::string& MatrixClient::linkMessage() const { return impl_->engine.linkMessage(); }

void MatrixClient::refresh(std::function<void(Status)> done)
{
    std::vector<Ask> asks = impl_->routingAsks(std::make_shared<Routing>());
    std::ranges::move(impl_->cableAsks(std::make_shared<Cables>()), std::back_inserter(asks));
    asks.push_back(impl_->settingAsk(Setting::Beep, std::nullopt));
    impl_->run(
        [done = std::move(done)](const Result<Nothing>& r) {
            if (done)
                done(r.status);
        },
        std::move(asks));
}

void MatrixClient::readDeviceInfo(Callback<DeviceInfo> done)
{
    auto info = std::make_shared<DeviceInfo>();
    impl_->chain<DeviceInfo>(std::move(done), info, impl_->infoAsks(info),
                             [this, info] { impl_->engine.update(impl_->state.info, *info, StateChange::Kind::Info); });
}

void MatrixClient::readCables(Callback<Cables> done, std::function<void(int port, bool output)> onPort)
{
    auto cables = std::make_shared<Cables>();
    impl_->chain<Cables>(std::move(done), cables, impl_->cableAsks(cables, onPort));
}

void MatrixClient::readSizeVersionCables(Done done, std::function<void(int port, bool output)> onPort)
{
    std::vector<Ask> asks = impl_->infoAsks(std::make_shared<DeviceInfo>());
    asks.erase(asks.begin());  // the device type has just answered
    std::ranges::move(impl_->cableAsks(std::make_shared<Cables>(), onPort), std::back_inserter(asks));
    impl_->run(std::move(done), std::move(asks));
}

void MatrixClient::readRouting(Callback<Routing> done, std::function<void(Output, Input)> answered)
{
    auto routing = std::make_shared<Routing>();
    impl_->chain<Routing>(std::move(done), routing, impl_->routingAsks(routing, std::move(answered)));
}

void MatrixClient::route(Output output, Input input, p::Waits waits, Done done)
{
    if (!impl_->routable(output, input)) {
        impl_->refuse(std::move(done), Status::BadInput, "ports are 1 to 4");
        return;
    }
    Ask ask = impl_->routeAsk(output, input, waits);
    ask.step.resendOnBadSum = impl_->options.window;
    impl_->run(std::move(done), {std::move(ask)});
}

void MatrixClient::routeAll(Input input, Done done)
{
    if (!validPort(input.number())) {
        impl_->refuse(std::move(done), Status::BadInput, "inputs are 1 to 4");
        return;
    }
    std::vector<std::pair<Output, Input>> routes;
    for (int output = 1; output <= kPortCount; ++output)
        routes.emplace_back(Output{output}, input);
    routeSeries(std::move(routes), std::move(done));
}

void MatrixClient::routeSeries(std::vector<std::pair<Output, Input>> routes, Done done,
                               std::function<void(Output)> confirmed)
{
    std::vector<Ask> asks;
    for (const auto& [output, input] : routes) {
        if (!impl_->routable(output, input)) {
            impl_->refuse(std::move(done), Status::BadInput, "ports are 1 to 4");
            return;
        }
        asks.push_back(impl_->routeAsk(output, input, p::kReplyWaits, confirmed));
        asks.back().step.resendOnBadSum = impl_->options.window;
        asks.back().step.skipAfterBadSums = impl_->options.window;
    }
    impl_->run(std::move(done), std::move(asks));
}

void MatrixClient::portToPort(Done done)
{
    std::vector<std::pair<Output, Input>> routes;
    for (int port = 1; port <= kPortCount; ++port)
        routes.emplace_back(Output{port}, Input{port});
    routeSeries(std::move(routes), std::move(done));
}

void MatrixClient::setSetting(Setting setting, bool on, Done done)
{
    impl_->run(std::move(done), {impl_->settingAsk(setting, on)});
}

void MatrixClient::readSetting(Setting setting, Callback<bool> done)
{
    auto on = std::make_shared<bool>();
    impl_->chain<bool>(std::move(done), on, {impl_->settingAsk(setting, std::nullopt, on)});
}

void MatrixClient::factoryReset(Done done)
{
    std::vector<Ask> asks;
    for (int port = 1; port <= kPortCount; ++port)
        asks.push_back(impl_->routeAsk(Output{port}, Input{port}, p::kReplyWaits));
    asks.push_back({p::edidModeRequest(), p::kReplyWaits,
                    [](const CommandFrame& f) { return p::isEdidZeroAck(f, p::kEdidModeRequestSub); }});
    asks.push_back({p::edidSetModeRequest(kFactoryEdidMode, Input::All), p::kReplyWaits,
                    [](const CommandFrame& f) { return p::isEdidZeroAck(f, p::kEdidModeAllSub); }});
    asks.push_back(impl_->settingAsk(Setting::Beep, true));
    asks.back().step.matches = [](const CommandFrame& f) { return p::isSwitchAck(f, p::kBeepCommand) && f.p1() == 0; };
    // The reset changed every input's EDID: read them again for the state model.
    impl_->run(std::move(done), std::move(asks), impl_->edidFollowUp(Input::All));
}

void MatrixClient::sendSetting(Setting setting, bool on)
{
    impl_->engine.write(bytesOf(setting == Setting::Beep ? p::beepRequest(on) : p::irRequest(on)));
}

void MatrixClient::askSetting(Setting setting)
{
    impl_->engine.write(bytesOf(setting == Setting::Beep ? p::beepStateRequest() : p::irStateRequest()));
}

void MatrixClient::readEdidStatus(Callback<EdidCodes> done)
{
    auto codes = std::make_shared<EdidCodes>();
    impl_->chain<EdidCodes>(std::move(done), codes, impl_->edidStatusAsks(codes, Input::All));
}

void MatrixClient::setEdidMode(int modeRow, Input target, Done done, EdidStepHook onStep)
{
    if (modeRow < 0 || modeRow > edid::kDefaultEdidRow || !validTarget(target)) {
        impl_->refuse(std::move(done), Status::BadInput, "mode rows are 0 to 15, targets 0 (all) to 4");
        return;
    }
    const auto mode = edid::modeNumberForRow(modeRow);
    Ask change{mode ? p::edidSetModeRequest(*mode, target) : p::edidDefaultRequest(target), p::kReplyWaits,
               [target, mode](const CommandFrame& f) { return p::isEdidSetModeReply(f, target, !mode); }};
    impl_->edidChange({edidModeAsk(onStep), edidStep(EdidStep::Change, std::move(change), onStep)}, onStep, target,
                      std::move(done));
}

void MatrixClient::copyEdid(Output from, Input target, Done done, EdidStepHook onStep)
{
    if (!validPort(from.number()) || !validTarget(target)) {
        impl_->refuse(std::move(done), Status::BadInput, "outputs are 1 to 4, targets 0 (all) to 4");
        return;
    }
    // Only a connected display has an EDID to copy; this query gets no re-send.
    Ask connected{p::outputCableRequest(from), p::kReplyWaits,
                  [from](const CommandFrame& f) { return isCableReply(f, from.number(), true); }};
    connected.step.resends = 0;
    connected.refusal = [from](const CommandFrame& f) {
        return p::stateIsOn(f.p3()) ? std::string() : std::string("HDMI OUT ") + from.letter() + " is not connected!";
    };
    Ask copy{p::edidCopyRequest(from, target), p::kReplyWaits,
             [target](const CommandFrame& f) { return p::decodeEdidCopy(f, target).has_value(); }};
    // Refused copies are reported for all inputs as for one: a failure is never a success.
    copy.refusal = [target](const CommandFrame& f) {
        return *p::decodeEdidCopy(f, target) ? std::string() : "Copy failed!";
    };
    impl_->edidChange({edidStep(EdidStep::CableCheck, std::move(connected), onStep), edidModeAsk(onStep),
                       edidStep(EdidStep::Change, std::move(copy), onStep)},
                      onStep, target, std::move(done));
}

void MatrixClient::uploadEdid(const std::vector<std::uint8_t>& fileBytes, Input target, Done done, EdidStepHook onStep)
{
    const edid::EdidFileCheck check = edid::checkEdidBytes(fileBytes);
    if (check.verdict != edid::EdidFileVerdict::Accept || !validTarget(target)) {
        impl_->refuse(std::move(done), Status::BadInput,
                      validTarget(target) ? "Please select the correct EDID file!" : "targets are 0 (all) to 4");
        return;
    }
    const int sub = p::edidDownloadSub(target);
    Ask download{p::edidDownloadRequest(target), p::kReplyWaits,
                 [sub](const CommandFrame& f) { return p::isEdidDownloadReady(f, sub); }};
    Ask announce;
    announce.step.bytes = bytesOf(p::edidDownloadAnnounce(sub));
    announce.pauseMs = p::kEdidBlockDelayMs;
    Ask block{p::edidTransferBlock(check.data.data()), p::kReplyWaits,
              [sub](const CommandFrame& f) { return p::decodeEdidDownloadResult(f, sub).has_value(); }};
    block.step.resends = 0;  // the block is sent once; no answer is a time-out
    block.refusal = [](const CommandFrame& f) {
        return f.p1() == p::kEdidResultOk ? std::string() : "Download failed!";
    };
    impl_->edidChange({edidModeAsk(onStep), edidStep(EdidStep::Change, std::move(download), onStep),
                       std::move(announce), edidStep(EdidStep::Block, std::move(block), onStep)},
                      onStep, target, std::move(done));
}

namespace {

struct FirmwarePart {
    int part = 0;  // 1 or 2
    std::size_t dataStart = 0;
    std::size_t end = 0;
    std::size_t length() const { return end - dataStart; }
    std::string name() const { return "Part_" + std::to_string(part) + ".1.0.0"; }
};

constexpr std::size_t kMaxPartBytes = 65535;  // block indices travel in one byte

// Splits an image into the parts to send: part 1 runs to the end of the
// image, a part 2 to the next marker. Parts 3 and 4 have no working
// sequence. For the window, a bad part leaves the parts before it to be
// sent, and `why` is its log line.
std::optional<std::vector<FirmwarePart>> planParts(const std::vector<std::uint8_t>& image, std::string& why,
                                                   bool window)
{
    std::vector<FirmwarePart> parts;
    const auto stop = [&](std::string text) -> std::optional<std::vector<FirmwarePart>> {
        why = std::move(text);
        return window ? std::optional(parts) : std::nullopt;
    };
    std::size_t at = 0;
    while (at < image.size()) {
        FirmwarePart part;
        part.part = partAtMarker(image, at);
        if (part.part == 0)
            return stop("Upgrade failed!");
        if (part.part >= 3)
            return stop(part.name() + (window ? " cannot be upgraded by this program" : " cannot be upgraded"));
        part.dataStart = at + 2;
        part.end = part.part == 1 ? image.size() : std::max(scanForMarker(image, part.dataStart), part.dataStart);
        if (part.length() == 0)
            return stop(part.name() + " is empty");
        if (part.length() > kMaxPartBytes)
            return stop(part.name() + (window ? " is " + std::to_string(part.length()) +
                                                    " bytes; a part of 65536 bytes or more cannot be sent"
                                              : " is too large"));
        parts.push_back(part);
        at = part.end;
    }
    if (parts.empty())
        return stop("Upgrade failed!");
    return parts;
}

// What the asks of one upgrade share: the bytes placed so far, the part the
// window's bar shows, and the line a failure writes in the stage it is in.
struct UpgradeState {
    MatrixClient* client = nullptr;
    std::int64_t sent = 0;
    std::int64_t total = 0;
    FirmwareProgress shown;
    std::string failLine;

    void report(const std::string& line) const
    {
        if (client->onFirmwareProgress)
            client->onFirmwareProgress(
                FirmwareProgress{sent, total, line, shown.part, shown.partTotal, shown.partAnnounced});
    }
};

// A part's start; part 1 also prepares the matrix, twice.
void addStartAsks(std::vector<Ask>& asks, const FirmwarePart& part, const std::shared_ptr<UpgradeState>& state)
{
    const int sub = part.part;
    const std::string name = part.name();
    Ask start{p::firmwareStartRequest(sub), p::kFirmwareStartWaits,
              [sub](const CommandFrame& f) { return p::decodeFirmwareStart(f, sub).has_value(); }};
    start.refusal = [sub, name](const CommandFrame& f) {
        // The window's own texts: a notice for part 1, a message box for part 2.
        if (p::decodeFirmwareStart(f, sub) != p::FirmwareStart::Rejected)
            return std::string();
        return "Write to " + name + (sub == 1 ? " failed!" : " failed");
    };
    start.onSend = [state, name, sub, length = part.length()] {
        state->shown = FirmwareProgress{0, 0, {}, sub, static_cast<std::int64_t>(length), 0};
        state->report("Upgrading " + name + "...");
        state->failLine = sub == 1 ? "Write to " + name + " failed" : "Upgrading " + name + " failed";
    };
    asks.push_back(std::move(start));
    if (sub != 1)
        return;
    Ask wait;
    wait.pauseMs = p::kFirmwarePrepareDelayMs;
    asks.push_back(std::move(wait));
    asks.push_back({p::firmwarePrepareRequest(), p::kFirmwarePrepareWaits, p::isFirmwarePrepareAck});
    asks.push_back({p::firmwareSecondPrepareRequest(), p::kFirmwareSecondPrepareWaits, p::isFirmwarePrepareAck});
}

// Each block announced, sent and acknowledged; a lost block or
// acknowledgement sends both again. `placedBefore`: the bytes of the parts
// before this one.
void addBlockAsks(std::vector<Ask>& asks, const FirmwarePart& part, const std::vector<std::uint8_t>& image,
                  const std::shared_ptr<UpgradeState>& state, bool window, std::int64_t placedBefore)
{
    const int sub = part.part;
    const std::string name = part.name();
    const int last = static_cast<int>(part.length() / p::kFirmwareBlockDataBytes);
    for (int index = 0; index <= last; ++index) {
        const bool isLast = index == last;
        const Bytes announceBytes = bytesOf(p::firmwareAnnounce(sub, index, isLast));
        const std::size_t from = part.dataStart + p::kFirmwareBlockDataBytes * static_cast<std::size_t>(index);
        const Bytes blockBytes = bytesOf(p::firmwareBlockAt(image, from, part.end));
        Ask announce;
        announce.step.bytes = announceBytes;
        announce.pauseMs = index == 0 ? p::kFirmwareFirstBlockDelayMs : p::kFirmwareBlockDelayMs;
        if (window)
            announce.onSend = [state, index] {
                state->shown.partAnnounced = static_cast<std::int64_t>(p::kFirmwareBlockDataBytes) * (index + 1);
                state->report({});
            };
        asks.push_back(std::move(announce));

        Ask block{blockBytes, index == 0 ? p::kFirmwareFirstBlockWaits : p::kFirmwareBlockWaits,
                  [sub, index, isLast](const CommandFrame& f) {
                      return isLast ? p::isFirmwareFinalAck(f, sub)
                                    : p::decodeFirmwareBlockAck(f, sub) == (index & 0xFF);
                  }};
        block.step.resendWrites = {announceBytes, blockBytes};
        const std::int64_t sent =
            placedBefore + static_cast<std::int64_t>(std::min(part.length(), p::kFirmwareBlockDataBytes * (index + 1)));
        block.onSend = [state, sent, name] {
            state->failLine = "Upgrading " + name + " failed";
            state->sent = sent;
            state->report({});
        };
        asks.push_back(std::move(block));
    }
}

// The polls through the reboot that ends a part.
Ask rebootAsk(const FirmwarePart& part, const std::shared_ptr<UpgradeState>& state)
{
    const int sub = part.part;
    const std::string name = part.name();
    Ask reboot{p::rebootPollRequest(), p::kRebootPollWaits, p::isRebootAnswer};
    reboot.step.resends = p::kRebootPollResends;
    reboot.onSend = [state, sub, name] {
        state->failLine = "Write to " + name + " failed";
        if (sub == 2)
            state->report(name + " upgrading complete");
        state->report("System rebooting,Please wait...");
    };
    reboot.take = [state, sub, name](const CommandFrame&) {
        state->report("System reboot ok");
        if (sub == 1)
            state->report(name + " upgrading complete");
    };
    return reboot;
}

// The asks of one upgrade, part by part.
std::vector<Ask> upgradeAsks(const std::vector<FirmwarePart>& parts, const std::vector<std::uint8_t>& image,
                             const std::shared_ptr<UpgradeState>& state, bool window)
{
    std::vector<Ask> asks;
    std::int64_t placedBefore = 0;
    for (const FirmwarePart& part : parts) {
        addStartAsks(asks, part, state);
        addBlockAsks(asks, part, image, state, window, placedBefore);
        placedBefore += static_cast<std::int64_t>(part.length());
        asks.push_back(rebootAsk(part, state));
    }
    state->total = placedBefore;
    return asks;
}

}  // namespace

void MatrixClient::upgradeFirmware(const std::vector<std::uint8_t>& containerBytes, Done done, bool window)
{
    if (containerBytes.size() > kMaxFirmwareBytes) {
        impl_->refuse(std::move(done), Status::BadInput, "the file is larger than 200000 bytes");
        return;
    }
    std::vector<std::uint8_t> image = containerBytes;
    scramble(image);
    std::string why;
    const auto parts = planParts(image, why, window);
    if (!parts) {
        impl_->refuse(std::move(done), Status::BadInput, why);
        return;
    }

    auto state = std::make_shared<UpgradeState>();
    state->client = this;
    std::vector<Ask> asks = upgradeAsks(*parts, image, state, window);
    if (!why.empty()) {
        // The window's walk reached a part it cannot send.
        Ask stop;
        stop.onSend = [engine = &impl_->engine, why] { engine->failCurrent(Status::BadInput, why); };
        asks.push_back(std::move(stop));
    }
    // A failed upgrade ends with its message line: the refusal, or the
    // stage that timed out.
    auto ending = [done = std::move(done), state](const Result<Nothing>& result) {
        if (result.status == Status::Rejected || result.status == Status::TimeOut)
            state->report(result.status == Status::Rejected ? result.message : state->failLine);
        if (done)
            done(result);
    };
    impl_->run(
        std::move(ending), std::move(asks), [state] { state->report("Firmware upgrade Successfully"); }, true);
}

}  // namespace matrix::client
