// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/BlockFormat.h"

namespace matrix::service::videohub {
namespace {

// A label is one line on the wire: a line break or other control byte in a
// name would end the line early and let the rest pass for protocol lines.
std::string lineSafe(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return out;
}

char lockLetter(const Backend& backend, LockId viewer, int output)
{
    const LockId owner = backend.lockOwner(output);
    if (owner == 0)
        return 'U';
    return owner == viewer ? 'O' : 'L';
}

std::string inputLabelLine(const Backend& backend, int input)
{
    return std::to_string(input) + " " + lineSafe(backend.inputLabel(input)) + "\n";
}

std::string outputLabelLine(const Backend& backend, int output)
{
    return std::to_string(output) + " " + lineSafe(backend.outputLabel(output)) + "\n";
}

std::string lockLine(const Backend& backend, LockId viewer, int output)
{
    return std::to_string(output) + " " + lockLetter(backend, viewer, output) + "\n";
}

// Empty while the output's input is unknown: no guess goes on the wire.
std::string routingLine(const Backend& backend, int output)
{
    const std::optional<int> input = backend.routedInput(output);
    if (!input || *input < 0 || *input >= kPorts)
        return {};
    return std::to_string(output) + " " + std::to_string(*input) + "\n";
}

std::string block(const char* header, const std::string& lines) { return std::string(header) + "\n" + lines + "\n"; }

// A block of one line per port, `line(port)` for ports 0 and up.
template <typename Line>
std::string portsBlock(const char* header, Line line)
{
    std::string lines;
    for (int port = 0; port < kPorts; ++port)
        lines += line(port);
    return block(header, lines);
}

}  // namespace

std::string preambleBlock() { return block(header::kPreamble, "Version: 2.3\n"); }

std::string deviceBlock(const Backend& backend)
{
    // Clients build their entities' ids from these, so they are there with
    // the matrix away too.
    const std::string ids = "Friendly name: " + lineSafe(backend.friendlyName()) +
                            "\n"
                            "Unique ID: " +
                            lineSafe(backend.uniqueId()) + "\n";
    if (!backend.present())
        return block(header::kDevice, "Device present: false\n" + ids);
    const std::string ports = std::to_string(kPorts);
    return block(header::kDevice, "Device present: true\n"
                                  "Model name: " +
                                      lineSafe(backend.modelName()) + "\n" + ids + "Video inputs: " + ports +
                                      "\n"
                                      "Video processing units: 0\n"
                                      "Video outputs: " +
                                      ports +
                                      "\n"
                                      "Video monitoring outputs: 0\n"
                                      "Serial ports: 0\n");
}

std::string inputLabelsBlock(const Backend& backend)
{
    return portsBlock(header::kInputLabels, [&](int input) { return inputLabelLine(backend, input); });
}

std::string outputLabelsBlock(const Backend& backend)
{
    return portsBlock(header::kOutputLabels, [&](int output) { return outputLabelLine(backend, output); });
}

std::string locksBlock(const Backend& backend, LockId viewer)
{
    return portsBlock(header::kLocks, [&](int output) { return lockLine(backend, viewer, output); });
}

std::string routingBlock(const Backend& backend)
{
    return portsBlock(header::kRouting, [&](int output) { return routingLine(backend, output); });
}

std::string endPreludeBlock() { return block(header::kEndPrelude, ""); }

std::string inputLabelUpdate(const Backend& backend, int input)
{
    return block(header::kInputLabels, inputLabelLine(backend, input));
}

std::string outputLabelUpdate(const Backend& backend, int output)
{
    return block(header::kOutputLabels, outputLabelLine(backend, output));
}

std::string lockUpdate(const Backend& backend, LockId viewer, int output)
{
    return block(header::kLocks, lockLine(backend, viewer, output));
}

std::string routingUpdate(const Backend& backend, int output)
{
    const std::string line = routingLine(backend, output);
    return line.empty() ? std::string() : block(header::kRouting, line);
}

std::string stateBlocks(const Backend& backend, LockId viewer)
{
    return deviceBlock(backend) + inputLabelsBlock(backend) + outputLabelsBlock(backend) + locksBlock(backend, viewer) +
           routingBlock(backend) + endPreludeBlock();
}

std::string statusDump(const Backend& backend, LockId viewer) { return preambleBlock() + stateBlocks(backend, viewer); }

}  // namespace matrix::service::videohub
