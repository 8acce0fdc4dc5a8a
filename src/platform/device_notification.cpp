#include "platform/device_notification.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/log.h"
#include "platform/usb/device_path.h"
#include "platform/usb/libusb_link.h"

namespace quorix::platform {

namespace {

struct Registration {
    WindowHandle window;
    Guid interfaceClass;
};

struct Notifications {
    std::mutex mutex;
    std::vector<Registration> registrations;
    // Records handed out, never changed or freed: an application may read one whenever it takes
    // the message, however late.
    std::map<std::pair<bool, std::string>, std::unique_ptr<DeviceInterfaceRecord>> records;
    std::once_flag watching;
};

// Never destroyed: the hot-plug thread may post while the process exits.
Notifications& TheNotifications() {
    static auto* notifications = new Notifications();
    return *notifications;
}

}  // namespace

bool RegisterDeviceInterfaceNotification(WindowHandle window, const Guid& interfaceClass) {
    if (window == 0)
        return false;
    Notifications& notifications = TheNotifications();
    {
        std::lock_guard lock(notifications.mutex);
        const bool known =
            std::any_of(notifications.registrations.begin(), notifications.registrations.end(),
                        [&](const Registration& r) {
                            return r.window == window && r.interfaceClass == interfaceClass;
                        });
        if (!known)
            notifications.registrations.push_back({window, interfaceClass});
    }
    std::call_once(notifications.watching, [] {
        if (const auto provider = usb::LibusbProvider::Instance()) {
            provider->SetHotplugListener([](bool arrived, const usb::LinkDescriptor& device) {
                PostDeviceInterfaceChange(arrived, usb::FormatDevicePath(device),
                                          device.interfaceClass);
            });
            if (!provider->HotplugSupported())
                Log("Usb", "libusb reports no hot-plug support: no device-change messages");
        }
    });
    return true;
}

void PostDeviceInterfaceChange(bool arrived, const std::string& path, const Guid& interfaceClass) {
    constexpr size_t kHeaderBytes = offsetof(DeviceInterfaceRecord, name);
    if (path.size() >= kDeviceNameCapacity) {
        Log("Usb", "device path of %zu characters not posted", path.size());
        return;
    }
    Notifications& notifications = TheNotifications();
    std::vector<WindowHandle> windows;
    const DeviceInterfaceRecord* record = nullptr;
    {
        std::lock_guard lock(notifications.mutex);
        std::erase_if(notifications.registrations,
                      [](const Registration& r) { return !IsWindow(r.window); });
        for (const Registration& registration : notifications.registrations)
            if (registration.interfaceClass == interfaceClass)
                windows.push_back(registration.window);
        if (windows.empty())
            return;
        std::unique_ptr<DeviceInterfaceRecord>& slot = notifications.records[{arrived, path}];
        if (!slot) {
            slot = std::make_unique<DeviceInterfaceRecord>();
            std::memset(slot.get(), 0, sizeof *slot);
            slot->size = static_cast<uint32_t>(kHeaderBytes + path.size() + 1);
            slot->deviceType = kDeviceTypeInterface;
            slot->interfaceClass = interfaceClass;
            std::memcpy(slot->name, path.c_str(), path.size() + 1);
        }
        record = slot.get();
    }
    for (const WindowHandle window : windows)
        PostMessage(window, kMsgDeviceChange, arrived ? kDeviceArrival : kDeviceRemoveComplete,
                    reinterpret_cast<intptr_t>(record));
}

}  // namespace quorix::platform
