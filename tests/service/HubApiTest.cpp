// SPDX-License-Identifier: Apache-2.0
// The hub and the API on virtual time against the in-process simulator:
// output locks (held by Videohub connections) refuse routes with 423 and
// send nothing, a change at the matrix's own panel is seen within one poll,
// the live scene follows routing changes from every front-end, staged routes
// go out only on a take, and schedules are checked before anything is kept.
#include "service/http/Api.h"
#include "service/hub/EventJson.h"
#include "service/hub/Hub.h"
#include "service/mqtt/UnitMatrix.h"
#include "service/videohub/Session.h"
#include "service/videohub/UnitBackend.h"

#include "core/protocol/Protocol.h"

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

    HttpResponse call(const std::string& method, const std::vector<std::string>& path, const Json& body = nullptr,
                      Role role = Role::Admin)
    {
        HttpRequest request;
        request.method = method;
        request.segments = {"api", "v1", "matrices", "hall"};
        request.contentType = "application/json";
        request.body = body.is_null() ? "" : body.dump();
        request.role = role;
        request.segments.insert(request.segments.end(), path.begin(), path.end());
        std::optional<HttpResponse> response;
        api.handle(request, [&](HttpResponse r) { response = std::move(r); });
        loop.advanceUntil([&] { return response.has_value(); }, 20000);
        return response.value_or(HttpResponse{0, "", "", {}});
    }

    // The route frames the matrix received, as (output, input).
    std::vector<std::pair<int, int>> routesSent() const
    {
        std::vector<std::pair<int, int>> routes;
        for (const auto& frame : matrix.received())
            if (frame == protocol::routeRequest(Output{frame.p3()}, Input{frame.p1()}))
                routes.emplace_back(frame.p3(), frame.p1());
        return routes;
    }

    std::vector<Json> eventsOf(const std::string& type) const
    {
        std::vector<Json> found;
        for (const Json& event : events)
            if (event.value("type", "") == type)
                found.push_back(event);
        return found;
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
    EXPECT_EQ(rig.events.back(),
              (Json{{"type", "lock"}, {"matrix", "hall"}, {"output", 2}, {"locked", true}, {"owner", videohub}}));
    struct Case {
        std::string method;
        std::vector<std::string> path;
        Json body;
        int status;
    } cases[] = {
        {"PUT", {"outputs", "B"}, {{"input", 1}}, 423},  {"PUT", {"outputs", "Left TV"}, {{"input", "PC"}}, 423},
        {"PUT", {"routing"}, {{"A", 1}, {"B", 2}}, 423}, {"POST", {"scenes", "talk", "recall"}, nullptr, 423},
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
        {"Stage", 200},   {"Über Cam", 200},
        {"Input 2", 200}, {std::string(64, 'x'), 200},
        {"2", 400},       {"-1", 400},
        {"2.5", 400},     {" Stage", 400},
        {"Stage ", 400},  {"None", 400},
        {"nOnE", 400},    {"", 400},
        {"a\tb", 400},    {std::string(65, 'x'), 400},
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

// Every source of a routing change moves the live scene, and each move is one event.
TEST(HubApi, TheLiveSceneFollowsRoutingFromEveryFrontEnd)
{
    HubRig rig;
    UnitMatrix mqtt(*rig.unit);
    videohub::UnitBackend backend(*rig.unit);
    std::string wire;
    videohub::Session session(backend, rig.hub.newLockOwner(), [&](const std::string& text) { wire += text; });
    ASSERT_TRUE(rig.unit->saveScene({}, "talk", {3, 2, 0, 0}).ok());
    ASSERT_TRUE(rig.unit->saveScene({}, "movie", {1, 1, 1, 1}).ok());
    ASSERT_EQ(rig.unit->toJson()["active_scene"], nullptr);  // the routing is 1 2 3 4
    struct Row {
        const char* source;
        std::function<void()> change;
        Json active;
        std::size_t events;  // scene events sent: one per move, midway states of several routes too
    };
    const Row rows[] = {
        {"http route",
         [&] {
             EXPECT_EQ(rig.call("PUT", {"outputs", "A"}, {{"input", 3}}).status, 200);
         },
         "talk", 1},
        {"mqtt route outside the scene", [&] { mqtt.route(4, 1, {}); }, "talk", 0},
        {"mqtt route", [&] { mqtt.route(2, 1, {}); }, nullptr, 1},
        {"videohub route", [&] { session.receive("VIDEO OUTPUT ROUTING:\n1 1\n\n"); }, "talk", 1},
        // A=1 ends "talk" before the rest of the poll finds "movie".
        {"panel, seen by the poll",
         [&] {
             rig.device.routing = {1, 1, 1, 1};
             rig.loop.advance(5500);
         },
         "movie", 2},
        // Several match: the one saved or recalled last wins.
        {"scene saved",
         [&] {
             EXPECT_EQ(rig.call("PUT", {"scenes", "pair"}, {{"routing", {{"A", 1}, {"B", 1}}}}).status, 200);
         },
         "pair", 1},
        {"scene recalled",
         [&] {
             EXPECT_EQ(rig.call("POST", {"scenes", "movie", "recall"}).status, 200);
         },
         "movie", 1},
        {"scene deleted",
         [&] {
             EXPECT_EQ(rig.call("DELETE", {"scenes", "movie"}).status, 200);
         },
         "pair", 1},
        {"take",
         [&] {
             EXPECT_EQ(rig.call("PUT", {"pending"}, {{"A", 3}, {"B", 2}}).status, 200);
             EXPECT_EQ(rig.call("POST", {"take"}).status, 200);
         },
         "talk", 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.source);
        rig.events.clear();
        row.change();
        rig.loop.advanceUntil([&] { return rig.unit->client().queuedRequests() == 0; }, 20000);
        EXPECT_EQ(rig.unit->toJson()["active_scene"], row.active);
        const auto scenes = rig.eventsOf("scene");
        ASSERT_EQ(scenes.size(), row.events);
        if (row.events > 0) {
            EXPECT_EQ(scenes.back(), (Json{{"type", "scene"}, {"matrix", "hall"}, {"active", row.active}}));
        }
    }
}

TEST(HubApi, StagedRoutesGoOutOnlyOnTakeAsOneJobInOutputOrder)
{
    HubRig rig;
    rig.events.clear();
    HttpResponse staged = rig.call("PUT", {"pending"}, {{"D", 1}, {"B", "Camera"}});
    EXPECT_EQ(staged.status, 200);
    EXPECT_EQ(Json::parse(rig.call("PUT", {"pending"}, {{"B", 2}}).body), (Json{{"B", 2}, {"D", 1}}));
    EXPECT_EQ(Json::parse(rig.call("GET", {"pending"}).body), (Json{{"B", 2}, {"D", 1}}));
    EXPECT_TRUE(rig.matrix.received().empty()) << "staging sent something";
    EXPECT_EQ(rig.eventsOf("pending").back(),
              (Json{{"type", "pending"}, {"matrix", "hall"}, {"pending", {{"B", 2}, {"D", 1}}}}));

    // A route asked for while the take runs waits behind all of it.
    std::optional<HttpResponse> taken;
    HttpRequest take;
    take.method = "POST";
    take.segments = {"api", "v1", "matrices", "hall", "take"};
    take.role = Role::Operator;  // staging and taking are an operator's
    rig.api.handle(take, [&](HttpResponse r) { taken = std::move(r); });
    bool routed = false;
    ASSERT_TRUE(rig.unit->route({}, 1, 4, [&](const Outcome& o) { routed = o.ok(); }).ok());
    rig.loop.advanceUntil([&] { return taken && routed; }, 20000);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->status, 200);
    EXPECT_EQ(Json::parse(taken->body), (Json{{"A", 1}, {"B", 2}, {"C", 3}, {"D", 1}}));  // before the queued route
    EXPECT_EQ(rig.routesSent(), (std::vector<std::pair<int, int>>{{2, 2}, {4, 1}, {1, 4}}));
    EXPECT_EQ(Json::parse(rig.call("GET", {"pending"}).body), Json::object());
    EXPECT_EQ(rig.eventsOf("pending").back()["pending"], Json::object());

    // Clear drops what is staged; a take of nothing sends nothing.
    rig.call("PUT", {"pending"}, {{"C", 1}});
    EXPECT_EQ(rig.call("DELETE", {"pending"}).status, 200);
    rig.matrix.clearReceived();
    EXPECT_EQ(rig.call("POST", {"take"}).status, 200);
    EXPECT_TRUE(rig.routesSent().empty());
}

TEST(HubApi, ATakeThatFailsHalfwaySaysWhatChangedAndKeepsTheRestStaged)
{
    HubRig rig;
    rig.call("PUT", {"pending"}, {{"B", 3}, {"C", 4}, {"D", 1}});
    // The matrix confirms output B, then falls silent.
    rig.matrix.onCommand(protocol::kRoutingCommand, [&](const CommandFrame& f) {
        if (f == protocol::routeRequest(Output::B, Input{3}))
            rig.matrix.setSilent(true);
    });
    const HttpResponse response = rig.call("POST", {"take"});
    EXPECT_EQ(response.status, 504);
    EXPECT_EQ(Json::parse(response.body), (Json{{"error", "Time out!"},
                                                {"changed", {"B"}},
                                                {"failed", {"C"}},
                                                {"not_sent", {"D"}},
                                                {"routing", {{"A", 1}, {"B", 3}, {"C", 3}, {"D", 4}}}}));
    // C went out twice (the one re-send), D never.
    EXPECT_EQ(rig.routesSent(), (std::vector<std::pair<int, int>>{{2, 3}, {3, 4}, {3, 4}}));
    EXPECT_EQ(Json::parse(rig.call("GET", {"pending"}).body), (Json{{"C", 4}, {"D", 1}}));
}

// Bad input is answered with its reason and changes nothing.
TEST(HubApi, BadStagingAndSchedulesChangeNothing)
{
    HubRig rig;
    ASSERT_TRUE(rig.unit->saveScene({}, "Signage", {2, 2, 0, 0}).ok());
    const LockOwner holder = rig.hub.newLockOwner();
    ASSERT_TRUE(rig.unit->lock({"videohub", "127.0.0.1:1", holder, {}}, 3, LockAction::Take).ok());
    const Json week{{"scene", "Signage"}, {"at", "07:30"}, {"days", {"mon", "tue", "wed", "thu", "fri"}}};
    ASSERT_EQ(rig.call("PUT", {"schedules", "Lobby"}, week).status, 200);
    const auto with = [&](const char* key, const Json& value) {
        Json body = week;
        body[key] = value;
        return body;
    };
    struct Row {
        std::vector<std::string> path;
        Json body;
        int status;
        std::string error;
    };
    const Row rows[] = {
        {{"pending"}, {{"A", 2}, {"C", 1}}, 423, "Output is locked"},
        {{"pending"}, {{"E", 2}}, 404, "unknown output 'E'"},
        {{"pending"}, {{"A", "Nothing"}}, 404, "unknown input \"Nothing\""},
        {{"pending"}, Json::object(), 400, "routing must be an object of output: input"},
        {{"schedules", "Lobby"},
         with("days", {"mon", "funday"}),
         400,
         "unknown day 'funday' (days are mon tue wed thu fri sat sun)"},
        {{"schedules", "Lobby"}, with("at", "24:00"), 400, ""},
        {{"schedules", "Lobby"}, with("at", "7.30"), 400, ""},
        {{"schedules", "Lobby"}, with("days", Json::array()), 400, ""},
        {{"schedules", "Lobby"}, with("scene", "Nothing"), 400, "unknown scene 'Nothing'"},
        {{"schedules", "Lobby"}, Json{{"at", "07:30"}, {"days", {"mon"}}}, 400, "'scene' must be a scene's name"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.body.dump());
        const HttpResponse response = rig.call("PUT", row.path, row.body);
        EXPECT_EQ(response.status, row.status) << response.body;
        if (!row.error.empty()) {
            EXPECT_EQ(Json::parse(response.body)["error"], row.error);
        }
        EXPECT_EQ(Json::parse(rig.call("GET", {"pending"}).body), Json::object());
        const Json kept = Json::parse(rig.call("GET", {"schedules", "Lobby"}).body);
        EXPECT_EQ(kept["at"], "07:30");
        EXPECT_EQ(kept["days"], week["days"]);
    }
    // Staging is an operator's, schedules an admin's.
    EXPECT_EQ(rig.call("PUT", {"pending"}, {{"A", 2}}, Role::Viewer).status, 403);
    EXPECT_EQ(rig.call("DELETE", {"schedules", "Lobby"}, nullptr, Role::Operator).status, 403);
    EXPECT_EQ(Json::parse(rig.call("GET", {"pending"}).body), Json::object());
    EXPECT_TRUE(rig.matrix.received().empty());

    // At most 64 per matrix.
    for (int n = 2; n <= 64; ++n)
        ASSERT_EQ(rig.call("PUT", {"schedules", "s" + std::to_string(n)}, week).status, 200);
    const HttpResponse full = rig.call("PUT", {"schedules", "one more"}, week);
    EXPECT_EQ(full.status, 409);
    EXPECT_EQ(Json::parse(full.body)["error"], "a matrix keeps at most 64 schedules");
    EXPECT_EQ(Json::parse(rig.call("GET", {"schedules"}).body).size(), 64u);

    // A scene a schedule recalls stays, and the answer names the schedule.
    for (int n = 2; n <= 64; ++n)
        rig.call("DELETE", {"schedules", "s" + std::to_string(n)});
    const HttpResponse inUse = rig.call("DELETE", {"scenes", "Signage"});
    EXPECT_EQ(inUse.status, 409);
    EXPECT_EQ(Json::parse(inUse.body)["error"], "scene 'Signage' is recalled by schedule 'Lobby'");
    EXPECT_TRUE(rig.unit->scene("Signage"));
    EXPECT_EQ(rig.call("DELETE", {"schedules", "Lobby"}).status, 200);
    EXPECT_EQ(rig.call("DELETE", {"scenes", "Signage"}).status, 200);
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
