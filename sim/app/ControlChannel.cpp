// SPDX-License-Identifier: Apache-2.0
#include "sim/app/ControlChannel.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <iostream>
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
    : QObject(parent), context_(context), unplugSerial_(std::move(unplugSerial))
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
    std::istringstream in(line);
    std::string word;
    in >> word;
    SimKnobs& knobs = context_.knobs();
    int value = 0;
    bool ok = true;

    if (word == "drop" && readCount(in, value)) {
        context_.forEachLink([value](sim::MatrixResponder& r, LinkKind) { r.dropNextReplies(value); });
    } else if (word == "corrupt" && readCount(in, value)) {
        context_.forEachLink([value](sim::MatrixResponder& r, LinkKind) { r.corruptNextChecksum(value); });
    } else if (word == "silent") {
        std::string state;
        in >> state;
        ok = state == "on" || state == "off";
        if (ok) {
            knobs.silent = state == "on";
            context_.forEachLink([&knobs](sim::MatrixResponder& r, LinkKind) { r.setSilent(knobs.silent); });
        }
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
    } else if (word == "standby") {
        context_.forEachLink([](sim::MatrixResponder& r, LinkKind) { r.sendStandby(); });
    } else if (word == "noise") {
        sim::MatrixResponder::Bytes noise;
        std::string hex;
        while (ok && in >> hex) {
            std::size_t used = 0;
            unsigned long byte = 0;
            try {
                byte = std::stoul(hex, &used, 16);
            } catch (...) {
                used = 0;
            }
            ok = used == hex.size() && byte <= 0xFF;
            noise.push_back(static_cast<std::uint8_t>(byte));
        }
        ok = ok && !noise.empty();
        if (ok)
            context_.forEachLink([&noise](sim::MatrixResponder& r, LinkKind) { r.sendNoise(noise); });
    } else if (word == "close") {
        context_.forEachLink([](sim::MatrixResponder& r, LinkKind kind) {
            if (kind == LinkKind::Tcp)
                r.closeLink();
        });
    } else if (word == "unplug") {
        ok = static_cast<bool>(unplugSerial_);
        if (ok)
            unplugSerial_();
    } else if (word == "route") {
        int output = 0;
        int input = 0;
        ok = readCount(in, output) && readCount(in, input) && output >= 1 &&
             output <= context_.device().outputCount && input >= 1 && input <= context_.device().inputCount;
        if (ok)
            context_.device().routing[static_cast<std::size_t>(output - 1)] = input;
    } else if (word == "cable") {
        std::string side;
        std::string state;
        in >> side;
        ok = readCount(in, value) && value >= 1;
        in >> state;
        auto& device = context_.device();
        ok = ok && (state == "on" || state == "off") &&
             ((side == "in" && value <= device.inputCount) || (side == "out" && value <= device.outputCount));
        if (ok)
            (side == "in" ? device.inputCable : device.outputCable)[static_cast<std::size_t>(value - 1)] = state == "on";
    } else if (word == "frames") {
        std::string text = "ok frames ";
        char cell[3];
        bool first = true;
        context_.forEachLink([&](sim::MatrixResponder& r, LinkKind) {
            for (const auto& frame : r.received()) {
                text += first ? "" : ",";
                first = false;
                for (std::size_t i = 0; i < CommandFrame::kSize; ++i) {
                    std::snprintf(cell, sizeof cell, "%02X", frame[i]);
                    text += cell;
                }
            }
            r.clearReceived();
        });
        return text;
    } else if (word == "links") {
        return "ok links " + std::to_string(context_.linkCount());
    } else if (word == "quit") {
        QCoreApplication::quit();
    } else {
        ok = false;
    }
    return (ok ? "ok " : "error ") + line;
}

}  // namespace matrix::simapp
