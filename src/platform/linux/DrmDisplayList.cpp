#include "platform/linux/DrmDisplayList.h"

#include <libudev.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>

#include "platform/linux/Edid.h"

namespace pellora {

namespace {

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
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

std::optional<ConnectorName> parseConnector(const std::string& name) {
    static const std::regex pattern(R"(card(\d+)-(.+?)(?:-(\d+))?)");
    std::smatch m;
    if (!std::regex_match(name, m, pattern)) {
        return std::nullopt;
    }
    ConnectorName c;
    c.card = std::stoi(m[1]);
    c.type = m[2];
    c.index = m[3].matched ? std::stoi(m[3]) : 0;
    c.whole = name;
    return c;
}

}  // namespace

DrmDisplayList::DrmDisplayList(std::filesystem::path drmClassDir) : root_(std::move(drmClassDir)) {}

DrmDisplayList::~DrmDisplayList() {
    notifier_.reset();
    if (monitor_) {
        udev_monitor_unref(monitor_);
    }
    if (udev_) {
        udev_unref(udev_);
    }
}

bool DrmDisplayList::isBuiltInConnector(const std::string& connectorName) {
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

    std::vector<DisplayInfo> displays;
    for (const auto& c : connectors) {
        auto dir = root_ / c.whole;
        if (readText(dir / "status") != "connected") {
            continue;
        }
        // Drivers without the attribute drive every connected output.
        std::string enabled = readText(dir / "enabled");
        if (!enabled.empty() && enabled != "enabled") {
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
    udev_ = udev_new();
    if (!udev_) {
        return;
    }
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_) {
        return;
    }
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "drm", nullptr);
    if (udev_monitor_enable_receiving(monitor_) < 0) {
        udev_monitor_unref(monitor_);
        monitor_ = nullptr;
        return;
    }
    notifier_ =
        std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { onUdevEvent(); });
}

void DrmDisplayList::onUdevEvent() {
    struct udev_device* device = udev_monitor_receive_device(monitor_);
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
