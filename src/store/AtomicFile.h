#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace pellora {

// Whole-file reads and crash-safe whole-file writes.
struct FileRead {
    enum class Status { ok, missing, unreadable, tooLarge };
    Status status = Status::missing;
    std::string bytes;
    std::string error;  // why, for the debug log, when not ok
};

// Reads the whole file, refusing anything larger than `maxBytes`.
FileRead readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so a crash at any point leaves either the old or the new file, never a mix.
// The file gets `mode` (0600: private to the user). Without `durable` the data is not
// forced to disk first: readers still never see a half-written file, but a power cut may
// lose the newest version. Returns the reason on failure.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               const std::string& bytes, unsigned mode = 0600,
                                               bool durable = true);

}  // namespace pellora
