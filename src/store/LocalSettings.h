#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "store/SettingsFileCodec.h"

namespace pellora {

// The machine's own copy of the settings: a typed JSON file, read once at start and
// rewritten atomically on every change.
class LocalSettings {
  public:
    using Logger = std::function<void(const std::string&)>;

    // Settings files larger than this are taken as damage, not data.
    static constexpr std::size_t maxFileBytes = 10u << 20;

    LocalSettings(std::filesystem::path file, Logger log);

    const SettingValue* value(const std::string& key) const;
    void set(const std::string& key, SettingValue value);
    void remove(const std::string& key);

    const std::filesystem::path& file() const { return file_; }

  private:
    void write();

    std::filesystem::path file_;
    Logger log_;
    SettingsEntries entries_;
    // The file on disk could not be read; it is kept aside before the first write replaces it.
    bool preserveDamagedFile_ = false;
};

}  // namespace pellora
