#include "store/SettingsFileCodec.h"

#include <QByteArray>
#include <cmath>
#include <nlohmann/json.hpp>

namespace pellora {

namespace {

using nlohmann::json;

constexpr const char* kFormat = "pellora-settings";
constexpr double kMaxModified = SettingsFileCodec::maxModified;
// Deeper than any settings file needs; nlohmann's dump recurses once per level.
constexpr std::size_t kMaxDepth = 64;

// Refuses the document as soon as it nests deeper than kMaxDepth.
struct DepthLimit final : nlohmann::json_sax<json> {
    std::size_t depth = 0;
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return ++depth <= kMaxDepth; }
    bool end_object() override { return --depth, true; }
    bool start_array(std::size_t) override { return ++depth <= kMaxDepth; }
    bool end_array() override { return --depth, true; }
    bool key(string_t&) override { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }
};

std::optional<SettingValue> decodeValue(const std::string& type, const json& value) {
    if (type == "bytes" && value.is_string()) {
        auto raw = QByteArray::fromStdString(value.get<std::string>());
        auto result = QByteArray::fromBase64Encoding(raw, QByteArray::AbortOnBase64DecodingErrors);
        if (!result) {
            return std::nullopt;
        }
        return Bytes{result.decoded.toStdString()};
    }
    if (type == "string" && value.is_string()) {
        return value.get<std::string>();
    }
    if (type == "int" && (value.is_number_integer())) {
        if (value.is_number_unsigned() &&
            value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        return value.get<std::int64_t>();
    }
    if (type == "double" && value.is_number()) {
        double d = value.get<double>();
        if (!std::isfinite(d)) {
            return std::nullopt;
        }
        return d;
    }
    if (type == "bool" && value.is_boolean()) {
        return value.get<bool>();
    }
    return std::nullopt;
}

std::optional<SettingsEntry> decodeEntry(const json& entry) {
    if (!entry.is_object()) {
        return std::nullopt;
    }
    SettingsEntry out;
    if (auto modified = entry.find("modified"); modified != entry.end()) {
        // Beyond the year 30,000 a millisecond no longer adds to a time, and a later write
        // could never win over it.
        if (!modified->is_number() || !(std::abs(modified->get<double>()) <= kMaxModified)) {
            return std::nullopt;
        }
        out.modified = modified->get<double>();
    }
    if (auto removed = entry.find("removed"); removed != entry.end()) {
        if (!removed->is_boolean()) {
            return std::nullopt;
        }
        if (removed->get<bool>()) {
            return out;
        }
    }
    auto type = entry.find("type");
    auto value = entry.find("value");
    if (type == entry.end() || !type->is_string() || value == entry.end()) {
        return std::nullopt;
    }
    out.value = decodeValue(type->get<std::string>(), *value);
    if (!out.value) {
        return std::nullopt;
    }
    return out;
}

json encodeValue(const SettingValue& value) {
    struct Visitor {
        json operator()(const Bytes& b) const {
            QByteArray base64 = QByteArray::fromStdString(b.data).toBase64();
            return {{"type", "bytes"}, {"value", base64.toStdString()}};
        }
        json operator()(const std::string& s) const { return {{"type", "string"}, {"value", s}}; }
        json operator()(std::int64_t i) const { return {{"type", "int"}, {"value", i}}; }
        json operator()(double d) const { return {{"type", "double"}, {"value", d}}; }
        json operator()(bool b) const { return {{"type", "bool"}, {"value", b}}; }
    };
    return std::visit(Visitor{}, value);
}

}  // namespace

std::optional<SettingsFileCodec::Decoded> SettingsFileCodec::decode(const std::string& bytes) {
    try {
        DepthLimit limit;
        if (!json::sax_parse(bytes, &limit, json::input_format_t::json, /*strict=*/true)) {
            return std::nullopt;
        }
    } catch (const json::exception&) {
        return std::nullopt;
    }
    json root = json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (!root.is_object()) {
        return std::nullopt;
    }
    auto format = root.find("format");
    auto values = root.find("values");
    if (format == root.end() || *format != kFormat || values == root.end() ||
        !values->is_object()) {
        return std::nullopt;
    }
    Decoded decoded;
    for (auto it = values->begin(); it != values->end(); ++it) {
        if (auto entry = decodeEntry(it.value())) {
            decoded.entries[it.key()] = std::move(*entry);
        } else {
            decoded.unreadable[it.key()] =
                it.value().dump(-1, ' ', false, json::error_handler_t::replace);
        }
    }
    return decoded;
}

std::string SettingsFileCodec::encode(const SettingsEntries& entries, bool withHistory,
                                      const RawEntries& kept) {
    json values = json::object();
    for (const auto& [key, raw] : kept) {
        if (!entries.count(key)) {
            json item = json::parse(raw, nullptr, /*allow_exceptions=*/false);
            if (!item.is_discarded()) {
                values[key] = std::move(item);
            }
        }
    }
    for (const auto& [key, entry] : entries) {
        json item;
        if (entry.value) {
            item = encodeValue(*entry.value);
        } else if (withHistory) {
            item = {{"removed", true}};
        } else {
            continue;
        }
        if (withHistory) {
            item["modified"] = entry.modified;
        }
        values[key] = std::move(item);
    }
    json root = {{"format", kFormat}, {"version", 1}, {"values", std::move(values)}};
    // Keys from other machines may hold any bytes; never let a bad one stop the write.
    return root.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace pellora
