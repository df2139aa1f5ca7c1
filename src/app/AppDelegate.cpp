#include "app/AppDelegate.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/SnapshotPolicy.h"
#include "app/StoredChoices.h"
#include "display/MonitorRegistry.h"
#include "display/MonitorScope.h"
#include "platform/Queue.h"
#include "platform/WhileAlive.h"
#include "store/DebugLog.h"
#include "store/DebugState.h"
#include "store/SettingsStore.h"

namespace pellora {

std::shared_ptr<AppDelegate> AppDelegate::create(AppServices services) {
    return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(services)));
}

AppDelegate::AppDelegate(AppServices services)
    : s_(std::move(services)),
      menu_(s_.menu),
      smoothedLuma_(SnapshotPolicy::initialLuma),
      readingBudget_(static_cast<std::size_t>(std::max(0, s_.closeReadingsPerDay))) {}

AppDelegate::~AppDelegate() {
    if (snapshotWork_) {
        snapshotWork_->cancel();
    }
    if (pendingCommitWork_) {
        pendingCommitWork_->cancel();
    }
}

void AppDelegate::log(const std::string& message, const char* tag) const {
    s_.log.log(message, tag);
}

std::shared_ptr<MonitorScope> AppDelegate::currentScope(
    const std::weak_ptr<MonitorScope>& kept) const {
    auto scope = kept.lock();
    return scope && scope == scope_ ? scope : nullptr;
}

void AppDelegate::applicationDidFinishLaunching() {
    PELLORA_ASSERT_ON(s_.main);
    log("Launching. Bundle=" + (s_.environment.appId.empty() ? "?" : s_.environment.appId), "app");
    s_.debugState.setProvider([weak = weak_from_this()]() -> nlohmann::json {
        auto self = weak.lock();
        return self ? self->debugState() : nlohmann::json::object();
    });
    s_.debugState.start();
    setupStatusItem();
    logAllScreens();
    scopeChanged(s_.registry->current());
    s_.registry->setOnChange(whileAlive(this, [](const auto& self,
                                                 const std::optional<Monitor>& monitor) {
        self->log("Monitor changed to " + (monitor ? monitor->identifier() : "nil"), "registry");
        self->logAllScreens();
        self->scopeChanged(monitor);
    }));
    handleCameraAuthorization();
    registerScreenLockObservers();
}

void AppDelegate::startTimers() {
    // The earlier timer stops as it is replaced, so retraining never runs twice as often.
    retrainTimer_ =
        std::make_unique<RepeatingTimer>(s_.main, retrainInterval, [weak = weak_from_this()] {
            if (auto self = weak.lock(); self && self->scope_) {
                self->retrain();
            }
        });
    if (scope_) {
        scheduleSnapshot(SnapshotPolicy::firstDelay);
    }
}

Mode AppDelegate::loadMode(const MonitorScope& scope) {
    auto read = StoredChoices::mode(s_.settings, scope.keyPrefix());
    if (read.complaint) {
        log(*read.complaint, "app");
    }
    return read.value;
}

}  // namespace pellora
