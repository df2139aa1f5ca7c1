// Another machine's file in the synced folder: the synced form survives a round trip, every
// key reads as the newest word on it, and a write made here after seeing the file wins.

#include "FuzzCheck.h"
#include "store/SettingsFileCodec.h"
#include "store/SyncedSettings.h"

using namespace pellora;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto decoded = SettingsFileCodec::decode(std::string(fuzz::text(data, size)));
    if (!decoded) {
        return 0;
    }
    auto again = SettingsFileCodec::decode(SettingsFileCodec::encode(decoded->entries, true));
    check(again.has_value() && again->entries == decoded->entries);
    fuzz::InstantClock clock;
    // "a-peer" sorts before "this-machine": ties go to this machine, so the peer must win
    // by time alone where it wins.
    for (const char* peer : {"a-peer", "zz-peer"}) {
        SyncedSettings synced("this-machine", clock);
        check(synced.apply({{peer, decoded->entries}}) == !decoded->entries.empty());
        for (const auto& [key, entry] : decoded->entries) {
            const SettingValue* value = synced.value(key);
            check((entry.value ? value && *value == *entry.value : !value) &&
                  synced.isRemoved(key) == !entry.value);
            synced.set(key, true);
            // No file holds a later time than the latest: there the tie goes by name, the
            // same way on every machine, and a later name keeps it.
            const bool peerKeeps = entry.modified >= SettingsFileCodec::maxModified &&
                                   std::string(peer) > "this-machine";
            check(peerKeeps || (synced.value(key) && *synced.value(key) == SettingValue(true)));
        }
    }
    return 0;
}
