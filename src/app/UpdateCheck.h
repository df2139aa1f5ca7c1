#pragma once

namespace pellora {

// The "Check for Updates…" command.
class UpdateCheck {
  public:
    virtual ~UpdateCheck() = default;
    virtual void checkForUpdates() = 0;
};

}  // namespace pellora
