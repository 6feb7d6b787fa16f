// SPDX-License-Identifier: Apache-2.0
#include "service/hub/Config.h"

#include "core/transport/ComPorts.h"
#include "core/transport/Ipv4.h"
#include "service/hub/Names.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace matrix::service {

namespace {

struct ConfigError {
    std::int64_t line;
    std::string problem;
};

// Problems that do not stop the start, in file order.
using Warnings = std::vector<ConfigError>;

// Below this a secret can be guessed; the old [http] token only gets a warning,
// so that files that worked keep working.
constexpr std::size_t kMinSecretBytes = 16;

std::int64_t lineOf(const toml::node& node) { return static_cast<std::int64_t>(node.source().begin.line); }

[[noreturn]] void fail(const toml::node& node, const std::string& problem) { throw ConfigError{lineOf(node), problem}; }

void rejectUnknownKeys(const toml::table& table, const std::string& section, std::initializer_list<const char*> known)
{
    for (const auto& [key, value] : table) {
        bool found = false;
        for (const char* k : known)
            found = found || key.str() == k;
        if (!found)
            throw ConfigError{static_cast<std::int64_t>(key.source().begin.line),
                              "unknown key '" + std::string(key.str()) + "' in " + section};
    }
}

std::string readString(const toml::node& node, const std::string& key)
{
    const auto* value = node.as_string();
    if (!value)
        fail(node, key + " must be a text");
    return value->get();
}

std::int64_t readInteger(const toml::node& node, const std::string& key, std::int64_t low, std::int64_t high)
{
    const auto* value = node.as_integer();
    if (!value)
        fail(node, key + " must be a whole number");
    if (value->get() < low || value->get() > high)
        fail(node, key + " must be from " + std::to_string(low) + " to " + std::to_string(high));
    return value->get();
}

std::string trimmed(std::string text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The whole content of the file a key names; a file that cannot be read fails at the key.
std::string readNamedFile(const toml::node& node, const std::string& key, std::string* file = nullptr)
{
    const std::string path = readString(node, key);
    std::ifstream in(path);
    if (!in)
        fail(node, key + " '" + path + "' cannot be read");
    std::stringstream content;
    content << in.rdbuf();
    if (file)
        *file = path;
    return content.str();
}

// A secret kept in its own file (readable by the service user only).
std::string readSecretFile(const toml::node& node, const std::string& key)
{
    std::string file;
    const std::string secret = trimmed(readNamedFile(node, key, &file));
    if (secret.empty())
        fail(node, key + " '" + file + "' is empty");
    return secret;
}

// A secret given in place (`key`) or in its own file (`key`_file), not both;
// `secret` stays as it is when neither is given.
void readSecret(const toml::table& table, const std::string& key, std::string& secret)
{
    const std::string fileKey = key + "_file";
    const auto* inPlace = table.get(key);
    const auto* file = table.get(fileKey);
    if (inPlace && file)
        fail(*file, key + " and " + fileKey + " exclude each other");
    if (inPlace)
        secret = readString(*inPlace, key);
    if (file)
        secret = readSecretFile(*file, fileKey);
}

std::string readAddress(const toml::node& node, const std::string& key)
{
    const std::string text = readString(node, key);
    if (!parseDottedIpv4(text))
        fail(node, key + " must be a dotted IPv4 address, not '" + text + "'");
    return text;
}

// Names show in every front-end and the log: 1-64 bytes, no control characters.
void checkName(const toml::node& node, const std::string& key, const std::string& name)
{
    bool control = false;
    for (unsigned char c : name)
        control = control || c < 0x20 || c == 0x7F;
    if (name.empty() || name.size() > kMaxNameBytes || control)
        fail(node, key + " must be a text of 1-64 bytes without control characters");
}

std::vector<std::string> readTexts(const toml::node& node, const std::string& key)
{
    const auto* array = node.as_array();
    if (!array)
        fail(node, key + " must be a list of texts");
    std::vector<std::string> texts;
    for (const auto& entry : *array)
        texts.push_back(readString(entry, key));
    return texts;
}

AddressAllowList readAllowList(const toml::node& node, const std::string& key)
{
    std::string error;
    auto list = AddressAllowList::parse(readTexts(node, key), &error);
    if (!list)
        fail(node, key + ": " + error);
    return std::move(*list);
}

TokenConfig readToken(const toml::table& table)
{
    rejectUnknownKeys(table, "[[token]]", {"name", "role", "secret", "secret_file"});
    TokenConfig token;
    const auto* name = table.get("name");
    const auto* role = table.get("role");
    if (!name || !role)
        fail(table, "[[token]] needs name and role");
    token.name = readString(*name, "name");
    checkName(*name, "name", token.name);
    const auto parsed = parseRole(readString(*role, "role"));
    if (!parsed)
        fail(*role, "role must be viewer, operator or admin");
    token.role = *parsed;
    const auto* where = table.get("secret") ? table.get("secret") : table.get("secret_file");
    if (!where)
        fail(table, "token '" + token.name + "' needs secret or secret_file");
    readSecret(table, "secret", token.secret);
    if (token.secret.size() < kMinSecretBytes)
        fail(*where, "the secret of token '" + token.name + "' must have at least " + std::to_string(kMinSecretBytes) +
                         " characters");
    return token;
}

void readTokens(const toml::node& node, HttpConfig& http)
{
    if (!node.is_array_of_tables())
        fail(node, "token must be [[token]] sections");
    std::set<std::string> names;
    std::set<std::string> secrets{http.token};
    for (const auto& entry : *node.as_array()) {
        TokenConfig token = readToken(*entry.as_table());
        if (!names.insert(token.name).second)
            fail(*entry.as_table()->get("name"), "duplicate token name '" + token.name + "'");
        // A secret names its holder in the log; two holders of one secret could not be told apart.
        if (!secrets.insert(token.secret).second)
            fail(*entry.as_table(), "token '" + token.name + "' has the secret of another token");
        http.tokens.push_back(std::move(token));
    }
}

std::string readPemFile(const toml::node& node, const std::string& key, const std::string& marker)
{
    std::string file;
    std::string content = readNamedFile(node, key, &file);
    if (content.find("-----BEGIN " + marker) == std::string::npos)
        fail(node, key + " '" + file + "' holds no PEM " + (marker == "CERTIFICATE" ? "certificate" : "key"));
    return content;
}

void readHttpLimitsAndTls(const toml::table& table, HttpConfig& http)
{
    const std::pair<const char*, int*> limits[] = {
        {"max_connections", &http.maxConnections},
        {"max_connections_per_address", &http.maxConnectionsPerAddress},
        {"header_timeout_seconds", &http.headerTimeoutSeconds},
        {"body_timeout_seconds", &http.bodyTimeoutSeconds},
        {"max_event_streams", &http.maxEventStreams},
    };
    for (const auto& [key, value] : limits)
        if (const auto* node = table.get(key))
            *value = static_cast<int>(readInteger(*node, key, 1, 100000));
    const auto* cert = table.get("tls_cert_file");
    const auto* key = table.get("tls_key_file");
    if ((cert == nullptr) != (key == nullptr))
        fail(cert ? *cert : *key, "tls_cert_file and tls_key_file go together");
    if (cert) {
        http.tlsCertFile = readString(*cert, "tls_cert_file");
        http.tlsKeyFile = readString(*key, "tls_key_file");
        http.tlsCert = readPemFile(*cert, "tls_cert_file", "CERTIFICATE");
        http.tlsKey = readPemFile(*key, "tls_key_file", "");
    }
}

void readHttp(const toml::table& table, HttpConfig& http, Warnings& warnings)
{
    rejectUnknownKeys(table, "[http]",
                      {"listen", "token", "token_file", "web_root", "server_names", "trusted_proxies", "tls_cert_file",
                       "tls_key_file", "max_connections", "max_connections_per_address", "header_timeout_seconds",
                       "body_timeout_seconds", "max_event_streams"});
    if (const auto* node = table.get("listen")) {
        const std::string text = readString(*node, "listen");
        const auto colon = text.rfind(':');
        int port = 0;
        if (colon != std::string::npos) {
            const std::string digits = text.substr(colon + 1);
            if (!digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string::npos)
                port = std::stoi(digits);
        }
        if (colon == std::string::npos || port < 1 || port > 65535 || !parseDottedIpv4(text.substr(0, colon)))
            fail(*node,
                 "listen must be ADDRESS:PORT with a dotted IPv4 address and a port 1-65535, not '" + text + "'");
        http.host = text.substr(0, colon);
        http.port = port;
    }
    readSecret(table, "token", http.token);
    if (!http.token.empty() && http.token.size() < kMinSecretBytes) {
        const auto* where = table.get("token") ? table.get("token") : table.get("token_file");
        warnings.push_back({lineOf(*where), "the token has fewer than " + std::to_string(kMinSecretBytes) +
                                                " characters and can be guessed; use a longer one"});
    }
    if (const auto* node = table.get("web_root")) {
        http.webRoot = readString(*node, "web_root");
        http.webRootGiven = true;
    }
    readHttpLimitsAndTls(table, http);
    if (const auto* node = table.get("server_names")) {
        http.serverNames = readTexts(*node, "server_names");
        for (const auto& name : http.serverNames)
            if (name.empty() || name.find_first_of(" \t/:@[]") != std::string::npos)
                fail(*node, "server_names must hold host names like \"matrix.lan\", not '" + name + "'");
    }
    if (const auto* node = table.get("trusted_proxies"))
        http.trustedProxies = readAllowList(*node, "trusted_proxies");
}

// Off loopback, somebody must need a token: any of them opens the listener.
void requireTokenOffLoopback(const toml::table& root, const HttpConfig& http)
{
    if (!http.token.empty() || !http.tokens.empty() || isLoopbackHost(http.host))
        return;
    const auto* section = root.get("http");
    const auto* listen = section && section->is_table() ? section->as_table()->get("listen") : nullptr;
    fail(listen ? *listen : static_cast<const toml::node&>(root),
         "listening on " + http.host + " (not loopback) needs a token (token, token_file or a [[token]])");
}

void readMqtt(const toml::table& table, MqttConfig& mqtt)
{
    rejectUnknownKeys(
        table, "[mqtt]",
        {"host", "port", "username", "password", "password_file", "client_id", "base_topic", "discovery_prefix"});
    const auto* host = table.get("host");
    if (!host)
        fail(table, "[mqtt] needs host");
    mqtt.host = readString(*host, "host");
    if (mqtt.host.empty())
        fail(*host, "host must not be empty");
    if (const auto* node = table.get("port"))
        mqtt.port = static_cast<int>(readInteger(*node, "port", 1, 65535));
    if (const auto* node = table.get("username"))
        mqtt.username = readString(*node, "username");
    readSecret(table, "password", mqtt.password);
    if (const auto* node = table.get("client_id"))
        mqtt.clientId = readString(*node, "client_id");
    if (const auto* node = table.get("base_topic"))
        mqtt.baseTopic = readString(*node, "base_topic");
    if (const auto* node = table.get("discovery_prefix"))
        mqtt.discoveryPrefix = readString(*node, "discovery_prefix");
    for (const auto* topic : {&mqtt.baseTopic, &mqtt.discoveryPrefix})
        if (topic->empty() || topic->find_first_of("#+") != std::string::npos || topic->front() == '/' ||
            topic->back() == '/')
            fail(table, "base_topic and discovery_prefix must be plain topic levels without + # or outer /");
}

bool validId(const std::string& id)
{
    if (id.empty() || id.size() > 64)
        return false;
    for (char c : id)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    return true;
}

void readNames(const toml::node& node, const std::string& key, std::array<std::string, client::kPortCount>& names)
{
    const auto* array = node.as_array();
    if (!array || array->size() != client::kPortCount)
        fail(node, key + " must be a list of " + std::to_string(client::kPortCount) + " texts");
    std::set<std::string> seen;
    for (std::size_t i = 0; i < array->size(); ++i) {
        const std::string name = readString((*array)[i], key);
        if (trimmed(name).empty())
            fail((*array)[i], key + " must not hold an empty name");
        if (const std::string problem = nameProblem(name); !problem.empty())
            fail((*array)[i], key + ": '" + name + "': " + problem);
        if (!seen.insert(name).second)
            fail((*array)[i], key + " names '" + name + "' twice");
        names[i] = name;
    }
}

void readText(const toml::table& table, MatrixConfig& matrix)
{
    if (const auto* node = table.get("text_port"))
        matrix.textPort = static_cast<int>(readInteger(*node, "text_port", 1, 65535));
    if (const auto* node = table.get("text_listen"))
        matrix.textListen = readAddress(*node, "text_listen");
    if (const auto* node = table.get("text_allow"))
        matrix.textAllow = readAllowList(*node, "text_allow");
    if (const auto* node = table.get("text_serial")) {
        matrix.textSerial = readString(*node, "text_serial");
        if (matrix.textSerial.empty() || matrix.textSerial.front() != '/')
            fail(*node, "text_serial must be an absolute device path");
    }
    if (const auto* node = table.get("text_baud")) {
        matrix.textBaud = static_cast<int>(readInteger(*node, "text_baud", 1200, 115200));
        constexpr int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
        if (std::find(std::begin(kRates), std::end(kRates), matrix.textBaud) == std::end(kRates))
            fail(*node, "text_baud must be one of 1200 2400 4800 9600 19200 38400 57600 115200");
    }
}

// Exactly one of tcp, com and serial says how the matrix is reached.
void readLink(const toml::table& table, MatrixConfig& matrix)
{
    const auto* tcp = table.get("tcp");
    const auto* com = table.get("com");
    const auto* serial = table.get("serial");
    if ((tcp != nullptr) + (com != nullptr) + (serial != nullptr) != 1)
        fail(table, "matrix '" + matrix.id + "' needs exactly one of tcp, com, serial");
    if (tcp) {
        matrix.link.kind = client::LinkTarget::Kind::Tcp;
        matrix.link.address = readAddress(*tcp, "tcp");
    } else if (com) {
        matrix.link.kind = client::LinkTarget::Kind::Com;
        matrix.link.comPort = static_cast<int>(readInteger(*com, "com", kFirstComPort, kLastComPort));
    } else {
        matrix.link.kind = client::LinkTarget::Kind::Com;
        matrix.link.comPort = kFirstComPort;
        matrix.serialPath = readString(*serial, "serial");
        if (matrix.serialPath.empty() || matrix.serialPath.front() != '/')
            fail(*serial, "serial must be an absolute device path");
    }
}

void readVideohub(const toml::table& table, MatrixConfig& matrix)
{
    if (const auto* node = table.get("videohub_port"))
        matrix.videohubPort = static_cast<int>(readInteger(*node, "videohub_port", 1, 65535));
    // Videohub has no authentication of its own: loopback unless the file opens it.
    if (const auto* node = table.get("videohub_listen"))
        matrix.videohubListen = readAddress(*node, "videohub_listen");
    if (const auto* node = table.get("videohub_unique_id")) {
        matrix.videohubUniqueId = readString(*node, "videohub_unique_id");
        const bool hex12 = matrix.videohubUniqueId.size() == 12 &&
                           std::all_of(matrix.videohubUniqueId.begin(), matrix.videohubUniqueId.end(),
                                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
        if (!hex12)
            fail(*node, "videohub_unique_id must be 12 upper-case hex digits");
    }
    if (const auto* node = table.get("videohub_allow"))
        matrix.videohubAllow = readAllowList(*node, "videohub_allow");
    if (const auto* node = table.get("videohub_idle_seconds"))
        matrix.videohubIdleSeconds = static_cast<int>(readInteger(*node, "videohub_idle_seconds", 1, 86400));
}

MatrixConfig readMatrix(const toml::table& table)
{
    rejectUnknownKeys(table, "[[matrix]]",
                      {"id", "name", "tcp", "com", "serial", "poll_seconds", "inputs", "outputs", "videohub_port",
                       "videohub_listen", "videohub_unique_id", "videohub_allow", "videohub_idle_seconds", "text_port",
                       "text_listen", "text_allow", "text_serial", "text_baud", "catch_up_minutes"});
    MatrixConfig matrix;
    const auto* id = table.get("id");
    if (!id)
        fail(table, "[[matrix]] needs id");
    matrix.id = readString(*id, "id");
    if (!validId(matrix.id))
        fail(*id, "id must be 1-64 of a-z 0-9 -, not '" + matrix.id + "'");
    matrix.name = matrix.id;
    if (const auto* node = table.get("name")) {
        matrix.name = readString(*node, "name");
        checkName(*node, "name", matrix.name);
    }

    readLink(table, matrix);
    if (const auto* node = table.get("poll_seconds"))
        matrix.pollSeconds = static_cast<int>(readInteger(*node, "poll_seconds", 0, 3600));
    for (int i = 0; i < client::kPortCount; ++i) {
        matrix.inputs[i] = "Input " + std::to_string(i + 1);
        matrix.outputs[i] = "Output " + std::string(1, static_cast<char>('A' + i));
    }
    if (const auto* node = table.get("inputs"))
        readNames(*node, "inputs", matrix.inputs);
    if (const auto* node = table.get("outputs"))
        readNames(*node, "outputs", matrix.outputs);
    readVideohub(table, matrix);
    readText(table, matrix);
    // At most an hour, so that a waiting run never meets the schedule's next one.
    if (const auto* node = table.get("catch_up_minutes"))
        matrix.catchUpMinutes = static_cast<int>(readInteger(*node, "catch_up_minutes", 0, 60));
    return matrix;
}

// [http], [[token]], [state] and [mqtt].
void readSections(const toml::table& root, Config& config, Warnings& warnings)
{
    if (const auto* node = root.get("http")) {
        if (!node->is_table())
            fail(*node, "http must be a section");
        readHttp(*node->as_table(), config.http, warnings);
    }
    if (const auto* node = root.get("token"))
        readTokens(*node, config.http);
    requireTokenOffLoopback(root, config.http);
    if (const auto* node = root.get("state")) {
        if (!node->is_table())
            fail(*node, "state must be a section");
        rejectUnknownKeys(*node->as_table(), "[state]", {"dir"});
        if (const auto* dir = node->as_table()->get("dir"))
            config.state.dir = readString(*dir, "dir");
        if (config.state.dir.empty())
            fail(*node, "dir must not be empty");
    }
    if (const auto* node = root.get("mqtt")) {
        if (!node->is_table())
            fail(*node, "mqtt must be a section");
        config.mqtt.emplace();
        readMqtt(*node->as_table(), *config.mqtt);
    }
}

// The [[matrix]] sections: unique ids, and no listening port or serial
// device taken twice in the file.
void readMatrices(const toml::table& root, Config& config)
{
    const auto* matrices = root.get("matrix");
    if (!matrices)
        fail(root, "no [[matrix]] configured");
    if (!matrices->is_array_of_tables())
        fail(*matrices, "matrix must be [[matrix]] sections");
    std::set<std::string> ids;
    std::set<std::pair<std::string, int>> listenPorts;
    std::map<std::string, bool> serialDevices;  // device -> taken by a text line
    // A listener on HTTP's port clashes when either side listens on every address.
    const auto takesHttpPort = [&](const std::string& listen, int port) {
        return port == config.http.port &&
               (listen == config.http.host || listen == "0.0.0.0" || config.http.host == "0.0.0.0");
    };
    for (const auto& entry : *matrices->as_array()) {
        MatrixConfig matrix = readMatrix(*entry.as_table());
        if (!ids.insert(matrix.id).second)
            fail(*entry.as_table()->get("id"), "duplicate matrix id '" + matrix.id + "'");
        if (matrix.videohubPort && (!listenPorts.insert({matrix.videohubListen, *matrix.videohubPort}).second ||
                                    takesHttpPort(matrix.videohubListen, *matrix.videohubPort)))
            fail(*entry.as_table()->get("videohub_port"), "videohub_port is already in use in this file");
        // Videohub and text ports share one table: neither may take the other's or HTTP's.
        if (matrix.textPort && (!listenPorts.insert({matrix.textListen, *matrix.textPort}).second ||
                                takesHttpPort(matrix.textListen, *matrix.textPort)))
            fail(*entry.as_table()->get("text_port"), "text_port is already in use in this file");
        // A text line holds its device alone: no matrix link and no other text line may share it.
        const auto claim = [&](const std::string& device, bool text, const char* key) {
            if (device.empty())
                return;
            const auto [it, fresh] = serialDevices.try_emplace(device, text);
            if (!fresh && (text || it->second))
                fail(*entry.as_table()->get(key),
                     std::string(key) + " '" + device + "' is already in use in this file");
        };
        claim(matrix.serialPath, false, "serial");
        claim(matrix.textSerial, true, "text_serial");
        config.matrices.push_back(std::move(matrix));
    }
}

Config readConfig(const toml::table& root, const std::string& path, Warnings& warnings)
{
    rejectUnknownKeys(root, "the file", {"http", "token", "state", "mqtt", "matrix"});
    Config config;
    config.path = path;
    readSections(root, config, warnings);
    readMatrices(root, config);
    for (MatrixConfig& matrix : config.matrices)
        if (matrix.videohubUniqueId.empty())
            matrix.videohubUniqueId = derivedUniqueId(config.mqtt ? config.mqtt->clientId : "matrixd", matrix.id);
    return config;
}

}  // namespace

std::string derivedUniqueId(const std::string& instance, const std::string& matrixId)
{
    // FNV-1a over "instance/id": the same on every start, different per
    // matrix and per matrixd on one network.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : instance + "/" + matrixId) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char text[13];
    std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(hash & 0xFFFFFFFFFFFFULL));
    return text;
}

bool isLoopbackHost(const std::string& dottedIpv4)
{
    const auto address = parseDottedIpv4(dottedIpv4);
    return address && (*address >> 24) == 127;
}

TokenTable makeTokenTable(const HttpConfig& http)
{
    TokenTable table;
    if (!http.token.empty())
        table.add("token", Role::Admin, http.token);
    for (const TokenConfig& token : http.tokens)
        table.add(token.name, token.role, token.secret);
    return table;
}

ConfigResult parseConfig(const std::string& text, const std::string& path)
{
    ConfigResult result;
    try {
        const toml::table root = toml::parse(text, path);
        Warnings warnings;
        result.config = readConfig(root, path, warnings);
        for (const ConfigError& warning : warnings)
            result.warnings.push_back(path + ":" + std::to_string(warning.line) + ": " + warning.problem);
    } catch (const toml::parse_error& error) {
        result.error = path + ":" + std::to_string(error.source().begin.line) + ": " + std::string(error.description());
    } catch (const ConfigError& error) {
        result.error = path + ":" + std::to_string(error.line) + ": " + error.problem;
    }
    return result;
}

ConfigResult loadConfig(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {std::nullopt, path + ":0: cannot be read", {}};
    std::stringstream content;
    content << in.rdbuf();
    ConfigResult result = parseConfig(content.str(), path);
    if (result.config && !result.config->http.webRootGiven)
        result.config->http.webRoot = defaultWebRoot();
    return result;
}

std::string defaultWebRoot()
{
    // Installed (the package's place, then this build's install prefix),
    // else the page of the source tree this program was built from, so a
    // build tree serves it with no web_root at all.
    const char* candidates[] = {kPackagedWebRoot, MATRIXD_INSTALLED_WEB_ROOT, MATRIXD_SOURCE_WEB_ROOT};
    for (const char* dir : candidates) {
        std::error_code error;
        if (*dir && std::filesystem::is_directory(dir, error))
            return dir;
    }
    return kPackagedWebRoot;
}

}  // namespace matrix::service
