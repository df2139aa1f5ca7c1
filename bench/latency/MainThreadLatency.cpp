// The longest stall of the main (UI) thread while Pellora does the things a user can cause
// at pointer rate or at a monitor change. A heartbeat on the main queue is due every
// millisecond; a stall is how late a beat runs. Goal: every stall under 4 ms.
//
//   latency_probe                        scenarios a and c
//   umockdev-wrapper latency_probe       also b, on the Linux backends over a faked kernel

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EdidBuilder.h"
#include "TempDir.h"
#include "UmockdevTestbed.h"
#include "display/BrightnessController.h"
#include "display/DDCService.h"
#include "display/MonitorRegistry.h"
#include "display/MonitorScope.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "platform/linux/DrmDisplayList.h"
#include "platform/linux/LinuxDisplayI2C.h"
#include "platform/sim/SimulatedMonitor.h"
#include "store/DebugLog.h"
#include "store/SettingsStore.h"

namespace pellora::bench {
namespace {

using Steady = std::chrono::steady_clock;

double msSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

// Beats on the main queue every millisecond and keeps the worst lateness.
class Heartbeat {
  public:
    explicit Heartbeat(Queue& main) : main_(main) {}

    void start() {
        running_ = true;
        worst_ = 0;
        beats_ = 0;
        beat(Steady::now() + kPeriod);
    }
    void stop() { running_ = false; }
    double worstMs() const { return worst_; }
    int beats() const { return beats_; }

  private:
    static constexpr std::chrono::microseconds kPeriod{1000};

    void beat(Steady::time_point due) {
        main_.postAfter(0.001, [this, due] {
            if (!running_) {
                return;
            }
            auto now = Steady::now();
            worst_ = std::max(worst_, std::chrono::duration<double, std::milli>(now - due).count());
            ++beats_;
            beat(now + kPeriod);
        });
    }

    Queue& main_;
    bool running_ = false;
    double worst_ = 0;
    int beats_ = 0;
};

class SilentSystemLog final : public SystemLog {
  public:
    void write(const std::string&) override {}
};

struct Row {
    std::string scenario;
    double worstMs = 0;
    std::string detail;
};

class Probe {
  public:
    Probe()
        : main_(clock_),
          logQueue_("pellora.debug-log", clock_),
          brightnessQueue_("pellora.brightness", clock_),
          loggerQueue_("pellora.logger", clock_),
          settingsQueue_("pellora.settings", clock_),
          workQueue_("pellora.utility", clock_),
          paths_(AppPaths::underRoot(dir_.path())),
          log_(std::make_shared<DebugLog>(clock_, logQueue_, paths_.dataDir, systemLog_)),
          settings_(SettingsStore::open(paths_, clock_, main_, settingsQueue_, log_.get(),
                                        "probe-machine")),
          heartbeat_(main_) {}

    void run() {
        main_.post([this] { pointerRateWrites(); });
    }

  private:
    // (a) A slider and an anchor dragged for 5 s: 60 settings writes a second, and an anchor
    // moved (and so stored) at every step.
    void pointerRateWrites() {
        monitor_ = Monitor{0x10AC, 0xA0C5, 0x2A17};
        MonitorScope::load(*monitor_, *settings_, clock_, paths_.dataDir, loggerQueue_, log_.get(),
                           workQueue_, main_, [this](std::shared_ptr<MonitorScope> scope) {
                               scope_ = std::move(scope);
                               scope_->anchors().observe(80, 50, 12, 1.0);
                               heartbeat_.start();
                               step(0, Steady::now());
                           });
    }

    void step(int n, Steady::time_point start) {
        constexpr int kSteps = 5 * 60;
        if (n == kSteps) {
            heartbeat_.stop();
            rows_.push_back({"a. pointer-rate writes, 5 s", heartbeat_.worstMs(),
                             std::to_string(kSteps) + " set + " + std::to_string(kSteps) +
                                 " anchor moves in " + fixed(msSince(start) / 1000, 2) + " s"});
            main_.post([this] { monitorChange(); });
            return;
        }
        int value = 20 + n % 80;
        settings_->set(monitor_->keyPrefix() + "manualBrightness", value);
        scope_->anchors().moveEditable(0, 40 + n % 150, value, 12);
        main_.postAfter(1.0 / 60, [this, n, start] { step(n + 1, start); });
    }

    // (b) A monitor replaced on the Linux backends: the registry reads DRM, the controller
    // makes a fresh transport (which finds the monitor's bus: here only by matching EDIDs over
    // every bus) and a scope is opened for the new monitor.
    void monitorChange() {
        if (!test::UmockdevTestbed::preloadActive()) {
            rows_.push_back(
                {"b. monitor change (Linux backends)", NAN, "skipped: run under umockdev-wrapper"});
            main_.post([this] { openLargeScope(); });
            return;
        }
        bed_ = std::make_unique<test::UmockdevTestbed>();
        std::string card = bed_->addCard(0);
        bed_->addConnector(card, "card0-eDP-1", "connected", "enabled",
                           test::makeEdid("BOE", 0x0BCA, 0, ""));
        SimulatedMonitorOptions options;
        options.edid = test::makeEdid("GSM", 0x5B7F, 0x1D2E, "LG ULTRAFINE");
        simMonitor_ = std::make_shared<SimulatedMonitor>(clock_, options);
        // An HDMI output without a ddc link: its bus is found only by reading EDIDs.
        hdmi_ =
            bed_->addConnector(card, "card0-HDMI-A-1", "disconnected", "disabled", options.edid);
        for (int bus = 0; bus < 8; ++bus) {
            bed_->addI2cBus(bus, "i2c adapter " + std::to_string(bus), card,
                            bus == 6 ? simMonitor_ : nullptr);
        }
        displays_ = std::make_unique<DrmDisplayList>();
        i2c_ = std::make_unique<LinuxDisplayI2C>(*log_, clock_);
        registry_ = MonitorRegistry::create(*displays_, *settings_, main_);
        controller_ = BrightnessController::create(main_, brightnessQueue_, [this] {
            return std::make_shared<DDCService>(*i2c_, clock_, *log_, systemLog_);
        });
        registry_->setOnChange([this](const std::optional<Monitor>& next) {
            controller_->reconnect();
            if (!next) {
                changedAt_ = Steady::now();
                return;
            }
            MonitorScope::load(*next, *settings_, clock_, paths_.dataDir, loggerQueue_, log_.get(),
                               workQueue_, main_, [this](std::shared_ptr<MonitorScope> scope) {
                                   scope_ = std::move(scope);
                                   changedAt_ = Steady::now();
                               });
        });
        heartbeat_.start();
        bed_->setAttribute(hdmi_, "status", "connected\n");
        bed_->setAttribute(hdmi_, "enabled", "enabled\n");
        auto start = Steady::now();
        bed_->uevent(card, "change");
        awaitChange(start);
    }

    void awaitChange(Steady::time_point start) {
        if (!changedAt_ && msSince(start) < 5000) {
            main_.postAfter(0.01, [this, start] { awaitChange(start); });
            return;
        }
        // Let the work the change started finish (it may be on other queues now).
        brightnessQueue_.sync([] {});
        main_.postAfter(0.2, [this, start] {
            heartbeat_.stop();
            bool ok = changedAt_.has_value();
            rows_.push_back(
                {"b. monitor change (Linux backends)", ok ? heartbeat_.worstMs() : NAN,
                 ok ? "uevent to new scope in " +
                          fixed(std::chrono::duration<double, std::milli>(*changedAt_ - start)
                                    .count(),
                                1) +
                          " ms, bus found by EDID match over 8 buses"
                    : "the change never arrived"});
            main_.post([this] { openLargeScope(); });
        });
    }

    // (c) A scope opened over five years of samples, one every 20 minutes.
    void openLargeScope() {
        Monitor monitor{0x1E6D, 0x5B7F, 0x0001};
        auto folder = paths_.dataDir / "monitors" / monitor.identifier();
        std::filesystem::create_directories(folder);
        constexpr int kSamples = 5 * 365 * 72;
        {
            std::ofstream out(folder / "samples.jsonl");
            double t = 1.56e9;
            for (int i = 0; i < kSamples; ++i, t += 1200) {
                int hour = int(std::fmod(t / 3600, 24));
                out << R"({"t":)" << std::fixed << t << R"(,"luma":)" << 20 + (i * 37) % 200
                    << R"(,"brightness":)" << 20 + (i * 13) % 80 << R"(,"hour":)" << hour
                    << R"(,"userSet":)" << (i % 50 == 0 ? "true" : "false") << "}\n";
            }
        }
        heartbeat_.start();
        main_.postAfter(0.05, [this, monitor] {
            auto start = Steady::now();
            MonitorScope::load(monitor, *settings_, clock_, paths_.dataDir, loggerQueue_,
                               log_.get(), workQueue_, main_,
                               [this, start](std::shared_ptr<MonitorScope> scope) {
                                   scope_ = std::move(scope);
                                   double ms = msSince(start);
                                   main_.postAfter(0.2, [this, ms] {
                                       heartbeat_.stop();
                                       rows_.push_back({"c. open a scope, 5 years of samples",
                                                        heartbeat_.worstMs(),
                                                        std::to_string(kSamples) +
                                                            " samples; load() delivered "
                                                            "the scope after " +
                                                            fixed(ms, 1) + " ms, read off main"});
                                       finish();
                                   });
                               });
        });
    }

    void finish() {
        std::printf("%-40s %12s  %s\n", "scenario", "worst stall", "detail");
        bool allUnder = true;
        for (const auto& row : rows_) {
            std::string worst = std::isnan(row.worstMs) ? "-" : fixed(row.worstMs, 2) + " ms";
            std::printf("%-40s %12s  %s\n", row.scenario.c_str(), worst.c_str(),
                        row.detail.c_str());
            allUnder = allUnder && (std::isnan(row.worstMs) || row.worstMs < 4.0);
        }
        std::printf("goal (every stall under 4 ms): %s\n", allUnder ? "met" : "NOT met");
        QCoreApplication::quit();
    }

    static std::string fixed(double value, int decimals) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        return text;
    }

    SystemClock clock_;
    QtMainQueue main_;
    SerialQueue logQueue_;
    SerialQueue brightnessQueue_;
    SerialQueue loggerQueue_;
    SerialQueue settingsQueue_;
    SerialQueue workQueue_;
    test::TempDir dir_;
    AppPaths paths_;
    SilentSystemLog systemLog_;
    std::shared_ptr<DebugLog> log_;
    std::shared_ptr<SettingsStore> settings_;
    Heartbeat heartbeat_;
    std::vector<Row> rows_;

    std::optional<Monitor> monitor_;
    std::shared_ptr<MonitorScope> scope_;

    std::unique_ptr<test::UmockdevTestbed> bed_;
    std::shared_ptr<SimulatedMonitor> simMonitor_;
    std::string hdmi_;
    std::unique_ptr<DrmDisplayList> displays_;
    std::unique_ptr<LinuxDisplayI2C> i2c_;
    std::shared_ptr<MonitorRegistry> registry_;
    std::shared_ptr<BrightnessController> controller_;
    std::optional<Steady::time_point> changedAt_;
};

}  // namespace
}  // namespace pellora::bench

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto probe = std::make_unique<pellora::bench::Probe>();
    probe->run();
    int status = app.exec();
    probe.reset();
    return status;
}
