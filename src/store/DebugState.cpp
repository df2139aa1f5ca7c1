#include "store/DebugState.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <utility>

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/ProcessWide.h"
#include "store/DebugLog.h"

namespace pellora {

namespace {

// 2024-06-21T09:24:41Z: seconds cut, not rounded. A time outside the years 1 to 9999 has no
// such form and reads as the epoch.
std::string internetDateTime(double now) {
    double seconds = std::floor(now);
    if (!std::isfinite(seconds) || seconds < -62135596800.0 || seconds > 253402300799.0) {
        seconds = 0;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char out[80];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return out;
}

// A discarded value (a failed parse's result) would be printed as "<discarded>", which no
// JSON reader accepts.
bool holdsDiscarded(const nlohmann::json& value) {
    if (value.is_discarded()) {
        return true;
    }
    if (value.is_structured()) {
        for (const auto& child : value) {
            if (holdsDiscarded(child)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// The log queue's side. The main queue leaves the newest state here; the periodic rewrite
// takes whatever is newest, and an asked-for dump posts a write only when none is waiting, so
// a burst of dumps that have not begun comes out as one write of the newest.
struct DebugState::Writer {
    Writer(const Clock& clock, DebugLog& log, std::filesystem::path dir, std::filesystem::path file)
        : clock(clock), log(log), dir(std::move(dir)), file(std::move(file)) {}

    void leave(nlohmann::json next) {
        std::lock_guard lock(mutex);
        state = std::move(next);
        unwritten = true;
    }
    // Returns true when the caller must post a write.
    bool askWrite() {
        std::lock_guard lock(mutex);
        return !std::exchange(writeAsked, true);
    }

    void write() {
        std::optional<nlohmann::json> job;
        {
            std::lock_guard lock(mutex);
            writeAsked = false;
            unwritten = false;
            job = state;
        }
        if (!job) {
            return;
        }
        const auto bytes = render(std::move(*job), clock.now(), log.fileURL().string(),
                                  log.recentHere(recentLogLines));
        if (!bytes) {
            report("the state cannot be written as JSON");
            return;
        }
        // The folder may have been removed since; try again at every write.
        ensureDirectory(dir);
        // Not forced to disk: a power cut may lose the newest dump, which is rewritten within
        // seconds anyway, but a reader never sees a half-written file.
        if (auto error = rewriteFileAtomically(file, *bytes, 0600)) {
            report(*error);
            return;
        }
        lastProblem.reset();
    }

    // Once per kind of trouble: a broken folder would otherwise add a line every tick.
    void report(const std::string& problem) {
        if (lastProblem == problem) {
            return;
        }
        lastProblem = problem;
        log.log("debug state not written to " + file.string() + ": " + problem, "app");
    }

    const Clock& clock;
    DebugLog& log;
    const std::filesystem::path dir;
    const std::filesystem::path file;
    std::mutex mutex;
    std::optional<nlohmann::json> state;     // guarded by `mutex`
    bool writeAsked = false;                 // guarded by `mutex`
    bool unwritten = false;                  // guarded by `mutex`: a state not yet in the file
    std::optional<std::string> lastProblem;  // the log queue's
};

DebugState::DebugState(const Clock& clock, Queue& main, DebugLog& log,
                       std::filesystem::path appSupportDir, double period)
    : main_(main),
      writeQueue_(log.queue()),
      fileURL_(appSupportDir / "debug.json"),
      // A period of zero or less would spin the queue.
      period_(std::isfinite(period) && period > 0 ? period : interval),
      writer_(std::make_shared<Writer>(clock, log, std::move(appSupportDir), fileURL_)) {}

DebugState::~DebugState() = default;

std::shared_ptr<DebugState> DebugState::create(const Clock& clock, Queue& main, DebugLog& log,
                                               std::filesystem::path appSupportDir, double period) {
    std::shared_ptr<DebugState> state(
        new DebugState(clock, main, log, std::move(appSupportDir), period));
    // The folder is the disk's business too, and so is what a killed write left behind.
    state->writeQueue_.post([writer = state->writer_, now = clock.now()] {
        ensureDirectory(writer->dir);
        sweepStaleTemporaries(writer->file, now);
    });
    return state;
}

DebugState& DebugState::shared() {
    return ProcessWide<DebugState>::get("DebugState");
}

void DebugState::installShared(std::shared_ptr<DebugState> state) {
    ProcessWide<DebugState>::install(std::move(state));
}

void DebugState::setProvider(Provider provider) {
    PELLORA_ASSERT_ON(main_);
    provider_ = std::move(provider);
    captured_.reset();
}

void DebugState::start() {
    PELLORA_ASSERT_ON(main_);
    stop();
    dump();
    // The writer alone, not this object, goes to the log's queue.
    timer_ = std::make_unique<RepeatingTimer>(writeQueue_, period_,
                                              [writer = writer_] { writer->write(); });
}

void DebugState::stop() {
    PELLORA_ASSERT_ON(main_);
    timer_.reset();
}

void DebugState::capture() {
    PELLORA_ASSERT_ON(main_);
    if (!provider_) {
        return;
    }
    nlohmann::json state = provider_();
    if (captured_ && *captured_ == state) {
        return;
    }
    captured_ = std::make_unique<nlohmann::json>(state);
    writer_->leave(std::move(state));
}

void DebugState::dump() {
    PELLORA_ASSERT_ON(main_);
    if (!provider_) {
        return;
    }
    capture();
    if (writer_->askWrite()) {
        writeQueue_.post([writer = writer_] { writer->write(); });
    }
}

void DebugState::flush() {
    // Every write asked for is posted before this; a state captured since the last rewrite
    // is written too, so that the file ends with the newest.
    writeQueue_.sync([writer = writer_] {
        bool unwritten = false;
        {
            std::lock_guard lock(writer->mutex);
            unwritten = writer->unwritten;
        }
        if (unwritten) {
            writer->write();
        }
    });
}

std::optional<std::string> DebugState::render(nlohmann::json state, double now,
                                              const std::string& logFile,
                                              const std::vector<std::string>& recentLog) {
    if (!(state.is_object() || state.is_null()) || holdsDiscarded(state)) {
        return std::nullopt;
    }
    try {
        state["dumpedAt"] = internetDateTime(now);
        state["logFile"] = logFile;
        state["recentLog"] = recentLog;
        // nlohmann::json keeps object members in a sorted map, so every level comes out in
        // key order. Bytes that are not UTF-8 (a log line, a name from a monitor's EDID)
        // become U+FFFD rather than failing the whole dump.
        std::string text = state.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
        text += '\n';
        return text;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

}  // namespace pellora
