// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

namespace matrix::sim {

namespace {
constexpr int kNoCable = 0xFF;
constexpr int kOn = 0x0F;
constexpr int kOff = 0xF0;
}  // namespace

void installGeneralCommands(MatrixResponder& responder)
{
    MatrixDevice& device = responder.device();

    responder.onCommand(0x01, [&responder, &device](const CommandFrame& f) {
        const int port = f.p1();
        switch (f.subCommand()) {
        case 0x01:
            responder.reply(1, 1, device.deviceType);
            break;
        case 0x02:
            responder.reply(1, 2, device.inputCount, 0, device.outputCount);
            break;
        case 0x03:
            responder.reply(1, 3, device.versionMajor, 0, device.versionMinor);
            break;
        case 0x04:
            if (port >= 1 && port <= MatrixDevice::kPorts)
                responder.reply(1, 4, port, 0, device.inputCable[port - 1] ? 1 : kNoCable);
            break;
        case 0x05:
            if (port >= 1 && port <= MatrixDevice::kPorts)
                responder.reply(1, 5, port, 0, device.outputCable[port - 1] ? 1 : kNoCable);
            break;
        case 0x0A:
            responder.reply(1, 0x0A, 0, 0, device.irOn ? 1 : kNoCable);
            break;
        case 0x0B:
            responder.reply(1, 0x0B, 0, 0, device.beepOn ? 1 : kNoCable);
            break;
        default:
            break;
        }
    });

    // Route input p1 to output p3; acknowledged with p1 = 0, p3 = output.
    responder.onCommand(0x02, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() == 0x03) {
            const int input = f.p1();
            const int output = f.p3();
            if (input < 1 || input > MatrixDevice::kPorts || output < 1 || output > MatrixDevice::kPorts)
                return;
            device.routing[output - 1] = input;
            responder.reply(2, 3, 0, 0, output);
        }
    });

    responder.onCommand(0x05, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() != 0x01 || (f.p1() != kOn && f.p1() != kOff))
            return;
        device.irOn = f.p1() == kOn;
        responder.reply(5, 1, 0, 0, 0);
    });

    responder.onCommand(0x06, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() != 0x01 || (f.p1() != kOn && f.p1() != kOff))
            return;
        device.beepOn = f.p1() == kOn;
        responder.reply(6, 1, 0, 0, 0);
    });
}

}  // namespace matrix::sim
