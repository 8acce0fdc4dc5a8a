#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/guid.h"
#include "platform/usb/usb_link.h"

namespace quorix::test {

// A present device that answers nothing: enough to be listed, enumerated and opened.
class IdleLink : public platform::usb::UsbLink {
public:
    platform::usb::TransferResult ControlTransfer(const platform::usb::SetupPacket&, uint8_t*,
                                                  size_t* transferred) override {
        *transferred = 0;
        return platform::usb::TransferResult::kStalled;
    }
    platform::usb::TransferResult BulkTransfer(uint8_t, uint8_t*, size_t, size_t* transferred,
                                               platform::usb::CancelToken&) override {
        *transferred = 0;
        return platform::usb::TransferResult::kStalled;
    }
    bool ResetPipe(uint8_t) override { return true; }
    bool ResetDevice() override { return true; }
    uint32_t DeviceSpeed() override { return 4; }
    bool IsConnected() const override { return true; }
};

// Lists camera interfaces (vendor 0x04B4, the camera's interface class) that open unless marked
// otherwise. Thread-safe.
class IdleProvider : public platform::usb::UsbLinkProvider {
public:
    void Add(uint16_t productId, const std::string& instanceId) {
        std::lock_guard lock(m_mutex);
        platform::usb::LinkDescriptor device;
        device.vendorId = 0x04B4;
        device.productId = productId;
        device.instanceId = instanceId;
        device.interfaceClass = platform::kCameraInterfaceGuid;
        m_devices.push_back(device);
    }
    // Listed but not openable, as a device that is going away.
    void SetOpenable(const std::string& instanceId, bool openable) {
        std::lock_guard lock(m_mutex);
        if (openable)
            m_closed.erase(instanceId);
        else
            m_closed.insert(instanceId);
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_devices.clear();
    }

    std::vector<platform::usb::LinkDescriptor> Enumerate() override {
        std::lock_guard lock(m_mutex);
        return m_devices;
    }
    std::shared_ptr<platform::usb::UsbLink> Open(const std::string& instanceId) override {
        std::lock_guard lock(m_mutex);
        if (m_closed.count(instanceId) != 0)
            return nullptr;
        for (const auto& device : m_devices)
            if (device.instanceId == instanceId)
                return std::make_shared<IdleLink>();
        return nullptr;
    }

private:
    std::mutex m_mutex;
    std::vector<platform::usb::LinkDescriptor> m_devices;
    std::set<std::string> m_closed;
};

}  // namespace quorix::test
