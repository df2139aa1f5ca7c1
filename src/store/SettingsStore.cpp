#include "store/SettingsStore.h"

#include <cctype>
#include <cmath>
#include <mutex>

#include "store/DebugLog.h"

namespace pellora {

namespace {

constexpr double kCheckDelaySeconds = 0.25;
constexpr double kTwoTo63 = 9223372036854775808.0;

std::shared_ptr<SettingsStore>& sharedSlot() {
    static std::shared_ptr<SettingsStore> slot;
    return slot;
}

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

SettingsStore::SettingsStore(std::unique_ptr<LocalSettings> local,
                             std::unique_ptr<CloudSettingsFolder> cloud, Queue& mainQueue,
                             DebugLog* log)
    : local_(std::move(local)), cloud_(std::move(cloud)), main_(mainQueue), log_(log) {
    if (cloud_->synchronize()) {
        postRemoteChange();
    }
}

SettingsStore::~SettingsStore() {
    *alive_ = false;
    if (pendingCheck_) {
        pendingCheck_->cancel();
    }
}

std::shared_ptr<SettingsStore> SettingsStore::open(const AppPaths& paths, const Clock& clock,
                                                   Queue& mainQueue, DebugLog* log,
                                                   std::string machine) {
    auto logger = [log](const std::string& message) {
        if (log) {
            log->log(message, "settings");
        }
    };
    auto local = std::make_unique<LocalSettings>(paths.configDir / "settings.json", logger);
    auto cloud =
        std::make_unique<CloudSettingsFolder>(paths.syncDir, std::move(machine), clock, logger);
    return std::make_shared<SettingsStore>(std::move(local), std::move(cloud), mainQueue, log);
}

SettingsStore& SettingsStore::shared() {
    auto& slot = sharedSlot();
    if (!slot) {
        // Start-up installs the real one; reaching this is a wiring mistake, not a user error.
        std::fprintf(stderr, "SettingsStore::shared() used before start-up installed it\n");
        std::abort();
    }
    return *slot;
}

void SettingsStore::installShared(std::shared_ptr<SettingsStore> store) {
    sharedSlot() = std::move(store);
}

const SettingValue* SettingsStore::localValue(const std::string& key) const {
    // A removal made on another machine is news, not a gap: the local copy, which only
    // catches up at this machine's next write, must not bring the old value back.
    return cloud_->isRemoved(key) ? nullptr : local_->value(key);
}

std::optional<std::string> SettingsStore::data(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_->value(key); v && std::holds_alternative<Bytes>(*v)) {
        return std::get<Bytes>(*v).data;
    }
    if (auto v = localValue(key); v && std::holds_alternative<Bytes>(*v)) {
        return std::get<Bytes>(*v).data;
    }
    return std::nullopt;
}

std::optional<std::string> SettingsStore::string(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_->value(key); v && std::holds_alternative<std::string>(*v)) {
        return std::get<std::string>(*v);
    }
    if (auto v = localValue(key); v && std::holds_alternative<std::string>(*v)) {
        return std::get<std::string>(*v);
    }
    return std::nullopt;
}

bool SettingsStore::boolean(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_->value(key)) {
        return asBool(*v);
    }
    if (auto v = localValue(key)) {
        return asBool(*v);
    }
    return false;
}

std::optional<double> SettingsStore::doubleValue(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_->value(key)) {
        return asNumber(*v).value_or(0.0);
    }
    if (auto v = localValue(key)) {
        return asNumber(*v);
    }
    return std::nullopt;
}

std::optional<std::int64_t> SettingsStore::integer(const std::string& key) const {
    PELLORA_ASSERT_ON(main_);
    if (auto v = cloud_->value(key)) {
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
    local_->set(key, value);
    cloud_->set(key, std::move(value));
    if (cloud_->synchronize()) {
        postRemoteChange();
    }
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

void SettingsStore::remove(const std::string& key) {
    PELLORA_ASSERT_ON(main_);
    local_->remove(key);
    cloud_->remove(key);
    if (cloud_->synchronize()) {
        postRemoteChange();
    }
}

SettingsStore::Subscription SettingsStore::onRemoteChange(std::function<void()> callback) {
    auto holder = std::make_shared<std::function<void()>>(std::move(callback));
    std::erase_if(subscribers_, [](const auto& weak) { return weak.expired(); });
    subscribers_.push_back(holder);
    return holder;
}

void SettingsStore::cloudFolderChanged() {
    std::weak_ptr<bool> alive = alive_;
    main_.post([this, alive] {
        if (alive.expired() || (pendingCheck_ && !pendingCheck_->isCancelled())) {
            return;
        }
        pendingCheck_ = main_.postAfter(kCheckDelaySeconds, [this, alive] {
            if (alive.expired()) {
                return;
            }
            pendingCheck_.reset();
            checkCloud();
        });
    });
}

void SettingsStore::watchCloudFolder() {
    ensureDirectory(cloud_->dir());
    watcher_ = std::make_unique<DirectoryWatcher>(cloud_->dir(), [this] { cloudFolderChanged(); });
    if (!watcher_->isWatching() && log_) {
        log_->log("cannot watch " + cloud_->dir().string() +
                      "; settings changed on other machines are seen at the next write",
                  "settings");
    }
}

void SettingsStore::checkCloud() {
    if (cloud_->refresh()) {
        postRemoteChange();
    }
}

void SettingsStore::postRemoteChange() {
    std::weak_ptr<bool> alive = alive_;
    main_.post([this, alive] {
        if (alive.expired()) {
            return;
        }
        // Each subscriber is looked at just before its call: one that an earlier callback
        // dropped is not called.
        auto snapshot = subscribers_;
        for (const auto& weak : snapshot) {
            if (auto callback = weak.lock()) {
                (*callback)();
            }
        }
        std::erase_if(subscribers_, [](const auto& weak) { return weak.expired(); });
    });
}

}  // namespace pellora
