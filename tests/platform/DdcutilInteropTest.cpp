#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <regex>

#include "EdidBuilder.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "UmockdevTestbed.h"
#include "platform/SystemClock.h"

namespace pellora::test {
namespace {

// The real ddcutil, run as a child on the same faked kernel: it sees the testbed's sysfs and
// /dev/i2c-5 through umockdev's preload library, and its ioctls, reads and writes reach the
// simulated monitor served from this process. A peer written by others that reads and sets
// the monitor the way we expect is evidence that the simulated monitor speaks DDC/CI as real
// ones do.
struct DdcutilInterop : ::testing::Test {
    SystemClock clock;  // ddcutil waits in real time, so the monitor must count it too
    std::shared_ptr<SimulatedMonitor> monitor;
    std::unique_ptr<UmockdevTestbed> bed;
    TempDir home;
    QString ddcutil;

    void SetUp() override {
        if (!UmockdevTestbed::preloadActive()) {
            GTEST_SKIP() << "needs umockdev's preload library: run under umockdev-wrapper";
        }
        ddcutil = QStandardPaths::findExecutable("ddcutil");
        if (ddcutil.isEmpty()) {
            GTEST_SKIP() << "ddcutil is not installed (scripts/setup-deps installs it)";
        }
        qtApp();
        SimulatedMonitorOptions options;
        options.edid = makeEdid("DEL", 0xA0C5, 0x2A17, "DELL U2720Q");
        monitor = std::make_shared<SimulatedMonitor>(clock, options);
        bed = std::make_unique<UmockdevTestbed>();
        std::string card = bed->addCard(0);
        std::string panel = bed->addConnector(card, "card0-eDP-1", "connected", "enabled",
                                              makeEdid("BOE", 0x0BCA, 0, ""));
        std::string external =
            bed->addConnector(card, "card0-DP-1", "connected", "enabled", options.edid);
        bed->addI2cBus(3, "AUX A/DDI A/PHY A", panel, nullptr);
        bed->addI2cBus(5, "AUX B/DDI B/PHY B", external, monitor);
    }

    // ddcutil's exit code (-1 when it did not finish) and its output, stdout then stderr.
    std::pair<int, std::string> run(const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("UMOCKDEV_DIR", QString::fromStdString(bed->root().string()));
        environment.insert("LD_PRELOAD", "libumockdev-preload.so.0");
        // Its caches and settings stay out of the real home.
        for (const char* variable :
             {"HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"}) {
            environment.insert(variable, QString::fromStdString(home.path().string()));
        }
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(ddcutil, arguments);
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return {-1, "ddcutil did not finish within 30 s"};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString() +
                    process.readAllStandardError().toStdString()};
    }
    // Runs ddcutil and expects it to succeed and print a match for every pattern.
    std::string expectOutput(const QStringList& arguments,
                             const std::vector<std::string>& patterns) {
        auto [exitCode, output] = run(arguments);
        EXPECT_EQ(exitCode, 0) << output;
        for (const std::string& pattern : patterns) {
            EXPECT_TRUE(std::regex_search(output, std::regex(pattern))) << pattern << "\n"
                                                                        << output;
        }
        return output;
    }
};

TEST_F(DdcutilInterop, DetectFindsTheMonitorOnBusFiveWithItsEdidAndCapabilities) {
    std::string detect =
        expectOutput({"detect"}, {R"(I2C bus:\s+/dev/i2c-5)", R"(DRM connector:\s+card0-DP-1)",
                                  R"(Mfg id:\s+DEL)", R"(Model:\s+DELL U2720Q)",
                                  R"(Product code:\s+41157)", R"(VCP version:\s+2\.2)"});
    EXPECT_EQ(detect.find("/dev/i2c-3"), std::string::npos);
    // ddcutil talks to the adapter through I2C_RDWR, which the testbed serves too.
    auto traffic = bed->traffic(5);
    EXPECT_GT(traffic.combinedTransfers, 0);
    EXPECT_GT(traffic.transfersByAddress[0x50], 0);
    EXPECT_GT(traffic.transfersByAddress[0x37], 0);
    expectOutput({"capabilities", "--bus", "5"},
                 {R"(Model:\s+SimMon)", R"(MCCS version:\s+2\.2)", R"(Feature: 10)"});
}

TEST_F(DdcutilInterop, GetvcpReadsAndSetvcpWritesTheBrightnessRegister) {
    expectOutput({"getvcp", "10", "--bus", "5"},
                 {R"(VCP code 0x10 \(Brightness\s*\): current value =\s+50, max value =\s+100)"});
    expectOutput({"setvcp", "10", "42", "--bus", "5"}, {});
    EXPECT_EQ(monitor->vcpRegister(0x10)->current, 42);
    EXPECT_GE(monitor->stats().setRequests, 1);
    expectOutput({"getvcp", "10", "--bus", "5"}, {R"(current value =\s+42, max value =\s+100)"});
}

}  // namespace
}  // namespace pellora::test
