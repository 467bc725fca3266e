#pragma once

#include <functional>
#include <memory>

#include "platform/MainQueue.h"

namespace platform {

// Lets work that may outlive an object reach it on the main thread, and only
// while it lives. The owner keeps one as a member, built with `this`; work
// items copy a Handle, never `this`.
template <class T>
class WeakSelf {
public:
    explicit WeakSelf(T* owner) : owner_(std::make_shared<T*>(owner)) {}
    WeakSelf(const WeakSelf&) = delete;
    WeakSelf& operator=(const WeakSelf&) = delete;

    class Handle {
    public:
        // Any thread: posts `fn` to the main queue, where it runs on the owner if the owner still exists.
        void post(std::function<void(T&)> fn) const {
            MainQueue::post([weak = weak_, fn = std::move(fn)] {
                if (const auto owner = weak.lock()) fn(**owner);
            });
        }

    private:
        friend class WeakSelf;
        explicit Handle(std::weak_ptr<T*> weak) : weak_(std::move(weak)) {}
        std::weak_ptr<T*> weak_;
    };

    [[nodiscard]] Handle handle() const { return Handle(owner_); }

private:
    std::shared_ptr<T*> owner_;
};

}  // namespace platform
