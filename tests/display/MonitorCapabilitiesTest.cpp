#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "display/MonitorCapabilities.h"

namespace pellora::test {
namespace {

using nlohmann::json;
using Vcps = std::map<std::uint8_t, std::vector<std::uint8_t>>;

constexpr const char* kDellLike =
    "(prot(monitor)type(LCD)model(ABC123)cmds(01 02 03 0C E3 F3)vcp(02 04 05 08 10 12 14(05 08 "
    "0B) 16 18 1A 52 60(0F 11 12) AC AE B6 C6 C8 C9 DC(00 01 02 03) DF)mswhql(1)mccs_ver(2.1))";

TEST(MonitorCapabilitiesParse, ReadsATypicalMonitorString) {
    MonitorCapabilities caps = MonitorCapabilities::parse(kDellLike);
    EXPECT_EQ(caps.rawString, kDellLike);
    EXPECT_EQ(caps.type, "LCD");
    EXPECT_EQ(caps.model, "ABC123");
    Vcps expected = {
        {0x02, {}},
        {0x04, {}},
        {0x05, {}},
        {0x08, {}},
        {0x10, {}},
        {0x12, {}},
        {0x14, {0x05, 0x08, 0x0B}},
        {0x16, {}},
        {0x18, {}},
        {0x1A, {}},
        {0x52, {}},
        {0x60, {0x0F, 0x11, 0x12}},
        {0xAC, {}},
        {0xAE, {}},
        {0xB6, {}},
        {0xC6, {}},
        {0xC8, {}},
        {0xC9, {}},
        {0xDC, {0x00, 0x01, 0x02, 0x03}},
        {0xDF, {}},
    };
    EXPECT_EQ(caps.vcps, expected);
    EXPECT_EQ(caps.vcps.size(), 20u);
}

struct VcpCase {
    const char* name;
    std::string text;
    Vcps expected;
};

void PrintTo(const VcpCase& c, std::ostream* os) {
    *os << c.name;
}

class VcpSection : public testing::TestWithParam<VcpCase> {};

TEST_P(VcpSection, Yields) {
    EXPECT_EQ(MonitorCapabilities::parse(GetParam().text).vcps, GetParam().expected)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, VcpSection,
    testing::Values(
        VcpCase{"LowerCase", "vcp(10 6b)", {{0x10, {}}, {0x6B, {}}}},
        VcpCase{"NoClosingParen", "vcp(10 12", {{0x10, {}}, {0x12, {}}}},
        VcpCase{"UnclosedValueList", "vcp(14(05 08", {{0x14, {0x05, 0x08}}}},
        VcpCase{"UnreadablePairInList", "vcp(14(05 0X 08))", {{0x14, {0x05, 0x08}}}},
        VcpCase{"RepeatedCodeKeepsLast", "vcp(10 10(01))", {{0x10, {0x01}}}},
        VcpCase{"RepeatWithoutListEmptiesIt", "vcp(14(05) 14)", {{0x14, {}}}},
        VcpCase{"RepeatedValuesKept", "vcp(14(05 05 08))", {{0x14, {0x05, 0x05, 0x08}}}},
        VcpCase{"ListMustFollowCode", "vcp(14 (05 08))", {{0x14, {}}, {0x05, {}}, {0x08, {}}}},
        VcpCase{"LoneDigitIsNoCode", "vcp(2 10)", {{0x10, {}}}},
        VcpCase{"LoneDigitAtEndIsACode", "vcp(10 2)", {{0x10, {}}, {0x02, {}}}},
        VcpCase{"PlusSign", "vcp(+5 10)", {{0x05, {}}, {0x10, {}}}},
        VcpCase{"MinusOnlyBeforeZero", "vcp(-0 -1 20)", {{0x00, {}}, {0x20, {}}}},
        VcpCase{"LoneSignAtEnd", "vcp(10 +)", {{0x10, {}}}},
        VcpCase{"CodesWithoutSpaces", "vcp(1012AC)", {{0x10, {}}, {0x12, {}}, {0xAC, {}}}},
        VcpCase{"ValuesWithoutSpaces", "vcp(60(0F1112))", {{0x60, {0x0F, 0x11, 0x12}}}},
        VcpCase{"GarbageSkippedOneCharAtATime", "vcp(zz10 q12)", {{0x10, {}}, {0x12, {}}}},
        VcpCase{"EmptyList", "vcp(14() 10)", {{0x14, {}}, {0x10, {}}}},
        VcpCase{"WhitespaceBeforeListEnd", "vcp(14(05 ) 10)", {{0x14, {0x05}}, {0x10, {}}}},
        VcpCase{"TabsAndLineBreaks", "vcp(\t10\r\n14(\n05\t08 )\n)", {{0x10, {}}, {0x14, {5, 8}}}},
        // A lone digit before ")" makes a two-character token that swallows the ")", so the
        // list runs on into what follows.
        VcpCase{"LoneDigitInListEatsTheParen", "vcp(14(5) 10)", {{0x14, {0x10}}}},
        VcpCase{"CaseSensitivePrefix", "VCP(10 12)", {}},
        VcpCase{"FirstSectionOnly", "vcp(10)vcp(12)", {{0x10, {}}}},
        // U+3000 (three bytes) is white space: skipped, not read as a two-character token.
        VcpCase{"UnicodeWhitespace", "vcp(14(\u300005 08))", {{0x14, {0x05, 0x08}}}},
        // A token is two characters, not two bytes: "é0" is passed over, then "5)".
        VcpCase{"TokensCountCharacters", "vcp(14(\u00e905))", {{0x14, {}}}},
        VcpCase{"InvalidUTF8Skipped", "vcp(10 \xff\xfe 12 \xc3(", {{0x10, {}}, {0x12, {}}}}),
    [](const testing::TestParamInfo<VcpCase>& info) { return std::string(info.param.name); });

TEST(MonitorCapabilitiesParse, EmptyTextGivesNothing) {
    MonitorCapabilities caps = MonitorCapabilities::parse("");
    EXPECT_EQ(caps, MonitorCapabilities{});
}

TEST(MonitorCapabilitiesParse, WithoutVcpSectionKeepsModelAndType) {
    MonitorCapabilities caps = MonitorCapabilities::parse("(type(LCD)model(U2720Q))");
    EXPECT_EQ(caps.type, "LCD");
    EXPECT_EQ(caps.model, "U2720Q");
    EXPECT_TRUE(caps.vcps.empty());
}

TEST(MonitorCapabilitiesParse, SectionsKeepTheirTextUnchanged) {
    EXPECT_EQ(MonitorCapabilities::parse("model(X(Y)Z)").model, "X(Y)Z");
    EXPECT_EQ(MonitorCapabilities::parse("model( a  b )").model, " a  b ");
    EXPECT_EQ(MonitorCapabilities::parse("model()").model, "");
    EXPECT_EQ(MonitorCapabilities::parse("model(ABC").model, "ABC");
    EXPECT_EQ(MonitorCapabilities::parse("model(A)model(B)").model, "A");
    EXPECT_EQ(MonitorCapabilities::parse("MODEL(A)").model, std::nullopt);
    EXPECT_EQ(MonitorCapabilities::parse("model(\u00c9cran \xff)").model, "\u00c9cran \xff");
}

TEST(MonitorCapabilitiesParse, RawStringIsTheInputByteForByte) {
    using namespace std::string_literals;
    std::string text = "vcp(10)\0\xff\x80 tail"s;
    ASSERT_EQ(text.size(), 15u);
    EXPECT_EQ(MonitorCapabilities::parse(text).rawString, text);
}

// What a real monitor can send when its firmware is broken; none of it may hang or crash.
TEST(MonitorCapabilitiesParse, SurvivesPathologicalInput) {
    std::string opens = "vcp(" + std::string(100000, '(');
    MonitorCapabilities caps = MonitorCapabilities::parse(opens);
    EXPECT_TRUE(caps.vcps.empty());
    EXPECT_EQ(caps.rawString.size(), opens.size());

    caps = MonitorCapabilities::parse("model(" + std::string(100000, '(') + ")vcp(10)");
    EXPECT_EQ(caps.model->size(), 100008u);  // the model section swallows the rest
    EXPECT_EQ(caps.vcps, (Vcps{{0x10, {}}}));

    caps =
        MonitorCapabilities::parse(std::string(100000, ')') + "vcp(10" + std::string(100000, ')'));
    EXPECT_EQ(caps.vcps, (Vcps{{0x10, {}}}));

    std::string lists = "vcp(";
    for (int i = 0; i < 50000; ++i) {
        lists += "14(01 02 03 04 05 06 07 08 09 0A)";
    }
    caps = MonitorCapabilities::parse(lists);
    ASSERT_EQ(caps.vcps.size(), 1u);
    EXPECT_EQ(caps.vcps[0x14].size(), 10u);

    std::string every;
    for (int code = 0; code < 256; ++code) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", code);
        every += hex;
    }
    caps = MonitorCapabilities::parse("vcp(" + every + ")");
    EXPECT_EQ(caps.vcps.size(), 256u);
}

TEST(MonitorCapabilitiesJSON, RoundTripsToAnEqualValue) {
    const MonitorCapabilities values[] = {
        MonitorCapabilities::parse(kDellLike),
        MonitorCapabilities{},
        MonitorCapabilities::parse("model()vcp(10 FF(00 FF FF))"),
        MonitorCapabilities::parse("type(OLED)vcp(60(11 12))"),
        MonitorCapabilities{
            std::string("nul\0inside", 10), "\u00c9cran \u2603", std::nullopt, {{0x00, {0x00}}}},
    };
    for (const MonitorCapabilities& caps : values) {
        auto encoded = caps.encodeJSON();
        ASSERT_TRUE(encoded) << caps.rawString;
        auto decoded = MonitorCapabilities::decodeJSON(*encoded);
        ASSERT_TRUE(decoded) << *encoded;
        EXPECT_EQ(*decoded, caps) << *encoded;
    }
}

TEST(MonitorCapabilitiesJSON, StoresVcpsAsAFlatAlternatingArray) {
    MonitorCapabilities caps{"raw", std::nullopt, "LCD", {{0x14, {5, 8, 11}}, {0x10, {}}}};
    json stored = json::parse(*caps.encodeJSON());
    EXPECT_EQ(stored,
              json::parse(R"({"rawString":"raw","type":"LCD","vcps":[16,[],20,[5,8,11]]})"));
    EXPECT_FALSE(stored.contains("model"));
}

TEST(MonitorCapabilitiesJSON, TextThatJsonCannotCarryIsNotEncoded) {
    EXPECT_FALSE(MonitorCapabilities::parse("vcp(10)\xff").encodeJSON());
    EXPECT_FALSE((MonitorCapabilities{"", "\xc0\x80", std::nullopt, {}}.encodeJSON()));
    EXPECT_FALSE((MonitorCapabilities{"", std::nullopt, "\xed\xa0\x80", {}}.encodeJSON()));
}

TEST(MonitorCapabilitiesJSON, DecodesWhatAnotherMachineStored) {
    auto caps = MonitorCapabilities::decodeJSON(
        R"({"vcps":[20,[5,8],16,[],20,[11]],"extra":{"x":[1,2]},"model":null,"rawString":"r"})");
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->rawString, "r");
    EXPECT_EQ(caps->model, std::nullopt);
    EXPECT_EQ(caps->type, std::nullopt);
    EXPECT_EQ(caps->vcps, (Vcps{{0x10, {}}, {0x14, {11}}}));  // a repeated code keeps the last

    caps = MonitorCapabilities::decodeJSON(R"({"rawString":"","vcps":[-0,[255]]})");
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->vcps, (Vcps{{0x00, {0xFF}}}));
}

struct BadRecord {
    const char* name;
    std::string bytes;
};

void PrintTo(const BadRecord& c, std::ostream* os) {
    *os << c.name;
}

class UndecodableRecord : public testing::TestWithParam<BadRecord> {};

TEST_P(UndecodableRecord, ReadsAsNothing) {
    EXPECT_EQ(MonitorCapabilities::decodeJSON(GetParam().bytes), std::nullopt) << GetParam().bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Records, UndecodableRecord,
    testing::Values(BadRecord{"Empty", ""}, BadRecord{"NotJson", "capabilities"},
                    BadRecord{"Truncated", R"({"rawString":"a","vcps":[16,)"},
                    BadRecord{"ArrayRoot", R"([{"rawString":"a","vcps":[]}])"},
                    BadRecord{"NullRoot", "null"},
                    BadRecord{"MissingVcps", R"({"rawString":"a","model":"M"})"},
                    BadRecord{"MissingRawString", R"({"vcps":[]})"},
                    BadRecord{"RawStringNull", R"({"rawString":null,"vcps":[]})"},
                    BadRecord{"RawStringNumber", R"({"rawString":1,"vcps":[]})"},
                    BadRecord{"VcpsObject", R"({"rawString":"","vcps":{"16":[]}})"},
                    BadRecord{"VcpsNull", R"({"rawString":"","vcps":null})"},
                    BadRecord{"OddPairs", R"({"rawString":"","vcps":[16,[],20]})"},
                    BadRecord{"CodeText", R"({"rawString":"","vcps":["16",[]]})"},
                    BadRecord{"CodeFraction", R"({"rawString":"","vcps":[16.5,[]]})"},
                    BadRecord{"CodeWrittenAsFloat", R"({"rawString":"","vcps":[16.0,[]]})"},
                    BadRecord{"CodeTooBig", R"({"rawString":"","vcps":[256,[]]})"},
                    BadRecord{"CodeNegative", R"({"rawString":"","vcps":[-1,[]]})"},
                    BadRecord{"CodeHuge",
                              R"({"rawString":"","vcps":[99999999999999999999999,[]]})"},
                    BadRecord{"CodeOverflowsDouble", R"({"rawString":"","vcps":[1e400,[]]})"},
                    BadRecord{"CodeNaN", R"({"rawString":"","vcps":[NaN,[]]})"},
                    BadRecord{"CodeBool", R"({"rawString":"","vcps":[true,[]]})"},
                    BadRecord{"ValuesNotArray", R"({"rawString":"","vcps":[16,5]})"},
                    BadRecord{"ValuesNull", R"({"rawString":"","vcps":[16,null]})"},
                    BadRecord{"ValueTooBig", R"({"rawString":"","vcps":[16,[1,300]]})"},
                    BadRecord{"ValueNested", R"({"rawString":"","vcps":[16,[[1]]]})"},
                    BadRecord{"ModelNumber", R"({"rawString":"","model":7,"vcps":[]})"},
                    BadRecord{"TypeArray", R"({"rawString":"","type":["LCD"],"vcps":[]})"},
                    BadRecord{"NotUtf8", "{\"rawString\":\"\xff\",\"vcps\":[]}"},
                    BadRecord{"LoneSurrogateEscape", R"({"rawString":"\ud800","vcps":[]})"}),
    [](const testing::TestParamInfo<BadRecord>& info) { return std::string(info.param.name); });

TEST(MonitorCapabilitiesJSON, HostileRecordsFailWithoutCrashing) {
    std::string deep = R"({"rawString":"","vcps":[16,)" + std::string(200000, '[') +
                       std::string(200000, ']') + "]}";
    EXPECT_FALSE(MonitorCapabilities::decodeJSON(deep));
    EXPECT_FALSE(MonitorCapabilities::decodeJSON(std::string(300000, '[')));
    EXPECT_FALSE(MonitorCapabilities::decodeJSON(std::string(1000000, '{')));

    std::string many = R"({"rawString":"","vcps":[)";
    for (int i = 0; i < 20000; ++i) {
        many += "16,[1,2,3],";
    }
    std::string bad = many + "16,[1,2,3,256]]}";
    EXPECT_FALSE(MonitorCapabilities::decodeJSON(bad));
    many += "20,[]]}";
    auto caps = MonitorCapabilities::decodeJSON(many);
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->vcps, (Vcps{{0x10, {1, 2, 3}}, {0x14, {}}}));
}

}  // namespace
}  // namespace pellora::test
