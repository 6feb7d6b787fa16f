// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <map>
#include <utility>

namespace matrix {

// One change notification per view model: views re-read what they show.
class ChangeNotifier {
public:
    using Listener = std::function<void()>;

    int subscribe(Listener listener)
    {
        listeners_[nextId_] = std::move(listener);
        return nextId_++;
    }
    void unsubscribe(int id) { listeners_.erase(id); }

    // A subscription that ends when its holder goes: a view keeps one for as
    // long as it shows the model, and needs no destructor of its own.
    class Subscription {
    public:
        Subscription() = default;
        Subscription(ChangeNotifier& notifier, Listener listener)
            : notifier_(&notifier),
              id_(notifier.subscribe(std::move(listener)))
        {
        }
        Subscription(Subscription&& other) noexcept : notifier_(std::exchange(other.notifier_, nullptr)), id_(other.id_)
        {
        }
        Subscription& operator=(Subscription&& other) noexcept
        {
            if (this != &other) {
                end();
                notifier_ = std::exchange(other.notifier_, nullptr);
                id_ = other.id_;
            }
            return *this;
        }
        ~Subscription() { end(); }

    private:
        void end()
        {
            if (notifier_)
                notifier_->unsubscribe(id_);
            notifier_ = nullptr;
        }

        ChangeNotifier* notifier_ = nullptr;
        int id_ = 0;
    };

    void notifyChanged()
    {
        // A listener may unsubscribe while we iterate, so walk a copy.
        auto copy = listeners_;
        for (auto& [id, listener] : copy)
            listener();
    }

private:
    std::map<int, Listener> listeners_;
    int nextId_ = 1;
};

}  // namespace matrix
