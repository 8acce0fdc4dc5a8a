#include "platform/usb/device_io.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/log.h"
#include "platform/usb/device_file.h"
#include "platform/usb/device_path.h"
#include "platform/usb/socket_link_provider.h"
#include "platform/usb/usb_device.h"

namespace quorix::platform::usb {

namespace {

// The driver's process-wide state: the devices that have open handles, so every handle on a
// device shares its link and its list of unfinished transfers, and the provider of the emulator
// daemon's directory while QUORIX_SIM_DIR names one.
class Driver {
public:
    // The registered providers in registration order, then the emulator daemon's.
    std::vector<std::shared_ptr<UsbLinkProvider>> ActiveProviders() {
        std::vector<std::shared_ptr<UsbLinkProvider>> providers = Providers();
        if (std::shared_ptr<UsbLinkProvider> emulated = DaemonProvider())
            providers.push_back(std::move(emulated));
        return providers;
    }

    // The device at `path` with its link open; null when no active provider lists it now or its
    // link does not open.
    std::shared_ptr<UsbDevice> OpenDevice(const std::string& path) {
        const std::vector<std::shared_ptr<UsbLinkProvider>> providers = ActiveProviders();
        std::lock_guard lock(m_devicesMutex);
        std::erase_if(m_devices, [](const auto& entry) { return entry.second.expired(); });

        // A device already open is still listed as long as its provider is active and its link
        // connected: a replugged device comes back under a new path, and the old link stays
        // disconnected. This spares a bus enumeration for each request on a fresh handle.
        if (auto found = m_devices.find(path); found != m_devices.end()) {
            std::shared_ptr<UsbDevice> device = found->second.lock();
            if (device &&
                std::find(providers.begin(), providers.end(), device->Provider()) !=
                    providers.end() &&
                device->Link().IsConnected())
                return device;
        }

        for (const auto& provider : providers) {
            for (const LinkDescriptor& present : provider->Enumerate()) {
                if (FormatDevicePath(present) != path)
                    continue;
                std::shared_ptr<UsbLink> link = provider->Open(present.instanceId);
                if (!link || !link->IsConnected()) {
                    Log("Usb", "%s is listed but its link does not open", path.c_str());
                    return nullptr;
                }
                auto device = std::make_shared<UsbDevice>(path, provider, std::move(link));
                m_devices[path] = device;
                return device;
            }
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

    std::mutex m_devicesMutex;
    std::map<std::string, std::weak_ptr<UsbDevice>> m_devices;
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
    for (const auto& provider : TheDriver().ActiveProviders())
        for (const LinkDescriptor& present : provider->Enumerate())
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
