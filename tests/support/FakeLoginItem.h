#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "platform/LoginItem.h"

namespace pellora::test {

// A login item the test answers by hand: every read and change waits until answered.
class FakeLoginItem final : public LoginItem {
  public:
    std::vector<std::function<void(State)>> reads;
    std::vector<std::pair<bool, std::function<void(Outcome)>>> changes;

    void read(std::function<void(State)> done) override { reads.push_back(std::move(done)); }
    void setEnabled(bool enabled, std::function<void(Outcome)> done) override {
        changes.emplace_back(enabled, std::move(done));
    }

    // Answers the reads waiting now with `state`; how many there were.
    std::size_t answerReads(const State& state) {
        auto waiting = std::exchange(reads, {});
        for (auto& done : waiting) {
            done(state);
        }
        return waiting.size();
    }
    void answerChange(const Outcome& outcome) {
        auto [enabled, done] = std::move(changes.front());
        changes.erase(changes.begin());
        done(outcome);
    }
};

}  // namespace pellora::test
