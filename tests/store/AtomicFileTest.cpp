#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "TempDir.h"
#include "store/AtomicFile.h"

namespace pellora::test {
namespace {

TEST(AtomicFile, WritesPrivateFileWithoutLeavingTemporaries) {
    TempDir dir;
    mode_t previous = ::umask(0);
    auto error = writeFileAtomically(dir / "a.json", "hello");
    ::umask(previous);
    ASSERT_FALSE(error) << *error;
    EXPECT_EQ(readFile(dir / "a.json"), "hello");
    struct stat info {};
    ASSERT_EQ(::stat((dir / "a.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(AtomicFile, FailedWriteReportsWhyAndKeepsTheOldFile) {
    TempDir dir;
    writeFile(dir / "blocker", "x");
    auto error = writeFileAtomically(dir / "blocker" / "a.json", "new");
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("create temporary file"), std::string::npos);

    ASSERT_FALSE(writeFileAtomically(dir / "b.json", "old"));
    std::filesystem::create_directory(dir / "c.json");  // rename onto a folder fails
    EXPECT_TRUE(writeFileAtomically(dir / "c.json", "new"));
    EXPECT_EQ(readFile(dir / "b.json"), "old");
}

TEST(AtomicFile, ReadDistinguishesMissingTooLargeAndOk) {
    TempDir dir;
    EXPECT_EQ(readWholeFile(dir / "none", 100).status, FileRead::Status::missing);
    writeFile(dir / "big", std::string(101, 'x'));
    FileRead big = readWholeFile(dir / "big", 100);
    EXPECT_EQ(big.status, FileRead::Status::tooLarge);
    EXPECT_TRUE(big.bytes.empty());
    FileRead ok = readWholeFile(dir / "big", 101);
    EXPECT_EQ(ok.status, FileRead::Status::ok);
    EXPECT_EQ(ok.bytes.size(), 101u);
    EXPECT_EQ(readWholeFile(dir.path(), 100).status, FileRead::Status::unreadable);
}

// Kills a writer at random moments: the file must always be the old or the new content,
// whole, never a mix or a stump.
TEST(AtomicFile, KilledWriterLeavesOldOrNewFileNeverAMix) {
    TempDir dir;
    const std::string oldText(1 << 20, 'o');
    const std::string newText(1 << 20, 'n');
    std::mt19937 random(42);
    int sawNew = 0;
    for (int round = 0; round < 12; ++round) {
        auto error = writeFileAtomically(dir / "s.json", oldText, 0600, false);
        ASSERT_FALSE(error) << *error;
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                writeFileAtomically(dir / "s.json", newText, 0600, true);
                writeFileAtomically(dir / "s.json", oldText, 0600, true);
            }
        }
        ::usleep(std::uniform_int_distribution<int>(500, 20000)(random));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::string text = readFile(dir / "s.json");
        ASSERT_TRUE(text == oldText || text == newText) << "round " << round << ": " << text.size();
        sawNew += text == newText;
    }
    RecordProperty("roundsEndingNew", sawNew);
}

}  // namespace
}  // namespace pellora::test
