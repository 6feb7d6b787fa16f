// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include "core/protocol/Protocol.h"

namespace matrix::sim {

namespace p = protocol;

namespace {
bool validPort(int port) { return port >= 1 && port <= MatrixDevice::kPorts; }
bool switchValue(int value) { return value == p::kOn || value == p::kOff; }
}  // namespace

void installGeneralCommands(MatrixResponder& responder)
{
    MatrixDevice& device = responder.device();

    responder.onCommand(p::kStatusCommand, [&responder, &device](const CommandFrame& f) {
        switch (f.subCommand()) {
        case p::kDeviceTypeSub: responder.replyFrame(p::deviceTypeReply(device.deviceType)); break;
        case p::kMatrixSizeSub: responder.replyFrame(p::matrixSizeReply(device.inputCount, device.outputCount)); break;
        case p::kVersionSub: responder.replyFrame(p::versionReply(device.versionMajor, device.versionMinor)); break;
        case p::kIrStateSub: responder.replyFrame(p::irStateReply(device.irOn)); break;
        case p::kBeepStateSub: responder.replyFrame(p::beepStateReply(device.beepOn)); break;
        default: break;
        }
    });

    responder.onPortQuery(p::kStatusCommand, p::kInputCableSub,
                          [&device](int input) { return p::cableReply(false, input, device.inputCable[input - 1]); });
    responder.onPortQuery(p::kStatusCommand, p::kOutputCableSub, [&device](int output) {
        return p::cableReply(true, output, device.outputCable[output - 1]);
    });

    // Route input p1 to output p3; acknowledged with p1 = 0, p3 = output.
    responder.onCommand(p::kRoutingCommand, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() == p::kRouteSub) {
            const int input = f.p1();
            const int output = f.p3();
            if (!validPort(input) || !validPort(output))
                return;
            device.routing[output - 1] = input;
            responder.replyFrame(p::routeAck(Output{output}));
        }
    });

    responder.onCommand(p::kIrCommand, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() != p::kSwitchSub || !switchValue(f.p1()))
            return;
        device.irOn = f.p1() == p::kOn;
        responder.replyFrame(p::switchAck(p::kIrCommand));
    });

    responder.onCommand(p::kBeepCommand, [&responder, &device](const CommandFrame& f) {
        if (f.subCommand() != p::kSwitchSub || !switchValue(f.p1()))
            return;
        device.beepOn = f.p1() == p::kOn;
        responder.replyFrame(p::switchAck(p::kBeepCommand));
    });
}

}  // namespace matrix::sim
