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
#include "store/SettingsFile.h"
#include "store/SettingsFileCodec.h"
#include "store/SyncedSettings.h"

namespace pellora {

class DebugLog;

// The one place settings are read and written. Every value lives twice: in this machine's
// own settings file (`local`) and in the synced folder (`cloud`). Reads prefer the cloud
// copy; writes go local, then cloud, then the cloud copy is synchronised.
//
// The store lives on the main queue and holds both copies in memory, so reads and writes
// take effect at once. The files are written on the store's own queue ("pellora.settings")
// from snapshots, coalesced: while one write is under way, further changes wait and go
// together in the next. The other machines' files are read there too.
class SettingsStore : public std::enable_shared_from_this<SettingsStore> {
  public:
    static constexpr const char* remoteChangeNotification = "Pellora.settingsDidChangeRemotely";
    // Held by a subscriber; dropping it ends the subscription.
    using Subscription = std::shared_ptr<void>;

    // Reads `paths.configDir`/settings.json and the synced folder `paths.syncDir` (on the
    // caller's thread: this is start-up). All use is then on `mainQueue`; `settingsQueue`
    // must outlive the store. `log` may be null. This machine's file there, `machine`.json,
    // is first renamed from `former`.json, its name in older versions, when only that is there.
    static std::shared_ptr<SettingsStore> open(const AppPaths& paths, const Clock& clock,
                                               Queue& mainQueue, Queue& settingsQueue,
                                               DebugLog* log,
                                               std::string machine = syncedMachineName(),
                                               const std::string& former = machineName());
    // Writes what is still pending and waits for it.
    ~SettingsStore();

    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The process-wide instance, installed by the program's start-up.
    static SettingsStore& shared();
    static void installShared(std::shared_ptr<SettingsStore> store);

    // The value as stored, of whatever type: the synced copy's, else the local one's.
    std::optional<SettingValue> value(const std::string& key) const;
    std::optional<std::string> data(const std::string& key) const;
    // The bytes of each copy that holds bytes, the synced copy's first: a reader whose
    // synced copy is damaged may still have this machine's own.
    std::vector<std::string> dataCopies(const std::string& key) const;
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

    // A choice that belongs to this machine's desk: kept in its own settings file only, never
    // synced, so another machine neither sees nor overrides it. Absent reads as false.
    bool machineBoolean(const std::string& key) const;
    void setForThisMachine(const std::string& key, bool value);
    // Why changes are not being saved to one of this machine's settings files (it may not be
    // read, and so is never replaced); nothing when all is well.
    // A write that failed counts too, until one goes through.
    const std::optional<SettingsFile::Problem>& fileProblem() const {
        return fileProblem_ ? fileProblem_ : writeProblem_;
    }

    // Waits until every change made so far is in the files (for orderly exit and tests).
    void flush();
    // How many files have been written so far (waits for the store's queue).
    std::size_t fileWrites();

    // `callback` runs on the main queue after the synced copy changed from outside, for as
    // long as the returned subscription is held.
    [[nodiscard]] Subscription onRemoteChange(std::function<void()> callback);

    // Something in the synced folder changed (the watcher's callback). Checks shortly after,
    // so a sync tool's burst of writes makes one notification.
    void cloudFolderChanged();
    // Watches the synced folder for changes by other processes (needs a Qt event loop).
    void watchCloudFolder();

  private:
    struct Files;
    struct Snapshot;

    SettingsStore(Queue& mainQueue, Queue& settingsQueue, DebugLog* log,
                  std::shared_ptr<Files> files, SettingsFileCodec::Decoded local,
                  SyncedSettings cloud, std::filesystem::path syncDir);

    void write(const std::string& key, SettingValue value);
    void changed();
    void sendSnapshot();
    void written(PeerChanges changes, bool localFailed, bool ownFailed,
                 std::optional<SettingsFile::Problem> writeProblem);
    void scheduleRetry();
    void applyPeers(PeerChanges changes);
    const SettingValue* localValue(const std::string& key) const;
    void checkCloud();
    void postRemoteChange();

    Queue& main_;
    Queue& settingsQueue_;
    DebugLog* log_;
    // Touched only by work on `settingsQueue_`.
    std::shared_ptr<Files> files_;
    SettingsFileCodec::Decoded local_;
    SyncedSettings cloud_;
    std::filesystem::path syncDir_;
    bool localDirty_ = false;
    bool cloudDirty_ = false;
    // A copy whose last write failed: written again with the next change, or at the end.
    bool localRetry_ = false;
    bool cloudRetry_ = false;
    int writesInFlight_ = 0;
    WorkItemPtr pendingCheck_;
    // A failed write is tried again after this long even without a change, doubling to a limit.
    WorkItemPtr pendingRetry_;
    double retryDelay_ = 0;
    std::vector<std::weak_ptr<std::function<void()>>> subscribers_;
    std::unique_ptr<DirectoryWatcher> watcher_;
    std::optional<SettingsFile::Problem> fileProblem_;
    std::optional<SettingsFile::Problem> writeProblem_;
};

}  // namespace pellora
