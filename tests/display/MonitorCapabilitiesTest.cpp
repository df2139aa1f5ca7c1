#include "display/MonitorCapabilities.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <tuple>

namespace pellora::test {
namespace {

using nlohmann::json;
using Values = std::vector<std::uint8_t>;
using Vcps = std::map<std::uint8_t, Values>;

constexpr const char* kDellLike =
    "(prot(monitor)type(LCD)model(ABC123)cmds(01 02 03 0C E3 F3)vcp(02 04 05 08 10 12 14(05 08 "
    "0B) 16 18 1A 52 60(0F 11 12) AC AE B6 C6 C8 C9 DC(00 01 02 03) DF)mswhql(1)mccs_ver(2.1))";

TEST(MonitorCapabilitiesParse, ReadsATypicalMonitorsString) {
    MonitorCapabilities caps = MonitorCapabilities::parse(kDellLike);
    EXPECT_EQ(caps.rawString, kDellLike);
    EXPECT_EQ(caps.model, "ABC123");
    EXPECT_EQ(caps.vcps.size(), 20u);
    EXPECT_EQ(caps.vcps[0x14], (Values{0x05, 0x08, 0x0B}));
}

TEST(MonitorCapabilitiesParse, VcpSectionTable) {
    const std::tuple<const char*, std::string, Vcps> cases[] = {
        {"lower case", "vcp(10 6b 14(0b))", {{0x10, {}}, {0x6B, {}}, {0x14, {0x0B}}}},
        {"unclosed value list", "vcp(14(05 08", {{0x14, {0x05, 0x08}}}},
        {"unreadable pair in list", "vcp(14(05 0X 08))", {{0x14, {0x05, 0x08}}}},
        {"repeated code keeps last", "vcp(10 10(01))", {{0x10, {0x01}}}},
        {"lone digit is no code", "vcp(2 10)", {{0x10, {}}}},
        {"list after white space", "vcp(14 (05 08))", {{0x14, {0x05, 0x08}}}},
        {"sub-lists nested deeper",
         "vcp(DC(00 (01 (02) 03) 04) 10)",
         {{0xDC, {0x00, 0x04}}, {0x10, {}}}},
        {"list without a code", "vcp((01 02) 10)", {{0x10, {}}}},
        {"signs", "vcp(+5 -0 -1 20)", {{0x05, {}}, {0x00, {}}, {0x20, {}}}},
        {"codes without spaces", "vcp(1012AC)", {{0x10, {}}, {0x12, {}}, {0xAC, {}}}},
        {"unicode white space", "vcp(14(\u300005 08))", {{0x14, {0x05, 0x08}}}},
        {"invalid UTF-8 skipped", "vcp(10 \xff\xfe 12 \xc3(", {{0x10, {}}, {0x12, {}}}},
    };
    for (const auto& [name, text, expected] : cases) {
        EXPECT_EQ(MonitorCapabilities::parse(text).vcps, expected) << name;
    }
}

TEST(MonitorCapabilitiesParse, SectionsAndRawText) {
    EXPECT_EQ(MonitorCapabilities::parse(""), MonitorCapabilities{});
    EXPECT_EQ(MonitorCapabilities::parse("(type(LCD)model(U2720Q))"),
              (MonitorCapabilities{"(type(LCD)model(U2720Q))", "U2720Q", "LCD", {}}));
    EXPECT_EQ(MonitorCapabilities::parse("model(X(Y)Z)").model, "X(Y)Z");
    const std::string raw("vcp(10)\0\xff\x80 tail", 15);
    EXPECT_EQ(MonitorCapabilities::parse(raw).rawString, raw);
    // Broken firmware may send anything; none of it may hang or crash.
    EXPECT_EQ(MonitorCapabilities::parse("vcp(10(" + std::string(100000, '(')).vcps,
              (Vcps{{0x10, {}}}));
}

TEST(MonitorCapabilitiesJSON, RoundTripsStoresVcpsFlatAndReadsOtherMachinesRecords) {
    const MonitorCapabilities odd{
        std::string("nul\0inside", 10), "\u00c9cran \u2603", {}, {{0, {0}}}};
    EXPECT_EQ(MonitorCapabilities::decodeJSON(odd.encodeJSON().value()), odd);
    MonitorCapabilities caps{"raw", std::nullopt, "LCD", {{0x14, {5, 8, 11}}, {0x10, {}}}};
    EXPECT_EQ(json::parse(*caps.encodeJSON()),
              json::parse(R"({"rawString":"raw","type":"LCD","vcps":[16,[],20,[5,8,11]]})"));
    // JSON cannot carry text that is not UTF-8 unchanged.
    EXPECT_FALSE((MonitorCapabilities{"", "\xc0\x80", std::nullopt, {}}.encodeJSON()));
    // Another machine's record: unknown members, a null model, a repeated code (the last counts).
    EXPECT_EQ(
        MonitorCapabilities::decodeJSON(
            R"({"vcps":[20,[5,8],16,[],20,[11]],"x":{"y":[1]},"model":null,"rawString":"r"})"),
        (MonitorCapabilities{"r", std::nullopt, std::nullopt, {{0x10, {}}, {0x14, {11}}}}));
}

TEST(MonitorCapabilitiesJSON, UndecodableRecordsReadAsNothing) {
    const std::string records[] = {
        R"({"vcps":[]})",
        R"({"rawString":"","vcps":[16,[],20]})",
        R"({"rawString":"","vcps":[256,[]]})",
        R"({"rawString":"","vcps":[16,[1,300]]})",
        R"({"rawString":"","model":7,"vcps":[]})",
        R"({"rawString":"","vcps":[16,)" + std::string(200000, '[') + std::string(200000, ']') +
            "]}",
        std::string(300000, '['),
    };
    for (const auto& bytes : records) {
        EXPECT_EQ(MonitorCapabilities::decodeJSON(bytes), std::nullopt) << bytes.substr(0, 60);
    }
}

}  // namespace
}  // namespace pellora::test
