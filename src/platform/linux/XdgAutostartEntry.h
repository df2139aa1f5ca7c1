#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/LoginItem.h"

namespace pellora {

class Queue;

// Start at login as freedesktop desktops do it: an entry named for the application in
// $XDG_CONFIG_HOME/autostart, which the session starts at login (GNOME, KDE, Xfce, LXQt,
// Cinnamon, MATE and systemd's autostart generator all read it). Present and not switched off
// means on. The file is read, written and removed on `work`; answers come on `main`.
class XdgAutostartEntry final : public LoginItem,
                                public std::enable_shared_from_this<XdgAutostartEntry> {
  public:
    static constexpr const char* fileName = "org.pellora.Pellora.desktop";
    // An entry is a few hundred bytes; anything much larger is not one of ours.
    static constexpr std::size_t maxBytes = 64 * 1024;

    // `dir` is the autostart folder; `executable` the program the entry starts. Both queues
    // outlive the object.
    static std::shared_ptr<XdgAutostartEntry> create(std::filesystem::path dir,
                                                     std::string executable, Queue& work,
                                                     Queue& main);

    void read(std::function<void(State)> done) override;
    void setEnabled(bool enabled, std::function<void(Outcome)> done) override;

    const std::filesystem::path& file() const { return file_; }

    // The entry written for `executable`; nothing for a path no entry can carry (a line
    // break in it).
    static std::optional<std::string> entryText(const std::string& executable);
    // One argument of an Exec line as the desktop entry rules quote and escape it.
    static std::optional<std::string> execArgument(const std::string& argument);
    // The program an Exec line starts (its first argument, unescaped and unquoted); nothing
    // when the line is malformed.
    static std::optional<std::string> execProgram(const std::string& exec);
    // What an entry's bytes say. `isThisProgram` tells whether the program its Exec line
    // names is the one running; `file` is named in the problem.
    static State judge(const std::string& bytes, const std::filesystem::path& file,
                       const std::function<bool(const std::string& program)>& isThisProgram);

  private:
    XdgAutostartEntry(std::filesystem::path dir, std::string executable, Queue& work, Queue& main);

    static State readNow(const std::filesystem::path& file, const std::string& executable);
    static Outcome writeNow(const std::filesystem::path& dir, const std::filesystem::path& file,
                            const std::string& executable);
    static Outcome removeNow(const std::filesystem::path& file);

    const std::filesystem::path dir_;
    const std::filesystem::path file_;
    const std::string executable_;
    Queue& work_;
    Queue& main_;
};

}  // namespace pellora
