// The local settings.json as start-up reads it: what is read is written back and read again
// unchanged, the entries this version cannot read included.

#include "FuzzCheck.h"
#include "store/SettingsFileCodec.h"

using pellora::SettingsFileCodec;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = SettingsFileCodec::decode(std::string(pellora::fuzz::text(data, size)));
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
    pellora::fuzz::check(again && again->entries == values &&
                         again->unreadable == decoded->unreadable);
    return 0;
}
