#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// What the update feed announces: one small JSON object,
//   {"version": "1.4.0", "notes": "What changed…", "url": "https://example.org/download"}
// "version" is dot-separated decimal numbers, "url" an https address; "notes" (plain text)
// may be left out; other members are ignored. Anything else is refused: the feed comes from
// the network and is believed only as far as it checks out.
struct UpdateFeed {
    static constexpr std::size_t kMaxBytes = 64 * 1024;
    static constexpr std::size_t kMaxAddressLength = 2048;
    static constexpr std::size_t kMaxVersionParts = 8;

    std::string version;
    std::string notes;
    std::string url;

    // The feed in `bytes`, or nothing, with `why` (when given) saying what is wrong.
    static std::optional<UpdateFeed> parse(std::string_view bytes, std::string* why = nullptr);
    std::string encodeJSON() const;

    // "1.4.0" → {1, 4, 0}; nothing for an empty part, a sign, a letter, or a part over nine
    // digits.
    static std::optional<std::vector<std::uint32_t>> parseVersion(std::string_view text);
    // Negative, zero or positive as `a` is older, the same or newer; missing parts count as
    // zero (1.4 is 1.4.0).
    static int compareVersions(const std::vector<std::uint32_t>& a,
                               const std::vector<std::uint32_t>& b);
    // An absolute https address with a host, nothing more exotic than that.
    static bool isHttpsAddress(std::string_view address);

    bool operator==(const UpdateFeed&) const = default;
};

}  // namespace pellora
