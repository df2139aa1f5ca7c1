#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace pellora {

// The one instance of `T` that the program's start-up installs for the whole process.
template <typename T>
class ProcessWide {
  public:
    // `name` says what was used too early.
    static T& get(const char* name) {
        std::lock_guard lock(mutex());
        if (!slot()) {
            // Start-up installs the real one; reaching this is a wiring mistake, not a user
            // error.
            std::fprintf(stderr, "%s::shared() used before start-up installed it\n", name);
            std::abort();
        }
        return *slot();
    }
    static void install(std::shared_ptr<T> instance) {
        std::lock_guard lock(mutex());
        slot() = std::move(instance);
    }

  private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::shared_ptr<T>& slot() {
        static std::shared_ptr<T> s;
        return s;
    }
};

}  // namespace pellora
