#include "store/SampleLogger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/AppPaths.h"
#include "platform/ReadAt.h"
#include "platform/UniqueFd.h"
#include "store/DebugLog.h"

namespace pellora {

namespace {

using nlohmann::json;

void note(DebugLog* log, const std::string& message) {
    if (log) {
        log->log(message, "sample");
    }
}

std::string errnoText() {
    return std::strerror(errno);
}

// Collects the five members of one line's object as the parser reports them, refusing
// anything else as early as it can: a wrong type, a repeated member, a top level that is
// not an object, or nesting deeper than any sample needs.
class SampleReader final : public nlohmann::json_sax<json> {
  public:
    static constexpr int maxDepth = 16;

    bool complete() const { return depth_ == 0 && seen_ == allMembers; }
    const Sample& sample() const { return sample_; }

    bool null() override { return other(); }
    bool string(string_t&) override { return other(); }
    bool binary(binary_t&) override { return other(); }

    bool boolean(bool value) override {
        if (depth_ != 1) {
            return depth_ > 1;
        }
        if (member_ == Member::userSet) {
            sample_.userSet = value;
            return take();
        }
        return member_ == Member::other;
    }

    bool number_integer(number_integer_t value) override {
        return number(static_cast<double>(value), value >= INT_MIN && value <= INT_MAX,
                      static_cast<int>(value));
    }

    bool number_unsigned(number_unsigned_t value) override {
        return number(static_cast<double>(value), value <= INT_MAX, static_cast<int>(value));
    }

    bool number_float(number_float_t value, const string_t&) override {
        const bool whole = std::isfinite(value) && value == std::trunc(value) && value >= INT_MIN &&
                           value <= INT_MAX;
        return number(value, whole, whole ? static_cast<int>(value) : 0);
    }

    bool start_object(std::size_t) override {
        if (depth_ == 0) {
            depth_ = 1;
            return true;
        }
        return enterNested();
    }

    bool end_object() override {
        --depth_;
        return true;
    }

    bool start_array(std::size_t) override { return depth_ > 0 && enterNested(); }

    bool end_array() override {
        --depth_;
        return true;
    }

    bool key(string_t& name) override {
        if (depth_ == 1) {
            member_ = memberNamed(name);
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    enum class Member { t, luma, brightness, hour, userSet, other };
    static constexpr unsigned allMembers = 0x1f;

    static Member memberNamed(const std::string& name) {
        if (name == "t") {
            return Member::t;
        }
        if (name == "luma") {
            return Member::luma;
        }
        if (name == "brightness") {
            return Member::brightness;
        }
        if (name == "hour") {
            return Member::hour;
        }
        if (name == "userSet") {
            return Member::userSet;
        }
        return Member::other;
    }

    // A value that no known member may have: fine inside an unknown member.
    bool other() const { return depth_ > 1 || (depth_ == 1 && member_ == Member::other); }

    bool enterNested() {
        if ((depth_ == 1 && member_ != Member::other) || depth_ >= maxDepth) {
            return false;
        }
        ++depth_;
        return true;
    }

    bool number(double value, bool isInt, int intValue) {
        if (depth_ != 1) {
            return depth_ > 1;
        }
        switch (member_) {
            case Member::t:
                sample_.t = value;
                return std::isfinite(value) && take();
            case Member::luma:
                sample_.luma = value;
                return std::isfinite(value) && take();
            case Member::brightness:
                sample_.brightness = intValue;
                return isInt && take();
            case Member::hour:
                sample_.hour = intValue;
                return isInt && take();
            case Member::userSet:
                return false;
            case Member::other:
                return true;
        }
        return false;
    }

    // Marks the current member as read; a second value for it spoils the line.
    bool take() {
        const unsigned bit = 1u << static_cast<unsigned>(member_);
        if (seen_ & bit) {
            return false;
        }
        seen_ |= bit;
        return true;
    }

    Sample sample_;
    int depth_ = 0;
    Member member_ = Member::other;
    unsigned seen_ = 0;
};

// The form encodeLine writes, read without a general parser: a year of samples is decoded
// on the main thread, and nlohmann's SAX walk alone costs more than the time that allows.
// Anything else (other spacing or order, other number forms) goes to the full reader.
class CanonicalLine {
  public:
    explicit CanonicalLine(std::string_view line) : rest_(line) {}

    std::optional<Sample> read() {
        Sample sample;
        if (!literal("{\"t\":") || !real(sample.t) || !literal(",\"luma\":") ||
            !real(sample.luma) || !literal(",\"brightness\":") || !integer(sample.brightness) ||
            !literal(",\"hour\":") || !integer(sample.hour) || !literal(",\"userSet\":")) {
            return std::nullopt;
        }
        if (literal("true")) {
            sample.userSet = true;
        } else if (!literal("false")) {
            return std::nullopt;
        }
        if (!literal("}") || !rest_.empty()) {
            return std::nullopt;
        }
        return sample;
    }

  private:
    bool literal(std::string_view text) {
        if (rest_.substr(0, text.size()) != text) {
            return false;
        }
        rest_.remove_prefix(text.size());
        return true;
    }

    // The length of a JSON number at the front, with `whole` telling whether it has neither
    // fraction nor exponent; 0 when there is none.
    std::size_t numberLength(bool& whole) const {
        std::size_t i = 0;
        auto digit = [&](std::size_t at) {
            return at < rest_.size() && rest_[at] >= '0' && rest_[at] <= '9';
        };
        if (i < rest_.size() && rest_[i] == '-') {
            ++i;
        }
        if (!digit(i)) {
            return 0;
        }
        if (rest_[i] == '0') {
            ++i;
        } else {
            while (digit(i)) {
                ++i;
            }
        }
        whole = true;
        if (i < rest_.size() && rest_[i] == '.') {
            whole = false;
            if (!digit(++i)) {
                return 0;
            }
            while (digit(i)) {
                ++i;
            }
        }
        if (i < rest_.size() && (rest_[i] == 'e' || rest_[i] == 'E')) {
            whole = false;
            ++i;
            if (i < rest_.size() && (rest_[i] == '+' || rest_[i] == '-')) {
                ++i;
            }
            if (!digit(i)) {
                return 0;
            }
            while (digit(i)) {
                ++i;
            }
        }
        return i;
    }

    bool real(double& value) {
        bool whole = false;
        const std::size_t length = numberLength(whole);
        if (length == 0) {
            return false;
        }
        const auto [end, error] = std::from_chars(rest_.data(), rest_.data() + length, value);
        if (error != std::errc() || end != rest_.data() + length || !std::isfinite(value)) {
            return false;
        }
        rest_.remove_prefix(length);
        return true;
    }

    bool integer(int& value) {
        bool whole = false;
        const std::size_t length = numberLength(whole);
        if (length == 0 || !whole) {
            return false;
        }
        const auto [end, error] = std::from_chars(rest_.data(), rest_.data() + length, value);
        if (error != std::errc() || end != rest_.data() + length) {
            return false;
        }
        rest_.remove_prefix(length);
        return true;
    }

    std::string_view rest_;
};

// Decodes the whole lines of `bytes` onto `samples`; returns how many bytes they took up.
// Stops early, at a line's end, once `stop` is set: no one is left to want the samples.
std::size_t decodeWholeLines(std::string_view bytes, std::vector<Sample>& samples,
                             const std::atomic<bool>* stop = nullptr) {
    std::size_t start = 0;
    for (std::size_t n = 0;; ++n) {
        const std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos || (stop && n % 4096 == 0 && *stop)) {
            return start;
        }
        if (end > start) {
            if (auto sample = SampleLogger::decodeLine(bytes.substr(start, end - start))) {
                samples.push_back(*sample);
            }
        }
        start = end + 1;
    }
}

// The lines of the file that decode as samples, 0 when it cannot be read; a final line
// without its line feed is not one yet. Streams the file, so a large one costs no memory.
// Never waits on a FIFO or follows a link someone left in its place.
long long countReadable(const std::filesystem::path& path, const std::atomic<bool>& stop) {
    // A sample line is under a hundred bytes; one longer than this is damage, not a sample.
    constexpr std::size_t maxLine = 1u << 20;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0;
    }
    long long count = 0;
    std::string line;
    bool overlong = false;
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || stop) {
            return n == 0 ? count : 0;
        }
        std::string_view rest(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(end + 1)) {
            if (!overlong) {
                line.append(rest.substr(0, end));
                count += SampleLogger::decodeLine(line).has_value();
            }
            line.clear();
            overlong = false;
        }
        overlong = overlong || line.size() + rest.size() > maxLine;
        if (!overlong) {
            line.append(rest);
        } else {
            line.clear();
        }
    }
}

// One write() for the whole line, so concurrent appenders cannot interleave. Nothing once the
// whole line is in the file, else why not (the debug log has it too).
std::optional<std::string> appendLine(const std::filesystem::path& path, std::string line,
                                      DebugLog* log) {
    auto dropped = [log](std::string why) {
        note(log, "Sample dropped: " + why);
        return std::optional(std::move(why));
    };
    // No O_CREAT: a log deleted while running stays deleted until its logger is made again.
    // Read access is only for looking at the last byte; without it the append still goes.
    // O_NOFOLLOW: a link in the file's place could aim the append at any file we may write.
    const int flags = O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    UniqueFd fd(::open(path.c_str(), O_RDWR | flags));
    if (!fd && errno == EACCES) {
        fd.reset(::open(path.c_str(), O_WRONLY | flags));
    }
    if (!fd) {
        return dropped("cannot open " + path.string() + ": " +
                       (errno == ELOOP ? std::string("a symbolic link, not a file") : errnoText()));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return dropped(path.string() + " is not a regular file");
    }
    // A final line cut short (a crash or a full disk mid-append) would swallow this one:
    // start on a fresh line, leaving the fragment to be skipped on its own. The lock keeps
    // another appender's line, half-way into the file, from looking like such a fragment;
    // where locks are not supported the append goes ahead without one.
    // Another process may hold the lock for ever: wait for it a quarter of a second at most,
    // then go on as where locks are not supported.
    for (int tries = 0; ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && tries < 25; ++tries) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            break;
        }
        ::usleep(10000);
    }
    if (::fstat(fd.get(), &info) == 0 && info.st_size > 0) {
        char last = '\n';
        if (::pread(fd.get(), &last, 1, info.st_size - 1) == 1 && last != '\n') {
            line.insert(line.begin(), '\n');
        }
    }
    ssize_t n;
    do {
        n = ::write(fd.get(), line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return dropped("cannot write " + path.string() + ": " + errnoText());
    }
    if (static_cast<std::size_t>(n) != line.size()) {
        // Writing the rest separately could interleave with another appender; the next
        // append starts on a fresh line instead.
        std::string why = std::to_string(n) + " of " + std::to_string(line.size()) +
                          " bytes written to " + path.string();
        note(log, "Sample cut short: " + why);
        return why;
    }
    return std::nullopt;
}

}  // namespace

// What earlier reads decoded, so a read of a file that only grew decodes just the new
// lines. Guarded by a mutex: the window's refresh and retraining read from different threads.
struct SampleLogger::Cache {
    // Enough to span a whole line.
    static constexpr std::size_t guardBytes = 128;
    struct State {
        bool valid = false;
        dev_t device = 0;
        ino_t inode = 0;
        std::size_t end = 0;          // just past the last whole line decoded
        std::string guard;            // the bytes just before `end`
        std::vector<Sample> samples;  // the samples of the file up to `end`
    };
    std::mutex mutex;
    State state;
    std::string lastComplaint;  // logged once, not at every read
    // Set when the logger goes: a read under way stops, since no one is left to want it.
    std::atomic<bool> abandoned{false};

    std::vector<Sample> load(const std::filesystem::path& path, std::size_t maxReadBytes,
                             DebugLog* log);
    void complain(DebugLog* log, std::string text) {
        if (text != lastComplaint) {
            note(log, text);
            lastComplaint = std::move(text);
        }
    }
};

SampleLogger::SampleLogger(const std::string& monitorID, const std::filesystem::path& appSupportDir,
                           Queue& queue, DebugLog* log, std::size_t maxReadBytes)
    : queue_(queue), log_(log), maxReadBytes_(maxReadBytes), cache_(std::make_shared<Cache>()) {
    const std::filesystem::path dir = appSupportDir / "monitors" / monitorID;
    fileURL_ = dir / fileName;
    if (!ensureDirectory(dir)) {
        note(log_, "Cannot create samples folder " + dir.string());
    }
    UniqueFd fd(::open(fileURL_.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600));
    if (!fd && errno != EEXIST) {
        note(log_, "Cannot create " + fileURL_.string() + ": " + errnoText());
    }
}

SampleLogger::~SampleLogger() {
    cache_->abandoned = true;
}

void SampleLogger::log(const Sample& sample) {
    queue_.post([sample, path = fileURL_, log = log_] { append(path, sample, log); });
}

void SampleLogger::log(const Sample& sample, Queue& deliverOn, Completion completion) {
    queue_.post(
        [sample, path = fileURL_, log = log_, &deliverOn, completion = std::move(completion)] {
            deliverOn.post([completion, outcome = append(path, sample, log)] {
                completion(outcome.written, outcome.fileProblem);
            });
        });
}

SampleLogger::Appended SampleLogger::append(const std::filesystem::path& path, const Sample& sample,
                                            DebugLog* log) {
    // The task carries everything it needs, so appends queued before the logger goes away
    // still happen.
    std::optional<std::string> line = encodeLine(sample);
    if (!line) {
        note(log, "Sample dropped: non-finite time or luma");
        return {false, std::nullopt};
    }
    std::optional<std::string> problem = appendLine(path, std::move(*line), log);
    return {!problem, std::move(problem)};
}

std::vector<Sample> SampleLogger::loadAll() const {
    return cache_->load(fileURL_, maxReadBytes_, log_);
}

void SampleLogger::loadAll(Queue& deliverOn,
                           std::function<void(std::vector<Sample>)> completion) const {
    // Runs after the appends queued before. Only someone holding the logger wants the
    // samples: a read whose logger has gone (its monitor changed, or the program is ending)
    // is skipped, so the queue drains quickly.
    queue_.post([path = fileURL_, weak = std::weak_ptr(cache_), maxReadBytes = maxReadBytes_,
                 log = log_, &deliverOn, completion = std::move(completion)] {
        auto cache = weak.lock();
        if (!cache) {
            return;
        }
        std::vector<Sample> samples = cache->load(path, maxReadBytes, log);
        if (!cache->abandoned) {
            deliverOn.post([completion, samples = std::move(samples)] { completion(samples); });
        }
    });
}

void SampleLogger::countSamples(Queue& deliverOn, std::function<void(long long)> completion) const {
    queue_.post([path = fileURL_, weak = std::weak_ptr(cache_), &deliverOn,
                 completion = std::move(completion)] {
        auto cache = weak.lock();
        if (!cache) {
            return;
        }
        const long long count = countReadable(path, cache->abandoned);
        if (!cache->abandoned) {
            deliverOn.post([completion, count] { completion(count); });
        }
    });
}

std::vector<Sample> SampleLogger::Cache::load(const std::filesystem::path& path,
                                              std::size_t maxReadBytes, DebugLog* log) {
    // O_NONBLOCK: a FIFO left in the file's place would otherwise block the caller.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    const int openError = errno;
    struct stat info {};
    const bool regular = fd && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode);
    std::lock_guard lock(mutex);
    Cache::State& cache = state;
    if (!regular) {
        cache = {};
        // A missing file is an ordinary state (deleted while running), not worth a line.
        if (fd || openError != ENOENT) {
            complain(log, "Samples file " + path.string() + " is not read: " +
                              (fd || openError == ELOOP ? std::string("not a regular file")
                                                        : std::strerror(openError)));
        }
        return {};
    }
    // Only what is there now: lines appended while reading belong to the next read.
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size > maxReadBytes) {
        cache = {};
        complain(log, "Samples file " + path.string() + " holds " + std::to_string(size) +
                          " bytes; only its newest " + std::to_string(maxReadBytes) +
                          " are read, the older samples are left out");
        // One byte before the window tells whether the window starts on a fresh line.
        const std::size_t start = size - maxReadBytes - 1;
        std::optional<std::string> bytes = readAt(fd.get(), start, size - start);
        if (!bytes) {
            return {};
        }
        const std::size_t firstBreak = bytes->find('\n');
        std::vector<Sample> samples;
        if (firstBreak != std::string::npos) {
            decodeWholeLines(std::string_view(*bytes).substr(firstBreak + 1), samples, &abandoned);
        }
        return samples;
    }

    // The file only grows, so what was decoded before still stands if the file is the same
    // one and the bytes before the end of the last read are unchanged; else start afresh.
    bool extend = cache.valid && cache.device == info.st_dev && cache.inode == info.st_ino &&
                  size >= cache.end;
    if (extend && !cache.guard.empty()) {
        const std::size_t at = cache.end - cache.guard.size();
        extend = readAt(fd.get(), at, cache.guard.size()) == cache.guard;
    }
    if (!extend) {
        cache = {};
        cache.device = info.st_dev;
        cache.inode = info.st_ino;
        cache.samples.reserve(size / 80);
    }
    std::optional<std::string> bytes = readAt(fd.get(), cache.end, size - cache.end);
    if (!bytes) {
        cache = {};
        return {};
    }
    const std::size_t used = decodeWholeLines(*bytes, cache.samples, &abandoned);
    cache.end += used;
    const std::string_view taken = std::string_view(*bytes).substr(0, used);
    if (taken.size() >= Cache::guardBytes) {
        cache.guard = taken.substr(taken.size() - Cache::guardBytes);
    } else {
        cache.guard += taken;
        if (cache.guard.size() > Cache::guardBytes) {
            cache.guard.erase(0, cache.guard.size() - Cache::guardBytes);
        }
    }
    cache.valid = true;
    lastComplaint.clear();
    return cache.samples;
}

std::optional<std::string> SampleLogger::encodeLine(const Sample& sample) {
    if (!std::isfinite(sample.t) || !std::isfinite(sample.luma)) {
        return std::nullopt;
    }
    nlohmann::ordered_json object;
    object["t"] = sample.t;
    object["luma"] = sample.luma;
    object["brightness"] = sample.brightness;
    object["hour"] = sample.hour;
    object["userSet"] = sample.userSet;
    std::string line = object.dump();
    line += '\n';
    return line;
}

std::optional<Sample> SampleLogger::decodeLine(std::string_view line) {
    if (auto sample = CanonicalLine(line).read()) {
        return sample;
    }
    SampleReader reader;
    try {
        if (!json::sax_parse(line.begin(), line.end(), &reader) || !reader.complete()) {
            return std::nullopt;
        }
    } catch (const json::exception&) {
        return std::nullopt;
    }
    return reader.sample();
}

std::vector<Sample> SampleLogger::decodeLines(std::string_view bytes) {
    std::vector<Sample> samples;
    // Lines run about 80 bytes.
    samples.reserve(bytes.size() / 80);
    decodeWholeLines(bytes, samples);
    return samples;
}

}  // namespace pellora
