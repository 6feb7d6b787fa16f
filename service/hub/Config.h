// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/client/MatrixClient.h"
#include "service/hub/AddressAllowList.h"
#include "service/hub/Roles.h"
#include "service/hub/TokenTable.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace matrix::service {

// Where the Debian package puts the web page.
inline constexpr char kPackagedWebRoot[] = "/usr/share/matrixd/web";

// A [[token]] table: who holds it goes into the log of each change it makes.
struct TokenConfig {
    std::string name;
    Role role = Role::Viewer;
    std::string secret;
};

struct HttpConfig {
    std::string host = "127.0.0.1";
    int port = 8480;
    std::string token;  // the single token of older files: an admin token; empty: none
    std::vector<TokenConfig> tokens;
    std::string webRoot = kPackagedWebRoot;
    bool webRootGiven = false;             // without it, loadConfig picks defaultWebRoot()
    std::vector<std::string> serverNames;  // host names the Host header may carry besides the listen address
    AddressAllowList trustedProxies;       // empty: no proxy's forwarding headers are believed
    // TLS: both PEM files given, the listener speaks HTTPS only. Their contents, read at start.
    std::string tlsCertFile, tlsKeyFile, tlsCert, tlsKey;
    // Limits against clients that hold connections or stall half-way.
    int maxConnections = 1024;
    int maxConnectionsPerAddress = 64;
    int headerTimeoutSeconds = 10;
    int bodyTimeoutSeconds = 30;
    int maxEventStreams = 1000;
};

// Every configured token: the [[token]] tables and the old [http] token as "token", an admin.
TokenTable makeTokenTable(const HttpConfig& http);

struct StateConfig {
    std::string dir = "/var/lib/matrixd";
};

struct MqttConfig {
    std::string host;
    int port = 1883;
    std::string username;
    std::string password;  // read from password_file when that is given
    std::string clientId = "matrixd";
    std::string baseTopic = "matrix";
    std::string discoveryPrefix = "homeassistant";
};

struct MatrixConfig {
    std::string id;  // [a-z0-9-]+, used in URLs and topics
    std::string name;
    client::LinkTarget link;
    std::string serialPath;  // set for `serial = "/dev/..."`: the COM number is then unused
    int pollSeconds = 5;     // 0: no polling
    std::array<std::string, client::kPortCount> inputs;
    std::array<std::string, client::kPortCount> outputs;
    std::optional<int> videohubPort;
    // The Videohub device's "Unique ID:" (12 upper-case hex digits): given,
    // or derived from the MQTT client id and the matrix id.
    std::string videohubUniqueId;
    std::string videohubListen = "127.0.0.1";
    AddressAllowList videohubAllow;  // empty: any peer
    int videohubIdleSeconds = 300;   // a client that sends nothing this long is closed
    int catchUpMinutes = 5;          // how long a schedule due while the link is down may still run
    // The plain-text control protocol: on TCP with text_port, on a serial line with text_serial.
    std::optional<int> textPort;
    std::string textListen = "127.0.0.1";
    AddressAllowList textAllow;  // empty: any peer
    std::string textSerial;
    int textBaud = 9600;  // 8N1
};

struct Config {
    std::string path;
    HttpConfig http;
    StateConfig state;
    std::optional<MqttConfig> mqtt;  // present when the file has an [mqtt] section
    std::vector<MatrixConfig> matrices;
};

struct ConfigResult {
    std::optional<Config> config;
    std::string error;                  // "FILE:LINE: problem" when config is empty
    std::vector<std::string> warnings;  // "FILE:LINE: problem" each: the start goes on, the log says it
};

// The page directory when the file names none: the installed one if it
// exists, else the source tree's web/ this program was built from.
std::string defaultWebRoot();

// Reads and checks the whole file. Files named inside it (token_file,
// password_file) are read too, so that a start fails before any device is touched.
ConfigResult loadConfig(const std::string& path);
ConfigResult parseConfig(const std::string& text, const std::string& path);

bool isLoopbackHost(const std::string& dottedIpv4);

// 12 upper-case hex digits, stable for (instance, matrix id).
std::string derivedUniqueId(const std::string& instance, const std::string& matrixId);

}  // namespace matrix::service
