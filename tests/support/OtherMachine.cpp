#include "OtherMachine.h"

namespace pellora::test {

OtherMachine::OtherMachine(std::filesystem::path dir, std::string machine, const Clock& clock,
                           Logger log)
    : dir_(std::move(dir)),
      file_(dir_ / (machine + ".json"), true, "synced settings file", log),
      peers_(dir_, machine, log),
      settings_(machine, clock, file_.load()) {
    refresh();
}

void OtherMachine::set(const std::string& key, SettingValue value) {
    settings_.set(key, std::move(value));
    dirty_ = true;
}

void OtherMachine::remove(const std::string& key) {
    dirty_ = settings_.remove(key) || dirty_;
}

bool OtherMachine::synchronize() {
    if (dirty_ && file_.write(settings_.own(), settings_.ownKept())) {
        dirty_ = false;
    }
    return refresh();
}

bool OtherMachine::refresh() {
    return settings_.apply(peers_.scan());
}

}  // namespace pellora::test
