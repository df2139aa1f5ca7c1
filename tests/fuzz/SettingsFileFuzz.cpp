// The local settings.json as start-up reads it: what is read is written back and read again
// unchanged, the entries this version cannot read included.

#include "FuzzCheck.h"
#include "store/SettingsFileCodec.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = SettingsFileCodec::decode(std::string(fuzz::text(data, size)));
    if (!decoded) {
        return 0;
    }
    // The local form keeps values only: no removals, no times.
    SettingsEntries values;
    for (const auto& [key, entry] : decoded->entries) {
        if (entry.value) {
            values[key] = SettingsEntry{entry.value, 0};
        }
    }
    auto again =
        SettingsFileCodec::decode(SettingsFileCodec::encode(values, false, decoded->unreadable));
    fuzz::check(again && again->entries == values && again->unreadable == decoded->unreadable);
    return 0;
}
