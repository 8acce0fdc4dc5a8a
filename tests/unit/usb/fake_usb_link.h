#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb/usb_link.h"

namespace quorix::platform::usb::usbtest {

// A scripted USB device for the driver's tests: control replies, one queue of bulk-in data per
// endpoint (each queued block is what one transfer receives, so a shorter block is a short
// packet), stalls, and unplugging. It records what the host sent.
class FakeUsbLink : public UsbLink {
public:
    struct ControlCall {
        SetupPacket setup;
        std::vector<uint8_t> payload;  // host-to-device data stage
    };

    // Device-to-host requests receive these bytes (cut to the data stage's length).
    void SetControlReply(std::vector<uint8_t> reply) {
        std::lock_guard lock(m_mutex);
        m_controlReply = std::move(reply);
    }
    void SetControlStall(bool stall) {
        std::lock_guard lock(m_mutex);
        m_controlStall = stall;
    }
    void QueueIn(uint8_t endpoint, std::vector<uint8_t> data) {
        {
            std::lock_guard lock(m_mutex);
            m_inQueues[endpoint].push_back(std::move(data));
        }
        m_changed.notify_all();
    }
    void SetStall(uint8_t endpoint, bool stall) {
        {
            std::lock_guard lock(m_mutex);
            m_stalled[endpoint] = stall;
        }
        m_changed.notify_all();
    }
    void Unplug() {
        {
            std::lock_guard lock(m_mutex);
            m_connected = false;
        }
        m_changed.notify_all();
    }

    std::vector<ControlCall> ControlCalls() const {
        std::lock_guard lock(m_mutex);
        return m_controlCalls;
    }
    std::vector<uint8_t> Sent(uint8_t endpoint) const {
        std::lock_guard lock(m_mutex);
        auto found = m_sent.find(endpoint);
        return found == m_sent.end() ? std::vector<uint8_t>{} : found->second;
    }
    std::vector<uint8_t> ResetPipes() const {
        std::lock_guard lock(m_mutex);
        return m_resetPipes;
    }
    int DeviceResets() const {
        std::lock_guard lock(m_mutex);
        return m_deviceResets;
    }
    int CancelledTransfers() const {
        std::lock_guard lock(m_mutex);
        return m_cancelledTransfers;
    }
    // Waits until `count` transfers in all have blocked on `endpoint` waiting for data.
    bool WaitBlocked(uint8_t endpoint, int count = 1,
                     std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_blockedCount[endpoint] >= count; });
    }

    TransferResult ControlTransfer(const SetupPacket& setup, uint8_t* data,
                                   size_t* transferred) override {
        std::lock_guard lock(m_mutex);
        *transferred = 0;
        ControlCall call{setup, {}};
        const bool deviceToHost = (setup.requestType & 0x80) != 0;
        if (!deviceToHost)
            call.payload.assign(data, data + setup.length);
        m_controlCalls.push_back(call);
        if (!m_connected)
            return TransferResult::kDisconnected;
        if (m_controlStall)
            return TransferResult::kStalled;
        if (deviceToHost) {
            *transferred = std::min<size_t>(setup.length, m_controlReply.size());
            std::memcpy(data, m_controlReply.data(), *transferred);
        } else {
            *transferred = setup.length;
        }
        return TransferResult::kCompleted;
    }

    TransferResult BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length, size_t* transferred,
                                CancelToken& cancel) override {
        *transferred = 0;
        // The waker takes this link's lock, so it is installed and removed without holding it.
        cancel.SetWaker([this] {
            std::lock_guard lock(m_mutex);
            m_changed.notify_all();
        });
        const TransferResult result = Transfer(endpoint, data, length, transferred, cancel);
        cancel.ClearWaker();
        return result;
    }

    bool ResetPipe(uint8_t endpoint) override {
        std::lock_guard lock(m_mutex);
        m_resetPipes.push_back(endpoint);
        m_stalled[endpoint] = false;
        return m_connected;
    }
    bool ResetDevice() override {
        std::lock_guard lock(m_mutex);
        ++m_deviceResets;
        return m_connected;
    }
    uint32_t DeviceSpeed() override { return 4; }
    bool IsConnected() const override {
        std::lock_guard lock(m_mutex);
        return m_connected;
    }

private:
    TransferResult Transfer(uint8_t endpoint, uint8_t* data, size_t length, size_t* transferred,
                            CancelToken& cancel) {
        std::unique_lock lock(m_mutex);
        if ((endpoint & 0x80) == 0) {
            if (!m_connected)
                return TransferResult::kDisconnected;
            if (m_stalled[endpoint])
                return TransferResult::kStalled;
            std::vector<uint8_t>& sent = m_sent[endpoint];
            sent.insert(sent.end(), data, data + length);
            *transferred = length;
            return TransferResult::kCompleted;
        }
        std::deque<std::vector<uint8_t>>& queue = m_inQueues[endpoint];
        ++m_blockedCount[endpoint];
        m_changed.notify_all();
        m_changed.wait(lock, [&] {
            return !queue.empty() || cancel.IsCancelled() || !m_connected || m_stalled[endpoint];
        });
        if (!m_connected)
            return TransferResult::kDisconnected;
        if (m_stalled[endpoint])
            return TransferResult::kStalled;
        if (queue.empty()) {
            ++m_cancelledTransfers;
            return TransferResult::kCancelled;
        }
        std::vector<uint8_t> block = std::move(queue.front());
        queue.pop_front();
        *transferred = std::min(length, block.size());
        std::memcpy(data, block.data(), *transferred);
        return TransferResult::kCompleted;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_connected = true;
    bool m_controlStall = false;
    std::vector<uint8_t> m_controlReply;
    std::vector<ControlCall> m_controlCalls;
    std::map<uint8_t, std::deque<std::vector<uint8_t>>> m_inQueues;
    std::map<uint8_t, bool> m_stalled;
    std::map<uint8_t, std::vector<uint8_t>> m_sent;
    std::map<uint8_t, int> m_blockedCount;
    std::vector<uint8_t> m_resetPipes;
    int m_deviceResets = 0;
    int m_cancelledTransfers = 0;
};

// Points the driver at an emulator daemon's socket directory, or at none (null): the tests that
// do not use the daemon clear it, so a developer's own setting cannot add cameras to their lists.
// Called while no other test thread runs.
inline void SetSimDirectory(const char* directory) {
    if (directory == nullptr)
        unsetenv("QUORIX_SIM_DIR");  // NOLINT(concurrency-mt-unsafe)
    else
        setenv("QUORIX_SIM_DIR", directory, 1);  // NOLINT(concurrency-mt-unsafe)
}

// A bus of fake devices that can be plugged and unplugged; registered with the driver for the
// life of the object.
class FakeProvider : public UsbLinkProvider {
public:
    std::shared_ptr<FakeUsbLink> Plug(uint16_t vendorId, uint16_t productId,
                                      const std::string& instanceId,
                                      const Guid& interfaceClass = kCameraInterfaceGuid) {
        auto link = std::make_shared<FakeUsbLink>();
        std::lock_guard lock(m_mutex);
        m_devices.push_back({{vendorId, productId, instanceId, interfaceClass}, link});
        return link;
    }
    void Unplug(const std::string& instanceId) {
        std::shared_ptr<FakeUsbLink> link;
        {
            std::lock_guard lock(m_mutex);
            auto found = std::find_if(m_devices.begin(), m_devices.end(), [&](const Device& d) {
                return d.descriptor.instanceId == instanceId;
            });
            if (found == m_devices.end())
                return;
            link = found->link;
            m_devices.erase(found);
        }
        link->Unplug();
    }

    std::vector<LinkDescriptor> Enumerate() override {
        std::lock_guard lock(m_mutex);
        std::vector<LinkDescriptor> present;
        for (const Device& device : m_devices)
            present.push_back(device.descriptor);
        return present;
    }
    std::shared_ptr<UsbLink> Open(const std::string& instanceId) override {
        std::lock_guard lock(m_mutex);
        for (const Device& device : m_devices)
            if (device.descriptor.instanceId == instanceId)
                return device.link;
        return nullptr;
    }

private:
    struct Device {
        LinkDescriptor descriptor;
        std::shared_ptr<FakeUsbLink> link;
    };
    std::mutex m_mutex;
    std::vector<Device> m_devices;
};

// Registers a fresh FakeProvider for the life of the guard.
class ScopedFakeProvider {
public:
    ScopedFakeProvider() : m_provider(std::make_shared<FakeProvider>()) {
        RegisterProvider(m_provider);
    }
    ~ScopedFakeProvider() { UnregisterProvider(m_provider); }
    ScopedFakeProvider(const ScopedFakeProvider&) = delete;
    ScopedFakeProvider& operator=(const ScopedFakeProvider&) = delete;

    FakeProvider* operator->() const { return m_provider.get(); }
    const std::shared_ptr<FakeProvider>& Get() const { return m_provider; }

private:
    std::shared_ptr<FakeProvider> m_provider;
};

}  // namespace quorix::platform::usb::usbtest
