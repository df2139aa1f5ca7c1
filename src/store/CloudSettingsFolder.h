#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "store/SettingsFileCodec.h"

namespace pellora {

// The copy of the settings that follows the user to their other machines, kept in a folder
// that their own sync tool carries. Each machine writes only its own file
// ("<machine>.json") and reads everyone's, so two machines writing at once never lose each
// other's keys; per key, the newest write (then the larger machine name) wins.
class CloudSettingsFolder {
  public:
    using Logger = std::function<void(const std::string&)>;

    static constexpr std::size_t maxFileBytes = 10u << 20;

    CloudSettingsFolder(std::filesystem::path dir, std::string machine, const Clock& clock,
                        Logger log);

    // The winning value of `key` across machines; nothing when absent or removed.
    const SettingValue* value(const std::string& key) const;
    // True when the newest word on `key` is that some machine removed it.
    bool isRemoved(const std::string& key) const;
    void set(const std::string& key, SettingValue value);
    void remove(const std::string& key);

    // Writes this machine's pending changes and reads the other machines' files again.
    // True when what the other machines hold has changed.
    bool synchronize();
    // Reads the other machines' files again without writing. True on a change.
    bool refresh();

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path ownFile() const { return dir_ / (machine_ + ".json"); }

  private:
    struct Peer {
        std::string signature;
        std::string failedSignature;  // a version that could not be read, not retried
        SettingsEntries entries;
    };

    const SettingsEntry* winner(const std::string& key) const;
    void stamp(const std::string& key, std::optional<SettingValue> value);
    void writeOwn();

    std::filesystem::path dir_;
    std::string machine_;
    const Clock& clock_;
    Logger log_;
    SettingsEntries own_;
    bool ownDirty_ = false;
    bool preserveDamagedFile_ = false;
    std::map<std::string, Peer> peers_;
};

}  // namespace pellora
