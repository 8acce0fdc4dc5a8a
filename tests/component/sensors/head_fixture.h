#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "../transport/transport_test_support.h"
#include "camera_log_support.h"
#include "sensors/sensor_imx252.h"
#include "sim/emulator.h"
#include "transport/vol_cy3_cam.h"

namespace quorix::test {

// Exposure unit [100 us] per line period: the line length in pixel clocks of the 54.545 MHz
// pixel clock. Free-run lines are 323 clocks at 8 bits and 646 at 16; in trigger operation the
// FPGA times 288 and 576.
inline constexpr double kLine8 = 3230.0 / 54545.0;
inline constexpr double kLine16 = 6460.0 / 54545.0;
inline constexpr double kTriggerLine8 = 2880.0 / 54545.0;

// Whole line periods in an exposure time, as the sensor counts them.
inline uint32_t LinesIn(int32_t time, double linePeriod) {
    return static_cast<uint32_t>(static_cast<double>(time) / linePeriod);
}

// An IMX252 head on the real controller, which talks to one emulated camera plugged into the
// in-process driver. SDK time runs fast, so the head's pauses and polls cost no real time.
class CameraHeadTest : public ::testing::Test {
protected:
    static constexpr uint8_t kSensorBus = 72;

    void TearDown() override {
        m_head.reset();
        m_controller.reset();
        sim::DetachAllCameras();
    }

    // Plugs in a camera and opens the controller on it; the log starts empty.
    void Open(const sim::CameraConfig& config = {}) {
        m_camera = sim::AttachCamera(config);
        m_controller = std::make_unique<CVolCy3Cam>();
        ASSERT_EQ(m_controller->EnumerateDevices(), 1);
        ASSERT_EQ(m_controller->SelectDevice(0), 1);
        m_head = std::make_unique<CSensorIMX252>(m_controller.get(), kSensorBus);
        m_camera->Log().Clear();
    }

    // The settings in the order the camera context sends them once a camera is open: data
    // width, window, mirroring, free-run, gain, exposure.
    void Configure(int32_t wide, int32_t exposure, int32_t x = 0, int32_t width = 2048,
                   int32_t y = 0, int32_t height = 1536, int32_t mode = 0) {
        ASSERT_EQ(m_head->SetDataWidth(wide), 1);
        ASSERT_EQ(m_head->SetCaptureWindow(x, width, y, height, mode), 1);
        ASSERT_EQ(m_head->SetMirrorV(0), 1);
        ASSERT_EQ(m_head->SetMirrorH(0), 1);
        ASSERT_EQ(m_head->SetTriggerMode(0), 1);
        ASSERT_EQ(m_head->SetGain(64), 1);
        ASSERT_EQ(m_head->SetExposureTime(exposure), 1);
        m_camera->Log().Clear();
    }

    sim::EmulatedCamera& Camera() { return *m_camera; }
    const SensorStateBlock& State() const { return m_head->State(); }

    ScopedSectionName m_section;
    ScopedTimeScale m_fast{1000};
    std::shared_ptr<sim::EmulatedCamera> m_camera;
    std::unique_ptr<CVolCy3Cam> m_controller;
    std::unique_ptr<CSensorIMX252> m_head;
};

}  // namespace quorix::test
