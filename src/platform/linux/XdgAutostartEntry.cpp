#include "platform/linux/XdgAutostartEntry.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/Queue.h"

namespace pellora {

namespace {

// Characters an Exec argument may only hold inside double quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
// Characters that stay special inside the quotes and take a backslash there.
constexpr std::string_view kQuotedEscapes = "\"`$\\";

// A string value's escapes (\s \n \t \r \\), undone; the Exec rules come after.
std::string unescapeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += value[i];
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The keys of the entry's main group, or nothing when the text is not a desktop entry (no
// such group first, a line that is neither a key, a group nor a comment, a NUL byte).
std::optional<std::map<std::string, std::string>> mainGroup(const std::string& bytes) {
    if (bytes.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    std::map<std::string, std::string> keys;
    bool inMain = false;
    bool seenGroup = false;
    std::istringstream lines(bytes);
    std::string raw;
    while (std::getline(lines, raw)) {
        std::string_view line = trimmed(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']') {
                return std::nullopt;
            }
            // The main group comes first; later groups (actions) do not matter here.
            inMain = !seenGroup && line == "[Desktop Entry]";
            if (!seenGroup && !inMain) {
                return std::nullopt;
            }
            seenGroup = true;
            continue;
        }
        const auto equals = line.find('=');
        if (!seenGroup || equals == std::string_view::npos || equals == 0) {
            return std::nullopt;
        }
        if (inMain) {
            keys[std::string(trimmed(line.substr(0, equals)))] =
                std::string(trimmed(line.substr(equals + 1)));
        }
    }
    if (!seenGroup) {
        return std::nullopt;
    }
    return keys;
}

bool isTrue(const std::map<std::string, std::string>& keys, const std::string& key) {
    auto found = keys.find(key);
    return found != keys.end() && found->second == "true";
}

bool isFalse(const std::map<std::string, std::string>& keys, const std::string& key) {
    auto found = keys.find(key);
    return found != keys.end() && found->second == "false";
}

// The file `program` names: itself with a slash, else the first match on PATH.
std::filesystem::path resolve(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::filesystem::path candidate = std::filesystem::path(dir.empty() ? "." : dir) / program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return program;
}

std::string errnoText() {
    return std::strerror(errno);
}

}  // namespace

std::shared_ptr<XdgAutostartEntry> XdgAutostartEntry::create(std::filesystem::path dir,
                                                             std::string executable, Queue& work,
                                                             Queue& main) {
    return std::shared_ptr<XdgAutostartEntry>(
        new XdgAutostartEntry(std::move(dir), std::move(executable), work, main));
}

XdgAutostartEntry::XdgAutostartEntry(std::filesystem::path dir, std::string executable, Queue& work,
                                     Queue& main)
    : dir_(std::move(dir)),
      file_(dir_ / fileName),
      executable_(std::move(executable)),
      work_(work),
      main_(main) {}

void XdgAutostartEntry::read(std::function<void(State)> done) {
    work_.post([weak = weak_from_this(), file = file_, executable = executable_, &main = main_,
                done = std::move(done)]() mutable {
        State state = readNow(file, executable);
        main.post([weak, state = std::move(state), done = std::move(done)] {
            if (weak.lock() && done) {
                done(state);
            }
        });
    });
}

void XdgAutostartEntry::setEnabled(bool enabled, std::function<void(Outcome)> done) {
    work_.post([weak = weak_from_this(), enabled, dir = dir_, file = file_,
                executable = executable_, &main = main_, done = std::move(done)]() mutable {
        Outcome outcome = enabled ? writeNow(dir, file, executable) : removeNow(file);
        main.post([weak, outcome = std::move(outcome), done = std::move(done)] {
            if (weak.lock() && done) {
                done(outcome);
            }
        });
    });
}

std::optional<std::string> XdgAutostartEntry::execArgument(const std::string& argument) {
    if (argument.empty() || argument.find_first_of("\n\r") != std::string::npos) {
        return std::nullopt;
    }
    std::string exec;
    const bool quoted = argument.find_first_of(kReserved) != std::string::npos;
    for (char c : argument) {
        if (quoted && kQuotedEscapes.find(c) != std::string_view::npos) {
            exec += '\\';
        }
        // A field code's sign stands for itself only when doubled.
        exec += c == '%' ? "%%" : std::string(1, c);
    }
    if (quoted) {
        exec = '"' + exec + '"';
    }
    // The string rules apply on top: every backslash is written twice.
    std::string value;
    for (char c : exec) {
        value += c == '\\' ? "\\\\" : std::string(1, c);
    }
    return value;
}

std::optional<std::string> XdgAutostartEntry::execProgram(const std::string& exec) {
    const std::string line = unescapeValue(exec);
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos) {
        return std::nullopt;
    }
    std::string program;
    if (line[i] == '"') {
        for (++i;; ++i) {
            if (i >= line.size()) {
                return std::nullopt;
            }
            if (line[i] == '"') {
                break;
            }
            if (line[i] == '\\' && i + 1 < line.size() &&
                kQuotedEscapes.find(line[i + 1]) != std::string_view::npos) {
                ++i;
            }
            program += line[i];
        }
    } else {
        program = line.substr(i, line.find_first_of(" \t", i) - i);
    }
    std::string out;
    for (std::size_t k = 0; k < program.size(); ++k) {
        out += program[k];
        if (program[k] == '%' && k + 1 < program.size() && program[k + 1] == '%') {
            ++k;
        }
    }
    return out.empty() ? std::nullopt : std::optional(out);
}

std::optional<std::string> XdgAutostartEntry::entryText(const std::string& executable) {
    auto exec = execArgument(executable);
    if (!exec) {
        return std::nullopt;
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Pellora\n"
           "Comment=Keeps an external monitor's brightness in step with the light in the room\n"
           "Exec=" +
           *exec +
           "\n"
           "Icon=org.pellora.Pellora\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

LoginItem::State XdgAutostartEntry::judge(
    const std::string& bytes, const std::filesystem::path& file,
    const std::function<bool(const std::string& program)>& isThisProgram) {
    const std::string name = "Autostart entry " + file.string();
    auto keys = mainGroup(bytes);
    if (!keys) {
        return {false, name + " is not a desktop entry; the desktop ignores it"};
    }
    if (isTrue(*keys, "Hidden")) {
        return {false, name + " has Hidden=true: the desktop does not start it"};
    }
    if (isFalse(*keys, "X-GNOME-Autostart-enabled")) {
        return {false,
                name + " has X-GNOME-Autostart-enabled=false: the desktop does not start it"};
    }
    auto exec = keys->find("Exec");
    std::optional<std::string> program;
    if (exec != keys->end()) {
        program = execProgram(exec->second);
    }
    if (!program) {
        return {false, name + " has no usable Exec line; the desktop cannot start it"};
    }
    if (!isThisProgram(*program)) {
        return {true, name + " starts " + *program + ", not this Pellora"};
    }
    return {true, ""};
}

LoginItem::State XdgAutostartEntry::readNow(const std::filesystem::path& file,
                                            const std::string& executable) {
    FileRead read = readWholeFile(file, maxBytes);
    switch (read.status) {
        case FileRead::Status::missing:
            return {false, ""};
        case FileRead::Status::unreadable:
        case FileRead::Status::denied:
        case FileRead::Status::tooLarge:
            return {false, "Autostart entry " + file.string() + " cannot be read (" + read.error +
                               "); shown as off, and turning Start at login on replaces it"};
        case FileRead::Status::ok:
            break;
    }
    return judge(read.bytes, file, [&executable](const std::string& program) {
        std::error_code error;
        return std::filesystem::equivalent(resolve(program), executable, error);
    });
}

LoginItem::Outcome XdgAutostartEntry::writeNow(const std::filesystem::path& dir,
                                               const std::filesystem::path& file,
                                               const std::string& executable) {
    auto text = entryText(executable);
    if (!text) {
        return {false, false, "The program's path cannot be written in an autostart entry"};
    }
    if (!ensureDirectory(dir)) {
        return {false, false, "Cannot make the folder " + dir.string() + " (" + errnoText() + ")"};
    }
    // Desktops read it as the user; nothing in it is private.
    if (auto failed = writeFileAtomically(file, *text, 0644)) {
        return {false, false,
                "Cannot write " + file.string() + " (" + *failed + "). Check that " + dir.string() +
                    " is yours and writable."};
    }
    return {true, true, "Wrote " + file.string() + ", which starts " + executable};
}

LoginItem::Outcome XdgAutostartEntry::removeNow(const std::filesystem::path& file) {
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
        return {false, true,
                "Cannot remove " + file.string() + " (" + errnoText() + "). Check that " +
                    file.parent_path().string() + " is yours and writable."};
    }
    return {true, false, "Removed " + file.string()};
}

}  // namespace pellora
