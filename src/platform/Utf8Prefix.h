#pragma once

#include <cstddef>
#include <string_view>

namespace pellora {

// At most the first `limit` bytes of `text`, never ending inside a UTF-8 sequence: where a
// long text from outside is cut to fit a line or a message.
inline std::string_view utf8Prefix(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t keep = limit;
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) {
        --keep;
    }
    return text.substr(0, keep);
}

}  // namespace pellora
