#include "platform/InstanceLock.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "TempDir.h"

namespace pellora::test {
namespace {

using Outcome = InstanceLock::Outcome;

// Two launches of one user would rewrite the same files from their own memory: the second
// must learn that the first runs (and which), and the lock must go with its holder.
TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstIsGone) {
    TempDir dir;
    const auto file = dir / "runtime" / "pellora" / "instance.lock";
    std::optional<InstanceLock> first = InstanceLock::acquire(file);
    ASSERT_EQ(first->outcome(), Outcome::acquired) << first->detail();
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    InstanceLock second = InstanceLock::acquire(file);
    EXPECT_EQ(second.outcome(), Outcome::heldElsewhere);
    EXPECT_EQ(second.detail(), std::to_string(::getpid()));

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
