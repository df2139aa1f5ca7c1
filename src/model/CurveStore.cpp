#include "model/CurveStore.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace pellora {

namespace {

using nlohmann::json;

// Builds the list straight from the parser's events and stops at the first thing that is
// not a point, so neither a huge nor a deeply nested value is built up in memory first.
class CurveReader final : public nlohmann::json_sax<json> {
  public:
    static constexpr int maxDepth = 16;

    bool complete() const { return done_; }
    std::vector<CurvePoint>& points() { return points_; }

    bool null() override { return other(); }
    bool boolean(bool) override { return other(); }
    bool string(string_t&) override { return other(); }
    bool binary(binary_t&) override { return other(); }
    bool number_integer(number_integer_t value) override { return number(double(value)); }
    bool number_unsigned(number_unsigned_t value) override { return number(double(value)); }
    bool number_float(number_float_t value, const string_t&) override { return number(value); }

    bool start_array(std::size_t) override {
        if (depth_ == 0) {
            depth_ = 1;
            return true;
        }
        return enterNested();
    }

    bool end_array() override {
        if (--depth_ == 0) {
            done_ = true;
        }
        return true;
    }

    bool start_object(std::size_t) override {
        if (depth_ == 1) {
            depth_ = 2;
            seen_ = 0;
            return true;
        }
        return depth_ > 1 && enterNested();
    }

    bool end_object() override {
        if (--depth_ == 1) {
            if (seen_ != bothMembers) {
                return false;
            }
            points_.push_back(point_);
        }
        return true;
    }

    bool key(string_t& name) override {
        if (depth_ == 2) {
            member_ = name == "luma"         ? Member::luma
                      : name == "brightness" ? Member::brightness
                                             : Member::other;
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    enum class Member { luma, brightness, other };
    static constexpr unsigned bothMembers = 0x3;

    // Values other than numbers belong only inside members this reader does not know.
    bool other() const { return depth_ > 2 || (depth_ == 2 && member_ == Member::other); }

    bool enterNested() {
        if (depth_ < 2 || (depth_ == 2 && member_ != Member::other) || depth_ >= maxDepth) {
            return false;
        }
        ++depth_;
        return true;
    }

    bool number(double value) {
        if (depth_ != 2 || member_ == Member::other) {
            return depth_ >= 2;
        }
        const unsigned bit = 1u << static_cast<unsigned>(member_);
        // The parser already refuses numbers beyond double's range, such as 1e400.
        if (!std::isfinite(value) || (seen_ & bit)) {
            return false;
        }
        seen_ |= bit;
        (member_ == Member::luma ? point_.luma : point_.brightness) = value;
        return true;
    }

    std::vector<CurvePoint> points_;
    CurvePoint point_;
    int depth_ = 0;
    Member member_ = Member::other;
    unsigned seen_ = 0;
    bool done_ = false;
};

}  // namespace

std::shared_ptr<CurveStore> CurveStore::create(const std::string& monitorID,
                                               SettingsStore& settings) {
    auto store = std::make_shared<CurveStore>(Token{}, monitorID, settings);
    std::weak_ptr<CurveStore> weak = store;
    store->subscription_ = settings.onRemoteChange([weak] {
        if (auto self = weak.lock()) {
            self->load(/*notify=*/true);
        }
    });
    return store;
}

CurveStore::CurveStore(Token, const std::string& monitorID, SettingsStore& settings)
    : key_("monitor." + monitorID + ".curvePointsV1"), settings_(settings) {
    load(/*notify=*/false);
}

void CurveStore::load(bool notify) {
    std::optional<std::string> bytes = settings_.data(key_);
    std::optional<std::vector<CurvePoint>> decoded;
    if (bytes) {
        decoded = decode(*bytes);
    }
    points_ = decoded ? std::move(*decoded) : std::vector<CurvePoint>{};
    if (notify && onChange_) {
        onChange_();
    }
}

std::optional<std::vector<CurvePoint>> CurveStore::decode(std::string_view bytes) {
    CurveReader reader;
    try {
        if (!json::sax_parse(bytes.begin(), bytes.end(), &reader) || !reader.complete()) {
            return std::nullopt;
        }
    } catch (...) {
        // Only memory exhaustion can get here; the stored curve then reads as empty.
        return std::nullopt;
    }
    return std::move(reader.points());
}

}  // namespace pellora
