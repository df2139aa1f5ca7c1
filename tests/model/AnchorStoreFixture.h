#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "TestEnvironment.h"
#include "model/AnchorStore.h"

namespace pellora::test {

inline constexpr const char* kMonitor = "00001234-00005678-00009ABC";
inline constexpr const char* kKey = "monitor.00001234-00005678-00009ABC.anchorsV1";
inline constexpr double kDay = 86400.0;
inline constexpr double kStart = 1718960400.0;  // where the environment's clock starts
inline constexpr std::nullopt_t kOwnTimes = std::nullopt;

// A store made over `anchors` as already stored, each stamped `ageDays` before now (or with
// its own time for `kOwnTimes`), counting the changes it announces.
struct AnchorStoreFixture {
    explicit AnchorStoreFixture(std::vector<Anchor> anchors = {},
                                std::optional<double> ageDays = 0.0) {
        for (auto& a : anchors) {
            a.t = ageDays ? now() - *ageDays * kDay : a.t;
        }
        if (!anchors.empty()) {
            env.settings->set(kKey, Bytes{*AnchorStore::encode(anchors)});
        }
        reopen();
    }

    double now() const { return env.clock.now(); }

    // A new store over what is stored now, as after a restart.
    std::shared_ptr<AnchorStore>& reopen() {
        store = AnchorStore::create(kMonitor, *env.settings, env.clock, env.log.get());
        store->setOnChange([this] { ++changes; });
        return store;
    }

    std::vector<Anchor> stored() const {
        const auto bytes = env.settings->data(kKey);
        return bytes ? AnchorStore::decode(*bytes).value_or(std::vector<Anchor>{})
                     : std::vector<Anchor>{};
    }

    TestEnvironment env;
    std::shared_ptr<AnchorStore> store;
    int changes = 0;
};

}  // namespace pellora::test
