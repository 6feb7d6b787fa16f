// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/link/CommandFrame.h"
#include "core/protocol/Ports.h"
#include "core/protocol/Waits.h"
#include "core/transport/EventLoop.h"
#include "core/transport/SerialChannel.h"
#include "core/transport/StreamSocket.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace matrix::client {

constexpr int kPortCount = 4;  // the box has four inputs and four outputs

// How an operation ended. Every operation ends exactly once.
enum class Status {
    Ok,
    TimeOut,   // the matrix did not answer after the one re-send ("Time out!")
    Standby,   // the matrix sent its standby frame ("Matrix is in standby mode!")
    LinkDown,  // no link, or the link dropped while the request waited
    Rejected,  // the matrix answered with a failure (EDID copy refused, firmware part refused, ...)
    BadInput,  // refused before anything was sent (port out of range, wrong EDID file, ...)
    Busy,      // a firmware upgrade holds the link
};

// The user-facing text of a status: "Time out!", "Matrix is in standby mode!", ...
std::string statusText(Status status);

template <typename T>
struct Result {
    Status status = Status::Ok;
    T value{};
    std::string message;  // extra detail for Rejected / BadInput
    bool ok() const { return status == Status::Ok; }
};
struct Nothing {};
template <typename T>
using Callback = std::function<void(const Result<T>&)>;
using Done = Callback<Nothing>;

struct DeviceInfo {
    int deviceType = 0;  // 1 HDMI, 2 HDBT, 3 HDMI+HDBT
    int inputCount = 0;
    int outputCount = 0;
    int versionMajor = 0;
    int versionMinor = 0;
    std::string model() const;    // the device type's text
    std::string version() const;  // "1.0"
    bool operator==(const DeviceInfo&) const = default;
};

struct Cables {
    std::array<bool, kPortCount> input{};
    std::array<bool, kPortCount> output{};
};

// routing[o - 1] is the input (1..4) that output o carries.
using Routing = std::array<int, kPortCount>;
// The EDID status code of each input as the status query reports it (signed byte).
using EdidCodes = std::array<int, kPortCount>;

// What the client knows of its matrix. Unknown values are empty.
struct MatrixState {
    bool linkUp = false;
    std::optional<DeviceInfo> info;
    std::array<std::optional<int>, kPortCount> routing{};
    std::array<std::optional<bool>, kPortCount> inputCable{};
    std::array<std::optional<bool>, kPortCount> outputCable{};
    std::optional<bool> beepOn;
    std::array<std::optional<int>, kPortCount> edidCode{};
};

// One change of the state model; `index` is the port (1..4) where it applies.
struct StateChange {
    enum class Kind { Link, Info, Routing, InputCable, OutputCable, Beep, Edid } kind;
    int index = 0;
};

struct LinkTarget {
    enum class Kind { Com, Tcp } kind = Kind::Tcp;
    int comPort = 0;      // COMn, 1..19
    std::string address;  // dotted IPv4 text; port 8000
};

// Why a request went out again: its first wait ran out, or its answer did
// not add up (only where a route re-sends at once, see Options).
enum class Resend { AfterWait, AfterBadSum };

// The steps of an EDID change as they go out, for a window that shows them (the
// first answers free its tab buttons, the step that times out picks the notice).
enum class EdidStep { SwitchState, CableCheck, ModeRequest, Change, Block };
using EdidStepHook = std::function<void(EdidStep)>;

// The window's device settings, each a switch with a state query.
enum class Setting { Beep, Ir };

// What the matrix said about a setting: its state, or that it took a switch
// (the acknowledgement names no state). `p1` is the reply's first parameter.
struct SettingReport {
    Setting setting = Setting::Beep;
    bool acknowledged = false;
    bool on = false;
    int p1 = 0;
};

struct FirmwareProgress {
    std::int64_t done = 0;  // bytes sent
    std::int64_t total = 0;
    std::string line;  // the page's message line when one was written ("Upgrading Part_1.1.0.0...")
    // The part being sent (1, 2), its size, and for the window (whose bar
    // moves at each announce) the whole blocks announced so far, in bytes.
    int part = 0;
    std::int64_t partTotal = 0;
    std::int64_t partAnnounced = 0;
};

// MatrixClient::Options; outside the class so that it can be a default argument.
struct ClientOptions {
    // Reconnect after a drop, and re-read device info, routing, cables and
    // beep each time the link comes up; one-shot users turn it off.
    bool supervise = true;
    int connectTimeoutMs = 3000;  // TCP connect
    int reconnectFirstMs = 1000;  // back-off doubles from here ...
    int reconnectMaxMs = 30000;   // ... up to here
    // The window's conversations: an EDID change (mode, copy, upload, factory
    // reset) ends with the change, where others read the inputs' EDID status
    // again; a route's answer that does not add up gets one re-send at once (a
    // second ends a route with TimeOut and skips that output in a series); routes
    // go out with the ports its grid, presets and panel hold, unchecked.
    bool window = false;
};

// One matrix, spoken to directly: a queue with exactly one request in
// flight, the frames, waits and re-sends of the window's pages, typed
// results, a state model with change notifications, and (when supervised)
// reconnection with back-off. Runs on the loop thread only.
class MatrixClient {
public:
    using Options = ClientOptions;
    using SerialFactory = std::function<std::unique_ptr<SerialChannel>()>;

    MatrixClient(EventLoop& loop, SerialFactory makeSerial, std::unique_ptr<StreamSocket> socket, Options options = {});
    // Drops whatever is still queued without calling back (the callers may
    // be gone too); close() first to have every request end with LinkDown.
    // Not from inside one of its own callbacks: post the destruction instead.
    ~MatrixClient();
    MatrixClient(const MatrixClient&) = delete;
    MatrixClient& operator=(const MatrixClient&) = delete;

    // Opens the link; `done` reports whether it came up (LinkDown with
    // "Open COM failed!" / "Connect to Matrix failed!" otherwise). When
    // supervised, a failed or dropped link keeps being retried.
    void open(const LinkTarget& target, std::function<void(Status)> done = {});
    // Fails everything queued with LinkDown and closes the link; no reconnect.
    void close();

    // A link its owner holds (the window, whose tabs hand one link around):
    // the client writes through `write`, the owner hands every frame it
    // receives to receive(), and the link counts as up. `stillOurs` is asked
    // each time a wait runs out: once another holds the link, the request
    // ends with LinkDown and nothing more is sent.
    void attach(std::function<void(const std::vector<std::uint8_t>&)> write, std::function<bool()> stillOurs);
    void receive(const CommandFrame& frame);
    // Ends every request with LinkDown and sends nothing more; the link stays.
    void cancel();
    // What an attached link runs over: some conversations differ between
    // the serial line and TCP (the EDID switch-state query is serial only).
    void setAttachedKind(LinkTarget::Kind kind);

    const MatrixState& state() const { return state_; }
    bool linkUp() const { return state_.linkUp; }
    bool firmwareRunning() const;
    std::size_t queuedRequests() const;
    // Why the link is down: "Open COM failed!" or "Connect to Matrix failed!"
    // (empty while it is up).
    const std::string& linkMessage() const;

    // Notifications (loop thread). Set before open().
    std::function<void(const StateChange&)> onChange;
    std::function<void()> onStandby;  // a standby frame arrived
    std::function<void(const FirmwareProgress&)> onFirmwareProgress;
    // Every frame or block sent and received, for --verbose logs.
    std::function<void(bool sent, const std::vector<std::uint8_t>& bytes)> onTraffic;
    // A request in flight went out again (the window's progress popup).
    std::function<void(Resend)> onResend;
    // A beep or IR state reply or switch acknowledgement that adds up, asked
    // for or not, heard before any request in flight sees the frame.
    std::function<void(const SettingReport&)> onSetting;

    // Re-reads routing, cables and beep into the state model.
    void refresh(std::function<void(Status)> done = {});

    // Operations. Ports are 1..4; an input or output outside that is BadInput.
    // A route is (output, input) here as on the wire's acknowledgement.
    void readDeviceInfo(Callback<DeviceInfo> done);
    // Inputs and outputs alternating (IN1, OUT1, IN2, ...); `onPort` hears
    // each answer as it comes, before the next query goes out.
    void readCables(Callback<Cables> done, std::function<void(int port, bool output)> onPort = {});
    // What the window runs when a device type reply arrives: the matrix
    // size, the version, then the cable run.
    void readSizeVersionCables(Done done, std::function<void(int port, bool output)> onPort = {});
    // `answered` (optional) hears each output's answer as it comes, before the next query.
    void readRouting(Callback<Routing> done, std::function<void(Output, Input)> answered = {});
    void route(Output output, Input input, Done done) { route(output, input, protocol::kRouteWaits, std::move(done)); }
    // A route with other waits than a single route's (the window's panel
    // waits as a series step does).
    void route(Output output, Input input, protocol::Waits waits, Done done);
    void routeAll(Input input, Done done);
    // Routes in the given order as one queued job, so no other request goes
    // out between them; stops at the first failure. `confirmed` (optional)
    // hears each output the matrix confirmed.
    void routeSeries(std::vector<std::pair<Output, Input>> routes, Done done,
                     std::function<void(Output)> confirmed = {});
    void portToPort(Done done);  // input n to output n
    void setSetting(Setting setting, bool on, Done done);
    void readSetting(Setting setting, Callback<bool> done);
    void factoryReset(Done done);
    // The window's switches and state queries: the frame goes out at once,
    // beside any request in flight, with no wait and no re-send; the answer,
    // whenever it comes, is heard through onSetting.
    void sendSetting(Setting setting, bool on);
    void askSetting(Setting setting);

    // EDID. `target` is an input 1..4, or Input::All.
    void readEdidStatus(Callback<EdidCodes> done);
    // modeRow 0..14 built-in modes, 15 the default EDID (as the mode combo's rows).
    // `onStep` (optional) hears each step as it first goes out.
    void setEdidMode(int modeRow, Input target, Done done, EdidStepHook onStep = {});
    void copyEdid(Output from, Input target, Done done, EdidStepHook onStep = {});
    // A 128- or 256-byte E-EDID file's content; checked as the page checks a file.
    void uploadEdid(const std::vector<std::uint8_t>& fileBytes, Input target, Done done, EdidStepHook onStep = {});

    // A firmware container file's content (scrambled, as on disk). Progress
    // goes to onFirmwareProgress; the link is Busy for others until it ends.
    // The window's walk checks a part only when it gets there, so the parts
    // before a bad one are sent; it reports each announce, in its own texts.
    void upgradeFirmware(const std::vector<std::uint8_t>& containerBytes, Done done, bool window = false);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
    MatrixState state_;
};

// The options of a window page's client (see ClientOptions).
MatrixClient::Options windowPageOptions();

}  // namespace matrix::client
