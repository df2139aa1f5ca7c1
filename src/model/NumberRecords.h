#pragma once

#include <functional>
#include <span>
#include <string_view>

namespace pellora {

// Reads the stored form the anchor list and the stored curve share: a JSON array of objects,
// each holding every member named in `fields` (at most 8) as a finite number. Other members
// may hold anything nested up to `maxNumberRecordDepth` deep and are skipped; a name given
// twice counts with its later value, as JSON readers commonly do. `onRecord` gets each
// record's numbers in `fields` order.
//
// Returns false for anything else; the records already handed over then count for nothing.
// Works as it parses, so a huge or deeply nested value is never built up in memory.
inline constexpr int maxNumberRecordDepth = 16;
bool readNumberRecords(std::string_view bytes, std::span<const std::string_view> fields,
                       const std::function<void(std::span<const double>)>& onRecord);

}  // namespace pellora
