// The Qt platform chosen from the session's variables before the application is made.

#include "main/GraphicalSession.h"

#include <gtest/gtest.h>

namespace pellora {
namespace {

// A user manager's environment keeps WAYLAND_DISPLAY from a session that has ended, and an
// autostart may fire before the compositor is up: Qt aborts when no platform it tries starts,
// so off screen must be the last one tried, as it is for an X display.
TEST(GraphicalSession, AWaylandDisplayThatDoesNotAnswerLeavesOffScreenToFallBackOn) {
    const auto waylandOnly = GraphicalSession::platformFor("", "", "wayland-99");
    ASSERT_TRUE(waylandOnly.has_value()) << "Qt's own choice, which aborts";
    EXPECT_EQ(*waylandOnly, "wayland;offscreen");
    const auto both = GraphicalSession::platformFor(nullptr, ":0", "wayland-0");
    ASSERT_TRUE(both.has_value()) << "Qt's own choice, which aborts";
    EXPECT_EQ(*both, "wayland;xcb;offscreen");
    EXPECT_EQ(GraphicalSession::platformFor(nullptr, ":0", nullptr), "xcb;offscreen");
    EXPECT_EQ(GraphicalSession::platformFor("", "", ""), "offscreen");
    // A platform the user named stands.
    EXPECT_EQ(GraphicalSession::platformFor("wayland", "", "wayland-0"), std::nullopt);

    const auto line = GraphicalSession::offScreenLine("", "", "wayland-99", "offscreen");
    ASSERT_TRUE(line.has_value());
    EXPECT_NE(line->find("wayland-99"), std::string::npos) << *line;
    EXPECT_EQ(line->find("neither DISPLAY nor WAYLAND_DISPLAY is set"), std::string::npos) << *line;
}

}  // namespace
}  // namespace pellora
