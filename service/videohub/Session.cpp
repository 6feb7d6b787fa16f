// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/Session.h"

#include "service/videohub/BlockFormat.h"

#include <array>
#include <charconv>
#include <optional>
#include <utility>
#include <vector>

namespace matrix::service::videohub {
namespace {

constexpr int kIdleTimerId = 1;

// The names every front-end shows and the state file keeps: the HTTP API
// takes at most this much too.
constexpr std::size_t kMaxLabelBytes = 64;

std::optional<int> portNumber(std::string_view text) {
    int value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || text.front() == '-')
        return std::nullopt;
    if (value < 0 || value >= kPorts)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

// "n text": the port, then the label as the rest of the line.
std::optional<std::pair<int, std::string>> labelLine(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    const std::optional<int> port = portNumber(line.substr(0, space));
    std::string_view label = line.substr(space + 1);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\t'))
        label.remove_suffix(1);
    if (!port || label.empty() || label.size() > kMaxLabelBytes)
        return std::nullopt;
    for (unsigned char c : label) {
        if (c < 0x20 || c == 0x7F)
            return std::nullopt;
    }
    return std::make_pair(*port, std::string(label));
}

// What a browser sends first, whatever page made it post here: a request
// line ("POST / HTTP/1.1"). Its body could carry blocks; none may be acted on.
bool looksLikeHttpRequest(std::string_view line) {
    static constexpr std::string_view kMethods[] = {"GET ",    "POST ",    "PUT ",   "DELETE ", "HEAD ",
                                                    "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};
    for (std::string_view method : kMethods) {
        if (line.substr(0, method.size()) == method)
            return true;
    }
    return line.find(" HTTP/1.") != std::string_view::npos;
}

}  // namespace

Session::Session(Backend& backend, LockId self, Send send, IdleLimit idle)
    : backend_(backend), self_(self), send_(std::move(send)), idle_(std::move(idle)) {}

Session::~Session() {
    if (idle_.loop)
        idle_.loop->killTimer(this, kIdleTimerId);
}

void Session::armIdle() {
    if (!idle_.loop || idle_.ms <= 0)
        return;
    idle_.loop->startTimer(this, kIdleTimerId, idle_.ms, [this] {
        idle_.loop->killTimer(this, kIdleTimerId);
        if (idle_.onIdle)
            idle_.onIdle();
    });
}

void Session::put(const std::string& bytes) {
    if (bytes.empty())
        return;
    if (held_)
        *held_ += bytes;
    else
        send_(bytes);
}

void Session::start() {
    armIdle();
    presentShown_ = backend_.present();
    put(statusDump(backend_, self_));
}

bool Session::receive(std::string_view bytes) {
    armIdle();
    std::vector<Block> blocks;
    const bool keep = reader_.feed(bytes, blocks);
    // Blocks completed before an overflow are answered: they were whole
    // requests. Answering one may end this session (its owner can drop the
    // client from the send callback); then stop.
    const std::weak_ptr<bool> alive = alive_;
    for (const Block& block : blocks) {
        if (alive.expired())
            break;
        if (!firstBlockSeen_) {
            firstBlockSeen_ = true;
            spokeHttp_ = looksLikeHttpRequest(block.header);
        }
        if (spokeHttp_)
            return false;
        handle(block);
    }
    return keep;
}

void Session::presenceChanged() {
    const bool present = backend_.present();
    if (present == presentShown_)
        return;
    presentShown_ = present;
    if (!present) {
        put(deviceBlock(backend_));
        return;
    }
    put(stateBlocks(backend_, self_));
}

void Session::deviceChanged() {
    if (presentShown_)
        put(deviceBlock(backend_));
}

void Session::routingChanged(int output) {
    if (presentShown_)
        put(routingUpdate(backend_, output));
}

void Session::inputLabelChanged(int input) {
    if (presentShown_)
        put(inputLabelUpdate(backend_, input));
}

void Session::outputLabelChanged(int output) {
    if (presentShown_)
        put(outputLabelUpdate(backend_, output));
}

void Session::lockChanged(int output) {
    if (presentShown_)
        put(lockUpdate(backend_, self_, output));
}

void Session::handle(const Block& block) {
    std::string h = block.header;
    while (!h.empty() && (h.back() == ' ' || h.back() == '\t'))
        h.pop_back();
    if (h.empty() || h.back() != ':') {
        put(kNak);
        return;
    }
    if (h == header::kPing) {
        put(kAck);
        return;
    }
    if (block.lines.empty()) {
        sendBlockAsked(h);
        return;
    }
    bool understood = true;
    if (h == header::kInputLabels)
        understood = handleLabels(block, true);
    else if (h == header::kOutputLabels)
        understood = handleLabels(block, false);
    else if (h == header::kRouting)
        understood = handleRouting(block);
    else if (h == header::kLocks)
        understood = handleLocks(block);
    // Anything else (unknown, or a block only a server sends) is ignored.
    if (!understood)
        put(kNak);
}

void Session::sendBlockAsked(const std::string& h) {
    std::string text;
    if (h == header::kPreamble)
        text = preambleBlock();
    else if (h == header::kDevice)
        text = deviceBlock(backend_);
    else if (!presentShown_)
        text.clear();  // nothing but "absent" until the matrix is back
    else if (h == header::kInputLabels)
        text = inputLabelsBlock(backend_);
    else if (h == header::kOutputLabels)
        text = outputLabelsBlock(backend_);
    else if (h == header::kLocks)
        text = locksBlock(backend_, self_);
    else if (h == header::kRouting)
        text = routingBlock(backend_);
    else
        return;  // not a block we know: ignored
    put(kAck);
    put(text);
}

// Every line is checked before anything changes, so a NAK means nothing happened.
bool Session::handleLabels(const Block& block, bool inputs) {
    std::vector<std::pair<int, std::string>> changes;
    for (const std::string& line : block.lines) {
        auto change = labelLine(line);
        if (!change)
            return false;
        changes.push_back(std::move(*change));
    }
    // Names pick ports in API and MQTT requests, so two ports of a side never
    // share one; checked on the names the whole block leaves (a swap is fine).
    std::array<std::string, kPorts> after;
    for (int p = 0; p < kPorts; ++p)
        after[p] = inputs ? backend_.inputLabel(p) : backend_.outputLabel(p);
    for (const auto& [port, label] : changes)
        after[port] = label;
    for (const auto& [port, label] : changes) {
        for (int other = 0; other < kPorts; ++other) {
            if (other != port && after[other] == label)
                return false;
        }
    }
    // The label updates the rename sends this client come after its ACK; a
    // failed save changes nothing, so there are none and the answer is NAK.
    held_.emplace();
    const bool saved = backend_.rename(inputs, changes);
    const std::string updates = std::move(*held_);
    held_.reset();
    if (!saved)
        return false;
    put(kAck);
    put(updates);
    return true;
}

bool Session::handleRouting(const Block& block) {
    // With the link down the route cannot be carried out: say so now
    // rather than ACK a request that can only fail.
    if (!backend_.present())
        return false;
    std::vector<std::pair<int, int>> routes;
    for (const std::string& line : block.lines) {
        const auto w = words(line);
        if (w.size() != 2)
            return false;
        const auto output = portNumber(w[0]);
        const auto input = portNumber(w[1]);
        if (!output || !input)
            return false;
        routes.emplace_back(*output, *input);
    }
    put(kAck);
    for (const auto& [output, input] : routes) {
        const std::weak_ptr<bool> alive = alive_;
        const bool alreadyThere = backend_.routedInput(output) == input;
        backend_.route(output, input, self_, [this, alive, output = output, alreadyThere](bool routed) {
            // A refused or failed route changes nothing, and neither does one
            // to the input already there: no update comes from the matrix,
            // so this client is shown the state its request left.
            if ((!routed || alreadyThere) && !alive.expired())
                routingChanged(output);
        });
    }
    return true;
}

bool Session::handleLocks(const Block& block) {
    std::vector<std::pair<int, char>> changes;
    for (const std::string& line : block.lines) {
        const auto w = words(line);
        if (w.size() != 2 || w[1].size() != 1)
            return false;
        const auto output = portNumber(w[0]);
        const char letter = static_cast<char>(w[1][0] & ~0x20);  // upper case
        if (!output || (letter != 'O' && letter != 'U' && letter != 'F'))
            return false;
        changes.emplace_back(*output, letter);
    }
    put(kAck);
    for (const auto& [output, letter] : changes) {
        const LockId owner = backend_.lockOwner(output);
        LockId wanted = owner;
        if (letter == 'O' && owner == 0)
            wanted = self_;
        else if (letter == 'U' && owner == self_)
            wanted = 0;
        else if (letter == 'F')
            wanted = 0;
        if (wanted != owner)
            backend_.setLock(output, wanted);  // the hub's event updates every client
        else
            lockChanged(output);  // refused or no change: show the state as it stands
    }
    return true;
}

}  // namespace matrix::service::videohub
