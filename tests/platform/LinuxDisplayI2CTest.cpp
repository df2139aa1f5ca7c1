#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <QProcess>
#include <QStandardPaths>
#include <array>
#include <cerrno>
#include <regex>

#include "EdidBuilder.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "TestEnvironment.h"
#include "UmockdevTestbed.h"
#include "display/DDCService.h"
#include "display/MonitorRegistry.h"
#include "platform/SystemClock.h"
#include "platform/linux/DrmDisplayList.h"
#include "platform/linux/I2cDevChannel.h"
#include "platform/linux/LinuxDisplayI2C.h"

namespace pellora::test {
namespace {

using Reason = LinuxDisplayI2C::Status::Reason;

constexpr char kPermissionHint[] =
    "Permission denied opening /dev/i2c-5: add yourself to the i2c group (sudo usermod -aG i2c "
    "$USER, then log out and in) or install a udev uaccess rule for the display adapters' buses "
    "alone (SUBSYSTEM==\"i2c-dev\", ATTRS{class}==\"0x03*\", TAG+=\"uaccess\")";
const std::string kGpu = "/sys/devices/pci0000:00/0000:00:02.0";

int openNode(const std::filesystem::path& node) {
    int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

// A laptop on the faked kernel: its panel on eDP-1 (DP-AUX bus 3, where nothing answers DDC/CI)
// and an external monitor on DP-1 whose DP-AUX adapter is bus 5.
struct LaptopTestbed : ::testing::Test {
    TestEnvironment env;
    std::vector<std::uint8_t> externalEdid = makeEdid("DEL", 0xA0C5, 0x2A17, "DELL U2720Q");
    std::shared_ptr<SimulatedMonitor> monitor;
    std::unique_ptr<UmockdevTestbed> bed;
    std::string card, panel, external;

    void SetUp() override {
        if (!UmockdevTestbed::preloadActive()) {
            GTEST_SKIP() << "needs umockdev's preload library: run under umockdev-wrapper";
        }
        monitorOn(env.clock);
        freshKernel();
    }
    void monitorOn(const Clock& clock) {
        monitor = std::make_shared<SimulatedMonitor>(clock,
                                                     SimulatedMonitorOptions{.edid = externalEdid});
    }
    void freshKernel() {
        bed.reset();  // one testbed at a time
        bed = std::make_unique<UmockdevTestbed>();
        card = bed->addCard(0);
        panel = bed->addConnector(card, "card0-eDP-1", "connected", "enabled",
                                  makeEdid("BOE", 0x0BCA, 0, ""));
    }
    void plugMonitorIntoDp(bool i2cDevLoaded = true) {
        external = bed->addConnector(card, "card0-DP-1", "connected", "enabled", externalEdid);
        bed->addI2cBus(3, "AUX A/DDI A/PHY A", panel, nullptr, i2cDevLoaded);
        bed->addI2cBus(5, "AUX B/DDI B/PHY B", external, monitor, i2cDevLoaded);
    }
    void plugMonitorIntoHdmi() {
        external = bed->addConnector(card, "card0-HDMI-A-1", "connected", "enabled", externalEdid);
    }
    int ddcLines(const std::string& text) { return int(env.linesWith("[ddc] " + text).size()); }
};

TEST_F(LaptopTestbed, HdmiMonitorIsFoundByItsEdidOnceThenRememberedOrFollowedByItsDdcLink) {
    plugMonitorIntoHdmi();
    bed->addI2cBus(2, "i915 gmbus dpc", kGpu, std::make_shared<SimulatedMonitor>(env.clock));
    bed->addI2cBus(4, "i915 gmbus dpb", kGpu, monitor);
    // Not the card's: the chipset's SMBus (memory SPD at 0x50) and a touchpad's bus.
    bed->addI2cBus(0, "SMBus I801 adapter", "/sys/devices/pci0000:00/0000:00:1f.4", monitor);
    bed->addI2cBus(1, "Synopsys DesignWare I2C adapter",
                   "/sys/devices/pci0000:00/0000:00:15.0/i2c_designware.0", nullptr);
    LinuxDisplayI2C i2c(*env.log, env.clock);
    DDCService ddc(i2c, env.clock, *env.log, env.systemLog);
    EXPECT_EQ(i2c.status().text, "Using /dev/i2c-4 for card0-HDMI-A-1 (EDID match)");
    EXPECT_EQ(ddc.getVCP(0x10), (VCPValue{50, 100}));
    EXPECT_EQ(bed->traffic(0).opens + bed->traffic(1).opens, 0);
    // Bus 2: an unanswered offset write; bus 4: offset write and read, not repeated.
    auto edidReads = [&](int bus) { return bed->traffic(bus).transfersByAddress[0x50]; };
    EXPECT_EQ(std::make_pair(edidReads(2), edidReads(4)), std::make_pair(1, 2));
    EXPECT_EQ(bed->traffic(2).transfersByAddress.count(0x37), 0u);

    // Another monitor on the same connector is matched afresh.
    auto other = makeEdid("GSM", 0x5B7F, 9, "LG");
    bed->setAttribute(external, "edid", std::string(other.begin(), other.end()));
    EXPECT_FALSE(i2c.open());
    EXPECT_EQ(i2c.status().text,
              "No DDC bus found for card0-HDMI-A-1 (no ddc link, no DP-AUX adapter, and no I2C "
              "bus answering with its EDID): a DisplayLink or other USB display adapter, and "
              "some docks, carry no DDC/CI; plug the monitor into the computer's own video port "
              "for Pellora to set its brightness");

    freshKernel();
    plugMonitorIntoHdmi();
    bed->linkDdc(external, bed->addI2cBus(7, "i915 gmbus dpb", kGpu, monitor));
    LinuxDisplayI2C linked(*env.log, env.clock);
    auto channel = linked.open();
    ASSERT_TRUE(channel);
    EXPECT_EQ(linked.status().text, "Using /dev/i2c-7 for card0-HDMI-A-1 (ddc link)");
    EXPECT_EQ(LinuxDisplayI2C::readEdid(*channel), externalEdid);
}

TEST_F(LaptopTestbed, EachKindOfOpenFailureIsLoggedOnceWithItsFix) {
    struct Case {
        const char* name;
        std::function<void()> plug;
        int openError;  // what opening any node gives; 0: the testbed's answer
        Reason reason;
        std::string text;
    };
    const Case cases[] = {
        {"no i2c-dev module", [&] { plugMonitorIntoDp(false); }, 0, Reason::i2cDevMissing,
         "No I2C device nodes (/dev/i2c-*): load the i2c-dev module (sudo modprobe i2c-dev; to "
         "keep it: echo i2c-dev | sudo tee /etc/modules-load.d/i2c-dev.conf)"},
        {"only the panel, even one that would answer",
         [&] { bed->addI2cBus(3, "AUX A/DDI A/PHY A", panel, monitor); }, 0,
         Reason::noExternalDisplay,
         "No external display connected (built-in panels are not driven over DDC/CI)"},
        {"node refused", [&] { plugMonitorIntoDp(); }, ENODEV, Reason::openFailed,
         "Cannot open /dev/i2c-5 for card0-DP-1: No such device"},
        {"every bus refused in the EDID search",
         [&] {
             plugMonitorIntoHdmi();
             bed->addI2cBus(5, "i915 gmbus dpb", kGpu, monitor);
         },
         EACCES, Reason::permissionDenied, kPermissionHint},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshKernel();
        c.plug();
        int error = c.openError;
        LinuxDisplayI2C i2c(*env.log, env.clock, {}, [error](const std::filesystem::path& node) {
            return error ? -error : openNode(node);
        });
        DDCService ddc(i2c, env.clock, *env.log, env.systemLog);
        EXPECT_FALSE(ddc.getVCP(0x10));
        EXPECT_FALSE(ddc.setVCP(0x10, 30));
        EXPECT_EQ(i2c.status(), (LinuxDisplayI2C::Status{c.reason, c.text}));
        EXPECT_EQ(i2c.status().whyUnanswered(), c.text);
        EXPECT_EQ(ddcLines(c.text), 1);
        EXPECT_EQ(bed->traffic(3).opens, 0);
    }
}

// The DP-AUX node found and used; a denial is logged again only after it was gone.
TEST_F(LaptopTestbed, DpAuxNodeIsUsedAndADenialIsLoggedAgainOnlyAfterItWasGone) {
    plugMonitorIntoDp();
    bool deny = false;
    LinuxDisplayI2C i2c(*env.log, env.clock, {}, [&](const std::filesystem::path& node) {
        return deny ? -EACCES : openNode(node);
    });
    DDCService ddc(i2c, env.clock, *env.log, env.systemLog);
    EXPECT_TRUE(ddc.setVCP(0x10, 42));
    EXPECT_EQ(monitor->vcpRegister(0x10)->current, 42);
    EXPECT_EQ(bed->traffic(3).opens, 0);  // the panel's bus is left alone
    EXPECT_EQ(i2c.status().whyUnanswered(), std::nullopt);
    for (bool denied : {true, true, true, false, false, true, true}) {
        deny = denied;
        EXPECT_EQ(bool(i2c.open()), !denied);
    }
    EXPECT_EQ(ddcLines(kPermissionHint), 2);
    EXPECT_EQ(ddcLines("Using /dev/i2c-5 for card0-DP-1 (DP-AUX adapter)"), 2);
}

// ddcutil, and programs built on libddcutil such as KDE PowerDevil, flock the node for as
// long as they use the bus; we wait a while for them, then give up on the exchange.
TEST_F(LaptopTestbed, AnotherProgramsBusLockIsWaitedForThenGivenUpOn) {
    plugMonitorIntoDp();
    UniqueFd holder(openNode("/dev/i2c-5"));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    // Waits pass on virtual time; the other program lets go once `releaseAfter` has passed.
    struct ReleasingClock final : Clock {
        VirtualClock& inner;
        UniqueFd& holder;
        double waited = 0, releaseAfter = 1e9;
        ReleasingClock(VirtualClock& c, UniqueFd& h) : inner(c), holder(h) {}
        double now() const override { return inner.now(); }
        double monotonic() const override { return inner.monotonic(); }
        void sleep(double seconds) override {
            inner.sleep(seconds);
            (waited += seconds) >= releaseAfter ? holder.reset() : void();
        }
    } clock(env.clock, holder);
    LinuxDisplayI2C i2c(*env.log, clock);
    EXPECT_FALSE(i2c.open());
    EXPECT_NEAR(clock.waited, 1.0, 0.02);
    EXPECT_EQ(ddcLines("Another program holds /dev/i2c-5 (ddcutil, or a desktop's brightness "
                       "service): gave up waiting after 1.0 s"),
              1);

    clock.releaseAfter = clock.waited + 0.3;
    auto channel = i2c.open();
    EXPECT_NEAR(clock.waited, 1.3, 0.02);
    // Ours now, until the channel closes.
    UniqueFd other(openNode("/dev/i2c-5"));
    EXPECT_NE(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    channel.reset();
    EXPECT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
}

// The ddcci driver binds 0x37 (I2C_SLAVE answers EBUSY): the address is forced alongside it,
// and when the monitor still does not answer the text names the driver and how to let go.
TEST_F(LaptopTestbed, DdcciDriverOnTheAddressIsWorkedAlongsideAndNamedWhenItBlocks) {
    const std::string logged =
        "DDC/CI address 0x37 on /dev/i2c-5 is held by the ddcci kernel driver; using it alongside";
    for (bool answers : {true, false}) {
        SCOPED_TRACE(answers ? "the monitor answers alongside" : "the monitor does not answer");
        freshKernel();
        plugMonitorIntoDp();
        bed->holdAddress(5, 0x37, "ddcci", answers);
        LinuxDisplayI2C i2c(*env.log, env.clock);
        DDCService ddc(i2c, env.clock, *env.log, env.systemLog);
        const int before = ddcLines(logged);
        EXPECT_EQ(ddc.setVCP(0x10, 42), answers);
        EXPECT_EQ(ddc.getVCP(0x10), answers ? std::optional(VCPValue{42, 100}) : std::nullopt);
        EXPECT_EQ(ddcLines(logged) - before, 1) << "logged once, not per exchange";
        EXPECT_EQ(bed->traffic(5).forcedSelects, bed->traffic(5).opens - 1) << "all but the probe";
        EXPECT_EQ(i2c.status().reason, Reason::sharedWithDriver);
        EXPECT_EQ(i2c.status().text, logged);
        EXPECT_EQ(i2c.status().whyUnanswered(),
                  "The ddcci kernel driver holds /dev/i2c-5 and the monitor does not answer "
                  "alongside it: unload it (sudo modprobe -r ddcci) or blacklist it (echo "
                  "'blacklist ddcci' | sudo tee /etc/modprobe.d/blacklist-ddcci.conf)");
        if (!answers) {
            // Unloaded as told, with the monitor still silent (DDC/CI off in its own menu):
            // the driver is named no more.
            freshKernel();
            external = bed->addConnector(card, "card0-DP-1", "connected", "enabled", externalEdid);
            bed->addI2cBus(3, "AUX A/DDI A/PHY A", panel, nullptr);
            bed->addI2cBus(5, "AUX B/DDI B/PHY B", external, nullptr);
            EXPECT_EQ(DDCService(i2c, env.clock, *env.log, env.systemLog).getVCP(0x10),
                      std::nullopt);
            EXPECT_EQ(i2c.status().reason, Reason::available) << i2c.status().text;
            EXPECT_EQ(i2c.status().whyUnanswered(), std::nullopt);
        }
    }
    // The EDID's address is not ours to force.
    freshKernel();
    plugMonitorIntoDp();
    bed->holdAddress(5, 0x50, "at24", true);
    I2cDevChannel channel{UniqueFd(openNode("/dev/i2c-5")), [](std::uint8_t) { return false; }};
    EXPECT_EQ(channel.write(0x50, 0x00, {}), EBUSY);
    EXPECT_EQ(bed->traffic(5).forcedSelects, 0);
}

TEST_F(LaptopTestbed, ChannelReportsTheKernelsErrorsAndShortTransfers) {
    plugMonitorIntoDp();
    I2cDevChannel channel{UniqueFd(openNode("/dev/i2c-5"))};
    const std::array<std::uint8_t, 4> get = DDCService::getVCPPacket(0x10);
    std::array<std::uint8_t, 11> reply{};

    EXPECT_EQ(channel.write(0x37, 0x51, get), 0);
    env.clock.sleep(0.08);
    EXPECT_EQ(channel.read(0x37, 0x51, reply), 0);
    EXPECT_TRUE(reply[0] == 0x6E && reply[9] == 50);
    EXPECT_EQ(bed->traffic(5).addressSelects, 1);  // chosen once for both transfers

    EXPECT_EQ(channel.write(0x80, 0x00, {}), EINVAL);   // not a 7-bit address
    EXPECT_EQ(channel.read(0x42, 0x51, reply), ENXIO);  // nobody there
    monitor->setFault(SimulatedMonitorFault::writeNak, 1);
    EXPECT_EQ(channel.write(0x37, 0x51, get), ENXIO);
    bed->limitTransfers(5, 4);
    EXPECT_EQ(channel.write(0x37, 0x51, get), EIO);
    EXPECT_EQ(channel.read(0x37, 0x51, reply), EIO);
}

// The monitor registry watching the faked kernel's uevents through the DRM display list.
TEST_F(LaptopTestbed, HotplugReachesTheRegistry) {
    plugMonitorIntoDp();
    qtApp();
    DrmDisplayList list;
    auto registry = MonitorRegistry::create(list, *env.settings, *env.main);
    std::vector<std::optional<Monitor>> changes;
    registry->setOnChange([&](const std::optional<Monitor>& m) { changes.push_back(m); });
    const Monitor dell{0x10AC, 0xA0C5, 0x2A17};
    EXPECT_EQ(registry->friendlyName(*registry->current()), "DELL U2720Q");
    // Runs the Qt loop (the udev monitor's socket) and the main queue until the next change.
    auto next = [&](const std::string& device, const std::string& action, bool connected) {
        bed->setAttribute(external, "status", connected ? "connected\n" : "disconnected\n");
        bed->setAttribute(external, "enabled", connected ? "enabled\n" : "disabled\n");
        monitor->setConnected(connected);
        bed->uevent(device, action);
        std::size_t count = changes.size();
        bool changed = runEventsUntil([&] { return changes.size() > count; }, 5000,
                                      [&] { env.clock.runPending(); });
        return changed ? changes.back() : Monitor{};  // never a registry's answer
    };
    LinuxDisplayI2C i2c(*env.log, env.clock);
    // Unplugged: the kernel marks the connector and sends a hotplug "change" for the card.
    EXPECT_EQ(next(card, "change", false), std::nullopt);
    EXPECT_TRUE(!i2c.open() && i2c.status().reason == Reason::noExternalDisplay);
    EXPECT_EQ(next(card, "change", true), dell);
    EXPECT_TRUE(i2c.open());
    // A DisplayPort MST connector goes away with its device: a "remove" uevent.
    EXPECT_EQ(next(external, "remove", false), std::nullopt);
}

// The real ddcutil on the same faked kernel (umockdev's preload reaches its sysfs and ioctls):
// a peer that reads and sets the simulated monitor is evidence it speaks DDC/CI as real ones do.
struct DdcutilInterop : LaptopTestbed {
    SystemClock realClock;  // ddcutil waits in real time, so the monitor must count it too
    QString ddcutil = QStandardPaths::findExecutable("ddcutil");
    TempDir home;

    void SetUp() override {
        LaptopTestbed::SetUp();
        if (!IsSkipped() && ddcutil.isEmpty()) {
            GTEST_SKIP() << "ddcutil is not installed (scripts/setup-deps installs it)";
        }
        if (!IsSkipped()) {
            qtApp();
            monitorOn(realClock);
            plugMonitorIntoDp();
        }
    }
    // Runs ddcutil and expects it to succeed and print a match for every pattern.
    std::string expectOutput(const QStringList& arguments,
                             const std::vector<std::string>& patterns) {
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
        const bool finished = process.waitForFinished(30000);
        process.kill();  // one that hangs is cut off
        process.waitForFinished();
        const std::string output = process.readAllStandardOutput().toStdString() +
                                   process.readAllStandardError().toStdString();
        EXPECT_TRUE(finished && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0)
            << output;
        for (const std::string& pattern : patterns) {
            EXPECT_TRUE(std::regex_search(output, std::regex(pattern))) << pattern << "\n"
                                                                        << output;
        }
        return output;
    }
};

TEST_F(DdcutilInterop, DetectsTheMonitorOnBusFiveAndGetsAndSetsItsBrightness) {
    std::string detect =
        expectOutput({"detect"}, {R"(I2C bus:\s+/dev/i2c-5)", R"(DRM connector:\s+card0-DP-1)",
                                  R"(Model:\s+DELL U2720Q)", R"(VCP version:\s+2\.2)"});
    EXPECT_EQ(detect.find("/dev/i2c-3"), std::string::npos);
    // ddcutil talks to the adapter through I2C_RDWR, which the testbed serves too.
    EXPECT_GT(bed->traffic(5).combinedTransfers, 0);
    expectOutput({"capabilities", "--bus", "5"}, {R"(Model:\s+SimMon)", R"(Feature: 10)"});
    expectOutput({"getvcp", "10", "--bus", "5"},
                 {R"(VCP code 0x10 \(Brightness\s*\): current value =\s+50, max value =\s+100)"});
    expectOutput({"setvcp", "10", "42", "--bus", "5"}, {});
    EXPECT_EQ(monitor->vcpRegister(0x10)->current, 42);
}

}  // namespace
}  // namespace pellora::test
