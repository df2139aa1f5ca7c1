#include "display/MonitorRegistry.h"

#include "platform/Utf8Prefix.h"
#include "platform/WhileAlive.h"
#include "store/SettingsStore.h"

namespace pellora {

namespace {

constexpr std::size_t kMaxDisplays = 16;

bool sameIdentity(const DisplayInfo& display, const Monitor& monitor) {
    return display.vendor == monitor.vendor && display.model == monitor.model &&
           display.serial == monitor.serial;
}

std::string trimmed(const std::string& text) {
    auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    std::size_t begin = 0, end = text.size();
    while (begin < end && isSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && isSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

MonitorRegistry::MonitorRegistry(DisplayList& displays, SettingsStore& settings, Queue& mainQueue)
    : displays_(displays), settings_(settings), main_(mainQueue) {}

std::shared_ptr<MonitorRegistry> MonitorRegistry::create(DisplayList& displays,
                                                         SettingsStore& settings,
                                                         Queue& mainQueue) {
    std::shared_ptr<MonitorRegistry> registry(new MonitorRegistry(displays, settings, mainQueue));
    registry->refresh();
    // The news may come on any thread, so the handler touches nothing of the registry there:
    // it only hands a refresh to the main queue, where the registry is looked up again.
    Queue* main = &mainQueue;
    displays.setChangeHandler([weak = registry->weak_from_this(), main](DisplayChange) {
        main->post(whileAlive(weak, [](const auto& self) { self->refresh(); }));
    });
    return registry;
}

// The handler is left in place: it holds the registry only weakly, so once the registry is
// gone it posts a refresh that finds nobody.
MonitorRegistry::~MonitorRegistry() = default;

std::vector<Monitor> MonitorRegistry::allExternal() {
    std::vector<Monitor> monitors;
    std::size_t seen = 0;
    for (const auto& display : displaysSeen_) {
        if (++seen > kMaxDisplays) {
            break;
        }
        if (!display.builtIn) {
            monitors.push_back(Monitor{display.vendor, display.model, display.serial});
        }
    }
    return monitors;
}

void MonitorRegistry::refresh() {
    PELLORA_ASSERT_ON(main_);
    displaysSeen_ = displays_.activeDisplays().value_or(std::vector<DisplayInfo>{});
    auto monitors = allExternal();
    std::optional<Monitor> next;
    if (!monitors.empty()) {
        next = monitors.front();
    }
    if (next == current_) {
        return;
    }
    current_ = next;
    if (onChange_) {
        onChange_(current_);
    }
}

std::optional<std::string> MonitorRegistry::outputName(const Monitor& monitor) {
    for (const auto& display : displaysSeen_) {
        if (!display.builtIn && sameIdentity(display, monitor)) {
            return display.id;
        }
    }
    return std::nullopt;
}

std::optional<std::string> MonitorRegistry::localizedName(const Monitor& monitor) {
    for (const auto& display : displaysSeen_) {
        if (sameIdentity(display, monitor) && display.name && !display.name->empty()) {
            return display.name;
        }
    }
    return std::nullopt;
}

std::string MonitorRegistry::friendlyName(const Monitor& monitor) {
    if (auto stored = settings_.string(monitor.keyPrefix() + "name"); stored && !stored->empty()) {
        const std::string_view kept = utf8Prefix(*stored, maxNameBytes);
        return kept.size() == stored->size() ? *stored : std::string(kept) + "…";
    }
    if (auto name = localizedName(monitor)) {
        return *name;
    }
    return "Monitor " + monitor.identifier().substr(0, 8);
}

void MonitorRegistry::setFriendlyName(const std::string& name, const Monitor& monitor) {
    std::string clean = trimmed(name);
    if (clean.empty()) {
        settings_.remove(monitor.keyPrefix() + "name");
    } else {
        settings_.set(monitor.keyPrefix() + "name", clean);
    }
}

}  // namespace pellora
