#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace pellora::test {

// For the rest of the scope, runs with the effective ids of an ordinary user ("nobody") when
// the tests run as root, as CI does, so that file permissions apply to the code under test.
class AsOrdinaryUser {
  public:
    static constexpr uid_t nobody = 65534;

    AsOrdinaryUser()
        : dropped_(::geteuid() == 0 && ::setegid(nobody) == 0 && ::seteuid(nobody) == 0) {}
    ~AsOrdinaryUser() {
        if (dropped_) {
            [[maybe_unused]] int uid = ::seteuid(0), gid = ::setegid(0);
        }
    }
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

    // False when running as root and the ids could not be dropped.
    bool ok() const { return dropped_ || ::geteuid() != 0; }

    // Lets that user list and pass every folder from `root` down to `path`'s, so that only
    // `path`'s own permissions decide. Call before dropping.
    static void openWayTo(const std::filesystem::path& path, const std::filesystem::path& root) {
        for (auto dir = path.parent_path(); !dir.empty(); dir = dir.parent_path()) {
            std::error_code error;
            std::filesystem::permissions(
                dir, std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
                std::filesystem::perm_options::add, error);
            if (dir == root || dir == dir.parent_path()) {
                break;
            }
        }
    }

  private:
    const bool dropped_;
};

}  // namespace pellora::test
