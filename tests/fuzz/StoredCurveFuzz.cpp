// The stored curve ("monitor.<id>.curvePointsV1"), from the synced settings only: what decodes
// agrees with a plain reading of the whole document.

#include "NumberRecordReference.h"
#include "model/CurveStore.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::text(data, size);
    fuzz::checkAgainstReference(bytes, {"luma", "brightness"}, CurveStore::decode(bytes),
                                [](const CurvePoint& p) {
                                    return std::vector{p.luma, p.brightness};
                                });
    return 0;
}
