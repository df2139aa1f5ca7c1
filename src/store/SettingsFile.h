#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "store/SettingsFileCodec.h"

namespace pellora {

// One settings file on disk, read once and then rewritten whole. A file that cannot be read
// is left in place and set aside (numbered, the newest few kept) just before the first
// write replaces it; entries that cannot be read are written back as they were. A symbolic
// link to a regular file of this user is followed, except in the synced folder: that file is
// read and rewritten in its own folder, and the link stays. A file this user may not read is never
// replaced.
class SettingsFile {
  public:
    using Logger = std::function<void(const std::string&)>;

    // Settings files larger than this are taken as damage, not data.
    static constexpr std::size_t maxFileBytes = 10u << 20;

    // `withHistory` keeps tombstones and modification times (the synced form). `what`
    // names the file in log lines.
    SettingsFile(std::filesystem::path path, bool withHistory, std::string what, Logger log);

    // What the file holds; nothing when it is missing or cannot be read.
    SettingsFileCodec::Decoded load();
    // False on failure (logged): the caller keeps the data and the next write tries again.
    bool write(const SettingsEntries& entries, const RawEntries& kept);

    const std::filesystem::path& path() const { return path_; }
    // Why changes cannot be saved to the file for this run: its permissions forbid reading
    // it. Nothing when they can. Known once `load` has run.
    struct Problem {
        std::filesystem::path file;
        std::string text;  // names the file and the reason
        std::string fix;   // what the user can do about it, as one sentence without its stop
    };
    const std::optional<Problem>& problem() const { return problem_; }
    // Why the last write failed (a full disk, a read-only or foreign folder); nothing once one
    // has gone through.
    const std::optional<Problem>& writeProblem() const { return writeProblem_; }

  private:
    // Where the settings are: the file at `path_`, or the one a link there leads to.
    struct Place {
        std::filesystem::path file;
        // Why a link in the file's place is not followed.
        std::optional<std::string> refusal;
    };
    Place resolve() const;

    std::filesystem::path path_;
    bool withHistory_;
    std::string what_;
    Logger log_;
    bool setAside_ = false;
    std::optional<Problem> problem_;
    std::optional<Problem> writeProblem_;
};

}  // namespace pellora
