// SPDX-License-Identifier: Apache-2.0
// matrix-sim: the simulated matrix as a program. One device answers on
// TCP port 8000 and on a pseudo-terminal linked as COMn; it runs until
// SIGINT or SIGTERM and then removes its COM link.

#include "platform/QtEventLoop.h"
#include "sim/app/ControlChannel.h"
#include "sim/app/PtyFront.h"
#include "platform/SignalQuit.h"
#include "sim/app/SimContext.h"
#include "sim/app/SimOptions.h"
#include "sim/app/TcpFront.h"
#include "sim/app/UdpFront.h"

#include "core/transport/StreamSocket.h"

#include <QCoreApplication>

#include <fstream>

#include <functional>
#include <iostream>
#include <memory>

using namespace matrix;
using namespace matrix::simapp;

namespace {

// What the receiver reassembled, for a test to compare with the file sent.
void writeFirmwareParts(const sim::MatrixDevice& device, const std::string& dir)
{
    for (std::size_t part = 1; part < device.firmwarePart.size(); ++part) {
        const auto& image = device.firmwarePart[part];
        if (image.empty())
            continue;
        std::ofstream out(dir + "/part" + std::to_string(part) + ".bin", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("matrix-sim");

    std::string message;
    std::vector<std::string> arguments;
    for (const QString& argument : QCoreApplication::arguments())
        arguments.push_back(argument.toStdString());
    const auto options = parseSimOptions(arguments, &message);
    if (!options) {
        const bool help = message.rfind("Usage: ", 0) == 0;
        (help ? std::cout : std::cerr) << (help ? "" : "matrix-sim: ") << message << std::endl;
        return help ? 0 : 2;
    }

    SignalQuit signalQuit;
    QtEventLoop loop;
    SimContext context(loop, options->knobs);

    std::unique_ptr<TcpFront> tcp;
    if (options->tcp) {
        tcp = std::make_unique<TcpFront>(context);
        std::string error;
        if (!tcp->listen(options->tcpAddress, kMatrixTcpPort, &error)) {
            std::cerr << "matrix-sim: cannot listen on " << options->tcpAddressText << ":" << kMatrixTcpPort << ": "
                      << error << std::endl;
            return 1;
        }
        std::cout << "listening tcp " << options->tcpAddressText << ":" << kMatrixTcpPort << std::endl;
    }

    std::unique_ptr<PtyFront> serial;
    if (options->comNumber != 0) {
        serial = std::make_unique<PtyFront>(context, options->comDir, options->comNumber);
        std::string error;
        if (!serial->start(&error)) {
            std::cerr << "matrix-sim: serial side: " << error << std::endl;
            return 1;
        }
    }

    // Discovery (UDP 30600) and network configuration (UDP 30601), for the
    // same device as the TCP and serial sides.
    if (options->mac)
        context.device().mac = *options->mac;
    if (options->ip)
        context.device().ip = *options->ip;
    std::unique_ptr<UdpFront> udp;
    if (options->udp) {
        udp = std::make_unique<UdpFront>(context);
        std::string error;
        if (!udp->start(&error)) {
            std::cerr << "matrix-sim: " << error << std::endl;
            return 1;
        }
        std::cout << "listening udp 30600 30601" << std::endl;
    }

    std::unique_ptr<ControlChannel> control;
    if (options->controlStdin) {
        std::function<void()> unplug;
        if (serial)
            unplug = [&serial] { serial->unplug(); };
        control = std::make_unique<ControlChannel>(context, unplug);
    }

    const int result = QCoreApplication::exec();
    control.reset();
    udp.reset();
    serial.reset();
    tcp.reset();
    if (!options->firmwareDir.empty())
        writeFirmwareParts(context.device(), options->firmwareDir);
    std::cout << "stopped" << std::endl;
    return result;
}
