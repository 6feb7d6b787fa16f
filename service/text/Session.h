// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/text/Backend.h"
#include "service/text/LineReader.h"
#include "service/text/TextFormat.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace matrix::service::text {

// One peer of the text protocol (a TCP connection or a serial line): lines
// in, one reply line per request in request order, and EVENT lines while
// notifications are on. A request that waits for the matrix holds the ones
// behind it, so replies never overtake each other. No I/O of its own: the
// owner hands it bytes and writes what it gives back.
class Session {
public:
    using Write = std::function<void(const std::string& bytes)>;

    // Past this much waiting input the owner stops reading, so a peer that
    // pipelines without end is slowed by TCP instead of filling memory.
    static constexpr std::size_t kMaxBacklogBytes = 64 * 1024;

    Session(Backend& backend, std::string peer, Write write);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // False when the peer must be closed: it sent 64 KiB without a line end,
    // or its first line is an HTTP request (a browser made to post to this
    // port by some web page), which is then not acted on at all.
    bool receive(std::string_view bytes);
    // Why receive() said to close, for the log.
    const char* closeReason() const { return closeReason_; }
    // Request bytes read but not answered yet.
    std::size_t backlogBytes() const { return backlogBytes_; }
    // Called when the backlog has gone down, so the owner may read again.
    std::function<void()> onBacklogDrained;

    void event(const Event& event);
    const std::string& peer() const { return peer_; }

private:
    void pump();
    void handle(const LineReader::Line& line);
    void finish(const Outcome& outcome, const std::string& okText);
    // Starts a change; the reply goes out once it ended.
    void change(std::function<void(Backend::Done)> start, std::string okText);
    void reply(const std::string& line);

    Backend& backend_;
    std::string peer_;
    Write write_;
    LineReader reader_;
    std::deque<LineReader::Line> pending_;
    std::size_t backlogBytes_ = 0;
    bool busy_ = false;
    bool pumping_ = false;
    bool notify_ = true;
    bool firstLineSeen_ = false;
    const char* closeReason_ = nullptr;
    // Cleared when the session goes: a change that ends later must not reach it.
    std::shared_ptr<bool> alive_;
};

}  // namespace matrix::service::text
