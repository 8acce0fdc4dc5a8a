#include "platform/usb/device_io.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

#include "platform/log.h"
#include "platform/usb/device_file.h"
#include "platform/usb/device_path.h"
#include "platform/usb/libusb_link.h"
#include "platform/usb/socket_link_provider.h"
#include "platform/usb/usb_device.h"

namespace quorix::platform::usb {

namespace {

// The driver's process-wide state: the devices that have open handles, so every handle on a
// device shares its link and its list of unfinished transfers, and the provider of the emulator
// daemon's directory while QUORIX_SIM_DIR names one.
class Driver {
public:
    // The registered providers in registration order, then the real cameras on the USB buses,
    // then the emulator daemon's.
    std::vector<std::shared_ptr<UsbLinkProvider>> ActiveProviders() {
        std::vector<std::shared_ptr<UsbLinkProvider>> providers = Providers();
        if (std::shared_ptr<UsbLinkProvider> hardware = LibusbProvider::Instance())
            providers.push_back(std::move(hardware));
        if (std::shared_ptr<UsbLinkProvider> emulated = DaemonProvider())
            providers.push_back(std::move(emulated));
        return providers;
    }

    // The present devices of every active provider; remembers which provider offers each path,
    // so that opening it later needs no new search.
    std::vector<LinkDescriptor> Discover() {
        std::vector<LinkDescriptor> present;
        std::map<std::string, KnownDevice> known;
        for (const auto& provider : ActiveProviders()) {
            for (LinkDescriptor& device : provider->Enumerate()) {
                known[FormatDevicePath(device)] = {provider, device.instanceId};
                present.push_back(std::move(device));
            }
        }
        std::lock_guard lock(m_knownMutex);
        m_known = std::move(known);
        return present;
    }

    // The device at `path` with its link open; null when no active provider lists it now or its
    // link does not open.
    std::shared_ptr<UsbDevice> OpenDevice(const std::string& path) {
        const std::vector<std::shared_ptr<UsbLinkProvider>> providers = ActiveProviders();
        std::lock_guard lock(m_devicesMutex);
        std::erase_if(m_devices, [](const auto& entry) { return entry.second.expired(); });
        const auto active = [&](const std::shared_ptr<UsbLinkProvider>& provider) {
            return provider &&
                   std::find(providers.begin(), providers.end(), provider) != providers.end();
        };

        // A device already open is still listed as long as its provider is active and its link
        // connected: a replugged device comes back under a new path, and the old link stays
        // disconnected. This spares a bus enumeration for each request on a fresh handle.
        if (auto found = m_devices.find(path); found != m_devices.end()) {
            std::shared_ptr<UsbDevice> device = found->second.lock();
            if (device && active(device->Provider()) && device->Link().IsConnected())
                return device;
        }

        // A device found by an earlier search is opened at its provider directly: the cost of a
        // request must not grow with what else the providers could list. Only a device that is
        // missing there, or was never seen, makes the driver search again.
        if (const std::optional<KnownDevice> known = Known(path); known) {
            const std::shared_ptr<UsbLinkProvider> provider = known->provider.lock();
            if (active(provider)) {
                if (std::shared_ptr<UsbDevice> device = OpenAt(path, provider, known->instanceId))
                    return device;
            }
        }
        for (const LinkDescriptor& present : Discover()) {
            if (FormatDevicePath(present) != path)
                continue;
            const std::optional<KnownDevice> known = Known(path);
            const std::shared_ptr<UsbLinkProvider> provider =
                known ? known->provider.lock() : nullptr;
            if (!active(provider))
                return nullptr;
            std::shared_ptr<UsbDevice> device = OpenAt(path, provider, present.instanceId);
            if (!device)
                Log("Usb", "%s is listed but its link does not open", path.c_str());
            return device;
        }
        return nullptr;
    }

private:
    std::shared_ptr<UsbLinkProvider> DaemonProvider() {
        // Read on every call, so a test or tool can point the SDK at a daemon while it runs.
        // An application that changes its environment while other threads run races with every
        // library that reads it; the SDK cannot guard against that.
        const char* directory = std::getenv("QUORIX_SIM_DIR");  // NOLINT(concurrency-mt-unsafe)
        struct stat info {};
        if (directory == nullptr || *directory == '\0' || stat(directory, &info) != 0 ||
            !S_ISDIR(info.st_mode))
            return nullptr;
        std::lock_guard lock(m_daemonMutex);
        if (!m_daemon || m_daemon->Directory() != directory)
            m_daemon = std::make_shared<SocketLinkProvider>(directory);
        return m_daemon;
    }

    struct KnownDevice {
        std::weak_ptr<UsbLinkProvider> provider;
        std::string instanceId;
    };

    std::optional<KnownDevice> Known(const std::string& path) {
        std::lock_guard lock(m_knownMutex);
        const auto found = m_known.find(path);
        if (found == m_known.end())
            return std::nullopt;
        return found->second;
    }

    // Opens the link and enters the device; call with m_devicesMutex held.
    std::shared_ptr<UsbDevice> OpenAt(const std::string& path,
                                      const std::shared_ptr<UsbLinkProvider>& provider,
                                      const std::string& instanceId) {
        std::shared_ptr<UsbLink> link = provider->Open(instanceId);
        if (!link || !link->IsConnected())
            return nullptr;
        auto device = std::make_shared<UsbDevice>(path, provider, std::move(link));
        m_devices[path] = device;
        return device;
    }

    std::mutex m_devicesMutex;
    std::map<std::string, std::weak_ptr<UsbDevice>> m_devices;
    std::mutex m_knownMutex;
    std::map<std::string, KnownDevice> m_known;  // path -> where the last search found it
    std::mutex m_daemonMutex;
    std::shared_ptr<SocketLinkProvider> m_daemon;
};

Driver& TheDriver() {
    static Driver driver;
    return driver;
}

}  // namespace

std::vector<std::string> EnumerateDeviceInterfaces(const Guid& interfaceClass) {
    std::vector<std::string> paths;
    for (const LinkDescriptor& present : TheDriver().Discover())
        if (present.interfaceClass == interfaceClass)
            paths.push_back(FormatDevicePath(present));
    return paths;
}

DeviceHandle::DeviceHandle(DeviceHandle&& other) noexcept : m_file(std::move(other.m_file)) {}

DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
    if (this != &other) {
        Close();
        m_file = std::move(other.m_file);
    }
    return *this;
}

DeviceHandle::~DeviceHandle() {
    Close();
}

DeviceHandle DeviceHandle::Open(const std::string& path, bool overlapped) {
    DeviceHandle handle;
    if (std::shared_ptr<UsbDevice> device = TheDriver().OpenDevice(path))
        handle.m_file = std::make_shared<DeviceFile>(std::move(device), overlapped);
    return handle;
}

void DeviceHandle::Close() {
    if (m_file) {
        m_file->Close();
        m_file.reset();
    }
}

bool DeviceIoControl(const DeviceHandle& handle, uint32_t code, void* in, uint32_t inSize,
                     void* out, uint32_t outSize, uint32_t* bytesReturned, Overlapped* overlapped,
                     uint32_t* lastError) {
    uint32_t ignoredError = 0;
    if (lastError == nullptr)
        lastError = &ignoredError;
    if (bytesReturned != nullptr)
        *bytesReturned = 0;
    if (!handle.IsValid()) {
        *lastError = kErrorInvalidHandle;
        return false;
    }
    try {
        return handle.File()->IoControl(code, in, inSize, out, outSize, bytesReturned, overlapped,
                                        lastError);
    } catch (...) {
        // Out of memory or threads: the request was not accepted.
        *lastError = kErrorGenFailure;
        return false;
    }
}

bool GetOverlappedResult(const DeviceHandle& handle, Overlapped& overlapped,
                         uint32_t* bytesReturned, bool wait, uint32_t* lastError) {
    uint32_t ignoredError = 0;
    if (lastError == nullptr)
        lastError = &ignoredError;
    if (bytesReturned != nullptr)
        *bytesReturned = 0;
    if (!handle.IsValid()) {
        *lastError = kErrorInvalidHandle;
        return false;
    }
    const std::shared_ptr<PendingRequest> request = overlapped.pending;
    if (!request) {
        *lastError = kErrorInvalidParameter;
        return false;
    }
    if (!request->IsFinished()) {
        if (!wait) {
            *lastError = kErrorIoIncomplete;
            return false;
        }
        request->WaitFinished();
    }
    const PendingRequest::Outcome outcome = request->Result();
    if (bytesReturned != nullptr)
        *bytesReturned = outcome.bytes;
    *lastError = outcome.error;
    return outcome.ok;
}

}  // namespace quorix::platform::usb
