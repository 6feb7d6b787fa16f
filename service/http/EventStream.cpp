// SPDX-License-Identifier: Apache-2.0
#include "service/http/EventStream.h"

namespace matrix::service {

std::optional<std::string> EventStream::Reader::next(std::chrono::milliseconds wait)
{
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, wait, [this] { return closed_ || !queue_.empty(); });
    if (closed_ || queue_.empty())
        return std::nullopt;
    std::string text = std::move(queue_.front());
    queue_.pop_front();
    return text;
}

bool EventStream::Reader::closed() const
{
    std::lock_guard lock(mutex_);
    return closed_;
}

std::shared_ptr<EventStream::Reader> EventStream::open()
{
    auto reader = std::make_shared<Reader>();
    std::lock_guard lock(mutex_);
    if (closed_)
        reader->closed_ = true;
    else
        readers_.insert(reader);
    return reader;
}

void EventStream::close(const std::shared_ptr<Reader>& reader)
{
    std::lock_guard lock(mutex_);
    readers_.erase(reader);
}

void EventStream::publish(const std::string& eventText)
{
    std::lock_guard lock(mutex_);
    for (const auto& reader : readers_) {
        {
            std::lock_guard readerLock(reader->mutex_);
            if (reader->queue_.size() >= kMaxQueuedEvents)
                reader->closed_ = true;
            else
                reader->queue_.push_back(eventText);
        }
        reader->ready_.notify_one();
    }
}

void EventStream::closeAll()
{
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (const auto& reader : readers_) {
        {
            std::lock_guard readerLock(reader->mutex_);
            reader->closed_ = true;
        }
        reader->ready_.notify_one();
    }
    readers_.clear();
}

}  // namespace matrix::service
