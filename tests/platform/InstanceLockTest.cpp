#include "platform/InstanceLock.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <optional>

#include "TempDir.h"

namespace pellora::test {
namespace {

using Outcome = InstanceLock::Outcome;

// A second holder's refusal, and the pid it names, are checked by the second-launch tests.
TEST(InstanceLock, APrivateLockGoesWithItsHolder) {
    TempDir dir;
    const auto file = dir / "runtime" / "pellora" / "instance.lock";
    std::optional<InstanceLock> first = InstanceLock::acquire(file);
    ASSERT_EQ(first->outcome(), Outcome::acquired) << first->detail();
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0600));
    first.reset();
    EXPECT_EQ(InstanceLock::acquire(file).outcome(), Outcome::acquired);
}

TEST(InstanceLock, WhatCannotHoldALockIsReportedWithoutBlocking) {
    TempDir dir;
    writeFile(dir / "blocker", "a file where the folder should be");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir / "elsewhere", dir / "link");
    for (const auto& file : {dir / "blocker" / "instance.lock", dir / "fifo", dir / "link"}) {
        InstanceLock lock = InstanceLock::acquire(file);
        EXPECT_EQ(lock.outcome(), Outcome::unavailable) << file;
        EXPECT_NE(lock.detail().find(file.string()), std::string::npos) << lock.detail();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

}  // namespace
}  // namespace pellora::test
