// libFuzzer target for another machine's file in the synced folder, as this machine takes
// it in. Beyond not crashing or throwing: the synced form survives a round trip, every key
// reads as the newest word on it, and a write made here after seeing the file wins.
//
//   build/fuzz/tests/fuzz/PeerSettingsFileFuzz -max_total_time=60 \
//       tests/fuzz/corpus/PeerSettingsFileFuzz

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "platform/Clock.h"
#include "store/SettingsFileCodec.h"
#include "store/SyncedSettings.h"

using pellora::SettingsFileCodec;

namespace {

class FixedClock final : public pellora::Clock {
  public:
    double now() const override { return 1718960400.0; }
    double monotonic() const override { return 0; }
    void sleep(double) override {}
};

}  // namespace

using pellora::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto decoded = SettingsFileCodec::decode(bytes);
    if (!decoded) {
        return 0;
    }
    auto again = SettingsFileCodec::decode(SettingsFileCodec::encode(decoded->entries, true));
    check(again.has_value() && again->entries == decoded->entries);

    FixedClock clock;
    // "a-peer" sorts before "this-machine": ties go to this machine, so the peer must win
    // by time alone where it wins.
    for (const char* peer : {"a-peer", "zz-peer"}) {
        pellora::SyncedSettings synced("this-machine", clock);
        check(synced.apply({{peer, decoded->entries}}) == !decoded->entries.empty());
        for (const auto& [key, entry] : decoded->entries) {
            const pellora::SettingValue* value = synced.value(key);
            check(entry.value ? value && *value == *entry.value : !value);
            check(synced.isRemoved(key) == !entry.value);
            synced.set(key, true);
            check(synced.value(key) && *synced.value(key) == pellora::SettingValue(true));
        }
    }
    return 0;
}
