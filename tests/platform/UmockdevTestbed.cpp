#include "UmockdevTestbed.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace pellora::test {

namespace {

constexpr char kAddressKey[] = "pellora-i2c-address";

// A piece of the client's memory, copied in, and back out when released.
using Data = std::unique_ptr<UMockdevIoctlData, void (*)(gpointer)>;
Data resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    return Data(umockdev_ioctl_data_resolve(data, offset, length, nullptr), g_object_unref);
}

// `result` is a count, or -errno.
void complete(UMockdevIoctlClient* client, long result) {
    umockdev_ioctl_client_complete(client, std::max(result, -1L), result < 0 ? int(-result) : 0);
}

void add(UMockdevTestbed* testbed, const std::string& description) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev rejected a device: " + message);
    }
}

}  // namespace

struct UmockdevTestbed::Adapter {
    std::shared_ptr<SimulatedMonitor> monitor;
    std::string sysPath;
    // Addresses a kernel driver holds: whether the device answers alongside it.
    std::map<std::uint8_t, bool> held;
    UMockdevIoctlBase* handler = nullptr;
    mutable std::mutex mutex;
    Traffic traffic;
    int limit = -1;

    void count(int& field) {
        std::lock_guard lock(mutex);
        ++field;
    }

    // One transfer at `address` (-1 when none was chosen); the count moved, or -errno.
    long transfer(int address, bool read, std::uint8_t* bytes, std::size_t length) {
        std::lock_guard lock(mutex);
        ++traffic.transfersByAddress[std::uint8_t(address)];
        auto it = held.find(std::uint8_t(address));
        if (!monitor || address < 0 || (it != held.end() && !it->second)) {
            return -ENXIO;
        }
        std::size_t n = limit >= 0 ? std::min<std::size_t>(length, limit) : length;
        if (!read) {
            int status = monitor->onWrite(std::uint8_t(address), std::span(bytes, n));
            return status != 0 ? -status : long(n);
        }
        SimulatedMonitor::ReadResult result = monitor->read(std::uint8_t(address), length);
        if (result.status != 0) {
            return -result.status;
        }
        n = std::min(n, result.bytes.size());
        std::copy_n(result.bytes.begin(), n, bytes);
        return long(n);
    }

    // I2C_RDWR: the messages in turn; a short one fails the call, as in the kernel.
    long combined(UMockdevIoctlData* arg) {
        Data request = resolve(arg, 0, sizeof(i2c_rdwr_ioctl_data));
        if (!request) {
            return -EFAULT;
        }
        unsigned count = reinterpret_cast<i2c_rdwr_ioctl_data*>(request->data)->nmsgs;
        if (count == 0 || count > I2C_RDWR_IOCTL_MAX_MSGS) {
            return -EINVAL;
        }
        Data messages =
            resolve(request.get(), offsetof(i2c_rdwr_ioctl_data, msgs), count * sizeof(i2c_msg));
        if (!messages) {
            return -EFAULT;
        }
        for (unsigned i = 0; i < count; ++i) {
            i2c_msg m = reinterpret_cast<i2c_msg*>(messages->data)[i];
            Data buffer =
                resolve(messages.get(), i * sizeof(i2c_msg) + offsetof(i2c_msg, buf), m.len);
            if (m.len > 0 && !buffer) {
                return -EFAULT;
            }
            long moved =
                transfer(m.addr, m.flags & I2C_M_RD, buffer ? buffer->data : nullptr, m.len);
            if (moved != long(m.len)) {
                return moved < 0 ? moved : -EIO;
            }
        }
        return long(count);
    }

    long ioctl(UMockdevIoctlClient* client) {
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (umockdev_ioctl_client_get_request(client)) {
            case I2C_SLAVE:
            case I2C_SLAVE_FORCE: {
                const bool force = umockdev_ioctl_client_get_request(client) == I2C_SLAVE_FORCE;
                unsigned long address = *reinterpret_cast<unsigned long*>(arg->data);
                std::lock_guard lock(mutex);
                traffic.forcedSelects += force;
                ++traffic.addressSelects;
                if (address > 0x7F) {
                    return -EINVAL;
                }
                if (!force && held.count(std::uint8_t(address)) > 0) {
                    return -EBUSY;
                }
                // Kept plus one, so that "never chosen" reads as -1.
                g_object_set_data(G_OBJECT(client), kAddressKey, GINT_TO_POINTER(address + 1));
                return 0;
            }
            case I2C_FUNCS: {
                Data funcs = resolve(arg, 0, sizeof(unsigned long));
                if (!funcs) {
                    return -EFAULT;
                }
                *reinterpret_cast<unsigned long*>(funcs->data) = I2C_FUNC_I2C;
                return 0;
            }
            case I2C_TIMEOUT:
            case I2C_RETRIES:
                return 0;
            case I2C_RDWR:
                count(traffic.combinedTransfers);
                return combined(arg);
            default:
                return -ENOTTY;
        }
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, Adapter* self) {
        complete(client, self->ioctl(client));
        return TRUE;
    }
    template <bool read>
    static gboolean onData(UMockdevIoctlBase*, UMockdevIoctlClient* client, Adapter* self) {
        UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
        int address = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(client), kAddressKey)) - 1;
        complete(client, self->transfer(address, read, buffer->data, buffer->data_len));
        return TRUE;
    }
    static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, Adapter* self) {
        self->count(self->traffic.opens);
    }
};

UmockdevTestbed::UmockdevTestbed() : testbed_(umockdev_testbed_new()) {}

UmockdevTestbed::~UmockdevTestbed() {
    // The testbed stops its worker thread; only then may the handlers and adapters go.
    for (auto& [bus, adapter] : adapters_) {
        if (adapter->handler) {
            umockdev_testbed_detach_ioctl(testbed_, ("/dev/i2c-" + std::to_string(bus)).c_str(),
                                          nullptr);
        }
    }
    g_object_unref(testbed_);
    for (auto& [bus, adapter] : adapters_) {
        if (adapter->handler) {
            g_signal_handlers_disconnect_by_data(adapter->handler, adapter.get());
            g_object_unref(adapter->handler);
        }
    }
}

bool UmockdevTestbed::preloadActive() {
    // umockdev_in_mock_environment() is false until a testbed exists; ask what was preloaded.
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

std::filesystem::path UmockdevTestbed::root() const {
    g_autofree gchar* dir = umockdev_testbed_get_root_dir(testbed_);
    return dir;
}

std::string UmockdevTestbed::addCard(int card) {
    const std::string n = std::to_string(card);
    const std::string path = "/devices/pci0000:00/0000:00:02.0/drm/card" + n;
    add(testbed_, "P: " + path +
                      "\nE: SUBSYSTEM=drm\nE: DEVTYPE=drm_minor\nE: DEVNAME=/dev/dri/card" + n +
                      "\nA: dev=226:" + n + "\\n\n");
    return "/sys" + path;
}

std::string UmockdevTestbed::addConnector(const std::string& card, const std::string& name,
                                          const std::string& status, const std::string& enabled,
                                          const std::vector<std::uint8_t>& edid) {
    const std::string path = card.substr(4) + "/" + name;
    std::string description = "P: " + path + "\nE: SUBSYSTEM=drm\nE: DEVTYPE=drm_connector\n" +
                              "A: status=" + status + "\\n\nA: enabled=" + enabled + "\\n\n";
    if (!edid.empty()) {
        description += "H: edid=";
        for (std::uint8_t b : edid) {
            description += "0123456789ABCDEF"[b >> 4];
            description += "0123456789ABCDEF"[b & 0x0F];
        }
        description += "\n";
    }
    add(testbed_, description);
    return "/sys" + path;
}

std::string UmockdevTestbed::addI2cBus(int bus, const std::string& name, const std::string& parent,
                                       std::shared_ptr<SimulatedMonitor> monitor, bool devNode) {
    const std::string n = std::to_string(bus);
    const std::string path = parent.substr(4) + "/i2c-" + n;
    std::string description = "P: " + path + "\nE: SUBSYSTEM=i2c\nA: name=" + name + "\\n\n";
    if (devNode) {
        description += "\nP: " + path + "/i2c-dev/i2c-" + n + "\nN: i2c-" + n +
                       "\nE: SUBSYSTEM=i2c-dev\nE: DEVNAME=/dev/i2c-" + n + "\nA: dev=89:" + n +
                       "\\n\nA: name=" + name + "\\n\n";
    }
    add(testbed_, description);

    auto& adapter = adapters_[bus] = std::make_unique<Adapter>();
    adapter->monitor = std::move(monitor);
    adapter->sysPath = "/sys" + path;
    if (devNode) {
        adapter->handler = umockdev_ioctl_base_new();
        for (auto [signal, handler] : {std::pair{"handle-ioctl", G_CALLBACK(Adapter::onIoctl)},
                                       {"handle-read", G_CALLBACK(Adapter::onData<true>)},
                                       {"handle-write", G_CALLBACK(Adapter::onData<false>)},
                                       {"client-connected", G_CALLBACK(Adapter::onConnected)}}) {
            g_signal_connect(adapter->handler, signal, handler, adapter.get());
        }
        if (!umockdev_testbed_attach_ioctl(testbed_, ("/dev/i2c-" + n).c_str(), adapter->handler,
                                           nullptr)) {
            throw std::runtime_error("umockdev cannot emulate /dev/i2c-" + n);
        }
    }
    return "/sys" + path;
}

void UmockdevTestbed::linkDdc(const std::string& connector, const std::string& adapter) {
    umockdev_testbed_set_attribute_link(
        testbed_, connector.c_str(), "ddc",
        std::filesystem::path(adapter).lexically_relative(connector).c_str());
}

void UmockdevTestbed::setAttribute(const std::string& device, const std::string& name,
                                   const std::string& value) {
    umockdev_testbed_set_attribute(testbed_, device.c_str(), name.c_str(), value.c_str());
}

void UmockdevTestbed::uevent(const std::string& device, const std::string& action) {
    umockdev_testbed_uevent(testbed_, device.c_str(), action.c_str());
}

UmockdevTestbed::Traffic UmockdevTestbed::traffic(int bus) const {
    auto it = adapters_.find(bus);
    if (it == adapters_.end()) {
        return {};
    }
    std::lock_guard lock(it->second->mutex);
    return it->second->traffic;
}

void UmockdevTestbed::holdAddress(int bus, std::uint8_t address, const std::string& driver,
                                  bool answersAlongside) {
    Adapter& adapter = *adapters_.at(bus);
    char name[32];
    std::snprintf(name, sizeof name, "%d-%04x", bus, address);
    add(testbed_, "P: " + adapter.sysPath.substr(4) + "/" + name +
                      "\nE: SUBSYSTEM=i2c\nA: name=" + driver + "\\n\n");
    const std::filesystem::path sys = root() / "sys";
    const std::filesystem::path client = sys / adapter.sysPath.substr(5) / name;
    std::filesystem::create_directories(sys / "bus" / "i2c" / "drivers" / driver);
    std::filesystem::create_directory_symlink(
        (sys / "bus" / "i2c" / "drivers" / driver).lexically_relative(client), client / "driver");
    // Where the kernel lists its I2C devices, the adapter among them.
    const std::filesystem::path listed =
        sys / "bus" / "i2c" / "devices" / ("i2c-" + std::to_string(bus));
    std::filesystem::create_directories(listed.parent_path());
    if (!std::filesystem::exists(std::filesystem::symlink_status(listed))) {
        std::filesystem::create_directory_symlink(
            (sys / adapter.sysPath.substr(5)).lexically_relative(listed.parent_path()), listed);
    }
    std::lock_guard lock(adapter.mutex);
    adapter.held[address] = answersAlongside;
}

void UmockdevTestbed::limitTransfers(int bus, int bytes) {
    Adapter& adapter = *adapters_.at(bus);
    std::lock_guard lock(adapter.mutex);
    adapter.limit = bytes;
}

}  // namespace pellora::test
