#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace pellora {

// The first `limit` bytes of a small attribute file (sysfs "status", "edid", …). Nothing when
// it cannot be opened or is not a regular file: a FIFO or device put in its place is refused
// without waiting on it.
std::optional<std::string> readSysfsAttribute(const std::filesystem::path& path, std::size_t limit);

}  // namespace pellora
