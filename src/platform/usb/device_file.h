#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/usb/device_io.h"
#include "platform/usb/pending_request.h"
#include "platform/usb/usb_device.h"

namespace quorix::platform::usb {

// One open handle on a device: carries out the driver's I/O control requests on the device's
// link. Owned by its DeviceHandle; closing it cancels the transfers it issued and waits for them.
class DeviceFile {
public:
    DeviceFile(std::shared_ptr<UsbDevice> device, bool overlapped);
    ~DeviceFile();
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;

    // Cancels this handle's unfinished transfers, waits until they have finished and lets go of
    // the device. Later requests fail with kErrorInvalidHandle.
    void Close();

    // DeviceIoControl on this handle (`lastError` is never null here).
    bool IoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                   uint32_t* bytesReturned, Overlapped* overlapped, uint32_t* lastError);

private:
    using Outcome = PendingRequest::Outcome;

    Outcome ControlTransfer(UsbDevice& device, uint8_t* in, uint32_t inSize, uint8_t* out,
                            uint32_t outSize);
    // Checks a buffered or direct bulk request and describes it as a transfer; null with
    // `failure` set when the buffers do not hold what the request needs.
    std::shared_ptr<PendingRequest> PrepareBulk(uint32_t code, uint8_t* in, uint32_t inSize,
                                                uint8_t* out, uint32_t outSize,
                                                Outcome* failure) const;
    static Outcome SimpleRequest(UsbDevice& device, uint32_t code, const uint8_t* in,
                                 uint32_t inSize, uint8_t* out, uint32_t outSize);

    std::shared_ptr<UsbDevice> Device() const;

    mutable std::mutex m_mutex;
    std::shared_ptr<UsbDevice> m_device;  // null once closed
    const bool m_overlapped;
};

}  // namespace quorix::platform::usb
