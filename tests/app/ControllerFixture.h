#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ScopedLocalZone.h"
#include "SimulatedDesk.h"

namespace pellora::test {

// A launched desk in the UTC zone, with shorthands for what tests look at.
struct ControllerFixture : ::testing::Test {
    ScopedLocalZone zone{"UTC0"};
    std::unique_ptr<SimulatedDesk> desk = std::make_unique<SimulatedDesk>();

    SimulatedDesk& d() { return *desk; }
    void restart(SimulatedDesk::Options options) {
        desk = std::make_unique<SimulatedDesk>(options);
    }
    const std::string& title(MenuItemId id) { return desk->app->menu().row(id).title; }
    bool hidden(MenuItemId id) { return desk->app->menu().row(id).hidden; }
    std::size_t count(const std::string& text) { return desk->linesWith(text).size(); }
    // Brightness writes: each goes out twice on the wire, for monitors that miss one.
    int writes() { return desk->monitor->stats().setRequests / 2; }
    int reads() { return desk->monitor->stats().getRequests; }
    // Sets the monitor's brightness as its own buttons would.
    void setMonitor(int value) { desk->monitor->defineRegister(0x10, value, 100); }
};

}  // namespace pellora::test
