// SPDX-License-Identifier: Apache-2.0
#include "sim/app/ControlChannel.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>

#include <unistd.h>

namespace matrix::simapp {

namespace {

bool readCount(std::istringstream& in, int& value)
{
    in >> value;
    return !in.fail() && value >= 0;
}

}  // namespace

ControlChannel::ControlChannel(SimContext& context, std::function<void()> unplugSerial, QObject* parent)
    : QObject(parent),
      context_(context),
      unplugSerial_(std::move(unplugSerial))
{
    notifier_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ControlChannel::onReadable);
}

void ControlChannel::onReadable()
{
    char buffer[512];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        if (n < 0 && errno == EINTR)
            return;
        // End of input: the simulator keeps running, only the knobs are fixed now.
        notifier_->setEnabled(false);
        return;
    }
    partial_.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = partial_.find('\n')) != std::string::npos) {
        std::string line = partial_.substr(0, end);
        partial_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::cout << execute(line) << std::endl;
    }
}

std::string ControlChannel::execute(const std::string& line)
{
    static const std::map<std::string, Handler> kCommands = {
        {"silent", &ControlChannel::silent}, {"noise", &ControlChannel::noise}, {"close", &ControlChannel::closeTcp},
        {"unplug", &ControlChannel::unplug}, {"route", &ControlChannel::route}, {"cable", &ControlChannel::cable},
        {"frames", &ControlChannel::frames}, {"links", &ControlChannel::links}, {"standby", &ControlChannel::standby},
        {"quit", &ControlChannel::quit},
    };
    std::istringstream in(line);
    std::string word;
    in >> word;
    std::string reply;
    const auto command = kCommands.find(word);
    const bool ok = command != kCommands.end() ? (this->*command->second)(in, reply) : knob(word, in);
    if (!reply.empty())
        return reply;
    return (ok ? "ok " : "error ") + line;
}

// The counted knobs: each takes a number of 0 or more.
bool ControlChannel::knob(const std::string& word, std::istringstream& in)
{
    SimKnobs& knobs = context_.knobs();
    int value = 0;
    if (word == "drop" && readCount(in, value)) {
        context_.forEachLink([value](sim::MatrixResponder& r, LinkKind) { r.dropNextReplies(value); });
    } else if (word == "corrupt" && readCount(in, value)) {
        context_.forEachLink([value](sim::MatrixResponder& r, LinkKind) { r.corruptNextChecksum(value); });
    } else if (word == "delay" && readCount(in, value)) {
        knobs.replyDelayMs = value;
        context_.forEachLink([value](sim::MatrixResponder& r, LinkKind) { r.setReplyDelayMs(value); });
    } else if (word == "split" && readCount(in, value)) {
        knobs.splitBytes = value;
        context_.forEachLink(
            [value](sim::MatrixResponder& r, LinkKind) { r.setSplitSize(static_cast<std::size_t>(value)); });
    } else if (word == "coalesce" && readCount(in, value)) {
        knobs.coalesce = value;
        context_.forEachLink([value](sim::MatrixResponder& r, LinkKind) { r.setCoalesce(value); });
    } else {
        return false;
    }
    return true;
}

bool ControlChannel::silent(std::istringstream& in, std::string&)
{
    std::string state;
    in >> state;
    if (state != "on" && state != "off")
        return false;
    SimKnobs& knobs = context_.knobs();
    knobs.silent = state == "on";
    context_.forEachLink([&knobs](sim::MatrixResponder& r, LinkKind) { r.setSilent(knobs.silent); });
    return true;
}

bool ControlChannel::noise(std::istringstream& in, std::string&)
{
    sim::MatrixResponder::Bytes noise;
    std::string hex;
    bool ok = true;
    while (ok && in >> hex) {
        std::size_t used = 0;
        unsigned long byte = 0;
        try {
            byte = std::stoul(hex, &used, 16);
        } catch (...) {
            used = 0;
        }
        ok = used == hex.size() && byte <= std::numeric_limits<std::uint8_t>::max();
        noise.push_back(static_cast<std::uint8_t>(byte));
    }
    if (!ok || noise.empty())
        return false;
    context_.forEachLink([&noise](sim::MatrixResponder& r, LinkKind) { r.sendNoise(noise); });
    return true;
}

bool ControlChannel::closeTcp(std::istringstream&, std::string&)
{
    context_.forEachLink([](sim::MatrixResponder& r, LinkKind kind) {
        if (kind == LinkKind::Tcp)
            r.closeLink();
    });
    return true;
}

bool ControlChannel::unplug(std::istringstream&, std::string&)
{
    if (!unplugSerial_)
        return false;
    unplugSerial_();
    return true;
}

bool ControlChannel::route(std::istringstream& in, std::string&)
{
    int output = 0;
    int input = 0;
    auto& device = context_.device();
    if (!readCount(in, output) || !readCount(in, input) || output < 1 || output > device.outputCount || input < 1 ||
        input > device.inputCount)
        return false;
    device.routing[static_cast<std::size_t>(output - 1)] = input;
    return true;
}

bool ControlChannel::cable(std::istringstream& in, std::string&)
{
    std::string side;
    std::string state;
    int port = 0;
    in >> side;
    bool ok = readCount(in, port) && port >= 1;
    in >> state;
    auto& device = context_.device();
    ok = ok && (state == "on" || state == "off") &&
         ((side == "in" && port <= device.inputCount) || (side == "out" && port <= device.outputCount));
    if (ok)
        (side == "in" ? device.inputCable : device.outputCable)[static_cast<std::size_t>(port - 1)] = state == "on";
    return ok;
}

bool ControlChannel::frames(std::istringstream&, std::string& reply)
{
    reply = "ok frames ";
    char cell[3];
    bool first = true;
    context_.forEachLink([&](sim::MatrixResponder& r, LinkKind) {
        for (const auto& frame : r.received()) {
            reply += first ? "" : ",";
            first = false;
            for (std::size_t i = 0; i < CommandFrame::kSize; ++i) {
                std::snprintf(cell, sizeof cell, "%02X", frame[i]);
                reply += cell;
            }
        }
        r.clearReceived();
    });
    return true;
}

bool ControlChannel::links(std::istringstream&, std::string& reply)
{
    reply = "ok links " + std::to_string(context_.linkCount());
    return true;
}

bool ControlChannel::standby(std::istringstream&, std::string&)
{
    context_.forEachLink([](sim::MatrixResponder& r, LinkKind) { r.sendStandby(); });
    return true;
}

bool ControlChannel::quit(std::istringstream&, std::string&)
{
    QCoreApplication::quit();
    return true;
}

}  // namespace matrix::simapp
