// SPDX-License-Identifier: Apache-2.0
#include "sim/app/ControlChannel.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
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
    } else if (word == "links") {
        return "ok links " + std::to_string(context_.linkCount());
    } else if (word == "frames") {
        // Every frame received on any link since the last ask, so that a
        // test can check what a program on the other side put on the wire.
        static const char digits[] = "0123456789ABCDEF";
        std::string answer = "ok frames";
        context_.forEachLink([&answer](sim::MatrixResponder& r, LinkKind) {
            for (const CommandFrame& frame : r.received()) {
                answer += ' ';
                for (std::uint8_t byte : frame.bytes()) {
                    answer += digits[byte >> 4];
                    answer += digits[byte & 0x0F];
                }
            }
            r.clearReceived();
        });
        return answer;
    } else if (word == "quit") {
        QCoreApplication::quit();
    } else {
        ok = false;
    }
    return (ok ? "ok " : "error ") + line;
}

}  // namespace matrix::simapp
