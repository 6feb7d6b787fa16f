// SPDX-License-Identifier: Apache-2.0
#include "service/mqtt/MqttMapping.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace matrix::service {
namespace {

using nlohmann::json;
using Message = MqttMapping::Message;

// A matrix that records what the mapping asks of it.
class RecordingMatrix : public MqttMatrix {
public:
    RecordingMatrix(std::string id, std::string name) : id_(std::move(id)), name_(std::move(name))
    {
        state_.linkUp = true;
        state_.routing = {1, 2, 3, 4};
        state_.inputCable = {true, true, false, false};
        state_.outputCable = {true, false, true, false};
        state_.beepOn = true;
    }
    std::string id() const override { return id_; }
    std::string name() const override { return name_; }
    const client::MatrixState& state() const override { return state_; }
    std::string model() const override { return "HDMI"; }
    std::string version() const override { return version_; }
    std::string inputName(int input) const override { return inputs[input - 1]; }
    std::string outputName(int output) const override { return outputs[output - 1]; }
    std::optional<int> findInput(std::string_view text) const override
    {
        if (text.size() == 1 && text[0] >= '1' && text[0] <= '4')
            return text[0] - '0';
        for (int i = 0; i < 4; ++i) {
            if (inputs[i] == text)
                return i + 1;
        }
        return std::nullopt;
    }
    std::vector<std::string> sceneNames() const override { return scenes; }
    std::optional<std::string> activeScene() const override { return active; }
    void route(int output, int input, Done done) override
    {
        calls.push_back("route " + std::to_string(output) + " " + std::to_string(input));
        done(failure);
    }
    void setBeep(bool on, Done done) override { calls.push_back(on ? "beep on" : "beep off"), done(failure); }
    void recallScene(const std::string& name, Done done) override { calls.push_back("scene " + name), done(failure); }
    void factoryReset(Done done) override { calls.push_back("reset"), done(failure); }

    client::MatrixState state_;
    std::string version_ = "1.2";
    std::array<std::string, 4> inputs{"Laptop", "Apple TV", "Camera", "PC"};
    std::array<std::string, 4> outputs{"Projector", "Left TV", "Right TV", "Recorder"};
    std::vector<std::string> scenes{"Lecture", "Movie"};
    std::optional<std::string> active;
    std::vector<std::string> calls;
    Outcome failure;
    std::string id_, name_;
};

class MqttMappingTest : public ::testing::Test {
protected:
    MqttMappingTest()
        : mapping(
              {"matrix", "homeassistant", "9.9", "matrixd"},
              [this] {
                  return std::vector<MqttMatrix*>{&hall, &lab};
              },
              [this](const Message& m) { sent.push_back(m); }, [this](const std::string& l) { logs.push_back(l); })
    {
    }
    // The last retained payload per topic, as a subscriber would see it.
    std::map<std::string, std::string> retainedNow() const
    {
        std::map<std::string, std::string> out;
        for (const Message& m : sent) {
            if (m.retain)
                out[m.topic] = m.payload;
        }
        return out;
    }
    std::vector<Message> take() { return std::exchange(sent, {}); }

    RecordingMatrix hall{"hall", "Main hall"};
    RecordingMatrix lab{"lab", "Lab"};
    std::vector<Message> sent;
    std::vector<std::string> logs;
    MqttMapping mapping;
};

TEST_F(MqttMappingTest, DiscoveryConfigsCarryEveryHomeAssistantField)
{
    mapping.connected();
    std::map<std::string, json> configs;
    for (const auto& [topic, payload] : retainedNow()) {
        if (topic.rfind("homeassistant/", 0) == 0 && topic.find("/matrix_hall/") != std::string::npos)
            configs[topic] = json::parse(payload);
    }
    ASSERT_EQ(configs.size(), 16u);  // 4 outputs, 8 cables, beep, scenes, reset, version
    const json bridge = json::parse(retainedNow().at("homeassistant/binary_sensor/matrixd_matrix/connection/config"));
    std::set<std::string> uniqueIds;
    for (const auto& [topic, c] : configs) {
        SCOPED_TRACE(topic);
        const std::string component = topic.substr(14, topic.find('/', 14) - 14);
        uniqueIds.insert(c.at("unique_id").get<std::string>());
        EXPECT_EQ(c.at("default_entity_id").get<std::string>().rfind(component + ".matrix_hall_", 0), 0u);
        EXPECT_FALSE(c.contains("object_id"));
        const json& d = c.at("device");
        EXPECT_EQ(d.at("identifiers"), json::array({"matrix_hall"}));
        EXPECT_EQ(d.at("name"), "Main hall");
        EXPECT_EQ(d.at("model"), "HDMI");
        EXPECT_EQ(d.at("sw_version"), "1.2");
        EXPECT_TRUE(d.at("manufacturer").is_string());
        EXPECT_EQ(d.at("via_device"), bridge.at("device").at("identifiers")[0]);
        EXPECT_EQ(c.at("origin").at("name"), "matrixd");
        EXPECT_EQ(c.at("availability"), json::parse(R"([{"topic":"matrix/bridge/availability"},
                                                        {"topic":"matrix/hall/availability"}])"));
        EXPECT_EQ(c.at("availability_mode"), "all");
    }
    EXPECT_EQ(uniqueIds.size(), configs.size());

    const std::string p = "homeassistant/";
    const std::vector<std::pair<std::string, json>> fields = {
        {"select/matrix_hall/output_2",
         {{"name", "Left TV"},
          {"options", {"Laptop", "Apple TV", "Camera", "PC"}},
          {"state_topic", "matrix/hall/output/2/state"},
          {"command_topic", "matrix/hall/output/2/set"}}},
        {"switch/matrix_hall/beep",
         {{"state_topic", "matrix/hall/beep/state"},
          {"command_topic", "matrix/hall/beep/set"},
          {"payload_on", "ON"},
          {"payload_off", "OFF"},
          {"entity_category", "config"}}},
        {"binary_sensor/matrix_hall/input_3_cable",
         {{"name", "Camera cable"},
          {"state_topic", "matrix/hall/input/3/cable"},
          {"device_class", "plug"},
          {"entity_category", "diagnostic"}}},
        {"binary_sensor/matrix_hall/output_4_cable",
         {{"state_topic", "matrix/hall/output/4/cable"}, {"device_class", "plug"}}},
        {"select/matrix_hall/scene",
         {{"options", {"Lecture", "Movie"}},
          {"state_topic", "matrix/hall/scene/active"},
          {"command_topic", "matrix/hall/scene/set"}}},
        {"button/matrix_hall/factory_reset",
         {{"command_topic", "matrix/hall/factory_reset/press"},
          {"payload_press", "PRESS"},
          {"entity_category", "config"},
          {"enabled_by_default", false}}},
        {"sensor/matrix_hall/firmware_version",
         {{"state_topic", "matrix/hall/version"}, {"entity_category", "diagnostic"}}},
    };
    for (const auto& [object, expected] : fields) {
        SCOPED_TRACE(object);
        const json& c = configs.at(p + object + "/config");
        for (const auto& [key, value] : expected.items())
            EXPECT_EQ(c.at(key), value) << key;
    }
}

TEST_F(MqttMappingTest, RetainedStateFollowsEventsAndOnlyChangesAreSent)
{
    mapping.connected();
    const auto start = retainedNow();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"matrix/bridge/availability", "online"},
        {"matrix/hall/availability", "online"},
        {"matrix/hall/output/2/state", "Apple TV"},
        {"matrix/hall/input/3/cable", "OFF"},
        {"matrix/hall/output/3/cable", "ON"},
        {"matrix/hall/beep/state", "ON"},
        {"matrix/hall/scene/state", R"(["Lecture","Movie"])"},
        {"matrix/hall/version", "1.2"},
        {"matrix/hall/scene/active", "None"},
        {"matrix/bridge/matrices/matrixd", R"(["hall","lab"])"},
    };
    for (const auto& [topic, payload] : expected)
        EXPECT_EQ(start.at(topic), payload) << topic;
    take();

    // The matrix's own panel routed Camera to output 2; the hub reports it.
    hall.state_.routing[1] = 3;
    const json routed = {{"type", "routing"}, {"matrix", "hall"}, {"output", 2}, {"input", 3}};
    mapping.event(RoutingChanged{"hall", 2, 3});
    EXPECT_EQ(take(), (std::vector<Message>{{"matrix/hall/event", routed.dump(), false},
                                            {"matrix/hall/output/2/state", "Camera", true}}));

    hall.state_.linkUp = false;
    hall.scenes.clear();
    mapping.event(LinkChanged{"hall", false});
    const auto after = retainedNow();
    EXPECT_EQ(after.at("matrix/hall/availability"), "offline");
    EXPECT_EQ(after.at("homeassistant/select/matrix_hall/scene/config"), "");  // no options: withdrawn
    EXPECT_EQ(after.at("matrix/hall/scene/state"), "[]");

    take();
    mapping.event(LinkChanged{"nowhere", false});
    EXPECT_TRUE(sent.empty());
}

TEST_F(MqttMappingTest, CommandsBecomeMatrixCallsAndBadOnesAreLoggedAndIgnored)
{
    struct Case {
        std::string topic, payload, call;  // empty call: nothing may reach the matrix
        bool retained = false;
    };
    const std::vector<Case> cases = {
        {"matrix/hall/output/2/set", "Camera", "route 2 3"},
        {"matrix/hall/output/2/set", "4", "route 2 4"},
        {"matrix/hall/output/4/set", " Laptop\n", ""},  // options come back exactly as offered
        {"matrix/hall/beep/set", "OFF", "beep off"},
        {"matrix/hall/scene/set", "Movie", "scene Movie"},
        {"matrix/hall/factory_reset/press", "PRESS", "reset"},
        {"matrix/hall/output/2/set", "Toaster", ""},
        {"matrix/hall/output/2/set", "5", ""},
        {"matrix/hall/output/2/set", "", ""},
        {"matrix/hall/output/5/set", "1", ""},
        {"matrix/hall/output/B/set", "1", ""},
        {"matrix/hall/output/22/set", "1", ""},
        {"matrix/hall/beep/set", "loud", ""},
        {"matrix/hall/scene/set", "Party", ""},
        {"matrix/hall/factory_reset/press", "yes", ""},
        {"matrix/hall/output/2/set", std::string(5000, '1'), ""},
        {"matrix/attic/output/2/set", "1", ""},
        {"matrix/hall/firmware/set", "1", ""},
        {"matrix/hall/output/2/set", "1", "", true},  // left on the broker: would re-route at every start
        {"matrix/hall/output/2/set", "PC\nhall: link down", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.topic + " " + c.payload.substr(0, 20));
        hall.calls.clear();
        logs.clear();
        mapping.message(c.topic, c.payload, c.retained);
        EXPECT_EQ(hall.calls, c.call.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.call});
        ASSERT_EQ(logs.size(), c.call.empty() ? 1u : 0u);
        if (!logs.empty()) {
            EXPECT_EQ(logs[0].find('\n'), std::string::npos);  // one line, whatever was published
            EXPECT_LT(logs[0].size(), 300u);
        }
    }
    EXPECT_TRUE(sent.empty());

    hall.failure = Outcome::refused(Refusal::TimeOut, "Time out!");
    logs.clear();
    mapping.message("matrix/hall/output/1/set", "PC");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find("Time out!"), std::string::npos);
    EXPECT_EQ(logs[0].rfind("hall: ", 0), 0u);
}

TEST_F(MqttMappingTest, HomeAssistantOnlineGetsEveryConfigAgain)
{
    mapping.connected();
    take();
    mapping.message("homeassistant/status", "offline");
    EXPECT_TRUE(sent.empty());
    mapping.message("homeassistant/status", "online");
    std::size_t configs = 0;
    for (const Message& m : sent) {
        EXPECT_TRUE(m.retain);
        EXPECT_EQ(m.topic.rfind("homeassistant/", 0), 0u) << m.topic;  // states are still retained
        configs += m.topic.find("/matrix_hall/") != std::string::npos;
    }
    EXPECT_EQ(configs, 16u);
    EXPECT_EQ(sent.size(), 1u + 16u + 16u);  // bridge + two matrices
}

TEST_F(MqttMappingTest, MatrixAnnouncedEarlierButNoLongerConfiguredIsCleared)
{
    mapping.connected();
    take();
    mapping.message("matrix/bridge/matrices/matrixd", R"(["hall","old","lab","#","a/b"])");
    std::set<std::string> cleared;
    for (const Message& m : sent) {
        EXPECT_TRUE(m.retain && m.payload.empty()) << m.topic;
        cleared.insert(m.topic);
    }
    EXPECT_EQ(cleared.size(), sent.size());
    for (const std::string topic :
         {"homeassistant/select/matrix_old/output_1/config", "homeassistant/button/matrix_old/factory_reset/config",
          "homeassistant/binary_sensor/matrix_old/output_4_cable/config", "matrix/old/output/1/state",
          "matrix/old/availability"})
        EXPECT_EQ(cleared.count(topic), 1u) << topic;
    for (const std::string& topic : cleared)
        EXPECT_NE(topic.find("old"), std::string::npos) << topic;

    take();
    mapping.message("matrix/bridge/matrices/matrixd", "not json");
    mapping.message("matrix/bridge/matrices/matrixd", R"({"old":1})");
    EXPECT_TRUE(sent.empty());
}

TEST(MqttBridgeBackoff, DoublesUpToTheCeiling)
{
    const std::vector<std::pair<int, int>> table = {{0, 1000},  {1, 2000},  {3, 8000},
                                                    {5, 32000}, {6, 60000}, {40, 60000}};
    for (const auto& [attempt, delay] : table)
        EXPECT_EQ(MqttMapping::reconnectDelayMs(attempt, 1000, 60000), delay) << attempt;
}

}  // namespace
}  // namespace matrix::service
