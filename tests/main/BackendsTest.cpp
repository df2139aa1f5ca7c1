// What the program tells the rest about itself: the file it runs from, and whether that is a
// build's copy.

#include "main/Backends.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pellora {
namespace {

// After an upgrade replaced the program under a running one, /proc/self/exe names the old
// file "(deleted)"; a login entry must name the file that is there.
TEST(Backends, TheLiveProgramIsTheFileThatIsThere) {
    EXPECT_EQ(Backends::liveExecutable("/usr/bin/pellora (deleted)"), "/usr/bin/pellora");
    EXPECT_EQ(Backends::liveExecutable(" (deleted)"), " (deleted)");
}

// A program under the folder it was built in is a build's copy; one elsewhere, or in a
// folder whose name merely begins the same, is not.
TEST(Backends, ABuildFolderCopyIsKnownByItsPath) {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string folder = self.parent_path().parent_path().string();
    EXPECT_EQ(Backends::environment("org.pellora.Pellora", folder).executablePath, self.string());
    EXPECT_TRUE(Backends::environment("org.pellora.Pellora", folder).fromBuildTree);
    EXPECT_FALSE(Backends::environment("org.pellora.Pellora", folder.substr(0, folder.size() - 1))
                     .fromBuildTree);
    EXPECT_FALSE(Backends::environment("org.pellora.Pellora", "").fromBuildTree);
}

}  // namespace
}  // namespace pellora
