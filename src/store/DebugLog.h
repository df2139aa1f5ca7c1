#pragma once

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/LogSink.h"
#include "platform/Queue.h"
#include "platform/SystemLog.h"

namespace pellora {

// The application's one diagnostic log: every line is stamped, copied to the system log at
// once, and kept in a rolling window of the last 4000 lines mirrored to "debug.log".
class DebugLog final : public LogSink {
  public:
    static constexpr std::size_t maxLines = 4000;

    // `queue` is the log's own serial queue ("pellora.debug-log"); `appSupportDir` the
    // folder that gets "debug.log" (created when missing).
    DebugLog(const Clock& clock, Queue& queue, std::filesystem::path appSupportDir,
             SystemLog& systemLog);
    ~DebugLog() override;

    DebugLog(const DebugLog&) = delete;
    DebugLog& operator=(const DebugLog&) = delete;

    // The process-wide instance, installed by the program's start-up.
    static DebugLog& shared();
    static void installShared(std::shared_ptr<DebugLog> log);

    // Callable from any thread; returns at once.
    void log(std::string_view message, std::string_view tag) override;
    // The last `n` lines, oldest first. Waits for the log's queue, so it must not be called
    // from a task on that queue.
    std::vector<std::string> recent(int n);
    // The same, from a task running on the log's own queue, without waiting.
    std::vector<std::string> recentHere(int n);
    // The log's own serial queue ("pellora.debug-log"), for work that reads its window.
    Queue& queue() const { return queue_; }

    // Waits until every line logged so far is in the file (for orderly exit).
    void flush();

    const std::filesystem::path& fileURL() const { return fileURL_; }
    // How many times the file has been rewritten (waits for the queue, like `recent`).
    std::size_t fileWrites();

    // "[2024-06-21T09:24:41.123Z] [tag] message"
    static std::string composeLine(double wallTime, std::string_view tag, std::string_view message);
    // Internet date-time in UTC with milliseconds, e.g. 2024-06-21T09:24:41.123Z.
    static std::string isoTimestamp(double wallTime);
    // The window a previous run's file gives: its last 4000 pieces between line feeds, with
    // every byte that is not part of UTF-8 text replaced by U+FFFD, and each piece longer
    // than any line logged now cut as a long message is.
    struct Reloaded {
        std::deque<std::string> lines;
        std::size_t linesMended = 0;  // lines in which bytes were replaced
        std::size_t linesCut = 0;     // lines cut short
    };
    static Reloaded reloadWindow(std::string_view bytes);

  private:
    struct State;

    const Clock& clock_;
    Queue& queue_;
    SystemLog& systemLog_;
    std::filesystem::path dir_;
    std::filesystem::path fileURL_;
    std::shared_ptr<State> state_;
};

}  // namespace pellora
