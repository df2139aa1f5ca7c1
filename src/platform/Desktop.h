#pragma once

#include <filesystem>
#include <functional>

namespace pellora {

// The user's desktop: its file manager. Called on the main thread; never waits.
class Desktop {
  public:
    virtual ~Desktop() = default;

    // Opens the file manager with `file` selected (or, where it cannot select, its folder).
    // `done` runs later on the main queue with whether something was opened.
    virtual void revealFile(const std::filesystem::path& file,
                            std::function<void(bool opened)> done) = 0;
};

}  // namespace pellora
