// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/Session.h"

#include "service/videohub/BlockFormat.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>
#include <vector>

namespace matrix::service::videohub {
namespace {

constexpr int kIdleTimerId = 1;

std::optional<int> portNumber(std::string_view text)
{
    int value = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || text.front() == '-')
        return std::nullopt;
    if (value < 0 || value >= kPorts)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> words(std::string_view line)
{
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

// "n text": the port, then the label as the rest of the line, as it came:
// whether it makes a name is the hub's rule.
std::optional<std::pair<int, std::string>> labelLine(std::string_view line)
{
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    const std::optional<int> port = portNumber(line.substr(0, space));
    if (!port)
        return std::nullopt;
    return std::make_pair(*port, std::string(line.substr(space + 1)));
}

// What a browser sends first, whatever page made it post here: a request
// line ("POST / HTTP/1.1"). Its body could carry blocks; none may be acted on.
bool looksLikeHttpRequest(std::string_view line)
{
    static constexpr std::string_view kMethods[] = {"GET ",     "POST ",  "PUT ",     "DELETE ", "HEAD ",
                                                    "OPTIONS ", "PATCH ", "CONNECT ", "TRACE "};
    for (std::string_view method : kMethods) {
        if (line.substr(0, method.size()) == method)
            return true;
    }
    return line.find(" HTTP/1.") != std::string_view::npos;
}

}  // namespace

Session::Session(Backend& backend, LockId self, Send send, IdleLimit idle)
    : backend_(backend),
      self_(self),
      send_(std::move(send)),
      idle_(std::move(idle))
{
}

Session::~Session()
{
    if (idle_.loop)
        idle_.loop->killTimer(this, kIdleTimerId);
}

void Session::armIdle()
{
    if (!idle_.loop || idle_.ms <= 0)
        return;
    idle_.loop->startTimer(this, kIdleTimerId, idle_.ms, [this] {
        idle_.loop->killTimer(this, kIdleTimerId);
        if (idle_.onIdle)
            idle_.onIdle();
    });
}

void Session::put(const std::string& bytes)
{
    if (bytes.empty())
        return;
    if (holding_)
        held_ += bytes;
    else
        send_(bytes);
}

void Session::start()
{
    armIdle();
    presentShown_ = backend_.present();
    put(statusDump(backend_, self_));
}

bool Session::receive(std::string_view bytes)
{
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

void Session::presenceChanged()
{
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

void Session::deviceChanged()
{
    if (presentShown_)
        put(deviceBlock(backend_));
}

void Session::routingChanged(int output)
{
    if (presentShown_)
        put(routingUpdate(backend_, output));
}

void Session::inputLabelChanged(int input)
{
    if (presentShown_)
        put(inputLabelUpdate(backend_, input));
}

void Session::outputLabelChanged(int output)
{
    if (presentShown_)
        put(outputLabelUpdate(backend_, output));
}

void Session::lockChanged(int output)
{
    if (presentShown_)
        put(lockUpdate(backend_, self_, output));
}

// Exactly one ACK or NAK per block, before anything the block caused: the
// updates a change sends to every client are held until the answer is out.
void Session::handle(const Block& block)
{
    holding_ = true;
    held_.clear();
    const bool understood = answer(block);
    holding_ = false;
    put((understood ? kAck : kNak) + std::exchange(held_, {}));
}

bool Session::answer(const Block& block)
{
    std::string h = block.header;
    while (!h.empty() && (h.back() == ' ' || h.back() == '\t'))
        h.pop_back();
    if (h == header::kOldPing)
        h = header::kPing;
    if (h == header::kPing)
        return true;
    if (block.lines.empty())
        return sendBlockAsked(h);
    if (h == header::kInputLabels)
        return handleLabels(block, true);
    if (h == header::kOutputLabels)
        return handleLabels(block, false);
    if (h == header::kRouting)
        return handleRouting(block);
    if (h == header::kLocks)
        return handleLocks(block);
    // Unknown, not ours (monitoring, configuration), or only a server's.
    return false;
}

bool Session::sendBlockAsked(const std::string& h)
{
    std::string text;
    if (h == header::kPreamble)
        text = preambleBlock();
    else if (h == header::kDevice)
        text = deviceBlock(backend_);
    else if (h == header::kInputLabels)
        text = inputLabelsBlock(backend_);
    else if (h == header::kOutputLabels)
        text = outputLabelsBlock(backend_);
    else if (h == header::kLocks)
        text = locksBlock(backend_, self_);
    else if (h == header::kRouting)
        text = routingBlock(backend_);
    else if (h == header::kEndPrelude)
        text = endPreludeBlock();
    else
        return false;
    put(text);
    return true;
}

// Every line is read before anything changes, and the hub applies the whole
// block or none of it, so a NAK means nothing happened.
bool Session::handleLabels(const Block& block, bool inputs)
{
    std::vector<std::pair<int, std::string>> changes;
    for (const std::string& line : block.lines) {
        auto change = labelLine(line);
        if (!change)
            return false;
        changes.push_back(std::move(*change));
    }
    return backend_.rename(inputs, changes, self_).ok();
}

bool Session::handleRouting(const Block& block)
{
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
    // The outputs asked for the input they already carry.
    auto unchanged = std::make_shared<std::vector<int>>();
    for (const auto& [output, input] : routes)
        if (backend_.routedInput(output) == input)
            unchanged->push_back(output);
    const std::weak_ptr<bool> alive = alive_;
    // Refused (locked by someone else, link down, firmware running): NAK and
    // nothing sent. Once accepted, a failed route changes nothing, and
    // neither does one to the input already there: no update comes from the
    // matrix, so this client is shown the state its request left.
    return backend_
        .route(routes, self_,
               [this, alive, unchanged](int output, bool routed) {
                   const bool same = std::find(unchanged->begin(), unchanged->end(), output) != unchanged->end();
                   if ((!routed || same) && !alive.expired())
                       routingChanged(output);
               })
        .ok();
}

bool Session::handleLocks(const Block& block)
{
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
    for (const auto& [output, letter] : changes) {
        const LockId before = backend_.lockOwner(output);
        const LockAction action = letter == 'O'   ? LockAction::Take
                                  : letter == 'U' ? LockAction::Release
                                                  : LockAction::Force;
        backend_.lock(output, action, self_);
        // A change reaches every client through the hub; a refused one (or
        // none) shows this client the state as it stands.
        if (backend_.lockOwner(output) == before)
            lockChanged(output);
    }
    return true;
}

}  // namespace matrix::service::videohub
