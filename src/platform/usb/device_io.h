#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/guid.h"

namespace quorix::platform::usb {

// The user-space driver of the camera's USB interface. It takes the I/O control requests of the
// camera's kernel driver interface, with their 38-byte transfer request header, and carries them
// out as control and bulk transfers on the USB link of the opened device.

// I/O control codes (device type 0x22).
inline constexpr uint32_t kIoctlControlTransfer = 0x220020;   // 102-byte request buffer in/out
inline constexpr uint32_t kIoctlBufferedTransfer = 0x220024;  // header + data in/out
inline constexpr uint32_t kIoctlResetPipe = 0x22002C;         // 1 byte in: endpoint address
inline constexpr uint32_t kIoctlResetDevice = 0x220030;
inline constexpr uint32_t kIoctlAbortPipe = 0x220044;       // 1 byte in: endpoint address
inline constexpr uint32_t kIoctlDirectTransfer = 0x22004B;  // 38-byte header in, data out
inline constexpr uint32_t kIoctlDeviceSpeed = 0x22004C;     // 4 bytes out: speed word

// Error codes reported through `lastError`, numbered as the camera stack expects them.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoIncomplete = 996;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// Paths of the present device interfaces of a class, in a stable order, of the form
// \\?\usb#vid_04b4&pid_31c0#<instance>#{5d1b7c2e-4a90-4f6b-8e13-9c07a2f4d6b1}
// (vendor ID at character 12, product ID at character 21): one per present device of each
// registered provider, providers in registration order, then the real cameras on the USB buses
// (libusb_link.h), then the cameras of the emulator daemon whose socket directory the environment
// variable QUORIX_SIM_DIR names (read on every call; see socket_link_provider.h). An emulated
// device replugged comes back under a new path; a real camera keeps its path while it stays on
// the same port, and its new link replaces the disconnected one.
std::vector<std::string> EnumerateDeviceInterfaces(const Guid& interfaceClass);

class DeviceFile;

// An open device interface; closes on destruction. Movable, not copyable. Handles on the same
// device share its link and its transfers: an abort through one handle reaches the transfers of
// all. Closing a handle cancels the transfers it issued and returns once they have finished.
class DeviceHandle {
public:
    DeviceHandle() = default;
    DeviceHandle(DeviceHandle&&) noexcept;
    DeviceHandle& operator=(DeviceHandle&&) noexcept;
    ~DeviceHandle();

    // An invalid handle when the path names no present device. A device with handles open, or
    // one the last enumeration listed, is opened without searching the providers again; only a
    // path that is missing there makes the driver enumerate anew.
    static DeviceHandle Open(const std::string& path, bool overlapped);

    bool IsValid() const { return m_file != nullptr; }
    void Close();
    DeviceFile* File() const { return m_file.get(); }

private:
    std::shared_ptr<DeviceFile> m_file;
};

// The state of one overlapped request. The caller provides the event (auto-reset); the driver
// sets it when the request completes. Reusable once the request has completed.
struct Overlapped {
    Event* event = nullptr;
    std::shared_ptr<struct PendingRequest> pending;  // driver-owned
};

// Issues one request. Synchronous (no `overlapped`, or a handle opened without the overlapped
// flag): returns true when it succeeded. Overlapped: returns true when it completed at once, or
// false with *lastError == kErrorIoPending while it runs on; any other failure sets *lastError.
// For transfers the driver writes its status words into the request's 38-byte header.
// Overlapped completion: the driver resets the caller's event when it accepts the request and
// sets it when the request finishes (also when it finished at once). Bulk transfers run on the
// device's worker thread for their endpoint, in order of submission; on an overlapped handle with
// an Overlapped they always return pending. An abort (kIoctlAbortPipe) cancels every unfinished
// transfer on the endpoint, from any handle of the device, and completes once each of them has
// finished with kErrorOperationAborted. Failures: kErrorInvalidHandle (closed or invalid handle),
// kErrorInvalidParameter (unknown code, bad endpoint or header, Overlapped still in use),
// kErrorInsufficientBuffer (buffers too small for the request), kErrorDeviceNotConnected (the
// device was unplugged), kErrorGenFailure (stall or transfer error).
bool DeviceIoControl(const DeviceHandle& handle, uint32_t code, void* in, uint32_t inSize,
                     void* out, uint32_t outSize, uint32_t* bytesReturned, Overlapped* overlapped,
                     uint32_t* lastError);

// The outcome of an overlapped request: false with kErrorIoIncomplete while it still runs and
// `wait` is false; otherwise its result and byte count.
bool GetOverlappedResult(const DeviceHandle& handle, Overlapped& overlapped,
                         uint32_t* bytesReturned, bool wait, uint32_t* lastError);

}  // namespace quorix::platform::usb
