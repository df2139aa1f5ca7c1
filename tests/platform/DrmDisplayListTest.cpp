#include "platform/linux/DrmDisplayList.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "EdidBuilder.h"
#include "TempDir.h"
#include "platform/linux/Edid.h"
#include "platform/linux/I2cBusLocator.h"

namespace pellora::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Edid, ReadsIdentityAndNameAndRefusesWhatIsNoBaseBlock) {
    EXPECT_EQ(parseEdid(makeEdid("DEL", 0xA0C5, 0x12345678, "DELL U2720Q")),
              (EdidIdentity{0x10AC, 0xA0C5, 0x12345678, "DELL U2720Q"}));
    // Thirteen characters leave no room for the line end; padding is trimmed.
    EXPECT_EQ(parseEdid(makeEdid("GSM", 1, 2, "LG ULTRAFINE1"))->name, "LG ULTRAFINE1");
    EXPECT_EQ(parseEdid(makeEdid("GSM", 1, 2, ""))->name, std::nullopt);

    Bytes good = makeEdid("DEL", 1, 2, "X"), extended = good;
    extended.resize(256, 0x02);
    EXPECT_TRUE(parseEdid(extended));  // extension blocks after the base block are fine
    EXPECT_FALSE(parseEdid(Bytes(good.begin(), good.begin() + 127)));
    EXPECT_FALSE(parseEdid(Bytes(128, 0)));
    for (std::size_t flipped : {1, 20, 127}) {  // header, body, checksum
        Bytes bad = good;
        bad[flipped] ^= 1;
        EXPECT_FALSE(parseEdid(bad)) << flipped;
    }
}

struct FakeDrm {
    TempDir dir;
    void connector(const std::string& name, const std::string& status, const std::string& enabled,
                   const Bytes& edid = {}) {
        writeFile(dir / name / "status", status + "\n");
        if (!enabled.empty()) {
            writeFile(dir / name / "enabled", enabled + "\n");
        }
        writeFile(dir / name / "edid", std::string(edid.begin(), edid.end()));
    }
    // `attribute` of `name` a FIFO that no writer ever opens: a blocking open would hang.
    void fifo(const std::string& name, const std::string& attribute) {
        std::error_code error;
        std::filesystem::remove(dir / name / attribute, error);
        ASSERT_EQ(::mkfifo((dir / name / attribute).c_str(), 0600), 0);
    }
    std::vector<std::string> ids() {
        std::vector<std::string> found;
        for (const auto& display :
             DrmDisplayList(dir.path()).activeDisplays().value_or(std::vector<DisplayInfo>{})) {
            found.push_back(display.id);
        }
        return found;
    }
};

TEST(DrmDisplayList, ListsConnectedDrivenOutputsInConnectorOrderAndMarksPanels) {
    FakeDrm drm;
    drm.connector("card1-eDP-1", "connected", "enabled", makeEdid("BOE", 0x0BCA, 0, ""));
    drm.connector("card1-DP-10", "connected", "enabled", makeEdid("GSM", 0x5B7F, 7, "LG"));
    drm.connector("card1-DP-2", "connected", "enabled", makeEdid("DEL", 0xA0C5, 9, "DELL"));
    drm.connector("card1-HDMI-A-1", "disconnected", "disabled");
    drm.connector("card1-DP-3", "connected", "disabled", makeEdid("DEL", 1, 1, ""));
    drm.connector("card0-HDMI-A-1", "connected", "", {0x00, 0x01});  // no "enabled", bad EDID
    // NVIDIA's driver says "disabled" of the outputs it drives too.
    drm.connector("card2-DP-1", "connected", "disabled");
    drm.connector("card2-HDMI-A-1", "disconnected", "disabled");
    writeFile(drm.dir / "card1" / "dev", "226:1\n");  // the card itself is not a connector
    writeFile(drm.dir / "version", "drm 1.1.0\n");

    DrmDisplayList list(drm.dir.path());
    auto displays = list.activeDisplays();
    ASSERT_TRUE(displays);
    EXPECT_EQ(drm.ids(), (std::vector<std::string>{"card0-HDMI-A-1", "card1-DP-2", "card1-DP-10",
                                                   "card1-eDP-1", "card2-DP-1"}));
    ASSERT_EQ(displays->size(), 5u);
    EXPECT_EQ((*displays)[0], (DisplayInfo{"card0-HDMI-A-1", false, 0, 0, 0, std::nullopt}));
    EXPECT_EQ((*displays)[1], (DisplayInfo{"card1-DP-2", false, 0x10AC, 0xA0C5, 9, "DELL"}));
    EXPECT_TRUE((*displays)[3].builtIn);
    EXPECT_EQ(list.connectorDir((*displays)[1]), drm.dir / "card1-DP-2");
    EXPECT_FALSE(DrmDisplayList("/nonexistent/drm").activeDisplays());
}

TEST(DrmDisplayList, HostileConnectorNamesAndFifoAttributesAreRefusedWithoutCrashOrWait) {
    FakeDrm drm;
    for (const char* name : {"card0-DP-99999999999999999999", "card99999999999999999999-DP-1",
                             "card-DP-1", "card0-", "card+1-DP-1", "xcard0-DP-1"}) {
        drm.connector(name, "connected", "enabled");
    }
    drm.connector("card0-DP-1", "connected", "enabled");
    drm.connector("card0-Virtual", "connected", "enabled");
    EXPECT_EQ(drm.ids(), (std::vector<std::string>{"card0-DP-1", "card0-Virtual"}));

    drm.fifo("card0-DP-1", "edid");
    drm.fifo("card0-Virtual", "status");
    EXPECT_EQ(drm.ids(), (std::vector<std::string>{"card0-DP-1"}));
    EXPECT_TRUE(readEdidFile(drm.dir / "card0-DP-1" / "edid").empty());

    for (const char* name : {"card0-eDP-1", "card0-LVDS-1", "card2-DSI-1"}) {
        EXPECT_TRUE(DrmDisplayList::isBuiltInConnector(name)) << name;
    }
    for (const char* name : {"card0-DP-1", "card0-eDP-99999999999999", "card0-eDPx-1"}) {
        EXPECT_FALSE(DrmDisplayList::isBuiltInConnector(name)) << name;
    }
}

// A connector with buses 0, 3, 7 and 12 in the i2c-dev class: bus 3 holds another monitor,
// bus 7 this one.
TEST(I2cBusLocator, DdcLinkThenDpAuxAdapterThenEdidMatch) {
    TempDir dir;
    // As sysfs lays them out: class folders of links into the devices' tree.
    const auto gpu = dir / "devices" / "gpu", connector = dir / "drm" / "card1-DP-1";
    const auto i2c = dir / "i2c-dev";
    Bytes edid = makeEdid("DEL", 0xA0C5, 77, "DELL");
    writeFile(gpu / "drm" / "card1" / "card1-DP-1" / "edid", std::string(edid.begin(), edid.end()));
    std::error_code error;  // a set-up step that fails shows in what is found
    std::filesystem::create_directories(connector.parent_path(), error);
    std::filesystem::create_symlink(gpu / "drm" / "card1" / "card1-DP-1", connector, error);
    // Bus 5 is the chipset's SMBus, no bus of the card's, whatever answers there.
    for (int n : {0, 3, 5, 7, 12}) {
        const std::string name = "i2c-" + std::to_string(n);
        const auto adapter = (n == 5 ? dir / "devices" / "smbus" : gpu) / name;
        std::filesystem::create_directories(adapter / "i2c-dev" / name, error);
        std::filesystem::create_directories(i2c, error);
        std::filesystem::create_symlink(adapter / "i2c-dev" / name, i2c / name, error);
    }
    std::vector<int> asked;  // buses whose EDID was read
    auto found = [&]() -> std::optional<std::pair<int, std::string>> {
        auto bus = I2cBusLocator(i2c, [&](int bus) -> std::optional<Bytes> {
                       asked.push_back(bus);
                       if (bus == 3) {
                           return makeEdid("DEL", 0xA0C5, 78, "DELL");  // a sibling monitor
                       }
                       return bus == 5 || bus == 7 ? std::optional(edid) : std::nullopt;
                   }).busFor(connector);
        return bus ? std::optional(std::pair(bus->bus, bus->how)) : std::nullopt;
    };
    EXPECT_EQ(found(), std::pair(7, std::string("EDID match")));
    EXPECT_EQ(asked, (std::vector<int>{0, 3, 7}));

    std::filesystem::create_directories(connector / "i2c-12", error);
    std::filesystem::create_directories(connector / "drm_dp_aux0", error);
    EXPECT_EQ(found(), std::pair(12, std::string("DP-AUX adapter")));
    std::filesystem::create_symlink("../../i2c-dev/i2c-3", connector / "ddc", error);
    EXPECT_EQ(found(), std::pair(3, std::string("ddc link")));

    std::filesystem::remove(connector, error);  // no EDID: nothing is read, nothing found
    writeFile(connector / "status", "connected\n");
    asked.clear();
    EXPECT_EQ(found(), std::nullopt);
    EXPECT_TRUE(asked.empty());
}

TEST(I2cBusLocator, BusNumbersParseStrictly) {
    EXPECT_EQ(I2cBusLocator::busNumber("i2c-0"), 0);
    EXPECT_EQ(I2cBusLocator::busNumber("i2c-15"), 15);
    for (const char* name :
         {"i2c-", "i2c-3x", "i2c--1", "i2c-+1", "drm_dp_aux0", "i2c-99999999999"}) {
        EXPECT_EQ(I2cBusLocator::busNumber(name), std::nullopt) << name;
    }
}

}  // namespace
}  // namespace pellora::test
