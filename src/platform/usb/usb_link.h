#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/guid.h"

namespace quorix::platform::usb {

// The setup packet of a control transfer on endpoint 0.
struct SetupPacket {
    // Bit 7: device-to-host; bits 5-6: type (2 = vendor); bits 0-4: recipient.
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;  // bytes of the data stage
};

// Bulk endpoint addresses: 0x01-0x0F (out) and 0x81-0x8F (in); endpoint 0 carries control
// transfers only.
constexpr bool IsBulkEndpoint(uint8_t endpoint) {
    return (endpoint & 0x0F) != 0 && (endpoint & 0x70) == 0;
}

enum class TransferResult {
    kCompleted,     // data moved; a bulk-in transfer may complete short
    kStalled,       // the device refused the request
    kCancelled,     // aborted by AbortPipe (or the token) while pending
    kDisconnected,  // the device is gone
    kError,         // anything else
};

// Lets another thread end a pending bulk transfer. The link installs a waker while it blocks, so
// Cancel reaches it at once; a transfer started with an already cancelled token ends at once.
// Owned by whoever issues the transfer (the driver keeps one per request); a cancel is final.
class CancelToken {
public:
    void Cancel();
    bool IsCancelled() const;
    // Called by links: `waker` runs (once) when Cancel is called while it is installed, and at
    // once when the token is already cancelled, so a link that waits only for its waker cannot
    // miss a cancel. The waker runs on the cancelling thread without the token's lock held; it
    // should only signal the waiting link.
    void SetWaker(std::function<void()> waker);
    // Uninstalls the waker; if it is running on another thread, returns only once it has
    // finished, so the link may free what the waker touches. Call it without holding a lock
    // that the waker takes.
    void ClearWaker();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wakerDone;
    bool m_cancelled = false;
    bool m_wakerRunning = false;
    std::function<void()> m_waker;
};

// One USB device as the host's driver sees it: endpoint 0 and the bulk endpoints. Implemented by
// the camera emulator (in-process), by the client of an emulator daemon's socket, and later by
// libusb for real cameras. All operations may be called from any thread; bulk transfers on
// different endpoints run concurrently.
class UsbLink {
public:
    virtual ~UsbLink() = default;

    // Control transfer. For device-to-host requests `data` has room for setup.length bytes and
    // receives the reply; for host-to-device requests it holds setup.length payload bytes.
    // `transferred` receives the bytes of the data stage actually moved.
    virtual TransferResult ControlTransfer(const SetupPacket& setup, uint8_t* data,
                                           size_t* transferred) = 0;

    // Bulk transfer on `endpoint` (bit 7 set: in). Blocks until the transfer completes, the
    // device stalls or goes away, or `cancel` is cancelled. An in-transfer completes with fewer
    // than `length` bytes when the device ends its data with a short packet. A cancel or an
    // unplug must end a blocked transfer promptly (kCancelled, kDisconnected): the driver's
    // abort and the closing of a handle wait for it.
    virtual TransferResult BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length,
                                        size_t* transferred, CancelToken& cancel) = 0;

    virtual bool ResetPipe(uint8_t endpoint) = 0;
    virtual bool ResetDevice() = 0;
    // The driver's speed word: 4 = SuperSpeed, 3 = high speed, 2 = full speed.
    virtual uint32_t DeviceSpeed() = 0;
    // False once the device was unplugged, for good: a replugged device is a new link. The
    // driver reuses an open device's link for a new handle only while this is true.
    virtual bool IsConnected() const = 0;
};

// One device interface a provider offers.
struct LinkDescriptor {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string instanceId;  // unique per plug-in: a replugged device gets a new one
    Guid interfaceClass{};
};

// A source of USB links: the in-process emulator, an emulator daemon, real hardware.
class UsbLinkProvider {
public:
    virtual ~UsbLinkProvider() = default;
    // The devices present now.
    virtual std::vector<LinkDescriptor> Enumerate() = 0;
    // Opens the device with this instance id; null when it is not present.
    virtual std::shared_ptr<UsbLink> Open(const std::string& instanceId) = 0;
};

// The process-wide list of providers the driver enumerates, in registration order. Registering a
// provider twice lists it once. Thread-safe.
void RegisterProvider(const std::shared_ptr<UsbLinkProvider>& provider);
void UnregisterProvider(const std::shared_ptr<UsbLinkProvider>& provider);
std::vector<std::shared_ptr<UsbLinkProvider>> Providers();

}  // namespace quorix::platform::usb
