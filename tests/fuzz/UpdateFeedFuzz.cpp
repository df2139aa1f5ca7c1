// libFuzzer target: the update feed fetched from the network ({"version","notes","url"}).
//
//   build/fuzz/tests/fuzz/UpdateFeedFuzz -max_total_time=60 tests/fuzz/corpus/UpdateFeedFuzz
//
// Whatever is accepted has a numeric version and an https link, and encodes again to a feed
// that reads back the same.

#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "app/UpdateFeed.h"

using pellora::UpdateFeed;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto feed = UpdateFeed::parse(bytes, &why);
    pellora::fuzz::check(feed.has_value() == why.empty());
    if (!feed) {
        return 0;
    }
    pellora::fuzz::check(size <= UpdateFeed::kMaxBytes);
    const auto version = UpdateFeed::parseVersion(feed->version);
    pellora::fuzz::check(version && UpdateFeed::compareVersions(*version, *version) == 0);
    pellora::fuzz::check(UpdateFeed::isHttpsAddress(feed->url));
    const std::string again = feed->encodeJSON();
    // Escaping can only grow the text, so a feed near the limit may not fit twice.
    if (again.size() <= UpdateFeed::kMaxBytes) {
        pellora::fuzz::check(UpdateFeed::parse(again) == feed);
    }
    return 0;
}
