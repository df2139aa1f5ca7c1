#include "app/UpdateFeed.h"

#include <QString>
#include <QUrl>
#include <algorithm>
#include <nlohmann/json.hpp>

namespace pellora {

namespace {

std::optional<UpdateFeed> refuse(std::string* why, std::string reason) {
    if (why != nullptr) {
        *why = std::move(reason);
    }
    return std::nullopt;
}

}  // namespace

std::optional<UpdateFeed> UpdateFeed::parse(std::string_view bytes, std::string* why) {
    if (bytes.size() > kMaxBytes) {
        return refuse(why, "larger than " + std::to_string(kMaxBytes / 1024) + " KiB");
    }
    // Not UTF-8, not JSON, or trailing bytes: all one refusal, without an exception.
    auto json = nlohmann::json::parse(bytes, nullptr, false);
    if (!json.is_object()) {
        return refuse(why, json.is_discarded() ? "not JSON" : "not a JSON object");
    }
    UpdateFeed feed;
    auto text = [&](const char* key, std::string& into, bool required) {
        auto it = json.find(key);
        if (it == json.end()) {
            return !required;
        }
        if (!it->is_string()) {
            return false;
        }
        into = it->get<std::string>();
        return true;
    };
    if (!text("version", feed.version, true)) {
        return refuse(why, "no \"version\" text");
    }
    if (!text("url", feed.url, true)) {
        return refuse(why, "no \"url\" text");
    }
    if (!text("notes", feed.notes, false)) {
        return refuse(why, "\"notes\" is not text");
    }
    if (!parseVersion(feed.version)) {
        return refuse(why, "the version is not dot-separated numbers");
    }
    if (!isHttpsAddress(feed.url)) {
        return refuse(why, "the download link is not an https address");
    }
    return feed;
}

std::string UpdateFeed::encodeJSON() const {
    return nlohmann::json{{"version", version}, {"notes", notes}, {"url", url}}.dump();
}

std::optional<std::vector<std::uint32_t>> UpdateFeed::parseVersion(std::string_view text) {
    std::vector<std::uint32_t> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = std::min(text.find('.', start), text.size());
        const std::string_view part = text.substr(start, end - start);
        if (part.empty() || part.size() > 9 || parts.size() == kMaxVersionParts ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (char digit : part) {
            value = value * 10 + static_cast<std::uint32_t>(digit - '0');
        }
        parts.push_back(value);
        if (end == text.size()) {
            return parts;
        }
        start = end + 1;
    }
}

int UpdateFeed::compareVersions(const std::vector<std::uint32_t>& a,
                                const std::vector<std::uint32_t>& b) {
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        const std::uint32_t left = i < a.size() ? a[i] : 0;
        const std::uint32_t right = i < b.size() ? b[i] : 0;
        if (left != right) {
            return left < right ? -1 : 1;
        }
    }
    return 0;
}

bool UpdateFeed::isHttpsAddress(std::string_view address) {
    if (address.empty() || address.size() > kMaxAddressLength) {
        return false;
    }
    // Printable ASCII only: no space, control or invisible character silently
    // percent-encoded into a different address than the one the user is shown.
    if (!std::all_of(address.begin(), address.end(), [](char c) { return c > ' ' && c < 0x7F; })) {
        return false;
    }
    const QUrl url(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size())),
                   QUrl::StrictMode);
    // No user name either: "https://pellora.org@evil.example/" leads to evil.example.
    return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty() &&
           url.userInfo().isEmpty();
}

}  // namespace pellora
