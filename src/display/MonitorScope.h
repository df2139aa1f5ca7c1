#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
// Main thread only. Its identity is the identity of the shared pointer `load` delivers.
class MonitorScope {
    struct Token {};

  public:
    using Completion = std::function<void(std::shared_ptr<MonitorScope>)>;

    // Builds the scope of `monitor` in the order the stores depend on each other, with the
    // disk kept off `main`: on `loggerQueue` ("pellora.logger", which runs the appends) the
    // samples log is opened and read whole, after any appends still queued for it, and the
    // model trained from it; then on `main` the curve and anchor stores are opened, an empty
    // anchor list is seeded from those samples, stored capabilities are adopted, and
    // `completion` gets the scope. `settings`, `clock`, `log` (may be null) and the queues
    // must outlive the scope.
    static void load(const Monitor& monitor, SettingsStore& settings, const Clock& clock,
                     const std::filesystem::path& appSupportDir, Queue& loggerQueue, DebugLog* log,
                     Queue& main, Completion completion);

    // Use `load`. `samples` seed an empty anchor list.
    MonitorScope(Token, const Monitor& monitor, SettingsStore& settings, const Clock& clock,
                 std::unique_ptr<SampleLogger> logger, BrightnessModel model,
                 const std::vector<Sample>& samples, DebugLog* log);

    MonitorScope(const MonitorScope&) = delete;
    MonitorScope& operator=(const MonitorScope&) = delete;

    const Monitor& monitor() const { return monitor_; }
    std::string keyPrefix() const { return monitor_.keyPrefix(); }
    SampleLogger& logger() { return *logger_; }
    CurveStore& curve() { return *curve_; }
    AnchorStore& anchors() { return *anchors_; }
    const std::shared_ptr<AnchorStore>& anchorStore() const { return anchors_; }
    const BrightnessModel& model() const { return model_; }
    void setModel(BrightnessModel model) { model_ = std::move(model); }
    const std::optional<MonitorCapabilities>& capabilities() const { return capabilities_; }
    // In memory only: nothing (not read yet) or the unsupported marker after a failed read.
    void setCapabilities(std::optional<MonitorCapabilities> capabilities) {
        capabilities_ = std::move(capabilities);
    }

    // Adopts `capabilities` and stores them under the monitor's "capabilities" key; text that
    // cannot be encoded is kept in memory only.
    void persistCapabilities(const MonitorCapabilities& capabilities);

  private:
    Monitor monitor_;
    SettingsStore& settings_;
    std::unique_ptr<SampleLogger> logger_;
    std::shared_ptr<CurveStore> curve_;
    std::shared_ptr<AnchorStore> anchors_;
    BrightnessModel model_;
    std::optional<MonitorCapabilities> capabilities_;
};

}  // namespace pellora
