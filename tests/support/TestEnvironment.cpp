#include "TestEnvironment.h"

#include "OtherMachine.h"

namespace pellora::test {

TestEnvironment::TestEnvironment(double startWall)
    : paths(AppPaths::underRoot(dir.path())),
      clock(startWall),
      main(clock.makeQueue("main", /*isMain=*/true)),
      logQueue(clock.makeQueue("pellora.debug-log")),
      settingsQueue(clock.makeQueue("pellora.settings")) {
    log = std::make_shared<DebugLog>(clock, *logQueue, paths.dataDir, systemLog);
    reopenSettings();
}

TestEnvironment::~TestEnvironment() {
    settings.reset();
    log.reset();
}

void TestEnvironment::reopenSettings() {
    settings.reset();
    settings = SettingsStore::open(paths, clock, *main, *settingsQueue, log.get(), "this-machine");
    clock.runPending();
}

void TestEnvironment::remoteSet(const std::string& key, const SettingValue& value,
                                const std::string& machine) {
    settings->flush();
    OtherMachine other(paths.syncDir, machine, clock, [](const std::string&) {});
    other.set(key, value);
    other.synchronize();
    settings->cloudFolderChanged();
    clock.advance(1.0);
}

void TestEnvironment::remoteRemove(const std::string& key, const std::string& machine) {
    settings->flush();
    OtherMachine other(paths.syncDir, machine, clock, [](const std::string&) {});
    other.remove(key);
    other.synchronize();
    settings->cloudFolderChanged();
    clock.advance(1.0);
}

std::vector<std::string> TestEnvironment::logLines() {
    return log->recent(DebugLog::maxLines);
}

}  // namespace pellora::test
