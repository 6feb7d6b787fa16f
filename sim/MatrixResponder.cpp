// SPDX-License-Identifier: Apache-2.0
#include "sim/MatrixResponder.h"

#include "core/protocol/Protocol.h"

#include <algorithm>

namespace matrix::sim {

MatrixResponder::MatrixResponder(EventLoop& loop, MatrixDevice& device)
    : loop_(loop),
      device_(device),
      alive_(std::make_shared<bool>(true))
{
}

MatrixResponder::~MatrixResponder()
{
    *alive_ = false;
    for (int id = 1; id <= delayTimerId_; ++id)
        loop_.killTimer(this, id);
}

void MatrixResponder::receive(const std::uint8_t* data, std::size_t length)
{
    // A block that stalls is given up, as the matrix's receiver does: the
    // bytes that come after the pause are frames again, not block data.
    if (rawExpected_ > 0 && loop_.nowMs() - rawLastByteMs_ > kRawBlockGapMs) {
        rawExpected_ = 0;
        rawBuffer_.clear();
        rawHandler_ = nullptr;
    }
    if (length > 0)
        rawLastByteMs_ = loop_.nowMs();
    for (std::size_t i = 0; i < length; ++i) {
        if (rawExpected_ > 0) {
            rawBuffer_.push_back(data[i]);
            if (rawBuffer_.size() == rawExpected_) {
                rawExpected_ = 0;
                auto handler = std::move(rawHandler_);
                Bytes block = std::move(rawBuffer_);
                rawBuffer_.clear();
                if (handler)
                    handler(block);
            }
            continue;
        }
        if (auto frame = assembler_.feed(data[i]))
            dispatch(*frame);
    }
}

void MatrixResponder::expectRawBlock(std::size_t length, RawHandler handler)
{
    rawExpected_ = length;
    rawBuffer_.clear();
    rawLastByteMs_ = loop_.nowMs();
    rawHandler_ = std::move(handler);
}

void MatrixResponder::dispatch(const CommandFrame& frame)
{
    received_.push_back(frame);
    // The matrix ignores frames whose sum is wrong.
    if (!frame.checksumOk())
        return;
    auto it = handlers_.find(frame.command());
    if (it == handlers_.end())
        return;
    for (auto& handler : it->second)
        handler(frame);
}

void MatrixResponder::reply(int command, int subCommand, int p1, int p2, int p3)
{
    replyFrame(CommandFrame().set(2, command).set(3, subCommand).set(4, p1).set(5, p2).set(6, p3).seal());
}

void MatrixResponder::onPortQuery(std::uint8_t command, std::uint8_t sub, std::function<CommandFrame(int)> reply)
{
    onCommand(command, [this, sub, reply = std::move(reply)](const CommandFrame& f) {
        const int port = f.p1();
        if (f.subCommand() == sub && port >= 1 && port <= MatrixDevice::kPorts)
            replyFrame(reply(port));
    });
}

void MatrixResponder::replyFrame(const CommandFrame& frame)
{
    Bytes bytes(frame.data(), frame.data() + CommandFrame::kSize);
    if (corruptCount_ > 0) {
        --corruptCount_;
        bytes[12] = static_cast<std::uint8_t>(bytes[12] + 1);
    }
    queueReply(std::move(bytes));
}

void MatrixResponder::sendBytes(const Bytes& bytes) { queueReply(bytes); }

void MatrixResponder::setCoalesce(int count)
{
    coalesceCount_ = count;
    if (count <= 1 && !coalesced_.empty()) {
        Bytes held = std::move(coalesced_);
        coalesced_.clear();
        coalescedReplies_ = 0;
        deliver(held);
    }
}

void MatrixResponder::clearFaults()
{
    dropCount_ = 0;
    corruptCount_ = 0;
    delayMs_ = 0;
    splitBytes_ = 0;
    setCoalesce(0);
}

void MatrixResponder::sendNoise(const Bytes& noise) { deliver(noise); }

void MatrixResponder::sendStandby()
{
    const CommandFrame standby = protocol::standbyFrame();
    deliver(Bytes(standby.data(), standby.data() + CommandFrame::kSize));
}

void MatrixResponder::closeLink()
{
    if (closeLink_)
        closeLink_();
}

void MatrixResponder::queueReply(Bytes bytes)
{
    if (silent_)
        return;
    if (dropCount_ > 0) {
        --dropCount_;
        return;
    }
    if (coalesceCount_ > 1) {
        coalesced_.insert(coalesced_.end(), bytes.begin(), bytes.end());
        if (++coalescedReplies_ < coalesceCount_)
            return;
        bytes = std::move(coalesced_);
        coalesced_.clear();
        coalescedReplies_ = 0;
    }
    if (delayMs_ > 0) {
        int id = ++delayTimerId_;
        auto alive = alive_;
        loop_.startTimer(this, id, delayMs_, [this, id, alive, bytes] {
            if (!*alive)
                return;
            loop_.killTimer(this, id);
            deliver(bytes);
        });
        return;
    }
    deliver(bytes);
}

void MatrixResponder::deliver(const Bytes& bytes)
{
    if (!transmit_)
        return;
    if (splitBytes_ == 0 || bytes.size() <= splitBytes_) {
        transmit_(bytes);
        return;
    }
    for (std::size_t at = 0; at < bytes.size(); at += splitBytes_) {
        std::size_t n = std::min(splitBytes_, bytes.size() - at);
        transmit_(Bytes(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + n)));
    }
}

}  // namespace matrix::sim
