#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/CurvePoint.h"
#include "store/SettingsStore.h"

namespace pellora {

// The curve points stored for one monitor under "monitor.<identifier>.curvePointsV1",
// reloaded whenever the synced settings change on another machine. Read only: this
// application never writes the value.
//
// Main thread only. Made with `create`, so the remote-change subscription can hold the
// store weakly.
class CurveStore : public std::enable_shared_from_this<CurveStore> {
  public:
    // Loads the list stored for `monitorID` ("%08X-%08X-%08X") and follows remote changes.
    // `settings` must outlive the store.
    static std::shared_ptr<CurveStore> create(const std::string& monitorID,
                                              SettingsStore& settings);

    CurveStore(const CurveStore&) = delete;
    CurveStore& operator=(const CurveStore&) = delete;

    const std::string& key() const { return key_; }
    // The stored list in stored order; empty when nothing is stored or it does not decode.
    const std::vector<CurvePoint>& points() const { return points_; }
    // Called after each reload caused by a remote change.
    void setOnChange(std::function<void()> callback) { onChange_ = std::move(callback); }

    // The stored form: a JSON array of objects with numeric "luma" and "brightness".
    // Anything else (another top level, a member missing or not a finite number) is nothing.
    static std::optional<std::vector<CurvePoint>> decode(std::string_view bytes);

  private:
    CurveStore(const std::string& monitorID, SettingsStore& settings);

    void load(bool notify);

    std::string key_;
    std::vector<CurvePoint> points_;
    std::function<void()> onChange_;
    SettingsStore& settings_;
    SettingsStore::Subscription subscription_;
};

}  // namespace pellora
