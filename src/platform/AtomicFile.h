#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace pellora {

// Whole-file reads and crash-safe whole-file writes.
struct FileRead {
    // `denied`: the file is there, but its permissions do not let this user read it.
    enum class Status { ok, missing, unreadable, denied, tooLarge };
    Status status = Status::missing;
    std::string bytes;
    std::string error;  // why, for the debug log, when not ok
};

// Reads the whole file, refusing anything larger than `maxBytes` and anything but a regular
// file (a FIFO, a device, a symbolic link) without ever blocking on it.
FileRead readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so a crash at any point leaves either the old or the new file, never a mix. Then
// sweeps what killed writers left of `path` (see `sweepStaleTemporaries`).
// The data goes to an unnamed file first where the file system allows; a name of the
// "~<file>.<pid>.<n>.tmp" form exists only for the moment before the rename. The file gets
// `mode` (0600: private to the user). Without `durable` the data is not forced to disk
// first: readers still never see a half-written file, but a power cut may lose the newest
// version. Returns the reason on failure.
std::optional<std::string> writeFileAtomically(const std::filesystem::path& path,
                                               const std::string& bytes, unsigned mode = 0600,
                                               bool durable = true);

// As writeFileAtomically without `durable`, for a file rewritten every few seconds that
// nothing reads back: the new file changes places with the old one, which is then removed.
// File systems that push the data of a file renamed over another out to disk (ext4's
// auto_da_alloc) make the writer wait at every such rename; an exchange does not. A power cut
// may therefore leave the file empty, never half written.
std::optional<std::string> rewriteFileAtomically(const std::filesystem::path& path,
                                                 const std::string& bytes, unsigned mode = 0600);

// True for a name `writeFileAtomically` (or an older version of it) gives the temporary
// file of `target`: "~target.<digits>.<digits>.tmp" or ".target.<digits>.<digits>.tmp".
bool isTemporaryOf(const std::string& name, const std::string& target);

// Removes the temporary files of `target` (in its folder) that a killed writer left behind:
// those whose writer (the process id in the name) is no longer running, this process's own
// that no write of it is using, and any last changed more than `minAgeSeconds` before `now`
// (wall time). Returns how many.
int sweepStaleTemporaries(const std::filesystem::path& target, double now,
                          double minAgeSeconds = 60);

// Renames `path` to "<path>.damaged.<n>", n one more than any such copy there, and keeps
// only the newest `keep` of those copies. A missing `path` is no failure. Returns the
// reason on failure.
std::optional<std::string> setAsideDamaged(const std::filesystem::path& path, int keep = 5);

}  // namespace pellora
