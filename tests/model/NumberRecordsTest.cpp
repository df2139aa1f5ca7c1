// The stored form shared by the anchor list and the stored curve, fed hostile bytes.

#include "model/NumberRecords.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace pellora {
namespace {

std::optional<std::vector<double>> read(std::string_view bytes) {
    static constexpr std::array<std::string_view, 2> fields{"a", "b"};
    std::vector<double> numbers;
    const bool whole = readNumberRecords(bytes, fields, [&](std::span<const double> record) {
        numbers.insert(numbers.end(), record.begin(), record.end());
    });
    return whole ? std::optional(numbers) : std::nullopt;
}

TEST(NumberRecords, ReadsArraysOfWholeRecordsAndNothingElse) {
    using V = std::vector<double>;
    using namespace std::string_literals;
    auto nest = [](std::size_t n) { return std::string(n, '[') + std::string(n, ']'); };
    auto extra = [](const std::string& x) { return R"([{"a":1,"b":2,"x":)" + x + "}]"; };
    struct Case {
        std::string bytes;
        std::optional<V> expected;
    } cases[] = {
        {"[]", V{}},
        {R"( [ {"b":2,"a":1}, {"a":-0.5e1,"b":18446744073709551615} ] )", V{1, 2, -5, 0x1p64}},
        {R"([{"a":1,"x":[{"y":[null,true,"s"]}],"b":2,"a":3}])", V{3, 2}},  // later "a" wins
        {R"([{"a":1,"b":2,"a":"1"}])", std::nullopt},
        {R"([{"a":1,"b":2,"n":"Büro ☀"}])", V{1, 2}},
        {extra(nest(14)), V{1, 2}},  // 16 deep in all
        {extra(nest(15)), std::nullopt},
        {R"({"a":1,"b":2})", std::nullopt},
        {R"([{"a":1,"b":2},[1,2]])", std::nullopt},
        {R"([{"a":1}])", std::nullopt},
        {R"([{"a":[1],"b":2}])", std::nullopt},
        {R"([{"a":1e400,"b":2}])", std::nullopt},
        {R"([{"a":1,"b":)" + std::string(400, '9') + "}]", std::nullopt},
        {R"([{"a":1,"b":2}]])", std::nullopt},
        {"[{\"a\":1,\"b\":2,\"n\":\"\xc3\x28\"}]", std::nullopt},
        {"[{\"a\":1,\0\"b\":2}]"s, std::nullopt},
        {nest(1u << 20), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.bytes), c.expected) << c.bytes.substr(0, 60);
    }
}

}  // namespace
}  // namespace pellora
