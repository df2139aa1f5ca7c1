#include "store/DebugState.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

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

// The write queue's side. `next` is the mailbox between the queues: the main queue leaves the
// newest dump there and posts a write only when the box was empty, so a dump that has not
// begun is replaced by a newer one.
struct DebugState::Writer {
    struct Job {
        nlohmann::json state;
        double now = 0;
    };

    Writer(DebugLog& log, std::filesystem::path dir, std::filesystem::path file)
        : log(log), dir(std::move(dir)), file(std::move(file)) {}

    // Returns true when the caller must post a write to take the job.
    bool leave(Job job) {
        std::lock_guard lock(mutex);
        const bool wasEmpty = !next.has_value();
        next = std::move(job);
        return wasEmpty;
    }

    void writeNext() {
        std::optional<Job> job;
        {
            std::lock_guard lock(mutex);
            job.swap(next);
        }
        if (!job) {
            return;
        }
        const std::string logFile = log.fileURL().string();
        const auto bytes =
            render(std::move(job->state), job->now, logFile, log.recent(recentLogLines));
        if (!bytes) {
            report("the state cannot be written as JSON");
            return;
        }
        // The folder may have been removed since; try again at every write.
        ensureDirectory(dir);
        // Not forced to disk: a power cut may lose the newest dump, which is rewritten within
        // seconds anyway, but a reader never sees a half-written file.
        if (auto error = writeFileAtomically(file, *bytes, 0600, /*durable=*/false)) {
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

    DebugLog& log;
    const std::filesystem::path dir;
    const std::filesystem::path file;
    std::mutex mutex;
    std::optional<Job> next;                 // guarded by `mutex`
    std::optional<std::string> lastProblem;  // the write queue's
};

DebugState::DebugState(const Clock& clock, Queue& main, Queue& writeQueue, DebugLog& log,
                       std::filesystem::path appSupportDir, double period)
    : clock_(clock),
      main_(main),
      writeQueue_(writeQueue),
      fileURL_(appSupportDir / "debug.json"),
      // A period of zero or less would spin the main queue.
      period_(std::isfinite(period) && period > 0 ? period : interval),
      writer_(std::make_shared<Writer>(log, std::move(appSupportDir), fileURL_)) {}

DebugState::~DebugState() = default;

std::shared_ptr<DebugState> DebugState::create(const Clock& clock, Queue& main, Queue& writeQueue,
                                               DebugLog& log, std::filesystem::path appSupportDir,
                                               double period) {
    std::shared_ptr<DebugState> state(
        new DebugState(clock, main, writeQueue, log, std::move(appSupportDir), period));
    // The folder is the disk's business too, and so is what a killed write left behind.
    writeQueue.post([writer = state->writer_, now = clock.now()] {
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
}

void DebugState::start() {
    PELLORA_ASSERT_ON(main_);
    stop();
    timer_ = std::make_unique<RepeatingTimer>(main_, period_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->dump();
        }
    });
    dump();
}

void DebugState::stop() {
    PELLORA_ASSERT_ON(main_);
    timer_.reset();
}

void DebugState::dump() {
    PELLORA_ASSERT_ON(main_);
    if (!provider_) {
        return;
    }
    if (writer_->leave(Writer::Job{provider_(), clock_.now()})) {
        writeQueue_.post([writer = writer_] { writer->writeNext(); });
    }
}

void DebugState::flush() {
    // Every job left in the mailbox has its write posted before this.
    writeQueue_.sync([] {});
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
