#include <gtest/gtest.h>

#include "EdidBuilder.h"
#include "TempDir.h"
#include "platform/linux/DrmDisplayList.h"
#include "platform/linux/Edid.h"

namespace pellora::test {
namespace {

std::string asText(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(Edid, ReadsVendorModelSerialAndName) {
    auto id = parseEdid(makeEdid("DEL", 0xA0C5, 0x12345678, "DELL U2720Q"));
    ASSERT_TRUE(id);
    EXPECT_EQ(id->vendor, 0x10ACu);
    EXPECT_EQ(id->model, 0xA0C5u);
    EXPECT_EQ(id->serial, 0x12345678u);
    EXPECT_EQ(id->name, "DELL U2720Q");
}

TEST(Edid, ThirteenCharacterNameHasNoTerminatorAndPaddingIsTrimmed) {
    EXPECT_EQ(parseEdid(makeEdid("GSM", 1, 2, "LG ULTRAFINE1"))->name, "LG ULTRAFINE1");
    EXPECT_EQ(parseEdid(makeEdid("GSM", 1, 2, "LG"))->name, "LG");
    EXPECT_EQ(parseEdid(makeEdid("GSM", 1, 2, ""))->name, std::nullopt);
}

TEST(Edid, RejectsShortWrongHeaderAndBadChecksum) {
    auto good = makeEdid("DEL", 1, 2, "X");
    EXPECT_FALSE(parseEdid(std::vector<std::uint8_t>(good.begin(), good.begin() + 127)));
    auto badHeader = good;
    badHeader[1] = 0;
    EXPECT_FALSE(parseEdid(badHeader));
    auto badSum = good;
    badSum[20] ^= 1;
    EXPECT_FALSE(parseEdid(badSum));
    EXPECT_FALSE(parseEdid(std::vector<std::uint8_t>(128, 0)));
    // Extension blocks after the base block are fine.
    auto extended = good;
    extended.resize(256, 0x02);
    EXPECT_TRUE(parseEdid(extended));
}

struct FakeDrm {
    TempDir dir;
    void connector(const std::string& name, const std::string& status, const std::string& enabled,
                   const std::vector<std::uint8_t>& edid) {
        auto path = dir / name;
        writeFile(path / "status", status + "\n");
        if (!enabled.empty()) {
            writeFile(path / "enabled", enabled + "\n");
        }
        writeFile(path / "edid", asText(edid));
    }
};

TEST(DrmDisplayList, ListsConnectedEnabledOutputsInConnectorOrderAndMarksPanels) {
    FakeDrm drm;
    drm.connector("card1-eDP-1", "connected", "enabled", makeEdid("BOE", 0x0BCA, 0, ""));
    drm.connector("card1-DP-10", "connected", "enabled", makeEdid("GSM", 0x5B7F, 7, "LG"));
    drm.connector("card1-DP-2", "connected", "enabled", makeEdid("DEL", 0xA0C5, 9, "DELL"));
    drm.connector("card1-HDMI-A-1", "disconnected", "disabled", {});
    drm.connector("card1-DP-3", "connected", "disabled", makeEdid("DEL", 1, 1, ""));
    writeFile(drm.dir / "card1" / "dev", "226:1\n");  // the card itself is not a connector
    writeFile(drm.dir / "version", "drm 1.1.0\n");

    DrmDisplayList list(drm.dir.path());
    auto displays = list.activeDisplays();
    ASSERT_TRUE(displays);
    ASSERT_EQ(displays->size(), 3u);
    EXPECT_EQ((*displays)[0].id, "card1-DP-2");
    EXPECT_EQ((*displays)[1].id, "card1-DP-10");
    EXPECT_EQ((*displays)[2].id, "card1-eDP-1");
    EXPECT_TRUE((*displays)[2].builtIn);
    EXPECT_FALSE((*displays)[0].builtIn);
    EXPECT_EQ((*displays)[0].vendor, 0x10ACu);
    EXPECT_EQ((*displays)[0].serial, 9u);
    EXPECT_EQ((*displays)[1].name, "LG");
    EXPECT_EQ(list.connectorDir((*displays)[0]), drm.dir / "card1-DP-2");
}

TEST(DrmDisplayList, OutputWithoutReadableEdidStillCountsWithZeroIdentity) {
    FakeDrm drm;
    drm.connector("card0-HDMI-A-1", "connected", "", {0x00, 0x01});
    auto displays = DrmDisplayList(drm.dir.path()).activeDisplays();
    ASSERT_TRUE(displays);
    ASSERT_EQ(displays->size(), 1u);
    EXPECT_EQ((*displays)[0].vendor, 0u);
    EXPECT_EQ((*displays)[0].name, std::nullopt);
}

TEST(DrmDisplayList, MissingSysfsFolderCannotBeRead) {
    EXPECT_FALSE(DrmDisplayList("/nonexistent/drm").activeDisplays());
}

TEST(DrmDisplayList, PanelTypesAreBuiltIn) {
    EXPECT_TRUE(DrmDisplayList::isBuiltInConnector("card0-eDP-1"));
    EXPECT_TRUE(DrmDisplayList::isBuiltInConnector("card0-LVDS-1"));
    EXPECT_TRUE(DrmDisplayList::isBuiltInConnector("card2-DSI-1"));
    EXPECT_FALSE(DrmDisplayList::isBuiltInConnector("card0-DP-1"));
    EXPECT_FALSE(DrmDisplayList::isBuiltInConnector("card0-HDMI-A-1"));
    EXPECT_FALSE(DrmDisplayList::isBuiltInConnector("card0-Virtual-1"));
}

}  // namespace
}  // namespace pellora::test
