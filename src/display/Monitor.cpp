#include "display/Monitor.h"

#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>

namespace pellora {

std::string Monitor::identifier() const {
    char text[32];
    std::snprintf(text, sizeof text, "%08X-%08X-%08X", vendor, model, serial);
    return text;
}

std::string Monitor::keyPrefix() const {
    return "monitor." + identifier() + ".";
}

std::string Monitor::encodeJSON() const {
    return nlohmann::json{{"vendor", vendor}, {"model", model}, {"serial", serial}}.dump();
}

std::optional<Monitor> Monitor::decodeJSON(std::string_view bytes) {
    auto json = nlohmann::json::parse(bytes, nullptr, false);
    if (!json.is_object()) {
        return std::nullopt;
    }
    auto field = [&](const char* key) -> std::optional<std::uint32_t> {
        auto it = json.find(key);
        if (it == json.end() || !it->is_number_unsigned() ||
            it->get<std::uint64_t>() > std::numeric_limits<std::uint32_t>::max()) {
            return std::nullopt;
        }
        return std::uint32_t(it->get<std::uint64_t>());
    };
    auto vendor = field("vendor");
    auto model = field("model");
    auto serial = field("serial");
    if (!vendor || !model || !serial) {
        return std::nullopt;
    }
    return Monitor{*vendor, *model, *serial};
}

}  // namespace pellora
