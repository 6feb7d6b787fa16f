// SPDX-License-Identifier: Apache-2.0
#include "cli/run/CommandRunner.h"

namespace matrix::cli {

using client::Nothing;
using client::Result;
using client::Status;

namespace {

constexpr const char* kSetSuccessfully = "Set successfully!";

std::string inputCableText(int n, bool connected)
{
    return "HDMI IN" + std::to_string(n) + (connected ? ": Connect" : ": Disconnect");
}

std::string outputCableText(int n, bool connected)
{
    return "HDMI OUT" + outputLetter(n) + (connected ? ": Connect" : ": Disconnect");
}

}  // namespace

ExitCode exitCodeFor(Status status)
{
    switch (status) {
    case Status::Ok: return ExitCode::Success;
    case Status::LinkDown: return ExitCode::LinkFailed;
    case Status::BadInput: return ExitCode::Usage;
    case Status::TimeOut:
    case Status::Standby:
    case Status::Rejected:
    case Status::Busy: break;
    }
    return ExitCode::MatrixFailed;
}

CommandRunner::CommandRunner(client::MatrixClient& client, const Invocation& invocation)
    : client_(client), inv_(invocation)
{
}

CommandRunner::~CommandRunner() { *alive_ = false; }

bool CommandRunner::handles(Command command)
{
    switch (command) {
    case Command::Status:
    case Command::Routing:
    case Command::Route:
    case Command::RouteAll:
    case Command::PortToPort:
    case Command::Beep:
    case Command::FactoryReset: return true;
    default: return false;
    }
}

void CommandRunner::start()
{
    if (!handles(inv_.command)) {
        result_ = RunResult::failure(ExitCode::Usage, "not a matrix command");
        finish();
        return;
    }
    client::LinkTarget target;
    target.kind = inv_.link == LinkKind::Com ? client::LinkTarget::Kind::Com : client::LinkTarget::Kind::Tcp;
    target.comPort = inv_.comPort;
    target.address = inv_.address;
    client_.open(target, [this, alive = alive_](Status status) {
        if (!*alive || finished_ || failed(status, client_.linkMessage()))
            return;
        run();
    });
}

bool CommandRunner::failed(Status status, const std::string& message)
{
    if (status == Status::Ok)
        return false;
    if (finished_)
        return true;
    result_.exit = exitCodeFor(status);
    // The client's own texts are the window's ("Time out!", "Matrix is in
    // standby mode!"); a refusal carries the matrix's reason.
    result_.error = message.empty() ? client::statusText(status) : message;
    finish();
    return true;
}

void CommandRunner::succeed(const std::string& message)
{
    if (finished_)
        return;
    result_.exit = ExitCode::Success;
    if (!message.empty())
        result_.message = message;
    finish();
}

void CommandRunner::finish()
{
    finished_ = true;
    if (onFinished)
        onFinished();
}

void CommandRunner::run()
{
    auto guard = [this, alive = alive_](auto then) {
        return [this, alive, then](const auto& r) {
            if (*alive && !finished_ && !failed(r.status, r.message))
                then(r);
        };
    };
    switch (inv_.command) {
    case Command::Status: runStatus(); break;
    case Command::Routing: runRouting(); break;
    case Command::Route:
        client_.route(inv_.output, inv_.input,
                      [this](const Result<Nothing>& r) { reportRoutingAfter(r.status, r.message); });
        break;
    case Command::RouteAll:
        client_.routeAll(inv_.input, [this](const Result<Nothing>& r) { reportRoutingAfter(r.status, r.message); });
        break;
    case Command::PortToPort:
        client_.portToPort([this](const Result<Nothing>& r) { reportRoutingAfter(r.status, r.message); });
        break;
    case Command::Beep: runBeep(); break;
    case Command::FactoryReset:
        client_.factoryReset(guard([this](const Result<Nothing>&) { succeed(kSetSuccessfully); }));
        break;
    case Command::EdidStatus:
    case Command::EdidSet:
    case Command::EdidCopy:
    case Command::EdidUpload:
    case Command::FirmwareUpgrade:
    case Command::Discover:
    case Command::NetConfig:
    case Command::FirmwareMerge: break;
    }
}

void CommandRunner::collectCables()
{
    // What the matrix has answered so far: a time-out keeps the ports read before it.
    const client::MatrixState& state = client_.state();
    result_.cables.clear();
    auto add = [this](std::string port, const std::optional<bool>& connected, std::string text) {
        RunResult::Cable cable;
        cable.port = std::move(port);
        cable.known = connected.has_value();
        cable.connected = connected.value_or(false);
        cable.text = cable.known ? std::move(text) : std::string();
        result_.cables.push_back(cable);
    };
    for (int n = 1; n <= client::kPortCount; ++n) {
        const auto& in = state.inputCable[static_cast<std::size_t>(n - 1)];
        add("IN" + std::to_string(n), in, inputCableText(n, in.value_or(false)));
    }
    for (int n = 1; n <= client::kPortCount; ++n) {
        const auto& out = state.outputCable[static_cast<std::size_t>(n - 1)];
        add("OUT" + outputLetter(n), out, outputCableText(n, out.value_or(false)));
    }
}

void CommandRunner::runStatus()
{
    client_.readCables([this, alive = alive_](const Result<client::Cables>& r) {
        if (!*alive)
            return;
        collectCables();
        if (!failed(r.status, r.message))
            succeed();
    });
}

void CommandRunner::runRouting()
{
    client_.readRouting([this, alive = alive_](const Result<client::Routing>& r) {
        if (!*alive || failed(r.status, r.message))
            return;
        result_.routes.clear();
        for (int k = 1; k <= client::kPortCount; ++k)
            result_.routes.push_back({k, r.value[static_cast<std::size_t>(k - 1)]});
        succeed();
    });
}

void CommandRunner::reportRoutingAfter(Status status, const std::string& message)
{
    if (status != Status::Ok) {
        // The outputs the matrix did acknowledge, as the grid shows them.
        const auto& routing = client_.state().routing;
        for (int k = 1; k <= client::kPortCount; ++k)
            if (const auto& input = routing[static_cast<std::size_t>(k - 1)])
                result_.routes.push_back({k, *input});
        failed(status, message);
        return;
    }
    // The table shows the whole routing as the matrix reports it afterwards.
    runRouting();
}

void CommandRunner::runBeep()
{
    // Only a change is sent, as from the window's check box: a matrix already
    // in the asked state hears no beep command.
    client_.readBeep([this, alive = alive_](const Result<bool>& state) {
        if (!*alive || failed(state.status, state.message))
            return;
        if (state.value == inv_.beepOn) {
            result_.beep = inv_.beepOn;
            succeed();
            return;
        }
        client_.setBeep(inv_.beepOn, [this, alive](const Result<Nothing>& set) {
            if (!*alive || failed(set.status, set.message))
                return;
            result_.beep = inv_.beepOn;
            succeed();
        });
    });
}

}  // namespace matrix::cli
