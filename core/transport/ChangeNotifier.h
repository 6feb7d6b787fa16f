// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <map>

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
