#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "../sensors/camera_log_support.h"
#include "../transport/transport_test_support.h"
#include "engine/quorix_u3r5_base.h"
#include "sim/emulator.h"
#include "transport/vol_cy3_cam.h"

namespace quorix::test {

// The engine the camera context creates, with the one internal a test needs to set: the data
// width flag that the engine's data-width setting stores.
class TestEngine : public CQuorixUSB3R5SimpleSdk {
public:
    void SetDataWidthFlag(int32_t wide) { m_dataWidth = wide; }
};

// An engine set up as the camera context does it (camera ID 12736, controller on the camera
// interface class), in front of emulated cameras plugged into the in-process driver. SDK time
// runs fast so that the engine's waits cost no real time.
class EngineTest : public ::testing::Test {
protected:
    static constexpr int32_t kImx252 = 12736;
    static constexpr uint16_t kOtherProduct = 0x31B0;

    void TearDown() override {
        m_engine.reset();
        sim::DetachAllCameras();
    }

    static std::shared_ptr<sim::EmulatedCamera> Attach(const sim::CameraConfig& config = {}) {
        return sim::AttachCamera(config);
    }
    static std::shared_ptr<sim::EmulatedCamera> AttachProduct(uint16_t productId) {
        sim::CameraConfig config;
        config.productId = productId;
        return sim::AttachCamera(config);
    }

    void CreateEngine(int32_t cameraId = kImx252) {
        m_engine = std::make_unique<TestEngine>();
        ASSERT_EQ(m_engine->SetCameraId(cameraId), 1);
        ASSERT_EQ(m_engine->CreateController(platform::WindowHandle{}, nullptr), 1);
    }

    ScopedSectionName m_section;
    ScopedTimeScale m_fast{1000};
    std::unique_ptr<TestEngine> m_engine;
};

}  // namespace quorix::test
