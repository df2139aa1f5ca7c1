// A plain reading of the stored number-record lists on the whole JSON document: the reference
// the streaming reader is checked against.

#pragma once

#include <cmath>
#include <nlohmann/json.hpp>

#include "FuzzCheck.h"
#include "model/NumberRecords.h"

namespace pellora::fuzz {

// Each record's numbers in `fields` order, or nothing when the bytes are not such a list; and
// how deep its arrays and objects nest.
inline std::optional<std::vector<std::vector<double>>> referenceRecords(
    std::string_view bytes, std::initializer_list<const char*> fields, int& depth) {
    using Event = nlohmann::json::parse_event_t;
    const auto deepest = [&depth](int level, Event event, const nlohmann::json&) {
        if (event == Event::object_start || event == Event::array_start) {
            depth = std::max(depth, level + 1);
        }
        return true;
    };
    const auto value = nlohmann::json::parse(bytes.begin(), bytes.end(), deepest, false);
    if (value.is_discarded() || !value.is_array()) {
        return std::nullopt;
    }
    std::vector<std::vector<double>> records;
    for (const auto& item : value) {
        if (!item.is_object()) {
            return std::nullopt;
        }
        std::vector<double>& record = records.emplace_back();
        for (const char* name : fields) {
            const auto it = item.find(name);
            if (it == item.end() || !it->is_number() || !std::isfinite(it->get<double>())) {
                return std::nullopt;
            }
            record.push_back(it->get<double>());
        }
    }
    return records;
}

// The streaming reader's records (as numbers by `numbers`) agree with the reference wherever
// nesting stays within its bound, and it accepts nothing the reference refuses.
template <typename Record, typename Numbers>
void checkAgainstReference(std::string_view bytes, std::initializer_list<const char*> fields,
                           const std::optional<std::vector<Record>>& records, Numbers numbers) {
    int depth = 0;
    const auto expected = referenceRecords(bytes, fields, depth);
    std::vector<std::vector<double>> read;
    for (const Record& record : records.value_or(std::vector<Record>{})) {
        read.push_back(numbers(record));
    }
    check(records ? expected == read : !expected || depth > maxNumberRecordDepth);
}

}  // namespace pellora::fuzz
