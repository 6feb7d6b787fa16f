// SPDX-License-Identifier: Apache-2.0
// matrixd's config file: what a good file yields, and that each mistake
// stops the start with the file, the line and the problem.
#include "service/hub/Config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace matrix::service {
namespace {

constexpr const char* kGood = R"([http]
listen = "127.0.0.1:8480"
[state]
dir = "/tmp/x"
[mqtt]
host = "127.0.0.1"
base_topic = "av"
[[matrix]]
id = "hall"
name = "Main hall"
tcp = "192.168.1.50"
poll_seconds = 2
catch_up_minutes = 15
inputs  = ["Laptop", "Apple TV", "Camera", "PC"]
outputs = ["Projector", "Left TV", "Right TV", "Recorder"]
videohub_port = 9990
[[matrix]]
id = "booth"
com = 3
[[matrix]]
id = "stage"
serial = "/dev/ttyUSB0"
)";

TEST(Config, GoodFileGivesEveryValueAndTheDefaults)
{
    const ConfigResult result = parseConfig(kGood, "m.toml");
    ASSERT_TRUE(result.config) << result.error;
    const Config& c = *result.config;
    EXPECT_EQ(c.http.host, "127.0.0.1");
    EXPECT_EQ(c.http.port, 8480);
    EXPECT_EQ(c.http.webRoot, "/usr/share/matrixd/web");
    ASSERT_TRUE(c.mqtt);
    EXPECT_EQ(c.mqtt->port, 1883);
    EXPECT_EQ(c.mqtt->baseTopic, "av");
    EXPECT_EQ(c.mqtt->discoveryPrefix, "homeassistant");
    ASSERT_EQ(c.matrices.size(), 3u);
    EXPECT_EQ(c.matrices[0].link.kind, client::LinkTarget::Kind::Tcp);
    EXPECT_EQ(c.matrices[0].link.address, "192.168.1.50");
    EXPECT_EQ(c.matrices[0].outputs[1], "Left TV");
    EXPECT_EQ(c.matrices[0].videohubPort, 9990);
    EXPECT_EQ(c.matrices[0].videohubListen, "127.0.0.1");
    EXPECT_EQ(c.matrices[0].catchUpMinutes, 15);
    EXPECT_EQ(c.matrices[1].catchUpMinutes, 5);
    EXPECT_EQ(c.matrices[1].link.comPort, 3);
    EXPECT_EQ(c.matrices[1].name, "booth");
    EXPECT_EQ(c.matrices[1].pollSeconds, 5);
    EXPECT_EQ(c.matrices[1].inputs[3], "Input 4");
    EXPECT_EQ(c.matrices[2].serialPath, "/dev/ttyUSB0");
    // Videohub ids: derived from the MQTT client id and the matrix id, so the
    // same on every start and different per matrix; or given.
    EXPECT_EQ(c.matrices[0].videohubUniqueId, derivedUniqueId("matrixd", "hall"));
    EXPECT_NE(c.matrices[0].videohubUniqueId, c.matrices[1].videohubUniqueId);
    EXPECT_NE(derivedUniqueId("matrixd", "hall"), derivedUniqueId("matrixd-2", "hall"));
    const ConfigResult given = parseConfig(
        "[[matrix]]\nid = \"a\"\ncom = 1\nvideohub_unique_id = \"7C2E0D0A1B2C\"\n", "m.toml");
    ASSERT_TRUE(given.config) << given.error;
    EXPECT_EQ(given.config->matrices[0].videohubUniqueId, "7C2E0D0A1B2C");
}

TEST(Config, EachMistakeNamesFileLineAndProblem)
{
    const std::string matrix = "[[matrix]]\nid = \"hall\"\ntcp = \"10.0.0.2\"\n";
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"[http\n", "m.toml:1: "},
        {"[http]\nlisten = \"127.0.0.1:8480\"\ncolour = 1\n" + matrix, "m.toml:3: unknown key 'colour' in [http]"},
        {"[http]\nlisten = \"127.0.0.1\"\n" + matrix, "m.toml:2: listen must be ADDRESS:PORT"},
        {"[http]\nlisten = \"127.0.0.1:70000\"\n" + matrix, "m.toml:2: listen must be"},
        {"[http]\nlisten = \"0.0.0.0:8480\"\n" + matrix, "m.toml:2: listening on 0.0.0.0 (not loopback) needs a token"},
        {"[http]\ntoken_file = \"/nonexistent/token\"\n" + matrix, "m.toml:2: token_file '/nonexistent/token' cannot"},
        {"[http]\ntoken = \"t\"\ntoken_file = \"/t\"\n" + matrix, "m.toml:3: token and token_file exclude each other"},
        {"[http]\nmax_connections = 0\n" + matrix, "m.toml:2: max_connections must be from 1 to 100000"},
        {"[http]\ntls_key_file = \"/k.pem\"\n" + matrix, "m.toml:2: tls_cert_file and tls_key_file go together"},
        {"[mqtt]\nhost = \"h\"\npassword = \"p\"\npassword_file = \"/p\"\n" + matrix,
         "m.toml:4: password and password_file exclude each other"},
        {matrix + matrix, "m.toml:5: duplicate matrix id 'hall'"},
        {"[[matrix]]\nid = \"Hall\"\ntcp = \"10.0.0.2\"\n", "m.toml:2: id must be"},
        {"[[matrix]]\nid = \"a\"\n", "m.toml:1: matrix 'a' needs exactly one of tcp, com, serial"},
        {"[[matrix]]\nid = \"a\"\ntcp = \"10.0.0.2\"\ncom = 2\n", "needs exactly one of"},
        {"[[matrix]]\nid = \"a\"\ncom = 20\n", "m.toml:3: com must be from 1 to 19"},
        {"[[matrix]]\nid = \"a\"\ntcp = \"10.0.0.256\"\n", "m.toml:3: tcp must be a dotted IPv4"},
        {matrix + "poll_seconds = -1\n", "m.toml:4: poll_seconds must be from 0 to 3600"},
        {matrix + "poll_seconds = \"5\"\n", "m.toml:4: poll_seconds must be a whole number"},
        {matrix + "inputs = [\"a\", \"b\", \"c\"]\n", "m.toml:4: inputs must be a list of 4 texts"},
        {matrix + "outputs = [\"a\", \"b\", \"a\", \"d\"]\n", "names 'a' twice"},
        {matrix + "videohub_port = 0\n", "m.toml:4: videohub_port must be from 1 to 65535"},
        {matrix + "videohub_unique_id = \"0123456789ab\"\n", "m.toml:4: videohub_unique_id must be 12 upper-case hex"},
        {matrix + "catch_up_minutes = 61\n", "m.toml:4: catch_up_minutes must be from 0 to 60"},
        {"[mqtt]\nport = 1883\n" + matrix, "m.toml:1: [mqtt] needs host"},
        {"[mqtt]\nhost = \"h\"\nbase_topic = \"a/#\"\n" + matrix, "base_topic and discovery_prefix"},
        {"[state]\ndir = \"/x\"\n", "no [[matrix]] configured"},
    };
    for (const auto& c : cases) {
        const ConfigResult result = parseConfig(c.text, "m.toml");
        EXPECT_FALSE(result.config) << c.text;
        EXPECT_NE(result.error.find(c.error), std::string::npos) << c.text << "\n-> " << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
    }
}

TEST(Config, ShippedExampleIsAccepted)
{
    const ConfigResult result = loadConfig(MATRIXD_EXAMPLE_CONFIG);
    ASSERT_TRUE(result.config) << result.error;
    EXPECT_EQ(result.config->state.dir, "/var/lib/matrixd");
    EXPECT_FALSE(result.config->mqtt);
}

TEST(Config, SecretsComeFromTheirFiles)
{
    const auto dir = std::filesystem::temp_directory_path() / "matrixd-config-test";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "token") << "  abc123\n";
    const std::string text = "[http]\nlisten = \"192.168.1.2:80\"\ntoken_file = \"" + (dir / "token").string() +
                             "\"\n[[matrix]]\nid = \"a\"\ncom = 1\n";
    const ConfigResult result = parseConfig(text, "m.toml");
    ASSERT_TRUE(result.config) << result.error;
    EXPECT_EQ(result.config->http.token, "abc123");
    EXPECT_FALSE(loadConfig((dir / "missing.toml").string()).config);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace matrix::service
