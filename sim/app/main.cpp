// SPDX-License-Identifier: Apache-2.0
// matrix-sim: the simulated matrix as a program. One device answers on
// TCP port 8000 and on a pseudo-terminal linked as COMn; it runs until
// SIGINT or SIGTERM and then removes its COM link.

#include "platform/QtEventLoop.h"
#include "platform/SignalQuit.h"
#include "sim/app/ControlChannel.h"
#include "sim/app/PtyFront.h"
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

// The simulator's sides, ended in reverse order of their start.
struct Fronts {
    std::unique_ptr<TcpFront> tcp;
    std::unique_ptr<PtyFront> serial;
    std::unique_ptr<UdpFront> udp;
    std::unique_ptr<ControlChannel> control;

    ~Fronts()
    {
        control.reset();
        udp.reset();
        serial.reset();
        tcp.reset();
    }
};

bool startTcp(const SimOptions& options, SimContext& context, Fronts& fronts)
{
    if (!options.tcp)
        return true;
    fronts.tcp = std::make_unique<TcpFront>(context);
    std::string error;
    if (!fronts.tcp->listen(options.tcpAddress, kMatrixTcpPort, &error)) {
        std::cerr << "matrix-sim: cannot listen on " << options.tcpAddressText << ":" << kMatrixTcpPort << ": " << error
                  << std::endl;
        return false;
    }
    std::cout << "listening tcp " << options.tcpAddressText << ":" << kMatrixTcpPort << std::endl;
    return true;
}

bool startSerial(const SimOptions& options, SimContext& context, Fronts& fronts)
{
    if (options.comNumber == 0)
        return true;
    fronts.serial = std::make_unique<PtyFront>(context, options.comDir, options.comNumber);
    std::string error;
    if (!fronts.serial->start(&error)) {
        std::cerr << "matrix-sim: serial side: " << error << std::endl;
        return false;
    }
    return true;
}

// Discovery (UDP 30600) and network configuration (UDP 30601), for the
// same device as the TCP and serial sides.
bool startUdp(const SimOptions& options, SimContext& context, Fronts& fronts)
{
    if (options.mac)
        context.device().mac = *options.mac;
    if (options.ip)
        context.device().ip = *options.ip;
    if (!options.udp)
        return true;
    fronts.udp = std::make_unique<UdpFront>(context);
    std::string error;
    if (!fronts.udp->start(&error)) {
        std::cerr << "matrix-sim: " << error << std::endl;
        return false;
    }
    std::cout << "listening udp 30600 30601" << std::endl;
    return true;
}

void startControl(const SimOptions& options, SimContext& context, Fronts& fronts)
{
    if (!options.controlStdin)
        return;
    std::function<void()> unplug;
    if (fronts.serial)
        unplug = [serial = fronts.serial.get()] { serial->unplug(); };
    fronts.control = std::make_unique<ControlChannel>(context, unplug);
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
    int result = 1;
    {
        Fronts fronts;
        if (!startTcp(*options, context, fronts) || !startSerial(*options, context, fronts) ||
            !startUdp(*options, context, fronts))
            return 1;
        startControl(*options, context, fronts);
        result = QCoreApplication::exec();
    }
    if (!options->firmwareDir.empty())
        writeFirmwareParts(context.device(), options->firmwareDir);
    std::cout << "stopped" << std::endl;
    return result;
}
