#pragma once

#include <functional>
#include <string>

#include "platform/WorkItem.h"

namespace pellora {

// A serial queue: work runs one item at a time, in the order it was posted
// (delayed work in the order it falls due).
class Queue {
  public:
    using Task = std::function<void()>;

    virtual ~Queue() = default;

    virtual const std::string& label() const = 0;
    // Runs `task` later on this queue; never inline, even when called from the queue.
    virtual void post(Task task) = 0;
    // Runs `task` on this queue once `seconds` of clock time have passed, unless cancelled.
    virtual WorkItemPtr postAfter(double seconds, Task task) = 0;
    // Runs `task` on this queue and waits for it. Everything posted before runs first.
    // Must not be called from a task running on this queue.
    virtual void sync(Task task) = 0;
    // True while the calling code runs on this queue.
    virtual bool isCurrent() const = 0;
};

}  // namespace pellora

#ifndef NDEBUG
#include <cstdio>
#include <cstdlib>
#define PELLORA_ASSERT_ON(queue)                                                     \
    do {                                                                             \
        if (!(queue).isCurrent()) {                                                  \
            std::fprintf(stderr, "%s:%d: not on queue \"%s\"\n", __FILE__, __LINE__, \
                         (queue).label().c_str());                                   \
            std::abort();                                                            \
        }                                                                            \
    } while (0)
#else
// Unevaluated, so a queue member kept only for the check is still "used" in release builds.
#define PELLORA_ASSERT_ON(queue) ((void)sizeof((queue).isCurrent()))
#endif
