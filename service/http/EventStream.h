// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace matrix::service {

// Hands hub events (loop thread) to the Server-Sent Events connections,
// each of which holds an HTTP worker thread and waits on its own queue.
class EventStream {
public:
    class Reader {
    public:
        // The next event's text; nothing when the wait ended first (time for
        // a keep-alive comment), or when the stream is closed or overflowed.
        std::optional<std::string> next(std::chrono::milliseconds wait);
        bool closed() const;

    private:
        friend class EventStream;
        mutable std::mutex mutex_;
        std::condition_variable ready_;
        std::deque<std::string> queue_;
        bool closed_ = false;
    };

    // A reader that does not keep up is cut off rather than buffered for ever.
    static constexpr std::size_t kMaxQueuedEvents = 10000;

    std::shared_ptr<Reader> open();
    void close(const std::shared_ptr<Reader>& reader);
    void publish(const std::string& eventText);
    // Ends every reader (shutdown); later opens are closed at once.
    void closeAll();

private:
    std::mutex mutex_;
    std::set<std::shared_ptr<Reader>> readers_;
    bool closed_ = false;
};

}  // namespace matrix::service
