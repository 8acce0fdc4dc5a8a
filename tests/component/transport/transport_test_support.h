#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../../unit/transport/idle_provider.h"
#include "../../unit/transport/section_test_support.h"
#include "platform/clock.h"
#include "platform/usb/usb_link.h"
#include "sim/emulator.h"
#include "transport/fx3_api.h"

namespace quorix::test {

namespace usb = platform::usb;

class ScopedTimeScale {
public:
    explicit ScopedTimeScale(uint32_t factor) { platform::SetTimeScale(factor); }
    ~ScopedTimeScale() { platform::SetTimeScale(1); }
    ScopedTimeScale(const ScopedTimeScale&) = delete;
    ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;
};

// One bulk transfer as the camera's link saw it.
struct BulkRecord {
    uint8_t endpoint = 0;
    size_t length = 0;       // bytes asked for
    size_t transferred = 0;  // bytes moved
    usb::TransferResult result = usb::TransferResult::kCompleted;
    std::vector<uint8_t> sent;  // the data of an out transfer
};

// Passes everything through to an emulated camera's link and records the bulk transfers, which
// the camera's own log does not keep. Can shorten control replies to model a firmware that
// answers with less than the host expects.
class RecordingLink : public usb::UsbLink {
public:
    struct Shared {
        std::mutex mutex;
        std::vector<BulkRecord> bulk;
        size_t bulkStarted = 0;  // transfers handed to the camera, finished or not
        size_t controlReplyLimit = SIZE_MAX;
        // A firmware that takes this long over each control request [real time].
        std::chrono::microseconds controlDelay{0};
    };

    RecordingLink(std::shared_ptr<usb::UsbLink> inner, std::shared_ptr<Shared> shared)
        : m_inner(std::move(inner)), m_shared(std::move(shared)) {}

    usb::TransferResult ControlTransfer(const usb::SetupPacket& setup, uint8_t* data,
                                        size_t* transferred) override {
        const usb::TransferResult result = m_inner->ControlTransfer(setup, data, transferred);
        std::chrono::microseconds delay;
        {
            std::lock_guard lock(m_shared->mutex);
            if ((setup.requestType & 0x80) != 0)
                *transferred = std::min(*transferred, m_shared->controlReplyLimit);
            delay = m_shared->controlDelay;
        }
        if (delay.count() > 0)
            std::this_thread::sleep_for(delay);
        return result;
    }
    usb::TransferResult BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length,
                                     size_t* transferred, usb::CancelToken& cancel) override {
        BulkRecord record;
        record.endpoint = endpoint;
        record.length = length;
        if ((endpoint & 0x80) == 0)
            record.sent.assign(data, data + std::min<size_t>(length, 64));
        {
            std::lock_guard lock(m_shared->mutex);
            ++m_shared->bulkStarted;
        }
        record.result = m_inner->BulkTransfer(endpoint, data, length, transferred, cancel);
        record.transferred = *transferred;
        const usb::TransferResult result = record.result;
        std::lock_guard lock(m_shared->mutex);
        m_shared->bulk.push_back(std::move(record));
        return result;
    }
    bool ResetPipe(uint8_t endpoint) override { return m_inner->ResetPipe(endpoint); }
    bool ResetDevice() override { return m_inner->ResetDevice(); }
    uint32_t DeviceSpeed() override { return m_inner->DeviceSpeed(); }
    bool IsConnected() const override { return m_inner->IsConnected(); }

private:
    std::shared_ptr<usb::UsbLink> m_inner;
    std::shared_ptr<Shared> m_shared;
};

// Offers one emulated camera to the driver through a RecordingLink.
class RecordingProvider : public usb::UsbLinkProvider {
public:
    explicit RecordingProvider(const sim::CameraConfig& config = {})
        : camera(sim::CreateCamera(config)), shared(std::make_shared<RecordingLink::Shared>()) {}

    std::vector<usb::LinkDescriptor> Enumerate() override {
        if (!camera->IsConnected())
            return {};
        return {camera->Descriptor()};
    }
    std::shared_ptr<usb::UsbLink> Open(const std::string& instanceId) override {
        if (!camera->IsConnected() || instanceId != camera->InstanceId())
            return nullptr;
        std::shared_ptr<usb::UsbLink> link = camera->OpenPlugLink();
        if (!link)
            return nullptr;
        return std::make_shared<RecordingLink>(std::move(link), shared);
    }

    std::vector<BulkRecord> Bulk() const {
        std::lock_guard lock(shared->mutex);
        return shared->bulk;
    }
    size_t BulkStarted() const {
        std::lock_guard lock(shared->mutex);
        return shared->bulkStarted;
    }
    void ClearBulk() {
        std::lock_guard lock(shared->mutex);
        shared->bulk.clear();
    }
    void LimitControlReplies(size_t bytes) {
        std::lock_guard lock(shared->mutex);
        shared->controlReplyLimit = bytes;
    }
    void DelayControlRequests(std::chrono::microseconds delay) {
        std::lock_guard lock(shared->mutex);
        shared->controlDelay = delay;
    }

    std::shared_ptr<sim::EmulatedCamera> camera;
    std::shared_ptr<RecordingLink::Shared> shared;
};

}  // namespace quorix::test
