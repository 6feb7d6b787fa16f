// SPDX-License-Identifier: Apache-2.0
#include "cli/run/CommandRunner.h"

#include "core/formats/EdidFile.h"
#include "core/formats/EdidModes.h"
#include "core/formats/FirmwareContainer.h"

namespace matrix::cli {

using client::Nothing;
using client::Result;
using client::Status;

namespace {

constexpr const char* kSetSuccessfully = "Set successfully!";
constexpr const char* kCopySuccessfully = "Copy successfully!";
constexpr const char* kDownloadSuccessfully = "Download successfully!";
constexpr const char* kUpgradeSucceeded = "Firmware upgrade Successfully";
// An EDID file is at most two 128-byte blocks; one byte more tells a longer file.
constexpr std::size_t kEdidFileReadBytes = 257;

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
    : client_(client),
      inv_(invocation)
{
}

CommandRunner::~CommandRunner() { *alive_ = false; }

bool CommandRunner::handles(Command command)
{
    return command != Command::Discover && command != Command::NetConfig && command != Command::FirmwareMerge;
}

void CommandRunner::start()
{
    if (!handles(inv_.command)) {
        result_ = RunResult::failure(ExitCode::Usage, "not a matrix command");
        finish();
        return;
    }
    if (!checkInput()) {
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
    auto routed = [this, alive = alive_](const Result<Nothing>& r) {
        if (*alive)
            reportRoutingAfter(r.status, r.message);
    };
    switch (inv_.command) {
    case Command::Status: runStatus(); break;
    case Command::Routing: runRouting(); break;
    case Command::Route: client_.route(Output{inv_.output}, Input{inv_.input}, routed); break;
    case Command::RouteAll: client_.routeAll(Input{inv_.input}, routed); break;
    case Command::PortToPort: client_.portToPort(routed); break;
    case Command::Beep: runBeep(); break;
    case Command::FactoryReset:
        client_.factoryReset(guard([this](const Result<Nothing>&) { succeed(kSetSuccessfully); }));
        break;
    case Command::EdidStatus: runEdidStatus(); break;
    case Command::EdidSet:
        client_.setEdidMode(inv_.modeRow, Input{inv_.edidTarget},
                            guard([this](const Result<Nothing>&) { succeed(kSetSuccessfully); }));
        break;
    case Command::EdidCopy:
        client_.copyEdid(Output{inv_.output}, Input{inv_.edidTarget},
                         guard([this](const Result<Nothing>&) { succeed(kCopySuccessfully); }));
        break;
    case Command::EdidUpload:
        client_.uploadEdid(fileBytes_, Input{inv_.edidTarget},
                           guard([this](const Result<Nothing>&) { succeed(kDownloadSuccessfully); }));
        break;
    case Command::FirmwareUpgrade: runFirmwareUpgrade(); break;
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
    client_.readSetting(client::Setting::Beep, [this, alive = alive_](const Result<bool>& state) {
        if (!*alive || failed(state.status, state.message))
            return;
        if (state.value == inv_.beepOn) {
            result_.beep = inv_.beepOn;
            succeed();
            return;
        }
        client_.setSetting(client::Setting::Beep, inv_.beepOn, [this, alive](const Result<Nothing>& set) {
            if (!*alive || failed(set.status, set.message))
                return;
            result_.beep = inv_.beepOn;
            succeed();
        });
    });
}

bool CommandRunner::checkInput()
{
    // A wrong file is bad input, found before any link is opened.
    auto refuse = [this](const std::string& text) {
        result_ = RunResult::failure(ExitCode::Usage, text);
        return false;
    };
    if (inv_.command == Command::EdidUpload) {
        switch (edid::checkEdidFile(inv_.file).verdict) {
        case edid::EdidFileVerdict::Accept: break;
        case edid::EdidFileVerdict::Reject: return refuse("Please select the correct EDID file!");
        case edid::EdidFileVerdict::Ignore: return refuse("EDID file with more than one extension block: " + inv_.file);
        }
        if (readFileBounded(inv_.file, kEdidFileReadBytes, fileBytes_) != FileReadStatus::Ok)
            return refuse("Please select the correct EDID file!");
    }
    if (inv_.command == Command::FirmwareUpgrade) {
        if (!hasFirmwareExtension(inv_.file))
            return refuse("not a firmware file (.fw or .BIN): " + inv_.file);
        switch (readFileBounded(inv_.file, kMaxFirmwareBytes, fileBytes_)) {
        case FileReadStatus::Ok: break;
        case FileReadStatus::CannotOpen: return refuse("cannot read " + inv_.file);
        case FileReadStatus::TooLarge: return refuse("firmware file too large: " + inv_.file);
        }
    }
    return true;
}

void CommandRunner::collectEdid()
{
    result_.edid.clear();
    const auto& codes = client_.state().edidCode;
    for (int n = 1; n <= client::kPortCount; ++n) {
        const auto& code = codes[static_cast<std::size_t>(n - 1)];
        result_.edid.push_back({n, code ? edid::statusText(static_cast<std::int8_t>(*code)) : std::string()});
    }
}

void CommandRunner::runEdidStatus()
{
    client_.readEdidStatus([this, alive = alive_](const Result<client::EdidCodes>& r) {
        if (!*alive)
            return;
        collectEdid();  // a time-out keeps the inputs read before it
        if (!failed(r.status, r.message))
            succeed();
    });
}

void CommandRunner::runFirmwareUpgrade()
{
    client_.onFirmwareProgress = [this, alive = alive_](const client::FirmwareProgress& progress) {
        if (!*alive)
            return;
        if (onProgress)
            onProgress(progress.done, progress.total);
        if (progress.line.empty())
            return;
        result_.messages.push_back(progress.line);
        if (onMessageLine)
            onMessageLine(progress.line);
    };
    client_.upgradeFirmware(fileBytes_, [this, alive = alive_](const Result<Nothing>& r) {
        if (*alive && !failed(r.status, r.message))
            succeed(kUpgradeSucceeded);
    });
}

}  // namespace matrix::cli
