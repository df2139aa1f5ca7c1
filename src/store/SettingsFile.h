#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "store/SettingsFileCodec.h"

namespace pellora {

// One settings file on disk, read once and then rewritten whole. A file that cannot be read
// is left in place and set aside (numbered, the newest few kept) just before the first
// write replaces it; entries that cannot be read are written back as they were.
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

  private:
    std::filesystem::path path_;
    bool withHistory_;
    std::string what_;
    Logger log_;
    bool setAside_ = false;
};

}  // namespace pellora
