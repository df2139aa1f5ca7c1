#include "TestEnvironment.h"

#include <functional>

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

namespace {
void fromOtherMachine(TestEnvironment& env, const std::string& machine,
                      const std::function<void(OtherMachine&)>& change) {
    env.settings->flush();
    OtherMachine other(env.paths.syncDir, machine, env.clock, [](const std::string&) {});
    change(other);
    other.synchronize();
    env.settings->cloudFolderChanged();
    env.clock.advance(1.0);
}
}  // namespace

void TestEnvironment::remoteSet(const std::string& key, const SettingValue& value,
                                const std::string& machine) {
    fromOtherMachine(*this, machine, [&](OtherMachine& other) { other.set(key, value); });
}

void TestEnvironment::remoteRemove(const std::string& key, const std::string& machine) {
    fromOtherMachine(*this, machine, [&](OtherMachine& other) { other.remove(key); });
}

std::vector<std::string> TestEnvironment::logLines() {
    return log->recent(DebugLog::maxLines);
}

std::vector<std::string> TestEnvironment::linesWith(const std::string& text) {
    auto lines = logLines();
    std::erase_if(lines, [&](const auto& line) { return line.find(text) == std::string::npos; });
    return lines;
}

}  // namespace pellora::test
