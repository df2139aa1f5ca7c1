#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace pellora::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::error_code error;
        std::filesystem::path base = std::filesystem::temp_directory_path(error);
        std::string pattern = ((error ? "/tmp" : base) / "pellora-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            ADD_FAILURE() << "cannot make a temporary folder like " << pattern;
            return;
        }
        path_ = pattern;
    }
    ~TempDir() {
        if (path_.empty()) {
            return;
        }
        std::error_code error;
        // Tests may have made folders read-only; give the permissions back before removing.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
        }
        std::filesystem::remove_all(path_, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Writes `bytes` to `path`, creating folders as needed.
inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace pellora::test
