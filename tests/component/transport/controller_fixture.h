#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "sim/emulator.h"
#include "transport/vol_cy3_cam.h"
#include "transport_test_support.h"

namespace quorix::test {

// A controller opened on one emulated camera (seen through a RecordingLink), as the engine opens
// it: enumerate, select entry 0, allocate the transfer buffer (which resets the device).
class TransportControllerTest : public ::testing::Test {
protected:
    static sim::CameraConfig FastCamera() {
        sim::CameraConfig config;
        config.asFastAsPossible = true;
        return config;
    }

    void SetUp() override {
        usb::RegisterProvider(m_provider);
        m_cam = std::make_unique<CVolCy3Cam>();
        ASSERT_EQ(m_cam->EnumerateDevices(), 1);
        ASSERT_EQ(m_cam->SelectDevice(0), 1);
        ASSERT_EQ(m_cam->AllocateTransferBuffer(), 1);
        // The FPGA powers up with no frame geometry: the whole sensor at full resolution, as the
        // engine programs it before a capture.
        for (const auto& [reg, value] : {std::pair{0x44, 0x00}, {0x45, 0x08}, {0x40, 0x00},
                                         {0x41, 0x06}, {0x48, 12}}) {
            ASSERT_EQ(m_cam->WriteFpgaRegister(static_cast<uint8_t>(reg), static_cast<uint8_t>(value)), 1);
        }
        Camera().Log().Clear();
        m_provider->ClearBulk();
    }
    void TearDown() override {
        m_cam.reset();
        usb::UnregisterProvider(m_provider);
    }

    sim::EmulatedCamera& Camera() { return *m_provider->camera; }
    std::vector<sim::VendorRequestRecord> Requests() { return Camera().Log().VendorRequests(); }
    std::vector<BulkRecord> BulkOn(uint8_t endpoint) {
        std::vector<BulkRecord> records;
        for (BulkRecord& record : m_provider->Bulk())
            if (record.endpoint == endpoint)
                records.push_back(std::move(record));
        return records;
    }

    ScopedSectionName m_section;
    std::shared_ptr<RecordingProvider> m_provider =
        std::make_shared<RecordingProvider>(FastCamera());
    std::unique_ptr<CVolCy3Cam> m_cam;
};

}  // namespace quorix::test
