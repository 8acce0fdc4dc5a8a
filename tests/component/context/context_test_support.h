#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <quorix/quorix.h>

#include "../../unit/transport/section_test_support.h"
#include "api/sdk_chain.h"
#include "context/quorix.h"
#include "sim/emulator.h"

namespace quorix::test {

inline constexpr uint16_t kThisModel = 0x31C0;   // the Quorix 252's product ID
inline constexpr uint16_t kOtherModel = 0x31B0;  // another camera of the family
inline constexpr uint16_t kGainLow = 0x404;      // IMX252 gain, bits 0-7
inline constexpr uint16_t kGainHigh = 0x405;     // IMX252 gain, bit 8
inline constexpr uint16_t kMirror = 0x20E;  // IMX252 mirroring: bit 0 vertical, bit 1 horizontal
// Written once by every open sequence of the IMX252 head, and at no other time.
inline constexpr uint16_t kOpenSequenceRegister = 0x412;

// Camera contexts against in-process emulated cameras, reached through the exported functions as
// an application reaches them. Each test has a device table of its own; handles still open at
// the end are released before the cameras go.
class ContextCameraTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const QuorixHandle handle : m_handles) {
            Quorix_Release(handle);
        }
        m_handles.clear();
        sim::DetachAllCameras();
    }

    static std::shared_ptr<sim::EmulatedCamera> Attach(const std::string& serial,
                                                       uint16_t productId = kThisModel) {
        sim::CameraConfig config;
        config.serialNumber = serial;
        config.productId = productId;
        return sim::AttachCamera(config);
    }
    static std::shared_ptr<sim::EmulatedCamera> Attach(const sim::CameraConfig& config) {
        return sim::AttachCamera(config);
    }

    QuorixHandle Initialize() {
        const QuorixHandle handle = Quorix_Initialize(nullptr);
        EXPECT_NE(handle, 0u);
        m_handles.push_back(handle);
        return handle;
    }
    int Release(QuorixHandle handle) {
        m_handles.erase(std::remove(m_handles.begin(), m_handles.end(), handle), m_handles.end());
        return Quorix_Release(handle);
    }
    // The context behind a handle, for what no export tells (the device number).
    static CQuorix& ContextOf(QuorixHandle handle) {
        CQuorix* context = SdkRegistry().Lookup(handle);
        EXPECT_NE(context, nullptr);
        return *context;
    }

    // The serial number the open camera reports through the narrow and the wide export; empty
    // when the call fails.
    static std::string SerialA(QuorixHandle handle) {
        char buffer[64] = {};
        return Quorix_ReadSerialNumberA(handle, buffer, sizeof buffer) ? std::string(buffer) : "";
    }
    static std::u16string SerialW(QuorixHandle handle) {
        QuorixWChar buffer[64] = {};
        return Quorix_ReadSerialNumberW(handle, buffer, 64) ? std::u16string(buffer) : u"";
    }

    // Sensor register writes the camera has seen, oldest first.
    static std::vector<sim::RegisterWriteRecord> SensorWrites(sim::EmulatedCamera& camera) {
        return camera.Log().RegisterWrites(sim::RegisterSpace::kSensor);
    }
    // Whether the camera went through an open sequence (its sensor was initialised).
    static bool WasOpened(sim::EmulatedCamera& camera) {
        return !camera.Log()
                    .WrittenValues(sim::RegisterSpace::kSensor, kOpenSequenceRegister)
                    .empty();
    }

    ScopedSectionName m_section;
    std::vector<QuorixHandle> m_handles;
};

}  // namespace quorix::test
