#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

// Real cameras through libusb-1.0 (usbfs): the provider lists the cameras of this model on the
// USB buses and opens links to them; the driver consults it after the registered providers.
//
// Cameras: product ID 0x31C0 with a vendor ID from the accepted list, 0x04B4 unless the
// environment variable QUORIX_USB_VENDOR_IDS adds more (comma- or space-separated hex IDs, with
// or without 0x, e.g. "0x1d6b,04b5"; read on every enumeration). Each camera is listed under the
// instance ID "<bus>-<port path>" (as "2-1.4": bus 2, port 4 of the hub on port 1), so its device
// path stays the same while it stays on the same port, also across a replug.
//
// Opening claims interface 0. A camera whose interface another process has claimed fails to
// open with a line on stderr that says so (the driver's open then fails: an invalid handle, code
// 6); a device node the user may not open fails with a line naming the node and the udev rule
// (70-quorix.rules) that grants access. Both lines are written whatever QUORIX_LOG says, once per
// camera and cause until it opens again.
//
// Bulk transfers use libusb's asynchronous API: a transfer is cut into pieces of
// QUORIX_USB_TRANSFER_KIB KiB (default 128), of which up to QUORIX_USB_TRANSFERS (default 4)
// are in flight at once. The kernel admits at most usbfs_memory_mb MiB (16 by default, read from
// /sys/module/usbcore/parameters/usbfs_memory_mb) of transfer memory in flight across all its
// users; the provider keeps its own transfers inside that budget, and a setting whose pieces in
// flight exceed it makes every open fail with a line that says which setting to lower. Receives
// wait without a time limit (the driver's own time-outs abort them through the cancel token);
// sends and control transfers give up after kSendTimeoutMs.
//
// Hot-plug: on systems where libusb watches the buses, a thread of the provider runs libusb's
// events and reports arrivals and removals of cameras of this model to the listener (the device
// notifications). A removal also ends the transfers of that camera's links as disconnected.
class LibusbProvider final : public UsbLinkProvider {
public:
    static constexpr uint16_t kProductId = 0x31C0;
    static constexpr uint16_t kDefaultVendorId = 0x04B4;
    static constexpr const char* kVendorIdsVariable = "QUORIX_USB_VENDOR_IDS";
    static constexpr const char* kTransferKibVariable = "QUORIX_USB_TRANSFER_KIB";
    static constexpr const char* kTransfersVariable = "QUORIX_USB_TRANSFERS";
    static constexpr size_t kDefaultTransferBytes = size_t{128} << 10;
    static constexpr size_t kDefaultTransfers = 4;
    static constexpr size_t kDefaultBudgetBytes = size_t{16} << 20;
    static constexpr unsigned kSendTimeoutMs = 5000;

    // The process's provider, made on first use; null when libusb cannot start (no USB
    // subsystem), which is logged once.
    static std::shared_ptr<LibusbProvider> Instance();

    ~LibusbProvider() override;
    LibusbProvider(const LibusbProvider&) = delete;
    LibusbProvider& operator=(const LibusbProvider&) = delete;

    std::vector<LinkDescriptor> Enumerate() override;
    std::shared_ptr<UsbLink> Open(const std::string& instanceId) override;

    // Called on the provider's event thread for every arrival (true) and removal (false) of a
    // camera of this model. One listener; null removes it.
    using HotplugListener = std::function<void(bool arrived, const LinkDescriptor& device)>;
    void SetHotplugListener(HotplugListener listener);
    bool HotplugSupported() const { return m_hotplugHandle != 0; }

    struct Impl;

private:
    LibusbProvider();
    std::unique_ptr<Impl> m_impl;
    int m_hotplugHandle = 0;
};

// The accepted vendor IDs: 0x04B4, then those `text` adds (QUORIX_USB_VENDOR_IDS), without
// repeats. Entries that are not 1 to 4 hex digits are skipped.
std::vector<uint16_t> AcceptedVendorIds(const char* text);

// How bulk transfers are cut: pieces of `pieceBytes`, `depth` of them in flight.
struct BulkPlan {
    size_t pieceBytes = LibusbProvider::kDefaultTransferBytes;
    size_t depth = LibusbProvider::kDefaultTransfers;
};

// The plan the two settings give (null or empty: the default), checked against the kernel's
// budget of `budgetBytes` (0: no limit); nothing, with `error` saying why, when a setting is not a
// positive number or the pieces in flight do not fit.
std::optional<BulkPlan> PlanBulkTransfers(const char* transferKib, const char* transfers,
                                          size_t budgetBytes, std::string* error);

// The kernel's in-flight budget for usbfs transfers [bytes]: usbfs_memory_mb from sysfs (0 means
// no limit), kDefaultBudgetBytes when it cannot be read.
size_t UsbfsBudgetBytes();

}  // namespace quorix::platform::usb
