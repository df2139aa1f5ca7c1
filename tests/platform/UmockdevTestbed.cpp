#include "UmockdevTestbed.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace pellora::test {

namespace {

constexpr char kAddressKey[] = "pellora-i2c-address";
constexpr unsigned kMaxMessages = 42;  // the kernel's I2C_RDWR_IOCTL_MAX_MSGS

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

// Drops the reference umockdev_ioctl_data_resolve hands over.
struct DataRef {
    UMockdevIoctlData* data = nullptr;
    ~DataRef() {
        if (data) {
            g_object_unref(data);
        }
    }
};

int clientAddress(UMockdevIoctlClient* client) {
    // Stored plus one, so that "never set" reads as -1 like a fresh descriptor's.
    return GPOINTER_TO_INT(g_object_get_data(G_OBJECT(client), kAddressKey)) - 1;
}

}  // namespace

struct UmockdevTestbed::Adapter {
    std::shared_ptr<SimulatedMonitor> monitor;
    UMockdevIoctlBase* handler = nullptr;
    mutable std::mutex mutex;
    Traffic traffic;
    int limit = -1;

    // A read of `length` bytes at `address` into `out`; the count moved, or -errno.
    long readAt(int address, std::uint8_t* out, std::size_t length) {
        std::lock_guard lock(mutex);
        ++traffic.reads;
        ++traffic.transfersByAddress[std::uint8_t(address)];
        if (!monitor || address < 0) {
            return -ENXIO;
        }
        SimulatedMonitor::ReadResult result = monitor->read(std::uint8_t(address), length);
        if (result.status != 0) {
            return -result.status;
        }
        std::size_t n = std::min(length, result.bytes.size());
        if (limit >= 0) {
            n = std::min<std::size_t>(n, limit);
        }
        std::copy_n(result.bytes.begin(), n, out);
        return long(n);
    }

    long writeAt(int address, const std::uint8_t* bytes, std::size_t length) {
        std::lock_guard lock(mutex);
        ++traffic.writes;
        ++traffic.transfersByAddress[std::uint8_t(address)];
        if (!monitor || address < 0) {
            return -ENXIO;
        }
        std::size_t n = limit >= 0 ? std::min<std::size_t>(length, limit) : length;
        int status = monitor->onWrite(std::uint8_t(address), std::span(bytes, n));
        return status != 0 ? -status : long(n);
    }

    void complete(UMockdevIoctlClient* client, long result) {
        if (result < 0) {
            umockdev_ioctl_client_complete(client, -1, int(-result));
        } else {
            umockdev_ioctl_client_complete(client, result, 0);
        }
    }

    long combinedTransfer(UMockdevIoctlClient* client) {
        GError* error = nullptr;
        DataRef request{umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                    sizeof(i2c_rdwr_ioctl_data), &error)};
        if (!request.data) {
            g_clear_error(&error);
            return -EFAULT;
        }
        unsigned count = reinterpret_cast<i2c_rdwr_ioctl_data*>(request.data->data)->nmsgs;
        if (count == 0 || count > kMaxMessages) {
            return -EINVAL;
        }
        DataRef messages{umockdev_ioctl_data_resolve(
            request.data, offsetof(i2c_rdwr_ioctl_data, msgs), count * sizeof(i2c_msg), &error)};
        if (!messages.data) {
            g_clear_error(&error);
            return -EFAULT;
        }
        for (unsigned i = 0; i < count; ++i) {
            i2c_msg message = reinterpret_cast<i2c_msg*>(messages.data->data)[i];
            DataRef buffer{umockdev_ioctl_data_resolve(
                messages.data, i * sizeof(i2c_msg) + offsetof(i2c_msg, buf), message.len, &error)};
            if (message.len > 0 && !buffer.data) {
                g_clear_error(&error);
                return -EFAULT;
            }
            std::uint8_t* bytes = buffer.data ? buffer.data->data : nullptr;
            long moved = (message.flags & I2C_M_RD) ? readAt(message.addr, bytes, message.len)
                                                    : writeAt(message.addr, bytes, message.len);
            if (moved < 0) {
                return moved;
            }
            if (moved != long(message.len)) {
                return -EIO;
            }
        }
        return long(count);
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto* adapter = static_cast<Adapter*>(self);
        unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (request) {
            case I2C_SLAVE:
            case I2C_SLAVE_FORCE: {
                unsigned long address = *reinterpret_cast<unsigned long*>(arg->data);
                {
                    std::lock_guard lock(adapter->mutex);
                    ++adapter->traffic.addressSelects;
                    adapter->traffic.forcedSelects += request == I2C_SLAVE_FORCE;
                }
                if (address > 0x7F) {
                    adapter->complete(client, -EINVAL);
                    break;
                }
                g_object_set_data(G_OBJECT(client), kAddressKey, GINT_TO_POINTER(int(address) + 1));
                adapter->complete(client, 0);
                break;
            }
            case I2C_FUNCS: {
                GError* error = nullptr;
                DataRef funcs{umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned long), &error)};
                if (!funcs.data) {
                    g_clear_error(&error);
                    adapter->complete(client, -EFAULT);
                    break;
                }
                *reinterpret_cast<unsigned long*>(funcs.data->data) = I2C_FUNC_I2C;
                adapter->complete(client, 0);
                break;
            }
            case I2C_TIMEOUT:
            case I2C_RETRIES:
                adapter->complete(client, 0);
                break;
            case I2C_RDWR: {
                {
                    std::lock_guard lock(adapter->mutex);
                    ++adapter->traffic.combinedTransfers;
                }
                adapter->complete(client, adapter->combinedTransfer(client));
                break;
            }
            default: {
                std::lock_guard lock(adapter->mutex);
                ++adapter->traffic.unknownIoctls;
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                break;
            }
        }
        return TRUE;
    }

    static gboolean onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto* adapter = static_cast<Adapter*>(self);
        UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
        adapter->complete(client, adapter->readAt(clientAddress(client), buffer->data,
                                                  std::size_t(buffer->data_len)));
        return TRUE;
    }

    static gboolean onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        auto* adapter = static_cast<Adapter*>(self);
        UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
        adapter->complete(client, adapter->writeAt(clientAddress(client), buffer->data,
                                                   std::size_t(buffer->data_len)));
        return TRUE;
    }

    static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
        auto* adapter = static_cast<Adapter*>(self);
        std::lock_guard lock(adapter->mutex);
        ++adapter->traffic.opens;
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
    gchar* dir = umockdev_testbed_get_root_dir(testbed_);
    std::filesystem::path path(dir);
    g_free(dir);
    return path;
}

static void addFromString(UMockdevTestbed* testbed, const std::string& description) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev rejected a device: " + message);
    }
}

std::string UmockdevTestbed::addCard(int card) {
    std::string path = "/devices/pci0000:00/0000:00:02.0/drm/card" + std::to_string(card);
    addFromString(testbed_,
                  "P: " + path +
                      "\nE: SUBSYSTEM=drm\nE: DEVTYPE=drm_minor\nE: DEVNAME=/dev/dri/card" +
                      std::to_string(card) + "\nA: dev=226:" + std::to_string(card) + "\\n\n");
    return "/sys" + path;
}

std::string UmockdevTestbed::addConnector(const std::string& card, const std::string& name,
                                          const std::string& status, const std::string& enabled,
                                          const std::vector<std::uint8_t>& edid) {
    std::string path = card.substr(4) + "/" + name;
    std::string description = "P: " + path + "\nE: SUBSYSTEM=drm\nE: DEVTYPE=drm_connector\n" +
                              "A: status=" + status + "\\n\nA: enabled=" + enabled + "\\n\n";
    if (!edid.empty()) {
        description += "H: edid=" + hex(edid) + "\n";
    }
    addFromString(testbed_, description);
    return "/sys" + path;
}

std::string UmockdevTestbed::addI2cBus(int bus, const std::string& name, const std::string& parent,
                                       std::shared_ptr<SimulatedMonitor> monitor, bool devNode) {
    const std::string n = std::to_string(bus);
    std::string adapterPath = parent.substr(4) + "/i2c-" + n;
    std::string description = "P: " + adapterPath + "\nE: SUBSYSTEM=i2c\nA: name=" + name + "\\n\n";
    if (devNode) {
        description += "\nP: " + adapterPath + "/i2c-dev/i2c-" + n + "\nN: i2c-" + n +
                       "\nE: SUBSYSTEM=i2c-dev\nE: DEVNAME=/dev/i2c-" + n + "\nA: dev=89:" + n +
                       "\\n\nA: name=" + name + "\\n\n";
    }
    addFromString(testbed_, description);

    auto adapter = std::make_unique<Adapter>();
    adapter->monitor = std::move(monitor);
    if (devNode) {
        adapter->handler = umockdev_ioctl_base_new();
        g_signal_connect(adapter->handler, "handle-ioctl", G_CALLBACK(Adapter::onIoctl),
                         adapter.get());
        g_signal_connect(adapter->handler, "handle-read", G_CALLBACK(Adapter::onRead),
                         adapter.get());
        g_signal_connect(adapter->handler, "handle-write", G_CALLBACK(Adapter::onWrite),
                         adapter.get());
        g_signal_connect(adapter->handler, "client-connected", G_CALLBACK(Adapter::onConnected),
                         adapter.get());
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed_, ("/dev/i2c-" + n).c_str(), adapter->handler,
                                           &error)) {
            std::string message = error ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("umockdev cannot emulate /dev/i2c-" + n + ": " + message);
        }
    }
    adapters_[bus] = std::move(adapter);
    return "/sys" + adapterPath;
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

void UmockdevTestbed::limitTransfers(int bus, int bytes) {
    auto it = adapters_.find(bus);
    if (it != adapters_.end()) {
        std::lock_guard lock(it->second->mutex);
        it->second->limit = bytes;
    }
}

}  // namespace pellora::test
