#pragma once

#include <memory>
#include <utility>

namespace pellora {

// A callback that holds its owner weakly: `f(self, args...)` runs, with `self` the owner's
// shared_ptr, only while the owner still lives, and does nothing once it is gone. The one idiom
// for work, timers and answers that may outlive what asked for them.
template <typename T, typename F>
class WhileAliveCall {
  public:
    WhileAliveCall(std::weak_ptr<T> owner, F f) : owner_(std::move(owner)), f_(std::move(f)) {}

    template <typename... Args>
    void operator()(Args&&... args) const {
        if (auto self = owner_.lock()) {
            f_(self, std::forward<Args>(args)...);
        }
    }

  private:
    std::weak_ptr<T> owner_;
    // Callers keep the call const (std::function, Qt); what `f` captures may still change.
    mutable F f_;
};

template <typename T, typename F>
WhileAliveCall<T, F> whileAlive(std::weak_ptr<T> owner, F f) {
    return {std::move(owner), std::move(f)};
}

// The same for an owner made by `create` (held by shared_ptr, enable_shared_from_this).
template <typename T, typename F>
auto whileAlive(T* owner, F f) {
    return whileAlive(owner->weak_from_this(), std::move(f));
}

}  // namespace pellora
