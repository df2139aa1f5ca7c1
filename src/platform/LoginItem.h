#pragma once

#include <functional>
#include <string>

namespace pellora {

// Whether the desktop starts Pellora when the user logs in. Made and called on the main
// thread; the work (a file, a desktop portal) never runs there, and every answer comes later
// on the main queue, unless the object is gone by then.
class LoginItem {
  public:
    struct State {
        // The desktop will start the program at login.
        bool enabled = false;
        // What looks wrong, in one sentence for the debug log: a hand-edited or unreadable
        // entry, say. Empty when all is well.
        std::string problem;
    };

    struct Outcome {
        bool ok = false;
        // The state afterwards (unchanged when not ok).
        bool enabled = false;
        // What was done, or why it could not be, naming the place and the fix.
        std::string detail;
    };

    virtual ~LoginItem() = default;

    // Looks at the desktop's entry as it is now.
    virtual void read(std::function<void(State)> done) = 0;
    // Makes the desktop start the program at login, or stop doing so.
    virtual void setEnabled(bool enabled, std::function<void(Outcome)> done) = 0;
};

}  // namespace pellora
