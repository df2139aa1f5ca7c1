#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/DirectoryWatcher.h"
#include "platform/Queue.h"
#include "store/CloudSettingsFolder.h"
#include "store/LocalSettings.h"

namespace pellora {

class DebugLog;

// The one place settings are read and written. Every value lives twice: in this machine's
// own settings file (`local`) and in the synced folder (`cloud`). Reads prefer the cloud
// copy; writes go local, then cloud, then ask the cloud copy to synchronise.
class SettingsStore {
  public:
    static constexpr const char* remoteChangeNotification = "Pellora.settingsDidChangeRemotely";
    // Held by a subscriber; dropping it ends the subscription.
    using Subscription = std::shared_ptr<void>;

    // All use is on `mainQueue`. `log` may be null.
    SettingsStore(std::unique_ptr<LocalSettings> local, std::unique_ptr<CloudSettingsFolder> cloud,
                  Queue& mainQueue, DebugLog* log);
    ~SettingsStore();

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The usual pair of copies: `paths.configDir`/settings.json and `paths.syncDir`.
    static std::shared_ptr<SettingsStore> open(const AppPaths& paths, const Clock& clock,
                                               Queue& mainQueue, DebugLog* log,
                                               std::string machine = machineName());
    // The process-wide instance, installed by the program's start-up.
    static SettingsStore& shared();
    static void installShared(std::shared_ptr<SettingsStore> store);

    std::optional<std::string> data(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    bool boolean(const std::string& key) const;
    std::optional<double> doubleValue(const std::string& key) const;
    std::optional<std::int64_t> integer(const std::string& key) const;

    void set(const std::string& key, const Bytes& value);
    void set(const std::string& key, const std::string& value);
    void set(const std::string& key, const char* value) { set(key, std::string(value)); }
    void set(const std::string& key, std::int64_t value);
    void set(const std::string& key, double value);
    void set(const std::string& key, bool value);
    template <std::integral T>
    requires(!std::same_as<T, bool> &&
             !std::same_as<T, std::int64_t>) void set(const std::string& key, T value) {
        set(key, static_cast<std::int64_t>(value));
    }
    void remove(const std::string& key);

    // `callback` runs on the main queue after the synced copy changed from outside, for as
    // long as the returned subscription is held.
    [[nodiscard]] Subscription onRemoteChange(std::function<void()> callback);

    // Something in the synced folder changed (the watcher's callback). Checks shortly after,
    // so a sync tool's burst of writes makes one notification.
    void cloudFolderChanged();
    // Watches the synced folder for changes by other processes (needs a Qt event loop).
    void watchCloudFolder();

    const LocalSettings& local() const { return *local_; }
    const CloudSettingsFolder& cloud() const { return *cloud_; }

  private:
    void write(const std::string& key, SettingValue value);
    const SettingValue* localValue(const std::string& key) const;
    void checkCloud();
    void postRemoteChange();

    std::unique_ptr<LocalSettings> local_;
    std::unique_ptr<CloudSettingsFolder> cloud_;
    Queue& main_;
    DebugLog* log_;
    WorkItemPtr pendingCheck_;
    std::vector<std::weak_ptr<std::function<void()>>> subscribers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<DirectoryWatcher> watcher_;
};

}  // namespace pellora
