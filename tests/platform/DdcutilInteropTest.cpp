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

    struct Run {
        int exitCode = -1;
        std::string output;  // stdout then stderr
    };

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

    Run run(const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("UMOCKDEV_DIR", QString::fromStdString(bed->root().string()));
        environment.insert("LD_PRELOAD", "libumockdev-preload.so.0");
        // Its caches and settings stay out of the real home.
        environment.insert("HOME", QString::fromStdString(home.path().string()));
        environment.insert("XDG_CACHE_HOME", QString::fromStdString((home / "cache").string()));
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
        environment.insert("XDG_STATE_HOME", QString::fromStdString((home / "state").string()));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(ddcutil, arguments);
        Run result;
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            result.output = "ddcutil did not finish within 30 s";
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.output = process.readAllStandardOutput().toStdString() +
                        process.readAllStandardError().toStdString();
        return result;
    }

    static bool contains(const std::string& text, const std::string& pattern) {
        return std::regex_search(text, std::regex(pattern));
    }
};

TEST_F(DdcutilInterop, DetectFindsTheMonitorOnBusFiveWithItsEdid) {
    Run detect = run({"detect"});
    ASSERT_EQ(detect.exitCode, 0) << detect.output;
    EXPECT_TRUE(contains(detect.output, R"(I2C bus:\s+/dev/i2c-5)")) << detect.output;
    EXPECT_TRUE(contains(detect.output, R"(DRM connector:\s+card0-DP-1)")) << detect.output;
    EXPECT_TRUE(contains(detect.output, R"(Mfg id:\s+DEL)")) << detect.output;
    EXPECT_TRUE(contains(detect.output, R"(Model:\s+DELL U2720Q)")) << detect.output;
    EXPECT_TRUE(contains(detect.output, R"(Product code:\s+41157)")) << detect.output;
    EXPECT_TRUE(contains(detect.output, R"(VCP version:\s+2\.2)")) << detect.output;
    EXPECT_FALSE(contains(detect.output, R"(/dev/i2c-3)")) << detect.output;
    // ddcutil talks to the adapter through I2C_RDWR, which the testbed serves too.
    auto traffic = bed->traffic(5);
    EXPECT_GT(traffic.combinedTransfers, 0);
    EXPECT_GT(traffic.transfersByAddress[0x50], 0);
    EXPECT_GT(traffic.transfersByAddress[0x37], 0);
}

TEST_F(DdcutilInterop, GetvcpReadsAndSetvcpWritesTheBrightnessRegister) {
    Run get = run({"getvcp", "10", "--bus", "5"});
    ASSERT_EQ(get.exitCode, 0) << get.output;
    EXPECT_TRUE(contains(
        get.output, R"(VCP code 0x10 \(Brightness\s*\): current value =\s+50, max value =\s+100)"))
        << get.output;

    Run set = run({"setvcp", "10", "42", "--bus", "5"});
    ASSERT_EQ(set.exitCode, 0) << set.output;
    EXPECT_EQ(monitor->vcpRegister(0x10)->current, 42);
    EXPECT_GE(monitor->stats().setRequests, 1);

    Run again = run({"getvcp", "10", "--bus", "5"});
    ASSERT_EQ(again.exitCode, 0) << again.output;
    EXPECT_TRUE(contains(again.output, R"(current value =\s+42, max value =\s+100)"))
        << again.output;
}

TEST_F(DdcutilInterop, CapabilitiesStringIsReadWhole) {
    Run caps = run({"capabilities", "--bus", "5"});
    ASSERT_EQ(caps.exitCode, 0) << caps.output;
    EXPECT_TRUE(contains(caps.output, R"(Model:\s+SimMon)")) << caps.output;
    EXPECT_TRUE(contains(caps.output, R"(MCCS version:\s+2\.2)")) << caps.output;
    EXPECT_TRUE(contains(caps.output, R"(Feature: 10)")) << caps.output;
}

}  // namespace
}  // namespace pellora::test
