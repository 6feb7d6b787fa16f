// SPDX-License-Identifier: Apache-2.0
// matrixd: the configured matrices on the network. One client per matrix
// on the Qt loop thread; the front-ends (HTTP API with events and the web
// page, and whatever else the config turns on) are adapters over the hub.

#include "platform/QtEventLoop.h"
#include "platform/QtLinkSocket.h"
#include "platform/QtSerialPort.h"
#include "platform/SignalQuit.h"
#include "service/http/HttpServer.h"
#include "service/hub/Config.h"
#include "service/hub/Hub.h"
#include "service/hub/Log.h"
#include "service/hub/StateStore.h"
#include "service/mqtt/MqttFrontEnd.h"
#include "service/text/TextFrontEnd.h"
#include "service/videohub/VideohubServer.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QMetaObject>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include <sys/resource.h>

using namespace matrix;
using namespace matrix::service;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

constexpr const char* kUsage =
    "Usage: matrixd --config FILE [--verbose]\n"
    "Serves the matrices configured in FILE over HTTP (API, events, web page).\n"
    "  --config FILE  the TOML configuration (see /usr/share/doc/matrix-control/examples/matrixd.toml)\n"
    "  --verbose      log every request, and every frame sent to and received from the matrices\n"
    "  --check        check the configuration and the state file, then exit\n"
    "  --help         this text\n";

std::unique_ptr<client::MatrixClient> makeClient(EventLoop& loop, const MatrixConfig& config)
{
    const std::string serialPath = config.serialPath;
    client::MatrixClient::SerialFactory serial = [serialPath]() -> std::unique_ptr<SerialChannel> {
        auto port = std::make_unique<QtSerialPort>();
        if (!serialPath.empty())
            port->setDeviceOverride(serialPath);
        return port;
    };
    client::MatrixClient::Options options;
    options.supervise = true;
    return std::make_unique<client::MatrixClient>(loop, std::move(serial), std::make_unique<QtLinkSocket>(), options);
}

// Each HTTP connection is a descriptor, and the usual soft limit (1024) is
// below max_connections plus what the links and the loop hold. Nothing here
// uses select(), so the higher limit is safe.
void raiseDescriptorLimit(int maxConnections)
{
    constexpr rlim_t kOtherDescriptors = 256;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = static_cast<rlim_t>(maxConnections) + kOtherDescriptors;
    if (limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = std::min(wanted, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
}

// The command line, parsed by CLI11 with matrixd's own texts: an empty
// message means go on; otherwise the exit status says whether it was --help.
std::optional<int> parseCommandLine(int argc, char** argv, std::string& configPath, bool& checkOnly)
{
    CLI::App parser;
    parser.set_help_flag();
    parser.allow_extras();
    bool help = false;
    bool verboseFlag = false;
    parser.add_flag("-h,--help", help);
    parser.add_flag("-v,--verbose", verboseFlag)->disable_flag_override();
    parser.add_flag("--check", checkOnly)->disable_flag_override();
    parser.add_option("--config", configPath)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    try {
        parser.parse(argc, argv);
    } catch (const CLI::ParseError&) {
        std::cerr << "matrixd: --config FILE is needed\n" << kUsage;
        return kExitUsage;
    }
    if (help) {
        std::cout << kUsage;
        return 0;
    }
    if (!parser.remaining().empty()) {
        std::cerr << "matrixd: unknown argument '" << parser.remaining().front() << "'\n" << kUsage;
        return kExitUsage;
    }
    if (configPath.empty()) {
        std::cerr << "matrixd: --config FILE is needed\n" << kUsage;
        return kExitUsage;
    }
    setVerbose(verboseFlag);
    return std::nullopt;
}

// The configuration checked whole, TLS pair included; an exit status when it cannot be used.
std::optional<int> loadCheckedConfig(const std::string& configPath, ConfigResult& loaded)
{
    loaded = loadConfig(configPath);
    if (!loaded.config) {
        std::cerr << loaded.error << std::endl;
        return kExitUsage;
    }
    const HttpConfig& http = loaded.config->http;
    for (const std::string& warning : loaded.warnings)
        logLine("matrixd: " + warning);
    if (!http.tlsCert.empty()) {
        if (const auto problem = HttpServer::checkTlsCredentials(http.tlsCert, http.tlsKey)) {
            std::cerr << configPath << ": [http] tls_cert_file '" << http.tlsCertFile << "' and tls_key_file '"
                      << http.tlsKeyFile << "' make no usable certificate and key: " << *problem << std::endl;
            return kExitUsage;
        }
    }
    return std::nullopt;
}

HttpServer::Options httpOptionsOf(const HttpConfig& http)
{
    HttpServer::Options options;
    static_cast<HttpConfig&>(options) = http;
    return options;
}

// A Videohub server for each matrix that asks for one (videohub_port); false when one cannot listen.
bool startVideohubServers(Hub& hub, std::vector<std::unique_ptr<videohub::VideohubServer>>& servers)
{
    std::string error;
    for (MatrixUnit* unit : hub.units()) {
        const MatrixConfig& matrix = unit->config();
        if (!matrix.videohubPort)
            continue;
        auto server = std::make_unique<videohub::VideohubServer>(hub, *unit);
        const QHostAddress address(QString::fromStdString(matrix.videohubListen));
        if (!server->listen(address, static_cast<quint16>(*matrix.videohubPort), &error)) {
            std::cerr << "matrixd: " << matrix.id << ": videohub: " << error << std::endl;
            return false;
        }
        logLine(matrix.id + ": videohub on " + matrix.videohubListen + ":" + std::to_string(*matrix.videohubPort));
        servers.push_back(std::move(server));
    }
    return true;
}

// The text protocol for each matrix that asks for it (text_port, text_serial); false when one cannot start.
bool startTextFrontEnds(Hub& hub, EventLoop& loop, std::vector<std::unique_ptr<text::TextFrontEnd>>& frontEnds)
{
    std::string error;
    for (MatrixUnit* unit : hub.units()) {
        if (!unit->config().textPort && unit->config().textSerial.empty())
            continue;
        auto frontEnd = std::make_unique<text::TextFrontEnd>(hub, *unit, loop);
        if (!frontEnd->start(&error)) {
            std::cerr << "matrixd: " << unit->id() << ": text: " << error << std::endl;
            return false;
        }
        frontEnds.push_back(std::move(frontEnd));
    }
    return true;
}

// Reads the state file (creating its directory first unless only checking); with --check,
// the exit status once the state file was read.
std::optional<int> openStateOrCheck(const Config& config, const std::string& configPath, bool checkOnly,
                                    StateStore& store)
{
    if (!checkOnly)
        StateStore::createDirectory(config.state.dir);
    if (const auto error = store.load()) {
        std::cerr << "matrixd: " << *error << std::endl;
        return kExitFailure;
    }
    if (!checkOnly)
        return std::nullopt;
    const std::size_t count = config.matrices.size();
    std::cout << configPath << ": ok, " << count << (count == 1 ? " matrix" : " matrices") << std::endl;
    return 0;
}

std::string listenText(const HttpConfig& http)
{
    return std::string(http.tlsCert.empty() ? "http://" : "https://") + http.host + ":" + std::to_string(http.port) +
           (http.token.empty() && http.tokens.empty() ? " (no token)" : " (token required)");
}

}  // namespace

int main(int argc, char** argv)
{
    std::string configPath;
    bool checkOnly = false;
    if (const auto exitStatus = parseCommandLine(argc, argv, configPath, checkOnly))
        return *exitStatus;

    // The whole file is checked before any device or port is touched.
    ConfigResult loaded;
    if (const auto exitStatus = loadCheckedConfig(configPath, loaded))
        return *exitStatus;
    const Config& config = *loaded.config;

    StateStore store(config.state.dir);
    if (const auto exitStatus = openStateOrCheck(config, configPath, checkOnly, store))
        return *exitStatus;

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("matrixd");
    SignalQuit signalQuit;
    QtEventLoop loop;

    Hub hub;
    for (const MatrixConfig& matrix : config.matrices)
        hub.add(std::make_unique<MatrixUnit>(hub, loop, matrix, makeClient(loop, matrix), &store));

    raiseDescriptorLimit(config.http.maxConnections);
    HttpServer http(hub, httpOptionsOf(config.http));
    std::string error;
    if (!http.start(&error)) {
        std::cerr << "matrixd: " << error << std::endl;
        return kExitFailure;
    }
    // MQTT ([mqtt] in the config) and Videohub (videohub_port per matrix) start here.
    std::unique_ptr<MqttFrontEnd> mqtt;
    if (config.mqtt) {
        mqtt = std::make_unique<MqttFrontEnd>(hub, *config.mqtt);
        mqtt->start();
    }

    std::vector<std::unique_ptr<videohub::VideohubServer>> videohubServers;
    std::vector<std::unique_ptr<text::TextFrontEnd>> textFrontEnds;
    if (!startVideohubServers(hub, videohubServers) || !startTextFrontEnds(hub, loop, textFrontEnds)) {
        http.stop();
        return kExitFailure;
    }

    logLine("matrixd: listening on " + listenText(config.http));
    hub.startAll();

    const int result = QCoreApplication::exec();

    logLine("matrixd: stopping");
    http.stop();
    videohubServers.clear();  // controllers see their connection end, not the link go down
    textFrontEnds.clear();
    hub.stopAll();
    mqtt.reset();  // after the links closed, so the broker keeps each matrix as offline too
    return result;
}
