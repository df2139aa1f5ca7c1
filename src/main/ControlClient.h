#pragma once

namespace pellora {

// `pellora ctl …`: asks the running Pellora over the session bus, says what it answered and
// ends the process, within 2 s whatever the bus does.
struct ControlClient {
    static constexpr double bound = 2.0;

    // `argv[1]` is "ctl". Never returns: the process ends with the command's exit status.
    [[noreturn]] static void run(int argc, char** argv);
};

}  // namespace pellora
