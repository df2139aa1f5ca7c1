// libFuzzer target for the local settings file (settings.json) as start-up reads it.
// Beyond not crashing or throwing, what is read must be written back and read again
// unchanged, the entries this version cannot read included.
//
//   build/fuzz/tests/fuzz/SettingsFileFuzz -max_total_time=60 tests/fuzz/corpus/SettingsFileFuzz

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "store/SettingsFileCodec.h"

using pellora::SettingsFileCodec;
using pellora::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto decoded = SettingsFileCodec::decode(bytes);
    if (!decoded) {
        return 0;
    }
    // The local form keeps values only: no removals, no times.
    pellora::SettingsEntries values;
    for (const auto& [key, entry] : decoded->entries) {
        if (entry.value) {
            values[key] = pellora::SettingsEntry{entry.value, 0};
        }
    }
    auto again =
        SettingsFileCodec::decode(SettingsFileCodec::encode(values, false, decoded->unreadable));
    check(again.has_value());
    check(again->entries == values);
    check(again->unreadable == decoded->unreadable);
    return 0;
}
