#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "store/SettingsFileCodec.h"

namespace pellora {

// The other machines' files in the synced folder ("<machine>.json", one per machine), read
// again only when they change. A file that cannot be read (a sync tool caught half-way, a
// FIFO, damage) leaves what was read from it before in force and is not read again until it
// changes.
class PeerSettingsFiles {
  public:
    using Logger = std::function<void(const std::string&)>;

    // More machines than this are taken as damage: the rest are not read.
    static constexpr std::size_t maxPeers = 64;
    // Keys of a file that this version cannot read named in the log; the rest are counted.
    static constexpr std::size_t maxKeysNamed = 10;

    PeerSettingsFiles(std::filesystem::path dir, std::string machine, Logger log);

    // What changed since the last look.
    PeerChanges scan();

    // True for the name of another machine's file (not this one's, not a temporary file).
    static bool isPeerFile(const std::filesystem::path& name, const std::string& machine);

  private:
    struct Seen {
        std::string signature;        // of the version read
        std::string failedSignature;  // of a version that could not be read, not retried
    };

    std::filesystem::path dir_;
    std::string machine_;
    Logger log_;
    std::map<std::string, Seen> seen_;
    std::size_t ignoredBeyondLimit_ = 0;
};

}  // namespace pellora
