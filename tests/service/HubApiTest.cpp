// SPDX-License-Identifier: Apache-2.0
// The hub and the API on virtual time against the in-process simulator:
// output locks (held by Videohub connections) refuse routes with 423 and
// send nothing, and a change at the matrix's own panel is seen within one poll.
#include "service/http/Api.h"
#include "service/hub/EventJson.h"
#include "service/hub/Hub.h"
#include "service/mqtt/UnitMatrix.h"
#include "service/videohub/Session.h"
#include "service/videohub/UnitBackend.h"

#include "sim/AllCommands.h"
#include "sim/MatrixDevice.h"
#include "sim/MatrixResponder.h"
#include "tests/support/ManualLoop.h"
#include "tests/support/MemoryNetwork.h"
#include "tests/support/MemorySerial.h"

#include <gtest/gtest.h>

namespace matrix::service {
namespace {

using Json = nlohmann::json;

struct HubRig {
    ManualLoop loop;
    sim::MatrixDevice device;
    sim::MatrixResponder matrix{loop, device};
    testing::MemorySerialHub serialHub{loop};
    Hub hub;
    Api api{hub};
    MatrixUnit* unit = nullptr;
    std::vector<Json> events;

    HubRig()
    {
        sim::installAllCommands(matrix);
        auto socket = std::make_unique<testing::MemoryLinkSocket>(loop);
        socket->listen("127.0.0.1", &matrix);
        MatrixConfig config;
        config.id = "hall";
        config.link.address = "127.0.0.1";
        config.pollSeconds = 5;
        config.inputs = {"Laptop", "Apple TV", "Camera", "PC"};
        config.outputs = {"Projector", "Left TV", "Right TV", "Recorder"};
        auto client = std::make_unique<client::MatrixClient>(
            loop, [this] { return serialHub.makeSerial(); }, std::move(socket));
        unit = &hub.add(std::make_unique<MatrixUnit>(hub, loop, config, std::move(client), nullptr));
        hub.subscribe([this](const HubEvent& event) { events.push_back(eventJson(event)); });
        hub.startAll();
        loop.advanceUntil([this] { return unit->state().linkUp && unit->client().queuedRequests() == 0; }, 10000);
        loop.advance(100);
        matrix.clearReceived();
    }

    HttpResponse call(const std::string& method, const std::vector<std::string>& path, const Json& body = nullptr)
    {
        HttpRequest request;
        request.method = method;
        request.segments = {"api", "v1", "matrices", "hall"};
        request.contentType = "application/json";
        request.body = body.is_null() ? "" : body.dump();
        request.role = Role::Admin;
        request.segments.insert(request.segments.end(), path.begin(), path.end());
        std::optional<HttpResponse> response;
        api.handle(request, [&](HttpResponse r) { response = std::move(r); });
        loop.advanceUntil([&] { return response.has_value(); }, 20000);
        return response.value_or(HttpResponse{0, "", "", {}});
    }

    std::size_t routeFrames() const
    {
        std::size_t n = 0;
        for (const auto& frame : matrix.received())
            n += frame[2] == 0x02 && frame[3] == 0x03;
        return n;
    }
};

TEST(HubApi, LockedOutputRefusesEveryRouteToItAndSendsNothing)
{
    HubRig rig;
    ASSERT_TRUE(rig.unit->saveScene({}, "talk", {3, 2, 0, 0}).ok());
    const LockOwner videohub = rig.hub.newLockOwner();
    const Caller holder{"videohub", "127.0.0.1:1", videohub, {}};
    ASSERT_TRUE(rig.unit->lock(holder, 2, LockAction::Take).ok());
    EXPECT_EQ(rig.events.back(), (Json{{"type", "lock"}, {"matrix", "hall"}, {"output", 2}, {"locked", true},
                                       {"owner", videohub}}));
    struct Case {
        std::string method;
        std::vector<std::string> path;
        Json body;
        int status;
    } cases[] = {
        {"PUT", {"outputs", "B"}, {{"input", 1}}, 423},
        {"PUT", {"outputs", "Left TV"}, {{"input", "PC"}}, 423},
        {"PUT", {"routing"}, {{"A", 1}, {"B", 2}}, 423},
        {"POST", {"scenes", "talk", "recall"}, nullptr, 423},
        {"PUT", {"outputs", "A"}, {{"input", 4}}, 200},
    };
    for (const auto& c : cases) {
        const std::size_t before = rig.routeFrames();
        const HttpResponse response = rig.call(c.method, c.path, c.body);
        EXPECT_EQ(response.status, c.status) << c.path.front() << " " << response.body;
        EXPECT_EQ(rig.routeFrames() - before, c.status == 200 ? 1u : 0u) << c.path.front();
        if (c.status == 423) {
            EXPECT_EQ(response.body, R"({"error":"Output is locked"})");
        }
    }
    // Its owner may route; when its connection goes away the lock goes too.
    bool done = false;
    ASSERT_TRUE(rig.unit->route(holder, 2, 3, [&](const Outcome& outcome) { done = outcome.ok(); }).ok());
    rig.loop.advanceUntil([&] { return done; }, 10000);
    EXPECT_TRUE(done);
    rig.unit->releaseLocks(videohub);
    EXPECT_EQ(rig.unit->lockOwner(2), 0);
    const Json recalled{{"type", "recall"}, {"matrix", "hall"}, {"scene", "talk"}};
    EXPECT_EQ(std::count(rig.events.begin(), rig.events.end(), recalled), 0) << "a refused recall is no recall";
    EXPECT_EQ(rig.call("POST", {"scenes", "talk", "recall"}).status, 200);
    EXPECT_EQ(rig.device.routing[0], 3);
    EXPECT_EQ(rig.device.routing[1], 2);
    EXPECT_EQ(rig.events.back(), recalled) << "told once its last route is through";
}

TEST(HubApi, PanelChangeShowsWithinOnePoll)
{
    HubRig rig;
    rig.events.clear();
    rig.device.routing[3] = 1;
    rig.device.outputCable[2] = true;
    rig.loop.advance(5000 + 500);
    const Json routing{{"type", "routing"}, {"matrix", "hall"}, {"output", 4}, {"input", 1}};
    const Json cable{{"type", "cable"}, {"matrix", "hall"}, {"port", "output"}, {"number", 3}, {"cable", true}};
    EXPECT_NE(std::find(rig.events.begin(), rig.events.end(), routing), rig.events.end());
    EXPECT_NE(std::find(rig.events.begin(), rig.events.end(), cable), rig.events.end());
    EXPECT_EQ(rig.unit->routingJson()["D"], 1);
}

// One rule for names, whichever front-end (or the config file) brings them.
TEST(HubApi, TheNameRuleHoldsForConfigApiVideohubAndMqtt)
{
    struct Row {
        std::string name;
        int http;  // 200, or how the API refuses it
    };
    const Row rows[] = {
        {"Stage", 200},       {"Über Cam", 200},   {"Input 2", 200},  {std::string(64, 'x'), 200},
        {"2", 400},           {"-1", 400},         {"2.5", 400},      {" Stage", 400},
        {"Stage ", 400},      {"None", 400},       {"nOnE", 400},     {"", 400},
        {"a\tb", 400},        {std::string(65, 'x'), 400},
        {"Camera", 409},  // input 3's name
    };
    HubRig rig;
    UnitMatrix mqtt(*rig.unit);
    videohub::UnitBackend backend(*rig.unit);
    std::string wire;
    videohub::Session session(backend, rig.hub.newLockOwner(), [&](const std::string& text) { wire += text; });
    for (const Row& row : rows) {
        SCOPED_TRACE("'" + row.name + "'");
        const bool valid = row.http == 200;
        const std::string config = "[[matrix]]\nid = \"hall\"\ntcp = \"127.0.0.1\"\ninputs = [" +
                                   Json(row.name).dump() + ", \"Apple TV\", \"Camera\", \"PC\"]\n";
        const ConfigResult parsed = parseConfig(config, "m.toml");
        EXPECT_EQ(parsed.config.has_value(), valid) << parsed.error;
        if (!valid) {
            EXPECT_EQ(parsed.error.rfind("m.toml:4: inputs", 0), 0u) << parsed.error;
        }

        EXPECT_EQ(rig.call("PUT", {"inputs", "1", "name"}, {{"name", row.name}}).status, row.http);
        EXPECT_EQ(rig.unit->inputName(1), valid ? row.name : "Laptop");
        if (valid) {
            // Home Assistant sends the option back exactly as offered; nothing else matches.
            EXPECT_EQ(mqtt.findInput(row.name), 1);
            EXPECT_EQ(mqtt.findInput(" " + row.name), std::nullopt);
            ASSERT_TRUE(rig.unit->rename({}, PortSide::Input, {{1, "Laptop"}}).ok());
        }

        wire.clear();
        session.receive("INPUT LABELS:\n0 " + row.name + "\n\n");
        EXPECT_EQ(wire.substr(0, 5), valid ? "ACK\n\n" : "NAK\n\n");
        EXPECT_EQ(rig.unit->inputName(1), valid ? row.name : "Laptop");
        ASSERT_TRUE(rig.unit->rename({}, PortSide::Input, {{1, "Laptop"}}).ok());
    }
    EXPECT_EQ(mqtt.findInput("laptop"), std::nullopt);
    EXPECT_EQ(mqtt.findInput("2"), 2);  // a name never is a number, so this is the port
}

TEST(HubApi, AMatrixKeepsAtMost256Scenes)
{
    HubRig rig;
    for (std::size_t i = 0; i < MatrixUnit::kMaxScenes; ++i)
        ASSERT_TRUE(rig.unit->saveScene({}, "s" + std::to_string(i), {1, 0, 0, 0}).ok());
    EXPECT_EQ(rig.call("PUT", {"scenes", "one-more"}, {{"routing", {{"A", 2}}}}).status, 409);
    EXPECT_FALSE(rig.unit->scene("one-more"));
    EXPECT_EQ(rig.call("PUT", {"scenes", "s7"}, {{"routing", {{"A", 2}}}}).status, 200);  // replacing one is fine
    EXPECT_EQ(rig.unit->scene("s7")->at(0), 2);
}

}  // namespace
}  // namespace matrix::service
