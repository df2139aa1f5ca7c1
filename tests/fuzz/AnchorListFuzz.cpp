// The stored anchor list ("monitor.<id>.anchorsV1"): what decodes agrees with a plain reading
// of the whole document and survives a trip through the stored form unchanged.

#include "NumberRecordReference.h"
#include "model/AnchorStore.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::text(data, size);
    const std::optional<std::vector<Anchor>> anchors = AnchorStore::decode(bytes);
    fuzz::checkAgainstReference(bytes, {"l", "b", "h", "t", "w"}, anchors, [](const Anchor& a) {
        return std::vector{a.luma, a.brightness, a.hour, a.t, a.weight};
    });
    if (anchors) {
        const std::optional<std::string> encoded = AnchorStore::encode(*anchors);
        fuzz::check(encoded && AnchorStore::decode(*encoded) == anchors);
    }
    return 0;
}
