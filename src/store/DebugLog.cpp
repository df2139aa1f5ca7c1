#include "store/DebugLog.h"

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/ProcessWide.h"
#include "platform/Utf8Prefix.h"

namespace pellora {

namespace {

// A damaged debug.log bigger than this is not worth reading back: the window is ~4000 lines.
constexpr std::size_t kMaxReloadBytes = 32u << 20;
// A message quoting hostile bytes (a key from a synced file) may be megabytes long; the
// window, the file and its reload are sized for lines, not files.
constexpr std::size_t kMaxMessage = 4096;
// A whole line: the stamp and tag before a message of at most kMaxMessage bytes, and the note
// of what was cut.
constexpr std::size_t kMaxLine = kMaxMessage + 256;

// The first `limit` bytes of `text`, not ending inside a UTF-8 sequence, and how many more
// there were; `text` itself when it is no longer.
std::string cut(std::string_view text, std::size_t limit) {
    const std::string_view kept = utf8Prefix(text, limit);
    if (kept.size() == text.size()) {
        return std::string(text);
    }
    return std::string(kept) + "... (" + std::to_string(text.size() - kept.size()) + " more bytes)";
}

}  // namespace

struct DebugLog::State {
    std::deque<std::string> buffer;
    bool flushPosted = false;
    std::size_t fileWrites = 0;
    std::filesystem::path dir;
    std::filesystem::path file;

    void writeFile() {
        flushPosted = false;
        std::string text;
        std::size_t size = 0;
        for (const auto& l : buffer) {
            size += l.size() + 1;
        }
        text.reserve(size);
        for (const auto& l : buffer) {
            text += l;
            text += '\n';
        }
        // The folder may have been removed or made read-only; try again at every write.
        ensureDirectory(dir);
        if (!writeFileAtomically(file, text, 0600, /*durable=*/false)) {
            ++fileWrites;
        }
    }
};

DebugLog::DebugLog(const Clock& clock, Queue& queue, std::filesystem::path appSupportDir,
                   SystemLog& systemLog)
    : clock_(clock),
      queue_(queue),
      systemLog_(systemLog),
      dir_(std::move(appSupportDir)),
      fileURL_(dir_ / "debug.log"),
      state_(std::make_shared<State>()) {
    state_->dir = dir_;
    state_->file = fileURL_;
    // The disk is the log's queue's business, the earlier run's window included: the queue is
    // serial, so the window is back before the first new line joins it.
    queue_.post([weak = std::weak_ptr<State>(state_), now = clock_.now(), &systemLog] {
        auto state = weak.lock();
        if (!state) {
            return;
        }
        ensureDirectory(state->dir);
        FileRead read = readWholeFile(state->file, kMaxReloadBytes);
        if (read.status == FileRead::Status::ok) {
            Reloaded reloaded = reloadWindow(read.bytes);
            state->buffer = std::move(reloaded.lines);
            if (reloaded.linesMended > 0) {
                std::string line =
                    composeLine(now, "app",
                                std::to_string(reloaded.linesMended) + " line" +
                                    (reloaded.linesMended == 1 ? "" : "s") + " of the previous " +
                                    state->file.filename().string() +
                                    " held bytes that are not UTF-8; they read as U+FFFD");
                systemLog.write(line);
                state->buffer.push_back(std::move(line));
                if (state->buffer.size() > maxLines) {
                    state->buffer.pop_front();
                }
            }
        }
        // What a killed write left behind; younger ones may be another process's, under way.
        sweepStaleTemporaries(state->file, now);
    });
}

DebugLog::Reloaded DebugLog::reloadWindow(std::string_view bytes) {
    // Every piece between line feeds is a line, empty ones included: the final line feed
    // therefore leaves one blank line between the previous run and this one.
    std::deque<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = bytes.find('\n', start);
        pieces.push_back(bytes.substr(start, end == std::string_view::npos ? end : end - start));
        if (pieces.size() > maxLines) {
            pieces.pop_front();
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    // A line with a stray byte (a path in Latin-1, a crash mid-write) keeps the rest of it.
    Reloaded reloaded;
    for (std::string_view piece : pieces) {
        const QByteArrayView view(piece.data(), qsizetype(piece.size()));
        QByteArray mended;
        if (!view.isValidUtf8()) {
            mended = QString::fromUtf8(view).toUtf8();
            piece = std::string_view(mended.constData(), std::size_t(mended.size()));
            ++reloaded.linesMended;
        }
        // Longer than any line logged now (junk a crash left, an older version's): cut as a
        // long message is.
        reloaded.linesCut += piece.size() > kMaxLine;
        reloaded.lines.push_back(cut(piece, kMaxLine));
    }
    return reloaded;
}

DebugLog::~DebugLog() = default;

DebugLog& DebugLog::shared() {
    return ProcessWide<DebugLog>::get("DebugLog");
}

void DebugLog::installShared(std::shared_ptr<DebugLog> log) {
    ProcessWide<DebugLog>::install(std::move(log));
}

std::string DebugLog::isoTimestamp(double wallTime) {
    double totalMs = std::floor(wallTime * 1000.0);
    if (!std::isfinite(totalMs)) {
        totalMs = 0;
    }
    auto ms = static_cast<long long>(totalMs);
    long long seconds = ms / 1000;
    long long millis = ms % 1000;
    if (millis < 0) {
        millis += 1000;
        seconds -= 1;
    }
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return out;
}

std::string DebugLog::composeLine(double wallTime, std::string_view tag, std::string_view message) {
    std::string line;
    line.reserve(32 + tag.size() + message.size());
    line += '[';
    line += isoTimestamp(wallTime);
    line += "] [";
    line += tag;
    line += "] ";
    line += message;
    return line;
}

void DebugLog::log(std::string_view message, std::string_view tag) {
    std::string shortened;
    if (message.size() > kMaxMessage) {
        shortened = cut(message, kMaxMessage);
        message = shortened;
    }
    std::string line = composeLine(clock_.now(), tag, message);
    systemLog_.write(line);

    std::weak_ptr<State> weak = state_;
    Queue& queue = queue_;
    queue_.post([weak, &queue, line = std::move(line)]() mutable {
        auto state = weak.lock();
        if (!state) {
            return;
        }
        state->buffer.push_back(std::move(line));
        while (state->buffer.size() > maxLines) {
            state->buffer.pop_front();
        }
        // One file write for every line that arrived before it runs: a burst costs a few
        // rewrites, not one per line, and the file holds the window once the queue drains.
        if (state->flushPosted) {
            return;
        }
        state->flushPosted = true;
        queue.post([weak] {
            if (auto state = weak.lock(); state && state->flushPosted) {
                state->writeFile();
            }
        });
    });
}

namespace {

std::vector<std::string> lastLines(const std::deque<std::string>& buffer, int n) {
    if (n <= 0) {
        return {};
    }
    std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(n), buffer.size());
    return {buffer.end() - static_cast<std::ptrdiff_t>(count), buffer.end()};
}

}  // namespace

std::vector<std::string> DebugLog::recent(int n) {
    std::vector<std::string> out;
    if (n <= 0) {
        return out;
    }
    std::weak_ptr<State> weak = state_;
    queue_.sync([&] {
        if (auto state = weak.lock()) {
            out = lastLines(state->buffer, n);
        }
    });
    return out;
}

std::vector<std::string> DebugLog::recentHere(int n) {
    PELLORA_ASSERT_ON(queue_);
    return lastLines(state_->buffer, n);
}

void DebugLog::flush() {
    queue_.sync([state = state_] {
        if (state->flushPosted) {
            state->writeFile();
        }
    });
}

std::size_t DebugLog::fileWrites() {
    std::size_t count = 0;
    std::weak_ptr<State> weak = state_;
    queue_.sync([&] {
        if (auto state = weak.lock()) {
            count = state->fileWrites;
        }
    });
    return count;
}

}  // namespace pellora
