#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "display/Monitor.h"
#include "display/MonitorCapabilities.h"
#include "model/AnchorStore.h"
#include "model/BrightnessModel.h"
#include "model/CurveStore.h"
#include "platform/Clock.h"
#include "platform/Queue.h"
#include "store/SampleLogger.h"
#include "store/SettingsStore.h"

namespace pellora {

class DebugLog;

// Everything kept for one monitor, swapped as a whole when the current monitor changes:
// its samples log, stored curve, learnt anchors, trained model and capabilities.
//
// Main thread only. Its identity is the identity of the shared pointer `create` returns.
class MonitorScope {
    struct Token {};

  public:
    // Opens the monitor's stores, trains the model from its samples, seeds an empty anchor
    // list from them, and adopts stored capabilities. `loggerQueue` ("pellora.logger") runs
    // the appends; it, `settings`, `clock` and `log` (may be null) must outlive the scope.
    static std::shared_ptr<MonitorScope> create(const Monitor& monitor, SettingsStore& settings,
                                                const Clock& clock,
                                                const std::filesystem::path& appSupportDir,
                                                Queue& loggerQueue, DebugLog* log = nullptr);
    // Use `create`.
    MonitorScope(Token, const Monitor& monitor, SettingsStore& settings, const Clock& clock,
                 const std::filesystem::path& appSupportDir, Queue& loggerQueue, DebugLog* log);

    MonitorScope(const MonitorScope&) = delete;
    MonitorScope& operator=(const MonitorScope&) = delete;

    const Monitor& monitor() const { return monitor_; }
    std::string keyPrefix() const { return monitor_.keyPrefix(); }
    SampleLogger& logger() { return logger_; }
    CurveStore& curve() { return *curve_; }
    AnchorStore& anchors() { return *anchors_; }
    const std::shared_ptr<AnchorStore>& anchorStore() const { return anchors_; }
    const BrightnessModel& model() const { return model_; }
    void setModel(BrightnessModel model) { model_ = std::move(model); }
    const std::optional<MonitorCapabilities>& capabilities() const { return capabilities_; }

    // Adopts `capabilities` and stores them under the monitor's "capabilities" key; text that
    // cannot be encoded is kept in memory only.
    void persistCapabilities(const MonitorCapabilities& capabilities);

  private:
    Monitor monitor_;
    SettingsStore& settings_;
    SampleLogger logger_;
    std::shared_ptr<CurveStore> curve_;
    std::shared_ptr<AnchorStore> anchors_;
    BrightnessModel model_;
    std::optional<MonitorCapabilities> capabilities_;
};

}  // namespace pellora
