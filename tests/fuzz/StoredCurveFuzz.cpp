// libFuzzer target for the stored curve ("monitor.<id>.curvePointsV1"), which arrives from
// the synced settings and is never written by Pellora.
//
//   cmake --preset fuzz && cmake --build --preset fuzz --target StoredCurveFuzz
//   build/fuzz/tests/fuzz/StoredCurveFuzz -max_total_time=60 <copy of
//   tests/fuzz/corpus/StoredCurveFuzz>
//
// Beyond not crashing: what decodes agrees with a plain reading of the whole document.

#include <cstdint>
#include <string_view>

#include "NumberRecordReference.h"
#include "model/CurveStore.h"
#include "model/NumberRecords.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<std::vector<CurvePoint>> points = CurveStore::decode(bytes);

    std::optional<std::vector<std::vector<double>>> read;
    if (points) {
        read.emplace();
        for (const CurvePoint& p : *points) {
            read->push_back({p.luma, p.brightness});
        }
    }
    fuzz::checkAgainstReference(bytes, {"luma", "brightness"}, read, maxNumberRecordDepth);
    return 0;
}
