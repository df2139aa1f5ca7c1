#include "display/MonitorScope.h"

#include <algorithm>
#include <iterator>

namespace pellora {

namespace {

// What the logger's queue hands to main: the opened log, the model, and the samples seeding
// looks at (the user's own settings only), so main skips the rest.
struct Loaded {
    std::unique_ptr<SampleLogger> logger;
    BrightnessModel model;
    std::vector<Sample> userSet;
};

}  // namespace

void MonitorScope::load(const Monitor& monitor, SettingsStore& settings, const Clock& clock,
                        const std::filesystem::path& appSupportDir, Queue& loggerQueue,
                        DebugLog* log, Queue& main, Completion completion) {
    // Years of samples take long to read and train on; none of it may hold up main. On the
    // logger's queue the read also comes after the appends an earlier scope of the same
    // monitor left queued (an unplug and replug), so the newest samples count.
    loggerQueue.post([monitor, &settings, &clock, appSupportDir, &loggerQueue, log, &main,
                      completion = std::move(completion)] {
        auto loaded = std::make_shared<Loaded>();
        loaded->logger =
            std::make_unique<SampleLogger>(monitor.identifier(), appSupportDir, loggerQueue, log);
        const std::vector<Sample> samples = loaded->logger->loadAll();
        loaded->model = BrightnessModel::train(samples);
        std::copy_if(samples.begin(), samples.end(), std::back_inserter(loaded->userSet),
                     [](const Sample& s) { return s.userSet; });
        main.post([monitor, &settings, &clock, log, loaded, completion] {
            completion(std::make_shared<MonitorScope>(Token{}, monitor, settings, clock,
                                                      std::move(loaded->logger), loaded->model,
                                                      loaded->userSet, log));
        });
    });
}

MonitorScope::MonitorScope(Token, const Monitor& monitor, SettingsStore& settings,
                           const Clock& clock, std::unique_ptr<SampleLogger> logger,
                           BrightnessModel model, const std::vector<Sample>& samples, DebugLog* log)
    : monitor_(monitor),
      settings_(settings),
      logger_(std::move(logger)),
      curve_(CurveStore::create(monitor.identifier(), settings)),
      anchors_(AnchorStore::create(monitor.identifier(), settings, clock, log)),
      model_(std::move(model)) {
    // The log as just read for the model; reading it again would say the same.
    // Not a list the user emptied: it would come back from the history they cleared it of.
    if (anchors_->anchors().empty() && !anchors_->storedEmpty()) {
        anchors_->seedFromSamples(samples);
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
