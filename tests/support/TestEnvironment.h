#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

// A whole little world for component tests: virtual clock, a main queue, a debug log and a
// settings store, all under a temporary folder.
struct TestEnvironment {
    explicit TestEnvironment(double startWall = 1718960400.0);
    ~TestEnvironment();

    // Another machine writes (or removes) `key` in the synced folder; the remote-change
    // notification is then delivered as the real watcher would.
    void remoteSet(const std::string& key, const SettingValue& value,
                   const std::string& machine = "other-machine");
    void remoteRemove(const std::string& key, const std::string& machine = "other-machine");
    // The settings store made afresh over the same files (a restart).
    void reopenSettings();
    // Every line in the debug log so far.
    std::vector<std::string> logLines();
    // Those of them that contain `text`.
    std::vector<std::string> linesWith(const std::string& text);

    TempDir dir;
    AppPaths paths;
    VirtualClock clock;
    std::unique_ptr<ManualQueue> main;
    std::unique_ptr<ManualQueue> logQueue;
    std::unique_ptr<ManualQueue> settingsQueue;
    RecordingSystemLog systemLog;
    std::shared_ptr<DebugLog> log;
    std::shared_ptr<SettingsStore> settings;
};

}  // namespace pellora::test
