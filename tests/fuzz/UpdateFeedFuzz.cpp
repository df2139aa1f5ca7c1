// The update feed fetched from the network: whatever is accepted has a numeric version and an
// https link, and encodes again to a feed that reads back the same.

#include "FuzzCheck.h"
#include "app/UpdateFeed.h"

using namespace pellora;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string why;
    const auto feed = UpdateFeed::parse(fuzz::text(data, size), &why);
    check(feed.has_value() == why.empty());
    if (!feed) {
        return 0;
    }
    const auto version = UpdateFeed::parseVersion(feed->version);
    check(size <= UpdateFeed::kMaxBytes && version &&
          UpdateFeed::compareVersions(*version, *version) == 0 &&
          UpdateFeed::isHttpsAddress(feed->url));
    const std::string again = feed->encodeJSON();
    // Escaping can only grow the text, so a feed near the limit may not fit twice.
    if (again.size() <= UpdateFeed::kMaxBytes) {
        check(UpdateFeed::parse(again) == feed);
    }
    return 0;
}
