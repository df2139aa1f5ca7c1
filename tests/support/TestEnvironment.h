#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OtherMachine.h"
#include "TempDir.h"
#include "VirtualClock.h"
#include "platform/AppPaths.h"
#include "platform/SystemLog.h"
#include "store/DebugLog.h"
#include "store/SettingsStore.h"

namespace pellora::test {

// Keeps every line handed to the system log.
class RecordingSystemLog final : public SystemLog {
  public:
    void write(const std::string& line) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Virtual clock, main queue, debug log and settings store, all under a temporary folder.
struct TestEnvironment {
    explicit TestEnvironment(double startWall = 1718960400.0)
        : paths(AppPaths::underRoot(dir.path())),
          clock(startWall),
          main(clock.makeQueue("main", /*isMain=*/true)),
          logQueue(clock.makeQueue("pellora.debug-log")),
          settingsQueue(clock.makeQueue("pellora.settings")) {
        log = std::make_shared<DebugLog>(clock, *logQueue, paths.dataDir, systemLog);
        reopenSettings();
    }
    ~TestEnvironment() {
        settings.reset();
        log.reset();
    }

    // Another machine writes (or removes) `key` in the synced folder; the remote-change
    // notification is then delivered as the real watcher would.
    void remoteSet(const std::string& key, const SettingValue& value,
                   const std::string& machine = "other-machine") {
        fromOtherMachine(machine, [&](OtherMachine& other) { other.set(key, value); });
    }
    void remoteRemove(const std::string& key, const std::string& machine = "other-machine") {
        fromOtherMachine(machine, [&](OtherMachine& other) { other.remove(key); });
    }
    // The settings store made afresh over the same files (a restart).
    void reopenSettings() {
        settings.reset();
        settings =
            SettingsStore::open(paths, clock, *main, *settingsQueue, log.get(), "this-machine");
        clock.runPending();
    }
    // The debug log's lines so far, or those of them that contain `text`.
    std::vector<std::string> logLines() { return log->recent(DebugLog::maxLines); }
    std::vector<std::string> linesWith(const std::string& text) {
        auto lines = logLines();
        std::erase_if(lines, [&](const auto& l) { return l.find(text) == std::string::npos; });
        return lines;
    }

    TempDir dir;
    AppPaths paths;
    VirtualClock clock;
    std::unique_ptr<ManualQueue> main;
    std::unique_ptr<ManualQueue> logQueue;
    std::unique_ptr<ManualQueue> settingsQueue;
    RecordingSystemLog systemLog;
    std::shared_ptr<DebugLog> log;
    std::shared_ptr<SettingsStore> settings;

  private:
    void fromOtherMachine(const std::string& machine,
                          const std::function<void(OtherMachine&)>& change) {
        settings->flush();
        OtherMachine other(paths.syncDir, machine, clock, [](const std::string&) {});
        change(other);
        other.synchronize();
        settings->cloudFolderChanged();
        clock.advance(1.0);
    }
};

}  // namespace pellora::test
