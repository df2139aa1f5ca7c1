#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Queue.h"
#include "store/Sample.h"

namespace pellora {

class DebugLog;

// The samples log of one monitor: "monitors/<identifier>/samples.jsonl" under the
// application's data folder, one compact JSON object per line, only ever appended to.
//
// Each append opens the file with O_APPEND, writes its line with one write() and closes it
// again, so lines from this logger, from a second logger on the same file or from another
// process never interleave, and a reader never sees a line feed before the line it ends.
class SampleLogger {
  public:
    static constexpr const char* fileName = "samples.jsonl";
    // Years of samples come to a few megabytes. A file larger than this (damage, or another
    // program writing to it) is read only for its newest bytes, so a read stays bounded.
    static constexpr std::size_t defaultMaxReadBytes = 64u << 20;

    // `queue` runs the appends ("pellora.logger") and must outlive the work posted to it, as
    // must `log` (may be null). Creates the monitor's folder and an empty file when missing.
    SampleLogger(const std::string& monitorID, const std::filesystem::path& appSupportDir,
                 Queue& queue, DebugLog* log = nullptr,
                 std::size_t maxReadBytes = defaultMaxReadBytes);

    ~SampleLogger();

    SampleLogger(const SampleLogger&) = delete;
    SampleLogger& operator=(const SampleLogger&) = delete;

    const std::filesystem::path& fileURL() const { return fileURL_; }

    // Queues one sample for appending; returns at once. Callable from any thread. A sample
    // with a non-finite time or luma is dropped; so is one whose file has gone missing.
    void log(const Sample& sample);
    // The same, then tells `completion` on `deliverOn` (which must outlive the work) whether
    // the whole line is in the file and, when the file would not take it, why.
    using Completion =
        std::function<void(bool written, const std::optional<std::string>& fileProblem)>;
    void log(const Sample& sample, Queue& deliverOn, Completion completion);

    // Every readable sample of the file, in file order, read on the caller's thread (any
    // thread). An unreadable file gives nothing; undecodable lines and a final line without
    // its line feed (an append still in progress) are skipped. Lines decoded by an earlier
    // call are not decoded again while the file is the same one and has only grown.
    std::vector<Sample> loadAll() const;
    // The same read, run on the logger's queue after the appends queued before it; the
    // samples are handed to `completion` on `deliverOn`, which must outlive the work. Five
    // years of samples take tens of milliseconds to read: the main thread reads this way.
    // A read still queued when the logger goes is skipped, and `completion` is not called.
    void loadAll(Queue& deliverOn, std::function<void(std::vector<Sample>)> completion) const;

    // The file's lines that decode as samples, counted on the logger's queue after the
    // appends queued before; the count (0 when the file cannot be read) is handed to
    // `completion` on `deliverOn`. Skipped like a read when the logger has gone.
    void countSamples(Queue& deliverOn, std::function<void(long long)> completion) const;
    // One line of the file, line feed included; nothing for a non-finite time or luma.
    static std::optional<std::string> encodeLine(const Sample& sample);
    // One line without its line feed: an object with all five members, "brightness" and
    // "hour" whole numbers within int, "userSet" a boolean; other members are ignored.
    static std::optional<Sample> decodeLine(std::string_view line);
    // The samples of a whole buffer of lines, as `loadAll` reads a file.
    static std::vector<Sample> decodeLines(std::string_view bytes);

  private:
    struct Cache;

    struct Appended {
        bool written;
        std::optional<std::string> fileProblem;
    };
    static Appended append(const std::filesystem::path& path, const Sample& sample, DebugLog* log);

    std::filesystem::path fileURL_;
    Queue& queue_;
    DebugLog* log_;
    std::size_t maxReadBytes_;
    // Shared with the reads on the queue, which may outlive the logger.
    std::shared_ptr<Cache> cache_;
};

}  // namespace pellora
