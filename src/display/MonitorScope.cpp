#include "display/MonitorScope.h"

namespace pellora {

std::shared_ptr<MonitorScope> MonitorScope::create(const Monitor& monitor, SettingsStore& settings,
                                                   const Clock& clock,
                                                   const std::filesystem::path& appSupportDir,
                                                   Queue& loggerQueue, DebugLog* log) {
    return std::make_shared<MonitorScope>(Token{}, monitor, settings, clock, appSupportDir,
                                          loggerQueue, log);
}

MonitorScope::MonitorScope(Token, const Monitor& monitor, SettingsStore& settings,
                           const Clock& clock, const std::filesystem::path& appSupportDir,
                           Queue& loggerQueue, DebugLog* log)
    : monitor_(monitor),
      settings_(settings),
      logger_(monitor.identifier(), appSupportDir, loggerQueue, log),
      curve_(CurveStore::create(monitor.identifier(), settings)),
      anchors_(AnchorStore::create(monitor.identifier(), settings, clock, log)),
      model_(BrightnessModel::train(logger_.loadAll())) {
    if (anchors_->anchors().empty()) {
        anchors_->seedFromSamples(logger_.loadAll());
    }
    if (auto bytes = settings_.data(keyPrefix() + "capabilities")) {
        capabilities_ = MonitorCapabilities::decodeJSON(*bytes);
    }
}

void MonitorScope::persistCapabilities(const MonitorCapabilities& capabilities) {
    capabilities_ = capabilities;
    if (auto bytes = capabilities.encodeJSON()) {
        settings_.set(keyPrefix() + "capabilities", Bytes{std::move(*bytes)});
    }
}

}  // namespace pellora
