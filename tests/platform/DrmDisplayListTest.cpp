#include <gtest/gtest.h>
#include <sys/stat.h>

#include "EdidBuilder.h"
#include "TempDir.h"
#include "platform/linux/DrmDisplayList.h"
#include "platform/linux/Edid.h"

namespace pellora::test {
namespace {

TEST(Edid, ReadsIdentityAndNameAndRefusesWhatIsNoBaseBlock) {
    auto id = parseEdid(makeEdid("DEL", 0xA0C5, 0x12345678, "DELL U2720Q"));
    ASSERT_TRUE(id);
    EXPECT_EQ(*id, (EdidIdentity{0x10AC, 0xA0C5, 0x12345678, "DELL U2720Q"}));
    // Thirteen characters leave no room for the line end; padding is trimmed.
    EXPECT_EQ(parseEdid(makeEdid("GSM", 1, 2, "LG ULTRAFINE1"))->name, "LG ULTRAFINE1");
    EXPECT_EQ(parseEdid(makeEdid("GSM", 1, 2, "LG"))->name, "LG");
    EXPECT_EQ(parseEdid(makeEdid("GSM", 1, 2, ""))->name, std::nullopt);

    auto good = makeEdid("DEL", 1, 2, "X");
    auto extended = good;
    extended.resize(256, 0x02);
    EXPECT_TRUE(parseEdid(extended));  // extension blocks after the base block are fine
    EXPECT_FALSE(parseEdid(std::vector<std::uint8_t>(good.begin(), good.begin() + 127)));
    EXPECT_FALSE(parseEdid(std::vector<std::uint8_t>(128, 0)));
    for (std::size_t flipped : {1, 20, 127}) {  // header, body, checksum
        auto bad = good;
        bad[flipped] ^= 1;
        EXPECT_FALSE(parseEdid(bad)) << flipped;
    }
}

struct FakeDrm {
    TempDir dir;
    void connector(const std::string& name, const std::string& status, const std::string& enabled,
                   const std::vector<std::uint8_t>& edid = {}) {
        writeFile(dir / name / "status", status + "\n");
        if (!enabled.empty()) {
            writeFile(dir / name / "enabled", enabled + "\n");
        }
        writeFile(dir / name / "edid", std::string(edid.begin(), edid.end()));
    }
    std::vector<std::string> ids() {
        auto displays = DrmDisplayList(dir.path()).activeDisplays();
        std::vector<std::string> found;
        for (const auto& display : displays.value_or(std::vector<DisplayInfo>{})) {
            found.push_back(display.id);
        }
        return found;
    }
};

TEST(DrmDisplayList, ListsConnectedEnabledOutputsInConnectorOrderAndMarksPanels) {
    FakeDrm drm;
    drm.connector("card1-eDP-1", "connected", "enabled", makeEdid("BOE", 0x0BCA, 0, ""));
    drm.connector("card1-DP-10", "connected", "enabled", makeEdid("GSM", 0x5B7F, 7, "LG"));
    drm.connector("card1-DP-2", "connected", "enabled", makeEdid("DEL", 0xA0C5, 9, "DELL"));
    drm.connector("card1-HDMI-A-1", "disconnected", "disabled");
    drm.connector("card1-DP-3", "connected", "disabled", makeEdid("DEL", 1, 1, ""));
    drm.connector("card0-HDMI-A-1", "connected", "", {0x00, 0x01});  // no "enabled", bad EDID
    writeFile(drm.dir / "card1" / "dev", "226:1\n");  // the card itself is not a connector
    writeFile(drm.dir / "version", "drm 1.1.0\n");

    DrmDisplayList list(drm.dir.path());
    auto displays = list.activeDisplays();
    ASSERT_TRUE(displays);
    ASSERT_EQ(displays->size(), 4u);
    EXPECT_EQ((*displays)[0], (DisplayInfo{"card0-HDMI-A-1", false, 0, 0, 0, std::nullopt}));
    EXPECT_EQ((*displays)[1], (DisplayInfo{"card1-DP-2", false, 0x10AC, 0xA0C5, 9, "DELL"}));
    EXPECT_EQ((*displays)[2].id, "card1-DP-10");
    EXPECT_EQ((*displays)[3].id, "card1-eDP-1");
    EXPECT_TRUE((*displays)[3].builtIn);
    EXPECT_EQ(list.connectorDir((*displays)[1]), drm.dir / "card1-DP-2");
    EXPECT_FALSE(DrmDisplayList("/nonexistent/drm").activeDisplays());
}

TEST(DrmDisplayList, HostileConnectorNamesAreNoConnectorsAndNoCrash) {
    FakeDrm drm;
    for (const char* name :
         {"card0-DP-99999999999999999999", "card99999999999999999999-DP-1", "card-DP-1", "card0-",
          "card0", "card+1-DP-1", "card-1-DP-1", "cardX-DP-1", "xcard0-DP-1"}) {
        drm.connector(name, "connected", "enabled");
    }
    drm.connector("card0-DP-1", "connected", "enabled");
    drm.connector("card0-Virtual", "connected", "enabled");
    EXPECT_EQ(drm.ids(), (std::vector<std::string>{"card0-DP-1", "card0-Virtual"}));

    struct Case {
        const char* name;
        bool builtIn;
    };
    for (Case c : {Case{"card0-eDP-1", true},
                   {"card0-LVDS-1", true},
                   {"card2-DSI-1", true},
                   {"card0-eDP", true},
                   {"card0-DP-1", false},
                   {"card0-HDMI-A-1", false},
                   {"card0-Virtual-1", false},
                   {"card0-eDP-99999999999999", false},
                   {"card0-eDPx-1", false},
                   {"eDP-1", false}}) {
        EXPECT_EQ(DrmDisplayList::isBuiltInConnector(c.name), c.builtIn) << c.name;
    }
}

TEST(DrmDisplayList, AFifoInPlaceOfAnAttributeIsRefusedWithoutWaiting) {
    FakeDrm drm;
    drm.connector("card0-DP-1", "connected", "enabled");
    std::error_code error;
    std::filesystem::remove(drm.dir / "card0-DP-1" / "edid", error);
    ASSERT_EQ(::mkfifo((drm.dir / "card0-DP-1" / "edid").c_str(), 0600), 0);
    drm.connector("card0-DP-2", "connected", "enabled");
    std::filesystem::remove(drm.dir / "card0-DP-2" / "status", error);
    ASSERT_EQ(::mkfifo((drm.dir / "card0-DP-2" / "status").c_str(), 0600), 0);
    // No writer ever opens them: a blocking open would hang here.
    EXPECT_EQ(drm.ids(), (std::vector<std::string>{"card0-DP-1"}));
    EXPECT_TRUE(readEdidFile(drm.dir / "card0-DP-1" / "edid").empty());
}

}  // namespace
}  // namespace pellora::test
