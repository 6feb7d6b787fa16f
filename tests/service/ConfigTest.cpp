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
text_port = 4001
text_allow = ["192.168.10.0/24", "10.1.2.3"]
text_serial = "/dev/ttyUSB1"
text_baud = 19200
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
    const ConfigResult given =
        parseConfig("[[matrix]]\nid = \"a\"\ncom = 1\nvideohub_unique_id = \"7C2E0D0A1B2C\"\n", "m.toml");
    ASSERT_TRUE(given.config) << given.error;
    EXPECT_EQ(given.config->matrices[0].videohubUniqueId, "7C2E0D0A1B2C");
    EXPECT_EQ(c.matrices[0].textPort, 4001);
    EXPECT_TRUE(c.matrices[0].textAllow.allows("192.168.10.20"));
    EXPECT_FALSE(c.matrices[0].textAllow.allows("10.1.2.4"));
    EXPECT_EQ(c.matrices[0].textSerial, "/dev/ttyUSB1");
    EXPECT_EQ(c.matrices[0].textBaud, 19200);
    EXPECT_EQ(c.matrices[0].textListen, "127.0.0.1") << "loopback, whatever [http] listens on";
    EXPECT_FALSE(c.matrices[1].textPort);
    EXPECT_EQ(c.matrices[1].textBaud, 9600);
}

std::string token(const std::string& role, const std::string& secret)
{
    return "[[token]]\nname = \"tablet\"\nrole = \"" + role + "\"\n" + secret + "\n";
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
        {matrix + "text_allow = [\"10.1.2.3/24\"]\n", "m.toml:4: text_allow: '10.1.2.3/24' is neither"},
        {matrix + "text_baud = 9601\n", "m.toml:4: text_baud must be one of"},
        {matrix + "text_serial = \"ttyUSB1\"\n", "m.toml:4: text_serial must be an absolute"},
        {"[[matrix]]\nid = \"a\"\nserial = \"/dev/ttyS1\"\n" + matrix + "text_serial = \"/dev/ttyS1\"\n",
         "m.toml:7: text_serial '/dev/ttyS1' is already in use"},
        {matrix + "videohub_port = 4001\ntext_port = 4001\nvideohub_listen = \"127.0.0.1\"\n",
         "m.toml:5: text_port is already in use"},
        {"[mqtt]\nport = 1883\n" + matrix, "m.toml:1: [mqtt] needs host"},
        {"[mqtt]\nhost = \"h\"\nbase_topic = \"a/#\"\n" + matrix, "base_topic and discovery_prefix"},
        {"[state]\ndir = \"/x\"\n", "no [[matrix]] configured"},
        {token("operator", "secret = \"fifteen-chars-x\"") + matrix,
         "m.toml:4: the secret of token 'tablet' must have at least 16 characters"},
        {token("root", "secret = \"0123456789abcdef\"") + matrix, "m.toml:3: role must be viewer, operator or admin"},
        {"[[token]]\nname = \"tablet\"\nsecret = \"0123456789abcdef\"\n" + matrix,
         "m.toml:1: [[token]] needs name and role"},
        {token("admin", "") + matrix, "m.toml:1: token 'tablet' needs secret or secret_file"},
        {token("admin", "secret = \"0123456789abcdef\"") + token("viewer", "secret = \"0123456789abcdeg\"") + matrix,
         "m.toml:6: duplicate token name 'tablet'"},
        {"[http]\ntoken = \"0123456789abcdef\"\n" + token("viewer", "secret = \"0123456789abcdef\"") + matrix,
         "m.toml:3: token 'tablet' has the secret of another token"},
        {"[http]\nserver_names = [\"matrix.lan:80\"]\n" + matrix, "m.toml:2: server_names must hold host names"},
        {"[http]\ntrusted_proxies = [\"proxy.lan\"]\n" + matrix, "m.toml:2: trusted_proxies: 'proxy.lan' is neither"},
        {matrix + "videohub_allow = [\"10.0.0.0/8\", \"10.1.2.3/24\"]\n", "m.toml:4: videohub_allow: '10.1.2.3/24'"},
        {matrix + "videohub_idle_seconds = 0\n", "m.toml:4: videohub_idle_seconds must be from 1 to 86400"},
        {matrix + "name = \"" + std::string(65, 'x') + "\"\n", "m.toml:4: name must be a text of 1-64 bytes"},
        {matrix + "inputs = [\"a\", \"" + std::string(65, 'b') + "\", \"c\", \"d\"]\n", "a name has 1-64 bytes"},
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

TEST(Config, TokensWithRolesAndTheOldTokenAsAdmin)
{
    const auto dir = std::filesystem::temp_directory_path() / "matrixd-config-tokens";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "lobby.token") << "lobby-secret-0123456789\n";
    const std::string text = "[http]\nlisten = \"0.0.0.0:8480\"\ntoken = \"short\"\n"
                             "server_names = [\"matrix.lan\", \"av.example.org\"]\ntrusted_proxies = [\"127.0.0.1\"]\n"
                             "[[token]]\nname = \"lobby-tablet\"\nrole = \"operator\"\nsecret_file = \"" +
                             (dir / "lobby.token").string() +
                             "\"\n[[token]]\nname = \"wall\"\nrole = \"viewer\"\nsecret = \"wall-secret-0123456\"\n"
                             "[[matrix]]\nid = \"hall\"\ncom = 1\nvideohub_port = 9990\n"
                             "videohub_allow = [\"192.168.10.0/24\"]\nvideohub_idle_seconds = 30\n";
    const ConfigResult result = parseConfig(text, "m.toml");
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(result.config) << result.error;
    const Config& c = *result.config;
    // A short old token still starts, with a warning at its line.
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_EQ(result.warnings[0].rfind("m.toml:3: the token has fewer than 16 characters", 0), 0u)
        << result.warnings[0];
    EXPECT_EQ(c.http.serverNames, (std::vector<std::string>{"matrix.lan", "av.example.org"}));
    EXPECT_TRUE(c.http.trustedProxies.allows(std::string("127.0.0.1")));
    EXPECT_FALSE(c.http.trustedProxies.allows(std::string("127.0.0.2")));
    // Videohub stays on loopback, even with HTTP on every address.
    EXPECT_EQ(c.matrices[0].videohubListen, "127.0.0.1");
    EXPECT_EQ(c.matrices[0].videohubIdleSeconds, 30);
    EXPECT_TRUE(c.matrices[0].videohubAllow.allows(std::string("192.168.10.7")));
    EXPECT_FALSE(c.matrices[0].videohubAllow.allows(std::string("192.168.11.7")));

    // Off loopback, a [[token]] alone is enough: the server checks them all.
    const ConfigResult tablesOnly = parseConfig("[http]\nlisten = \"0.0.0.0:8480\"\n[[token]]\nname = \"wall\"\n"
                                                "role = \"viewer\"\nsecret = \"wall-secret-0123456\"\n"
                                                "[[matrix]]\nid = \"hall\"\ncom = 1\n",
                                                "m.toml");
    EXPECT_TRUE(tablesOnly.config) << tablesOnly.error;

    const TokenTable tokens = makeTokenTable(c.http);
    const std::tuple<std::string, std::string, Role> holders[] = {
        {"short", "token", Role::Admin},
        {"lobby-secret-0123456789", "lobby-tablet", Role::Operator},
        {"wall-secret-0123456", "wall", Role::Viewer},
    };
    for (const auto& [secret, name, role] : holders) {
        const auto holder = tokens.find(secret);
        ASSERT_TRUE(holder) << secret;
        EXPECT_EQ(holder->name, name);
        EXPECT_EQ(holder->role, role);
    }

    const ConfigResult plain =
        parseConfig("[http]\nlisten = \"127.0.0.1:8480\"\n" + token("admin", "secret = \"0123456789abcdef\"") +
                        "[[matrix]]\nid = \"a\"\ncom = 1\n",
                    "m.toml");
    ASSERT_TRUE(plain.config) << plain.error;
    EXPECT_TRUE(plain.warnings.empty());
    EXPECT_EQ(plain.config->matrices[0].videohubIdleSeconds, 300);
    EXPECT_TRUE(plain.config->matrices[0].videohubAllow.empty());
}

}  // namespace
}  // namespace matrix::service
