// SPDX-License-Identifier: Apache-2.0
// The hub's one surface seen from every front-end at once: each typed event
// in its SSE JSON, its MQTT topics and its Videohub block, and each refusal
// as an HTTP status, a Videohub answer, a text-protocol ERR line and an MQTT log line.
#include "service/hub/EventJson.h"
#include "service/mqtt/MqttMapping.h"
#include "service/text/Session.h"
#include "service/videohub/EventFanout.h"
#include "service/videohub/Session.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace matrix::service {
namespace {

using Message = MqttMapping::Message;

// One matrix as both the MQTT mapping and a Videohub connection read it.
// Each table row sets the state its event reports, as the unit does before
// it publishes. `refusal` is what every request gets.
struct SharedMatrix : MqttMatrix, videohub::Backend {
    client::MatrixState state_;
    std::array<std::string, 4> inputs{"Laptop", "Apple TV", "Camera", "PC"};
    std::array<std::string, 4> outputs{"Projector", "Left TV", "Right TV", "Recorder"};
    std::vector<std::string> scenes{"Movie"};
    std::optional<std::string> active;
    std::array<videohub::LockId, 4> owners{};
    bool ready = true;
    Outcome refusal;

    SharedMatrix()
    {
        state_.linkUp = true;
        state_.routing = {1, 2, 3, 4};
        state_.info = client::DeviceInfo{1, 4, 4, 1, 0};
    }
    // MqttMatrix
    std::string id() const override { return "hall"; }
    std::string name() const override { return "Main hall"; }
    const client::MatrixState& state() const override { return state_; }
    std::string model() const override { return state_.info->model(); }
    std::string version() const override { return state_.info->version(); }
    std::string inputName(int input) const override { return inputs[input - 1]; }
    std::string outputName(int output) const override { return outputs[output - 1]; }
    std::optional<int> findInput(std::string_view text) const override
    {
        for (int i = 0; i < 4; ++i)
            if (inputs[i] == text)
                return i + 1;
        return std::nullopt;
    }
    std::vector<std::string> sceneNames() const override { return scenes; }
    std::optional<std::string> activeScene() const override { return active; }
    void route(int, int, Done done) override { done(refusal); }
    void setBeep(bool, Done done) override { done(refusal); }
    void recallScene(const std::string&, Done done) override { done(refusal); }
    void factoryReset(Done done) override { done(refusal); }
    // videohub::Backend
    bool present() const override { return ready && state_.linkUp; }
    std::string modelName() const override { return state_.info->model(); }
    std::string uniqueId() const override { return "0123456789AB"; }
    std::string friendlyName() const override { return name(); }
    std::string inputLabel(int input) const override { return inputs[input]; }
    std::string outputLabel(int output) const override { return outputs[output]; }
    std::optional<int> routedInput(int output) const override
    {
        return state_.routing[output] ? std::optional(*state_.routing[output] - 1) : std::nullopt;
    }
    videohub::LockId lockOwner(int output) const override { return owners[output]; }
    Outcome route(const std::vector<std::pair<int, int>>&, videohub::LockId, std::function<void(int, bool)>) override
    {
        return refusal;
    }
    Outcome rename(bool, const std::vector<std::pair<int, std::string>>&, videohub::LockId) override { return refusal; }
    Outcome lock(int, LockAction, videohub::LockId) override { return refusal; }
};

// The text protocol's view of the same matrix: every change gets its refusal.
struct TextMatrix : text::Backend {
    const Outcome& refusal;
    explicit TextMatrix(const Outcome& r) : refusal(r) {}
    bool linkUp() const override { return true; }
    std::optional<int> routedInput(int) const override { return 1; }
    std::optional<bool> beepOn() const override { return true; }
    std::optional<bool> cable(bool, int) const override { return true; }
    std::string name(bool, int) const override { return {}; }
    std::optional<int> findInput(std::string_view) const override { return 1; }
    std::optional<int> findOutput(std::string_view) const override { return 1; }
    std::vector<std::string> scenes() const override { return {}; }
    void route(int, int, const std::string&, Done done) override { done(refusal); }
    void routeAll(int, const std::string&, Done done) override { done(refusal); }
    void recall(const std::string&, const std::string&, Done done) override { done(refusal); }
    void setBeep(bool, const std::string&, Done done) override { done(refusal); }
    std::map<int, int> pending() const override { return {}; }
    void stage(int, int, const std::string&, Done done) override { done(refusal); }
    void take(const std::string&, Done done) override { done(refusal); }
    void clearPending(const std::string&, Done done) override { done(refusal); }
};

struct Surface {
    SharedMatrix matrix;
    std::vector<Message> mqtt;
    std::vector<std::string> logs;
    MqttMapping mapping{{"matrix", "homeassistant", "9.9", "matrixd"},
                        [this] { return std::vector<MqttMatrix*>{&matrix}; },
                        [this](const Message& m) { mqtt.push_back(m); },
                        [this](const std::string& line) { logs.push_back(line); }};
    std::string wire;  // what Videohub client 1 received
    videohub::Session session{matrix, 1, [this](const std::string& text) { wire += text; }};
    videohub::EventFanout fanout{matrix};
    TextMatrix textMatrix{matrix.refusal};
    std::string textWire;  // what a text-protocol client received
    text::Session text{textMatrix, "text 127.0.0.1:5000", [this](const std::string& bytes) { textWire += bytes; }};

    Surface()
    {
        mapping.connected();
        session.start();
        mqtt.clear();
        wire.clear();
    }
    // The event as each front-end writes it.
    void publish(const HubEvent& event)
    {
        mapping.event(event);
        fanout.deliver(event, {&session});
    }
};

TEST(HubSurface, EachEventReachesEachFrontEndInItsWireForm)
{
    struct Row {
        std::function<void(SharedMatrix&)> change;  // the state the event reports
        HubEvent event;
        const char* sse;                           // "" : none
        std::pair<const char*, const char*> mqtt;  // one retained topic it sets; "" : none
        const char* videohub;                      // what a connected client receives
    };
    const std::string dumpTail = "VIDEO OUTPUT ROUTING:\n0 0\n1 1\n2 2\n3 3\n\nEND PRELUDE:\n\n";
    const Row rows[] = {
        {[](SharedMatrix& m) { m.state_.linkUp = false; },
         LinkChanged{"hall", false},
         R"({"link":"down","matrix":"hall","type":"link"})",
         {"matrix/hall/availability", "offline"},
         "VIDEOHUB DEVICE:\nDevice present: false\nFriendly name: Main hall\nUnique ID: 0123456789AB\n\n"},
        {[](SharedMatrix& m) { m.state_.linkUp = true; },
         MatrixReady{"hall"},
         "",
         {"matrix/hall/availability", "online"},
         dumpTail.c_str()},
        {[](SharedMatrix& m) { m.state_.info->deviceType = 2; },
         InfoChanged{"hall", "HDBT MATRIX", "1.0"},
         R"({"matrix":"hall","model":"HDBT MATRIX","type":"info","version":"1.0"})",
         {"", ""},
         "VIDEOHUB DEVICE:\nDevice present: true\nModel name: HDBT MATRIX\nFriendly name: Main hall\n"
         "Unique ID: 0123456789AB\nVideo inputs: 4\nVideo processing units: 0\nVideo outputs: 4\n"
         "Video monitoring outputs: 0\nSerial ports: 0\n\n"},
        {[](SharedMatrix& m) { m.state_.routing[1] = 3; },
         RoutingChanged{"hall", 2, 3},
         R"({"input":3,"matrix":"hall","output":2,"type":"routing"})",
         {"matrix/hall/output/2/state", "Camera"},
         "VIDEO OUTPUT ROUTING:\n1 2\n\n"},
        {[](SharedMatrix& m) { m.state_.inputCable[2] = true; },
         CableChanged{"hall", PortSide::Input, 3, true},
         R"({"cable":true,"matrix":"hall","number":3,"port":"input","type":"cable"})",
         {"matrix/hall/input/3/cable", "ON"},
         ""},
        {[](SharedMatrix& m) { m.state_.beepOn = false; },
         BeepChanged{"hall", false},
         R"({"matrix":"hall","on":false,"type":"beep"})",
         {"matrix/hall/beep/state", "OFF"},
         ""},
        {[](SharedMatrix&) {},
         EdidChanged{"hall", 1, 3, "Copy"},
         R"({"code":3,"input":1,"matrix":"hall","text":"Copy","type":"edid"})",
         {"", ""},
         ""},
        {[](SharedMatrix&) {}, StandbySeen{"hall"}, R"({"matrix":"hall","type":"standby"})", {"", ""}, ""},
        {[](SharedMatrix&) {},
         FirmwareProgress{"hall", 10, 40, "Upgrading Part_1"},
         R"({"done":10,"line":"Upgrading Part_1","matrix":"hall","total":40,"type":"firmware"})",
         {"", ""},
         ""},
        // The last firmware event says how far it got and how it ended.
        {[](SharedMatrix&) {},
         FirmwareFinished{"hall", false, "Time out!", 20, 40},
         R"({"done":20,"error":"Time out!","matrix":"hall","state":"failed","total":40,"type":"firmware"})",
         {"", ""},
         ""},
        {[](SharedMatrix&) {},
         FirmwareFinished{"hall", true, "", 40, 40},
         R"({"done":40,"matrix":"hall","state":"done","total":40,"type":"firmware"})",
         {"", ""},
         ""},
        {[](SharedMatrix& m) { m.inputs[2] = "Stage"; },
         NamesChanged{"hall", {"Laptop", "Apple TV", "Stage", "PC"}, {"Projector", "Left TV", "Right TV", "Recorder"}},
         R"({"inputs":["Laptop","Apple TV","Stage","PC"],"matrix":"hall",)"
         R"("outputs":["Projector","Left TV","Right TV","Recorder"],"type":"names"})",
         {"matrix/hall/output/2/state", "Stage"},
         "INPUT LABELS:\n2 Stage\n\n"},
        {[](SharedMatrix& m) {
             m.scenes = {"Movie", "Talk"};
         },
         ScenesChanged{"hall", {"Movie", "Talk"}},
         R"({"matrix":"hall","scenes":["Movie","Talk"],"type":"scenes"})",
         {"matrix/hall/scene/state", R"(["Movie","Talk"])"},
         ""},
        {[](SharedMatrix&) {},
         SceneRecalled{"hall", "Movie"},
         R"({"matrix":"hall","scene":"Movie","type":"recall"})",
         {"", ""},
         ""},
        {[](SharedMatrix& m) { m.owners[0] = 5; },
         LockChanged{"hall", 1, 5},
         R"({"locked":true,"matrix":"hall","output":1,"owner":5,"type":"lock"})",
         {"", ""},
         "VIDEO OUTPUT LOCKS:\n0 L\n\n"},
        // Home Assistant's scene select reads "None" as no option.
        {[](SharedMatrix& m) { m.active = "Movie"; },
         SceneActive{"hall", "Movie"},
         R"({"active":"Movie","matrix":"hall","type":"scene"})",
         {"matrix/hall/scene/active", "Movie"},
         ""},
        {[](SharedMatrix& m) { m.active.reset(); },
         SceneActive{"hall", std::nullopt},
         R"({"active":null,"matrix":"hall","type":"scene"})",
         {"matrix/hall/scene/active", "None"},
         ""},
        {[](SharedMatrix&) {},
         PendingChanged{"hall", {{2, 3}, {4, 1}}},
         R"({"matrix":"hall","pending":{"B":3,"D":1},"type":"pending"})",
         {"", ""},
         ""},
        {[](SharedMatrix&) {},
         ScheduleRan{"hall", "Lobby", "Movie", "missed"},
         R"({"matrix":"hall","name":"Lobby","result":"missed","scene":"Movie","type":"schedule"})",
         {"", ""},
         ""},
        {[](SharedMatrix&) {},
         SchedulesChanged{"hall", {"Lobby"}},
         R"({"matrix":"hall","schedules":["Lobby"],"type":"schedules"})",
         {"", ""},
         ""},
    };
    Surface surface;
    for (const Row& row : rows) {
        const std::string sse = row.sse;
        SCOPED_TRACE(sse.empty() ? "ready" : sse);
        row.change(surface.matrix);
        surface.publish(row.event);

        const nlohmann::json json = eventJson(row.event);
        EXPECT_EQ(json.is_null() ? "" : json.dump(), sse);
        std::map<std::string, std::string> retained;
        std::vector<std::string> events;
        for (const Message& m : surface.mqtt)
            (m.retain ? retained[m.topic] : events.emplace_back()) = m.payload;
        EXPECT_EQ(events, sse.empty() ? std::vector<std::string>{} : std::vector<std::string>{sse});
        if (*row.mqtt.first) {
            EXPECT_EQ(retained[row.mqtt.first], row.mqtt.second);
        }
        const std::string& videohub = surface.wire;
        EXPECT_EQ(videohub.substr(videohub.size() - std::min(videohub.size(), std::strlen(row.videohub))),
                  row.videohub);
        EXPECT_EQ(videohub.empty(), *row.videohub == '\0');
        surface.mqtt.clear();
        surface.wire.clear();
    }
}

TEST(HubSurface, EachRefusalMapsToEachFrontEndsReply)
{
    struct Row {
        Outcome outcome;
        int http;
        const char* code;    // the refusal's name for machines
        const char* logged;  // in the MQTT log line; "" : no line
        const char* text;    // the text protocol's reply: its codes are the API's statuses
    };
    const Row rows[] = {
        {{}, 200, "ok", "", "OK BEEP ON"},
        {Outcome::refused(Refusal::BadInput, "a name cannot be a bare number"), 400, "bad-input",
         "failed: a name cannot be a bare number", "ERR 400 a name cannot be a bare number"},
        {Outcome::refused(Refusal::NotFound), 404, "not-found", "failed: not found", "ERR 404 not found"},
        {Outcome::refused(Refusal::NameTaken), 409, "name-taken", "failed: the name is taken",
         "ERR 409 the name is taken"},
        {Outcome::refused(Refusal::Locked), 423, "locked", "failed: Output is locked", "ERR 423 Output is locked"},
        {Outcome::refused(Refusal::FirmwareRunning), 409, "firmware-running", "failed: Firmware upgrade running",
         "ERR 409 Firmware upgrade running"},
        {Outcome::refused(Refusal::LinkDown), 503, "link-down", "failed: Link to the matrix is down",
         "ERR 503 Link to the matrix is down"},
        {Outcome::refused(Refusal::NotKnownYet), 503, "not-known-yet", "failed: not known yet",
         "ERR 503 not known yet"},
        {outcomeOf(client::Status::Standby), 409, "standby", "failed: Matrix is in standby mode!",
         "ERR 409 Matrix is in standby mode!"},
        {outcomeOf(client::Status::TimeOut), 504, "time-out", "failed: Time out!", "ERR 504 Time out!"},
        {outcomeOf(client::Status::Rejected), 502, "matrix-refused", "failed: Rejected by the matrix",
         "ERR 502 Rejected by the matrix"},
        {outcomeOf(client::Status::Busy), 409, "firmware-running", "failed: Firmware upgrade running",
         "ERR 409 Firmware upgrade running"},
        {Outcome::refused(Refusal::StorageFailed), 500, "storage-failed", "failed: the state file could not be written",
         "ERR 500 the state file could not be written"},
        {Outcome::refused(Refusal::LimitReached), 409, "limit-reached", "failed: limit reached",
         "ERR 409 limit reached"},
        {Outcome::refused(Refusal::NotAllowed), 403, "not-allowed", "failed: Not allowed for this token",
         "ERR 403 Not allowed for this token"},
        {Outcome::refused(Refusal::InUse, "scene 'Movie' is recalled by schedule 'Lobby'"), 409, "in-use",
         "failed: scene 'Movie' is recalled by schedule 'Lobby'",
         "ERR 409 scene 'Movie' is recalled by schedule 'Lobby'"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        Surface surface;
        surface.matrix.refusal = row.outcome;
        EXPECT_EQ(httpStatus(row.outcome.refusal), row.http);
        EXPECT_STREQ(refusalCode(row.outcome.refusal), row.code);

        surface.session.receive("VIDEO OUTPUT ROUTING:\n0 1\n\n");
        EXPECT_EQ(surface.wire, row.outcome.ok() ? "ACK\n\n" : "NAK\n\n");

        surface.text.receive("BEEP ON\r\n");
        EXPECT_EQ(surface.textWire, std::string(row.text) + "\r\n");

        surface.mapping.message("matrix/hall/output/1/set", "Laptop");
        if (*row.logged) {
            ASSERT_EQ(surface.logs.size(), 1u);
            EXPECT_EQ(surface.logs[0], std::string("hall: mqtt: output 1 to input 1 ") + row.logged);
        } else {
            EXPECT_TRUE(surface.logs.empty());
        }
    }
}

}  // namespace
}  // namespace matrix::service
