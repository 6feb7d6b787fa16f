// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/text/Backend.h"
#include "service/text/LineReader.h"
#include "service/text/TextFormat.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    struct Request {
        const std::vector<Token>& t;
        bool query;  // `VERB?` or `VERB ?`
    };
    struct Verb {
        const char* name;
        bool (Session::*run)(const Request&);
    };
    static const std::vector<Verb>& verbs();

    void pump();
    void handle(const LineReader::Line& line);
    bool routeVerb(const Request& r);
    bool allVerb(const Request& r);
    bool routingVerb(const Request& r);
    bool recallVerb(const Request& r);
    bool previewVerb(const Request& r);
    bool takeVerb(const Request& r);
    bool clearVerb(const Request& r);
    bool scenesVerb(const Request& r);
    bool beepVerb(const Request& r);
    bool cablesVerb(const Request& r);
    bool namesVerb(const Request& r);
    bool linkVerb(const Request& r);
    bool notifyVerb(const Request& r);
    bool pingVerb(const Request& r);
    bool helpVerb(const Request& r);

    // The port a token names; a request naming none is refused (404).
    int output(const Token& token) const;
    int input(const Token& token) const;
    // State the matrix reported: unknown while the link is down or not read yet.
    template <typename T>
    T known(const std::optional<T>& value) const
    {
        requireLink();
        if (!value)
            throwNotKnown();
        return *value;
    }
    void requireLink() const;
    [[noreturn]] static void throwNotKnown();
    [[noreturn]] static void throwUsage(const char* form);
    template <typename Field>
    std::string perPort(const char* verb, Field field) const;
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
