// The Qt platform chosen from the session's variables before the application is made.

#include "main/GraphicalSession.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "TempDir.h"
#include "platform/UniqueFd.h"

namespace pellora {
namespace {

// A user manager's environment keeps WAYLAND_DISPLAY from a session that has ended, and an
// autostart may fire before the compositor is up: Qt aborts when the platform it picks fails,
// so without a compositor listening the choice is made as if there were no Wayland display.
TEST(GraphicalSession, AWaylandDisplayNobodyListensOnIsNoDisplay) {
    test::TempDir dir;
    const std::string live = (dir.path() / "wayland-1").string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, live.c_str(), live.size() + 1);
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.get(), 4), 0);
    const std::string runtime = dir.path().string();
    EXPECT_TRUE(GraphicalSession::waylandAnswers("wayland-1", runtime.c_str()));
    EXPECT_TRUE(GraphicalSession::waylandAnswers(live.c_str(), nullptr));
    EXPECT_FALSE(GraphicalSession::waylandAnswers("wayland-0", runtime.c_str()));
    listener.reset();  // the socket file stays, with nobody behind it
    EXPECT_FALSE(GraphicalSession::waylandAnswers("wayland-1", runtime.c_str()));

    EXPECT_EQ(GraphicalSession::platformFor(nullptr, ":0", "wayland-0", true), std::nullopt);
    EXPECT_EQ(GraphicalSession::platformFor(nullptr, ":0", "wayland-0", false), "xcb;offscreen");
    EXPECT_EQ(GraphicalSession::platformFor("", "", "wayland-0", false), "offscreen");
    EXPECT_EQ(GraphicalSession::platformFor("wayland", "", "wayland-0", false), std::nullopt)
        << "a platform the user named stands";
    const auto line = GraphicalSession::offScreenLine("", "", "wayland-99", "offscreen");
    ASSERT_TRUE(line.has_value());
    EXPECT_NE(line->find("the Wayland display wayland-99 does not answer"), std::string::npos)
        << *line;
}

}  // namespace
}  // namespace pellora
