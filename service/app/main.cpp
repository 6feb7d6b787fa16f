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
#include "service/videohub/VideohubServer.h"
#include "service/mqtt/MqttFrontEnd.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QMetaObject>

#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

using namespace matrix;
using namespace matrix::service;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

constexpr const char* kUsage =
    "Usage: matrixd --config FILE [--verbose]\n"
    "Serves the matrices configured in FILE over HTTP (API, events, web page).\n"
    "  --config FILE  the TOML configuration (see /usr/share/doc/matrix-control/examples/matrixd.toml)\n"
    "  --verbose      log every frame sent to and received from the matrices\n"
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
    return std::make_unique<client::MatrixClient>(loop, std::move(serial), std::make_unique<QtLinkSocket>(),
                                                  options);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string configPath;
    bool checkOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc) {
            configPath = argv[++i];
        } else if (std::strncmp(argv[i], "--config=", 9) == 0) {
            configPath = argv[i] + 9;
        } else if (std::strcmp(argv[i], "--verbose") == 0 || std::strcmp(argv[i], "-v") == 0) {
            setVerbose(true);
        } else if (std::strcmp(argv[i], "--check") == 0) {
            checkOnly = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout << kUsage;
            return 0;
        } else {
            std::cerr << "matrixd: unknown argument '" << argv[i] << "'\n" << kUsage;
            return kExitUsage;
        }
    }
    if (configPath.empty()) {
        std::cerr << "matrixd: --config FILE is needed\n" << kUsage;
        return kExitUsage;
    }

    // The whole file is checked before any device or port is touched.
    const ConfigResult loaded = loadConfig(configPath);
    if (!loaded.config) {
        std::cerr << loaded.error << std::endl;
        return kExitUsage;
    }
    const Config& config = *loaded.config;
    for (const std::string& warning : loaded.warnings)
        logLine("matrixd: " + warning);

    if (!checkOnly)
        StateStore::createDirectory(config.state.dir);
    StateStore store(config.state.dir);
    if (const auto error = store.load()) {
        std::cerr << "matrixd: " << *error << std::endl;
        return kExitFailure;
    }
    if (checkOnly) {
        const std::size_t count = config.matrices.size();
        std::cout << configPath << ": ok, " << count << (count == 1 ? " matrix" : " matrices") << std::endl;
        return 0;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("matrixd");
    SignalQuit signalQuit;
    QtEventLoop loop;

    Hub hub;
    for (const MatrixConfig& matrix : config.matrices)
        hub.add(std::make_unique<MatrixUnit>(hub, loop, matrix, makeClient(loop, matrix), &store));

    // Front-ends. Each is an adapter over the hub; work from their own
    // threads reaches the hub through this invoker only.
    QObject loopContext;
    const LoopInvoker invoke = [&loopContext](std::function<void()> task) {
        QMetaObject::invokeMethod(&loopContext, std::move(task), Qt::QueuedConnection);
    };

    HttpServer::Options httpOptions;
    httpOptions.host = config.http.host;
    httpOptions.port = config.http.port;
    httpOptions.token = config.http.token;
    httpOptions.webRoot = config.http.webRoot;
    HttpServer http(hub, invoke, httpOptions);
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

    // A Videohub server for each matrix that asks for one (videohub_port).
    std::vector<std::unique_ptr<videohub::VideohubServer>> videohubServers;
    for (MatrixUnit* unit : hub.units()) {
        const MatrixConfig& matrix = unit->config();
        if (!matrix.videohubPort)
            continue;
        auto server = std::make_unique<videohub::VideohubServer>(hub, *unit);
        const QHostAddress address(QString::fromStdString(matrix.videohubListen));
        if (!server->listen(address, static_cast<quint16>(*matrix.videohubPort), &error)) {
            std::cerr << "matrixd: " << matrix.id << ": videohub: " << error << std::endl;
            http.stop();
            return kExitFailure;
        }
        logLine(matrix.id + ": videohub on " + matrix.videohubListen + ":" + std::to_string(*matrix.videohubPort));
        videohubServers.push_back(std::move(server));
    }

    logLine("matrixd: listening on http://" + config.http.host + ":" + std::to_string(config.http.port) +
            (config.http.token.empty() ? " (no token)" : " (token required)"));
    hub.startAll();

    const int result = QCoreApplication::exec();

    logLine("matrixd: stopping");
    http.stop();
    videohubServers.clear();  // controllers see their connection end, not the link go down
    hub.stopAll();
    mqtt.reset();  // after the links closed, so the broker keeps each matrix as offline too
    return result;
}
