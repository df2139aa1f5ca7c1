#include "display/MonitorCapabilities.h"

#include <nlohmann/json.hpp>

namespace pellora {

namespace {

using nlohmann::json;

// One character of UTF-8 text: its code point and how many bytes it takes.
struct Character {
    char32_t codePoint;
    std::size_t length;
};

constexpr char32_t kInvalid = 0xFFFD;

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF). A byte that does
// not start a valid sequence is a character of its own, so every byte is visited at most
// once and an ASCII byte is always its own character.
Character characterAt(std::string_view text, std::size_t pos) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const std::size_t left = text.size() - pos;
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return {kInvalid, 1};
    }
    if (left < length || byte(1) < low || byte(1) > high) {
        return {kInvalid, 1};
    }
    char32_t codePoint = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(byte(i))) {
            return {kInvalid, 1};
        }
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    return {codePoint, length};
}

bool isValidUTF8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        Character c = characterAt(text, pos);
        if (c.codePoint == kInvalid && c.length == 1) {
            return false;
        }
        pos += c.length;
    }
    return true;
}

// The Unicode White_Space property.
bool isWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Reads one section at a time; positions are byte offsets that always sit on a character.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    char current() const { return text_[pos_]; }
    void step() { pos_ += characterAt(text_, pos_).length; }
    void skipWhitespace() {
        while (!atEnd()) {
            Character c = characterAt(text_, pos_);
            if (!isWhitespace(c.codePoint)) {
                return;
            }
            pos_ += c.length;
        }
    }
    // The token is the next two characters (one when only one is left, or when the second
    // is a parenthesis, which always belongs to the list structure). Reads it as an unsigned
    // byte in base 16 with an optional sign; "-" is allowed only before zero.
    std::optional<std::uint8_t> token() const {
        std::string_view t = text_.substr(pos_, tokenEnd() - pos_);
        bool negative = false;
        if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
            negative = t.front() == '-';
            t.remove_prefix(1);
        }
        if (t.empty()) {
            return std::nullopt;
        }
        unsigned value = 0;
        for (char c : t) {
            unsigned digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                return std::nullopt;
            }
            value = value * 16 + digit;
        }
        if (value > 0xFF || (negative && value != 0)) {
            return std::nullopt;
        }
        return static_cast<std::uint8_t>(value);
    }
    void skipToken() { pos_ = tokenEnd(); }
    // From a "(" to just after its matching ")", or to the end.
    void skipGroup() {
        std::size_t depth = 0;
        for (; pos_ < text_.size(); ++pos_) {
            if (text_[pos_] == '(') {
                ++depth;
            } else if (text_[pos_] == ')' && --depth == 0) {
                ++pos_;
                return;
            }
        }
    }

  private:
    static bool isParen(char c) { return c == '(' || c == ')'; }
    std::size_t tokenEnd() const {
        std::size_t end = pos_;
        for (int i = 0; i < 2 && end < text_.size() && !isParen(text_[end]); ++i) {
            end += characterAt(text_, end).length;
        }
        return end;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// The text between the first `prefix` (which ends in "(") and its matching ")", or to the
// end of the text when the parentheses never balance.
std::optional<std::string_view> matchParens(std::string_view text, std::string_view prefix) {
    std::size_t found = text.find(prefix);
    if (found == std::string_view::npos) {
        return std::nullopt;
    }
    std::size_t start = found + prefix.size();
    std::size_t depth = 1;
    std::size_t pos = start;
    for (; pos < text.size(); ++pos) {
        // Parentheses are ASCII and so never part of a longer character.
        if (text[pos] == '(') {
            ++depth;
        } else if (text[pos] == ')' && --depth == 0) {
            break;
        }
    }
    return text.substr(start, pos - start);
}

std::optional<std::string> optionalString(std::optional<std::string_view> text) {
    if (!text) {
        return std::nullopt;
    }
    return std::string(*text);
}

// A value list, from just after its "(" to just after its ")". A nested list belongs to the
// value before it (a picture mode's own sub-modes, say) and is passed over whole, so nothing
// inside it is read as a value, and nothing inside the list is ever read as a code.
std::vector<std::uint8_t> readValueList(Cursor& cursor) {
    std::vector<std::uint8_t> values;
    while (true) {
        cursor.skipWhitespace();
        if (cursor.atEnd()) {
            break;
        }
        if (cursor.current() == ')') {
            cursor.step();
            break;
        }
        if (cursor.current() == '(') {
            cursor.skipGroup();
            continue;
        }
        if (auto value = cursor.token()) {
            values.push_back(*value);
        }
        cursor.skipToken();
    }
    return values;
}

std::optional<std::uint8_t> byteValue(const json& value) {
    if (value.is_number_unsigned()) {
        auto n = value.get<std::uint64_t>();
        return n <= 0xFF ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(n)) : std::nullopt;
    }
    if (value.is_number_integer()) {
        auto n = value.get<std::int64_t>();  // only -0 and negatives land here
        return n == 0 ? std::optional<std::uint8_t>(0) : std::nullopt;
    }
    return std::nullopt;
}

// An optional text field: absent or null is none; anything but a string fails.
bool decodeOptionalString(const json& root, const char* key, std::optional<std::string>& out) {
    auto it = root.find(key);
    if (it == root.end() || it->is_null()) {
        return true;
    }
    if (!it->is_string()) {
        return false;
    }
    out = it->get<std::string>();
    return true;
}

}  // namespace

MonitorCapabilities MonitorCapabilities::parse(std::string_view text) {
    MonitorCapabilities caps;
    caps.rawString = std::string(text);
    caps.model = optionalString(matchParens(text, "model("));
    caps.type = optionalString(matchParens(text, "type("));
    auto section = matchParens(text, "vcp(");
    if (!section) {
        return caps;
    }
    Cursor cursor(*section);
    while (true) {
        cursor.skipWhitespace();
        if (cursor.atEnd()) {
            break;
        }
        if (cursor.current() == '(') {
            // A list with no code before it: none of it is a code.
            cursor.skipGroup();
            continue;
        }
        auto code = cursor.token();
        if (!code) {
            cursor.step();
            continue;
        }
        cursor.skipToken();
        // Real monitors put white space between a code and its list ("DC (00 01)").
        Cursor afterCode = cursor;
        afterCode.skipWhitespace();
        if (afterCode.atEnd() || afterCode.current() != '(') {
            caps.vcps[*code] = {};
            continue;
        }
        cursor = afterCode;
        cursor.step();
        // A code met again replaces what was read for it before.
        caps.vcps[*code] = readValueList(cursor);
    }
    return caps;
}

std::optional<std::string> MonitorCapabilities::encodeJSON() const {
    if (!isValidUTF8(rawString) || (model && !isValidUTF8(*model)) ||
        (type && !isValidUTF8(*type))) {
        return std::nullopt;
    }
    json root = json::object();
    root["rawString"] = rawString;
    if (model) {
        root["model"] = *model;
    }
    if (type) {
        root["type"] = *type;
    }
    // The codes are bytes, not strings, so the map goes out as code, values, code, values...
    json pairs = json::array();
    for (const auto& [code, values] : vcps) {
        pairs.push_back(code);
        json list = json::array();
        for (std::uint8_t value : values) {
            list.push_back(value);
        }
        pairs.push_back(std::move(list));
    }
    root["vcps"] = std::move(pairs);
    // The text was checked above; replacing keeps the dump from ever throwing regardless.
    return root.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<MonitorCapabilities> MonitorCapabilities::decodeJSON(std::string_view bytes) {
    json root = json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (!root.is_object()) {
        return std::nullopt;
    }
    auto raw = root.find("rawString");
    auto pairs = root.find("vcps");
    if (raw == root.end() || !raw->is_string() || pairs == root.end() || !pairs->is_array() ||
        pairs->size() % 2 != 0) {
        return std::nullopt;
    }
    MonitorCapabilities caps;
    caps.rawString = raw->get<std::string>();
    if (!decodeOptionalString(root, "model", caps.model) ||
        !decodeOptionalString(root, "type", caps.type)) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i + 1 < pairs->size(); i += 2) {
        auto code = byteValue((*pairs)[i]);
        const json& list = (*pairs)[i + 1];
        if (!code || !list.is_array()) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> values;
        values.reserve(list.size());
        for (const json& item : list) {
            auto value = byteValue(item);
            if (!value) {
                return std::nullopt;
            }
            values.push_back(*value);
        }
        caps.vcps[*code] = std::move(values);
    }
    return caps;
}

}  // namespace pellora
