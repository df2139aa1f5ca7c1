#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Queue.h"
#include "platform/RepeatingTimer.h"

namespace pellora {

class DebugLog;

// Keeps "debug.json" showing what the application believes about itself: the controller's
// state from the provider, the time, the debug log's path and its newest lines. Rewritten
// every few seconds and whenever the controller asks.
//
// The state is the main thread's alone and changes only there, so it is taken there when the
// main thread has done some work (capture(): the program calls it each time the main loop is
// about to wait) and left for the writer. The periodic rewrite runs on the debug log's own
// queue, where the recent lines are at hand: an idle program wakes one thread per period,
// not three. Only the newest state matters, so a dump still waiting for the queue is
// replaced by a newer one rather than written after it.
class DebugState : public std::enable_shared_from_this<DebugState> {
  public:
    // Builds the dictionary of state to dump; runs on the main queue.
    using Provider = std::function<nlohmann::json()>;
    static constexpr double interval = 3.0;
    static constexpr int recentLogLines = 100;

    // The file is written on `log`'s queue, so the main thread never waits on the disk;
    // `appSupportDir` gets "debug.json" (created when missing). `period` is the rewrite's
    // interval (3 s; tests of long runs may pass more). `log` must outlive the work posted
    // to its queue.
    static std::shared_ptr<DebugState> create(const Clock& clock, Queue& main, DebugLog& log,
                                              std::filesystem::path appSupportDir,
                                              double period = interval);
    ~DebugState();

    DebugState(const DebugState&) = delete;
    DebugState& operator=(const DebugState&) = delete;

    // The process-wide instance, installed by the program's start-up.
    static DebugState& shared();
    static void installShared(std::shared_ptr<DebugState> state);

    const std::filesystem::path& fileURL() const { return fileURL_; }
    void setProvider(Provider provider);
    // (Re)starts the periodic rewrite and dumps once now.
    void start();
    void stop();
    // Takes the provider's dictionary (on main) for the next rewrite; cheap when it has not
    // changed. Nothing while no provider is set.
    void capture();
    // Takes the provider's dictionary now (on main) and writes the file at once on the log's
    // queue. Nothing is written while no provider is set.
    void dump();
    // Waits until every dump asked for, and the state last captured, is in the file (exit,
    // tests). Not from a task on the log's queue.
    void flush();

    // The file's bytes for `state`: adds "dumpedAt" (internet date-time, whole seconds, UTC),
    // "logFile" and "recentLog" (replacing keys of the same names), then pretty-prints with
    // every object's keys sorted. Invalid UTF-8 comes out as U+FFFD and non-finite numbers as
    // null, so the file is always valid JSON. Nothing when `state` is neither an object nor
    // null, or holds a discarded value. Pure; any thread.
    static std::optional<std::string> render(nlohmann::json state, double now,
                                             const std::string& logFile,
                                             const std::vector<std::string>& recentLog);

  private:
    struct Writer;

    DebugState(const Clock& clock, Queue& main, DebugLog& log, std::filesystem::path appSupportDir,
               double period);

    Queue& main_;
    Queue& writeQueue_;
    std::filesystem::path fileURL_;
    double period_;
    Provider provider_;
    // The state last handed to the writer (main only), to leave out unchanged captures.
    std::unique_ptr<nlohmann::json> captured_;
    std::unique_ptr<RepeatingTimer> timer_;
    // Shared with the writes queued on the log's queue, which may outlive this object.
    std::shared_ptr<Writer> writer_;
};

}  // namespace pellora
