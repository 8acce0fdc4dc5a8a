#pragma once

#include <cstdint>
#include <string>

#include "platform/guid.h"
#include "platform/message_window.h"

namespace quorix::platform {

// Device-change notices: a camera of a registered interface class arrived or was removed.
// Posted as kMsgDeviceChange with wParam kDeviceArrival or kDeviceRemoveComplete and lParam the
// address of a DeviceInterfaceRecord naming the device path (the public header's
// QUORIX_MSG_DEVICE_CHANGE and QuorixDeviceInterface).
inline constexpr uint32_t kMsgDeviceChange = 0x0219;
inline constexpr uintptr_t kDeviceArrival = 0x8000;
inline constexpr uintptr_t kDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kDeviceTypeInterface = 5;
inline constexpr size_t kDeviceNameCapacity = 256;

struct DeviceInterfaceRecord {
    uint32_t size;        // bytes of the record up to and including the name's terminating zero
    uint32_t deviceType;  // kDeviceTypeInterface
    uint32_t reserved;    // 0
    Guid interfaceClass;
    char name[kDeviceNameCapacity];  // the device path, zero-terminated
};
static_assert(sizeof(DeviceInterfaceRecord) == 284);

// Asks for camera arrival and removal notices of one interface class to be posted to a window,
// and starts the watch of the USB buses (libusb's hot-plug events on a thread of the library)
// that produces them. A window registered twice for a class gets each notice once; a window
// that was destroyed is dropped from the list at the next notice. The notices go to the
// application's window as they happen; nothing in the SDK consumes them. Always succeeds for a
// window other than 0.
bool RegisterDeviceInterfaceNotification(WindowHandle window, const Guid& interfaceClass);

// Posts one notice to every window registered for `interfaceClass`. The record each message
// points to belongs to the library and stays valid, unchanged, for the life of the process (one
// record per path and kind of change). A path too long for the record is not posted.
void PostDeviceInterfaceChange(bool arrived, const std::string& path, const Guid& interfaceClass);

}  // namespace quorix::platform
