#include "platform/linux/DrmDisplayList.h"

#include <libudev.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>

#include "platform/linux/DeviceNodeName.h"
#include "platform/linux/Edid.h"
#include "platform/linux/SysfsAttribute.h"

namespace pellora {

namespace {

// A one-line sysfs attribute ("connected", "enabled") without its line end.
std::string readText(const std::filesystem::path& path) {
    std::string text = readSysfsAttribute(path, 64).value_or("");
    text = text.substr(0, text.find('\n'));
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// card1-DP-2 → (1, "DP", 2), so card1-DP-10 sorts after card1-DP-2.
struct ConnectorName {
    int card = 0;
    std::string type;
    int index = 0;
    std::string whole;
    bool operator<(const ConnectorName& o) const {
        return std::tie(card, type, index, whole) < std::tie(o.card, o.type, o.index, o.whole);
    }
};

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "card" N "-" type ["-" index]. A name whose numbers do not fit is no connector of ours.
std::optional<ConnectorName> parseConnector(std::string_view name) {
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    std::optional<int> card = deviceNodeNumber(name.substr(0, dash), "card");
    std::string_view rest = name.substr(dash + 1);
    if (!card || rest.empty()) {
        return std::nullopt;
    }
    ConnectorName c{*card, std::string(rest), 0, std::string(name)};
    const std::size_t last = rest.rfind('-');
    if (last != std::string_view::npos && last > 0 && allDigits(rest.substr(last + 1))) {
        std::optional<int> index = deviceNodeNumber(rest.substr(last), "-");
        if (!index) {
            return std::nullopt;
        }
        c.type = std::string(rest.substr(0, last));
        c.index = *index;
    }
    return c;
}

}  // namespace

void DrmDisplayList::UdevDeleter::operator()(struct udev* udev) const {
    udev_unref(udev);
}

void DrmDisplayList::UdevDeleter::operator()(struct udev_monitor* monitor) const {
    udev_monitor_unref(monitor);
}

DrmDisplayList::DrmDisplayList(std::filesystem::path drmClassDir) : root_(std::move(drmClassDir)) {}

// The notifier goes before the monitor whose descriptor it watches.
DrmDisplayList::~DrmDisplayList() {
    notifier_.reset();
}

bool DrmDisplayList::isBuiltInConnector(std::string_view connectorName) {
    auto c = parseConnector(connectorName);
    if (!c) {
        return false;
    }
    return c->type == "eDP" || c->type == "LVDS" || c->type == "DSI";
}

std::filesystem::path DrmDisplayList::connectorDir(const DisplayInfo& display) const {
    return root_ / display.id;
}

std::optional<std::vector<DisplayInfo>> DrmDisplayList::activeDisplays() {
    std::error_code error;
    std::vector<ConnectorName> connectors;
    for (std::filesystem::directory_iterator it(root_, error), end; !error && it != end;
         it.increment(error)) {
        if (auto c = parseConnector(it->path().filename().string())) {
            connectors.push_back(*c);
        }
    }
    if (error) {
        return std::nullopt;
    }
    std::sort(connectors.begin(), connectors.end());

    struct Connected {
        const ConnectorName* name;
        std::string enabled;
    };
    std::vector<Connected> connected;
    // Cards whose driver says which outputs it drives. NVIDIA's says "disabled" of every one,
    // driven or not: there, as where the attribute is missing, every connected output counts.
    std::set<int> reporting;
    for (const auto& c : connectors) {
        auto dir = root_ / c.whole;
        if (readText(dir / "status") != "connected") {
            continue;
        }
        std::string enabled = readText(dir / "enabled");
        if (enabled == "enabled") {
            reporting.insert(c.card);
        }
        connected.push_back({&c, std::move(enabled)});
    }

    std::vector<DisplayInfo> displays;
    for (const auto& [name, enabled] : connected) {
        const ConnectorName& c = *name;
        auto dir = root_ / c.whole;
        if (!enabled.empty() && enabled != "enabled" && reporting.contains(c.card)) {
            continue;
        }
        DisplayInfo info;
        info.id = c.whole;
        info.builtIn = isBuiltInConnector(c.whole);
        if (auto edid = parseEdid(readEdidFile(dir / "edid", 256))) {
            info.vendor = edid->vendor;
            info.model = edid->model;
            info.serial = edid->serial;
            info.name = edid->name;
        }
        displays.push_back(std::move(info));
    }
    return displays;
}

void DrmDisplayList::setChangeHandler(std::function<void(DisplayChange)> handler) {
    handler_ = std::move(handler);
    if (!handler_ || monitor_) {
        return;
    }
    udev_.reset(udev_new());
    if (!udev_) {
        return;
    }
    monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
    if (!monitor_) {
        return;
    }
    udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "drm", nullptr);
    if (udev_monitor_enable_receiving(monitor_.get()) < 0) {
        monitor_.reset();
        return;
    }
    // The descriptor stays the monitor's; the notifier only watches it.
    notifier_ = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_.get()),
                                                  QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { onUdevEvent(); });
}

void DrmDisplayList::onUdevEvent() {
    struct udev_device* device = udev_monitor_receive_device(monitor_.get());
    if (!device) {
        return;
    }
    std::string action = udev_device_get_action(device) ? udev_device_get_action(device) : "";
    udev_device_unref(device);
    std::optional<DisplayChange> change;
    if (action == "add") {
        change = DisplayChange::added;
    } else if (action == "remove") {
        change = DisplayChange::removed;
    } else if (action == "change") {
        // A hotplug "change" on the card says only that some connector changed.
        change = DisplayChange::changed;
    }
    if (change && handler_) {
        handler_(*change);
    }
}

}  // namespace pellora
