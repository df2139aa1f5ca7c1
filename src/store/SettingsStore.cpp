#include "store/SettingsStore.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "platform/AtomicFile.h"
#include "platform/ProcessWide.h"
#include "platform/WhileAlive.h"
#include "store/DebugLog.h"
#include "store/PeerSettingsFiles.h"
#include "store/SettingsFile.h"

namespace pellora {

namespace {

constexpr double kCheckDelaySeconds = 0.25;
constexpr double kFirstRetrySeconds = 60;
constexpr double kLastRetrySeconds = 3600;
constexpr double kTwoTo63 = 9223372036854775808.0;

// How a text reads as a truth value: "true", "yes" or a number other than zero.
bool textAsBool(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    if (c == 't' || c == 'y') {
        return true;
    }
    if (c == '+' || c == '-') {
        ++i;
    }
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (text[i] != '0') {
            return true;
        }
    }
    return false;
}

// The number a double truncates to, the way the synced copy reads numbers as integers.
std::int64_t truncated(double d) {
    if (!std::isfinite(d) || d >= kTwoTo63 || d < -kTwoTo63) {
        return 0;
    }
    return static_cast<std::int64_t>(d);
}

bool asBool(const SettingValue& value) {
    if (auto b = std::get_if<bool>(&value)) {
        return *b;
    }
    if (auto i = std::get_if<std::int64_t>(&value)) {
        return *i != 0;
    }
    if (auto d = std::get_if<double>(&value)) {
        return *d != 0.0;
    }
    if (auto s = std::get_if<std::string>(&value)) {
        return textAsBool(*s);
    }
    return false;
}

std::optional<double> asNumber(const SettingValue& value) {
    if (auto d = std::get_if<double>(&value)) {
        return *d;
    }
    if (auto i = std::get_if<std::int64_t>(&value)) {
        return static_cast<double>(*i);
    }
    if (auto b = std::get_if<bool>(&value)) {
        return *b ? 1.0 : 0.0;
    }
    return std::nullopt;
}

}  // namespace

struct SettingsStore::Files {
    SettingsFile local;
    SettingsFile own;
    PeerSettingsFiles peers;
    std::size_t writes = 0;
    bool localFailed = false;  // the last write of each copy failed
    bool ownFailed = false;
};

// What one write puts in the files; a copy that has not changed is left out.
struct SettingsStore::Snapshot {
    std::optional<SettingsFileCodec::Decoded> local;
    std::optional<SettingsFileCodec::Decoded> own;
};

SettingsStore::SettingsStore(Queue& mainQueue, Queue& settingsQueue, DebugLog* log,
                             std::shared_ptr<Files> files, SettingsFileCodec::Decoded local,
                             SyncedSettings cloud, std::filesystem::path syncDir)
    : main_(mainQueue),
      settingsQueue_(settingsQueue),
      log_(log),
      files_(std::move(files)),
      local_(std::move(local)),
      cloud_(std::move(cloud)),
      syncDir_(std::move(syncDir)) {}

SettingsStore::~SettingsStore() {
    if (pendingCheck_) {
        pendingCheck_->cancel();
    }
    if (pendingRetry_) {
        pendingRetry_->cancel();
    }
    if (localDirty_ || cloudDirty_ || localRetry_ || cloudRetry_) {
        sendSnapshot();
    }
    settingsQueue_.sync([] {});
    // A write that failed, the one under way included, gets one more try on the way out.
    if (files_->localFailed || files_->ownFailed) {
        localRetry_ = files_->localFailed;
        cloudRetry_ = files_->ownFailed;
        sendSnapshot();
        settingsQueue_.sync([] {});
    }
}

std::shared_ptr<SettingsStore> SettingsStore::open(const AppPaths& paths, const Clock& clock,
                                                   Queue& mainQueue, Queue& settingsQueue,
                                                   DebugLog* log, std::string machine,
                                                   const std::string& former) {
    auto logger = [log](const std::string& message) {
        if (log) {
            log->log(message, "settings");
        }
    };
    std::error_code error;
    const auto own = paths.syncDir / (machine + ".json");
    const auto old = paths.syncDir / (former + ".json");
    // A folder that cannot be looked into (a sudo run's) is told of by the files' own reads.
    if (former != machine &&
        std::filesystem::symlink_status(own, error).type() ==
            std::filesystem::file_type::not_found &&
        std::filesystem::is_regular_file(std::filesystem::symlink_status(old, error))) {
        std::filesystem::rename(old, own, error);
    }
    auto files = std::make_shared<Files>(Files{
        SettingsFile(paths.configDir / "settings.json", false, "settings file", logger),
        SettingsFile(paths.syncDir / (machine + ".json"), true, "synced settings file", logger),
        PeerSettingsFiles(paths.syncDir, machine, logger)});
    SettingsFileCodec::Decoded local = files->local.load();
    SyncedSettings cloud(machine, clock, files->own.load());
    PeerChanges peers = files->peers.scan();
    std::shared_ptr<SettingsStore> store(new SettingsStore(
        mainQueue, settingsQueue, log, files, std::move(local), std::move(cloud), paths.syncDir));
    store->fileProblem_ = files->local.problem() ? files->local.problem() : files->own.problem();
    store->applyPeers(std::move(peers));
    // What a killed write left behind; younger ones may be another process's, under way.
    settingsQueue.post([files, now = clock.now()] {
        sweepStaleTemporaries(files->local.path(), now);
        sweepStaleTemporaries(files->own.path(), now);
    });
    return store;
}

SettingsStore& SettingsStore::shared() {
    return ProcessWide<SettingsStore>::get("SettingsStore");
}

void SettingsStore::installShared(std::shared_ptr<SettingsStore> store) {
    ProcessWide<SettingsStore>::install(std::move(store));
}

const SettingValue* SettingsStore::localValue(const std::string& key) const {
    // A removal made on another machine is news, not a gap: the local copy, which only
    // catches up at this machine's next write, must not bring the old value back.
    if (cloud_.isRemoved(key)) {
        return nullptr;
    }
    auto it = local_.entries.find(key);
    return it == local_.entries.end() || !it->second.value ? nullptr : &*it->second.value;
}

std::optional<SettingValue> SettingsStore::value(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_.value(key)) {
        return *v;
    }
    if (auto v = localValue(key)) {
        return *v;
    }
    return std::nullopt;
}

std::optional<std::string> SettingsStore::data(const std::string& key) const {
    auto copies = dataCopies(key);
    if (copies.empty()) {
        return std::nullopt;
    }
    return std::move(copies.front());
}

std::vector<std::string> SettingsStore::dataCopies(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    std::vector<std::string> copies;
    if (auto v = cloud_.value(key); v && std::holds_alternative<Bytes>(*v)) {
        copies.push_back(std::get<Bytes>(*v).data);
    }
    if (auto v = localValue(key); v && std::holds_alternative<Bytes>(*v)) {
        copies.push_back(std::get<Bytes>(*v).data);
    }
    return copies;
}

std::optional<std::string> SettingsStore::string(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_.value(key); v && std::holds_alternative<std::string>(*v)) {
        return std::get<std::string>(*v);
    }
    if (auto v = localValue(key); v && std::holds_alternative<std::string>(*v)) {
        return std::get<std::string>(*v);
    }
    return std::nullopt;
}

bool SettingsStore::boolean(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_.value(key)) {
        return asBool(*v);
    }
    if (auto v = localValue(key)) {
        return asBool(*v);
    }
    return false;
}

std::optional<double> SettingsStore::doubleValue(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_.value(key)) {
        return asNumber(*v).value_or(0.0);
    }
    if (auto v = localValue(key)) {
        return asNumber(*v);
    }
    return std::nullopt;
}

std::optional<std::int64_t> SettingsStore::integer(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_.value(key)) {
        if (auto i = std::get_if<std::int64_t>(v)) {
            return *i;
        }
        return truncated(asNumber(*v).value_or(0.0));
    }
    if (auto v = localValue(key)) {
        if (auto i = std::get_if<std::int64_t>(v)) {
            return *i;
        }
        auto d = asNumber(*v);
        // Only a number that is exactly an integer reads as one (3.5 reads as nothing).
        if (d && std::isfinite(*d) && std::trunc(*d) == *d && *d >= -kTwoTo63 && *d < kTwoTo63) {
            return static_cast<std::int64_t>(*d);
        }
    }
    return std::nullopt;
}

void SettingsStore::write(const std::string& key, SettingValue value) {
    PELLORA_ASSERT_ON(main_);
    local_.entries[key] = SettingsEntry{value, 0};
    local_.unreadable.erase(key);
    cloud_.set(key, std::move(value));
    localDirty_ = cloudDirty_ = true;
    changed();
}

void SettingsStore::set(const std::string& key, const Bytes& value) {
    write(key, value);
}
void SettingsStore::set(const std::string& key, const std::string& value) {
    write(key, value);
}
void SettingsStore::set(const std::string& key, std::int64_t value) {
    write(key, value);
}
void SettingsStore::set(const std::string& key, bool value) {
    write(key, value);
}

void SettingsStore::set(const std::string& key, double value) {
    // JSON has no NaN or infinity; writing one would damage the file for every reader.
    if (!std::isfinite(value)) {
        if (log_) {
            log_->log("not storing a non-finite value under \"" + key + "\"", "settings");
        }
        return;
    }
    write(key, value);
}

bool SettingsStore::machineBoolean(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    auto it = local_.entries.find(key);
    return it != local_.entries.end() && it->second.value && asBool(*it->second.value);
}

void SettingsStore::setForThisMachine(const std::string& key, bool value) {
    PELLORA_ASSERT_ON(main_);
    local_.entries[key] = SettingsEntry{value, 0};
    local_.unreadable.erase(key);
    localDirty_ = true;
    changed();
}

void SettingsStore::remove(const std::string& key) {
    PELLORA_ASSERT_ON(main_);
    if (local_.entries.erase(key) + local_.unreadable.erase(key) > 0) {
        localDirty_ = true;
    }
    if (cloud_.remove(key)) {
        cloudDirty_ = true;
    }
    changed();
}

void SettingsStore::changed() {
    // One write at a time: changes made meanwhile go together in the next one.
    if ((localDirty_ || cloudDirty_) && writesInFlight_ == 0) {
        sendSnapshot();
    }
}

void SettingsStore::sendSnapshot() {
    auto snapshot = std::make_shared<Snapshot>();
    if (localDirty_ || localRetry_) {
        snapshot->local = local_;
    }
    if (cloudDirty_ || cloudRetry_) {
        snapshot->own = SettingsFileCodec::Decoded{cloud_.own(), cloud_.ownKept()};
    }
    localDirty_ = cloudDirty_ = localRetry_ = cloudRetry_ = false;
    ++writesInFlight_;
    settingsQueue_.post([files = files_, snapshot = std::shared_ptr<const Snapshot>(snapshot),
                         main = &main_, weak = weak_from_this()] {
        // A failed write is not retried here; main marks it for the next change or the quit.
        if (snapshot->local) {
            files->localFailed =
                !files->local.write(snapshot->local->entries, snapshot->local->unreadable);
            files->writes += !files->localFailed;
        }
        if (snapshot->own) {
            files->ownFailed = !files->own.write(snapshot->own->entries, snapshot->own->unreadable);
            files->writes += !files->ownFailed;
        }
        auto problem =
            files->local.writeProblem() ? files->local.writeProblem() : files->own.writeProblem();
        main->post(whileAlive(
            weak, [changes = files->peers.scan(), local = files->localFailed,
                   own = files->ownFailed, problem = std::move(problem)](const auto& self) mutable {
                self->written(std::move(changes), local, own, std::move(problem));
            }));
    });
}

void SettingsStore::written(PeerChanges changes, bool localFailed, bool ownFailed,
                            std::optional<SettingsFile::Problem> writeProblem) {
    --writesInFlight_;
    writeProblem_ = std::move(writeProblem);
    // Not at once, which would spin on a lasting failure: with the next change, a while
    // later (space may come back, and a power cut would lose what only memory holds), or at
    // the end.
    localRetry_ = localRetry_ || localFailed;
    cloudRetry_ = cloudRetry_ || ownFailed;
    if (localFailed || ownFailed) {
        scheduleRetry();
    } else {
        retryDelay_ = 0;
    }
    applyPeers(std::move(changes));
    changed();
}

void SettingsStore::scheduleRetry() {
    if (pendingRetry_ && !pendingRetry_->isCancelled()) {
        return;
    }
    retryDelay_ = std::clamp(retryDelay_ * 2, kFirstRetrySeconds, kLastRetrySeconds);
    pendingRetry_ = main_.postAfter(
        retryDelay_, whileAlive(this, [](const auto& self) {
            self->pendingRetry_.reset();
            if (self->writesInFlight_ == 0 && (self->localRetry_ || self->cloudRetry_)) {
                self->sendSnapshot();
            }
        }));
}

void SettingsStore::applyPeers(PeerChanges changes) {
    if (cloud_.apply(std::move(changes))) {
        postRemoteChange();
    }
}

void SettingsStore::flush() {
    PELLORA_ASSERT_ON(main_);
    if (localDirty_ || cloudDirty_) {
        sendSnapshot();
    }
    settingsQueue_.sync([] {});
}

std::size_t SettingsStore::fileWrites() {
    std::size_t count = 0;
    settingsQueue_.sync([&count, files = files_] { count = files->writes; });
    return count;
}

SettingsStore::Subscription SettingsStore::onRemoteChange(std::function<void()> callback) {
    auto holder = std::make_shared<std::function<void()>>(std::move(callback));
    std::erase_if(subscribers_, [](const auto& weak) { return weak.expired(); });
    subscribers_.push_back(holder);
    return holder;
}

void SettingsStore::cloudFolderChanged() {
    main_.post([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || (self->pendingCheck_ && !self->pendingCheck_->isCancelled())) {
            return;
        }
        self->pendingCheck_ =
            self->main_.postAfter(kCheckDelaySeconds, whileAlive(weak, [](const auto& self) {
                                      self->pendingCheck_.reset();
                                      self->checkCloud();
                                  }));
    });
}

void SettingsStore::watchCloudFolder() {
    ensureDirectory(syncDir_);
    watcher_ = std::make_unique<DirectoryWatcher>(
        syncDir_, whileAlive(this, [](const auto& self) { self->cloudFolderChanged(); }));
    if (!watcher_->isWatching() && log_) {
        log_->log("cannot watch " + syncDir_.string() +
                      "; settings changed on other machines are seen at the next write",
                  "settings");
    }
}

void SettingsStore::checkCloud() {
    settingsQueue_.post([files = files_, main = &main_, weak = weak_from_this()] {
        main->post(whileAlive(weak, [changes = files->peers.scan()](const auto& self) mutable {
            self->applyPeers(std::move(changes));
        }));
    });
}

void SettingsStore::postRemoteChange() {
    main_.post(whileAlive(this, [weak = weak_from_this()](
                                    const auto& self) {  // Each subscriber is looked at just before
                                                         // its call: one that an earlier callback
        // dropped is not called.
        auto snapshot = self->subscribers_;
        for (const auto& weak : snapshot) {
            if (auto callback = weak.lock()) {
                (*callback)();
            }
        }
        std::erase_if(self->subscribers_, [](const auto& weak) { return weak.expired(); });
    }));
}

}  // namespace pellora
