#include "model/NumberRecords.h"

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

namespace pellora {

namespace {

using nlohmann::json;

// Depth 1 is inside the list, 2 inside a record, deeper inside one of its members' values.
class RecordReader final : public nlohmann::json_sax<json> {
  public:
    static constexpr std::size_t maxFields = 8;

    RecordReader(std::span<const std::string_view> fields,
                 const std::function<void(std::span<const double>)>& onRecord)
        : fields_(fields), onRecord_(onRecord) {}

    bool complete() const { return done_; }

    bool null() override { return other(); }
    bool boolean(bool) override { return other(); }
    bool string(string_t&) override { return other(); }
    bool binary(binary_t&) override { return other(); }
    bool number_integer(number_integer_t value) override { return number(double(value)); }
    bool number_unsigned(number_unsigned_t value) override { return number(double(value)); }
    bool number_float(number_float_t value, const string_t&) override { return number(value); }

    bool start_array(std::size_t) override {
        if (depth_ == 0 && !done_) {
            depth_ = 1;
            return true;
        }
        return enterMember();
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
        return enterMember();
    }

    bool end_object() override {
        if (--depth_ == 1) {
            if (seen_ != (1u << fields_.size()) - 1) {
                return false;
            }
            onRecord_(std::span<const double>(values_.data(), fields_.size()));
        }
        return true;
    }

    bool key(string_t& name) override {
        if (depth_ == 2) {
            member_ = fields_.size();
            for (std::size_t i = 0; i < fields_.size(); ++i) {
                if (name == fields_[i]) {
                    member_ = i;
                    break;
                }
            }
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

  private:
    // A value that is not a number: fine inside a record, but a field it names is then
    // missing unless the record names it again.
    bool other() {
        if (depth_ == 2 && member_ < fields_.size()) {
            seen_ &= ~(1u << member_);
        }
        return depth_ >= 2;
    }

    bool enterMember() {
        if (!other() || depth_ >= maxNumberRecordDepth) {
            return false;
        }
        ++depth_;
        return true;
    }

    bool number(double value) {
        if (depth_ != 2 || member_ == fields_.size()) {
            return depth_ >= 2;
        }
        // The parser itself refuses numbers beyond double's range, such as 1e400.
        if (!std::isfinite(value)) {
            return false;
        }
        values_[member_] = value;
        seen_ |= 1u << member_;
        return true;
    }

    std::span<const std::string_view> fields_;
    const std::function<void(std::span<const double>)>& onRecord_;
    std::array<double, maxFields> values_{};
    std::size_t member_ = 0;
    unsigned seen_ = 0;
    int depth_ = 0;
    bool done_ = false;
};

}  // namespace

bool readNumberRecords(std::string_view bytes, std::span<const std::string_view> fields,
                       const std::function<void(std::span<const double>)>& onRecord) {
    if (fields.empty() || fields.size() > RecordReader::maxFields) {
        return false;
    }
    RecordReader reader(fields, onRecord);
    return json::sax_parse(bytes.begin(), bytes.end(), &reader) && reader.complete();
}

}  // namespace pellora
