// libFuzzer target for the anchor list as stored in the settings ("monitor.<id>.anchorsV1").
//
//   cmake --preset fuzz && cmake --build --preset fuzz --target AnchorListFuzz
//   build/fuzz/tests/fuzz/AnchorListFuzz -max_total_time=60 <copy of
//   tests/fuzz/corpus/AnchorListFuzz>
//
// Beyond not crashing: what decodes agrees with a plain reading of the whole document, holds
// only finite numbers, and survives a trip through the stored form unchanged.

#include <cstdint>
#include <string_view>

#include "NumberRecordReference.h"
#include "model/AnchorStore.h"
#include "model/NumberRecords.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<std::vector<Anchor>> anchors = AnchorStore::decode(bytes);

    std::optional<std::vector<std::vector<double>>> read;
    if (anchors) {
        read.emplace();
        for (const Anchor& a : *anchors) {
            read->push_back({a.luma, a.brightness, a.hour, a.t, a.weight});
        }
    }
    fuzz::checkAgainstReference(bytes, {"l", "b", "h", "t", "w"}, read, maxNumberRecordDepth);

    if (anchors) {
        const std::optional<std::string> encoded = AnchorStore::encode(*anchors);
        fuzz::check(encoded.has_value());
        fuzz::check(AnchorStore::decode(*encoded) == anchors);
    }
    return 0;
}
