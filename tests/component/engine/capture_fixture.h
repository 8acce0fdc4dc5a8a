#pragma once

// Engines capturing from emulated cameras: a fixture that opens one or more engines as the camera
// context does, the engine internals a capture test sets, and the picture the camera must deliver,
// written down from the scene's description (sim/scene.h) rather than taken from the emulator.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../sensors/camera_log_support.h"
#include "../transport/transport_test_support.h"
#include "engine/quorix_u3r5_base.h"
#include "sensors/sensor_base.h"
#include "transport/vol_cy3_cam.h"
#include "sim/emulator.h"
#include "sim/scene.h"

namespace quorix::test {

// The engine the camera context creates, with the internals that the engine's settings surface
// stores and a capture test needs to set without it.
class CaptureEngine : public CQuorixUSB3R5SimpleSdk {
public:
    void SetDataWidthFlag(int32_t wide) { m_dataWidth = wide; }
    void SetTriggerModeFlag(int32_t mode) { m_triggerMode = mode; }
    // Puts a head of type `Head` (a test double of the IMX252 head) in place of the one the open
    // made, on the same controller and bus address, and starts it up; its start-up result.
    template <typename Head>
    int UseHead() {
        m_sensor = std::make_unique<Head>(m_controller.get(), Head::kBusAddress);
        return m_sensor->Initialize();
    }
};

// A capture window in sensor pixels and the data width it is read at.
struct Window {
    int x = 0;
    int y = 0;
    int width = sim::kSensorWidth;
    int height = sim::kSensorHeight;
    bool sixteenBit = false;
};

// The nominal 12-bit value the scene shows the photosite at (row, column) in frame `frame`:
// the channel its colour filter passes (G R on even rows, B G on odd rows) of the scene's colour
// there. Black outside the sensor.
inline int SceneValue(int row, int column, uint32_t frame) {
    if (row < 0 || row >= sim::kSensorHeight || column < 0 || column >= sim::kSensorWidth)
        return 0;
    if (row < 768) {
        const sim::SceneColour& colour =
            sim::kPatchColours[static_cast<size_t>((row / 256) * 8 + column / 256)];
        const bool oddRow = (row & 1) != 0;
        const bool oddColumn = (column & 1) != 0;
        if (oddRow == oddColumn)
            return colour.green;
        return oddRow ? colour.blue : colour.red;
    }
    if (row < 1024)
        return 2 * column;  // horizontal ramp
    if (row < 1280)
        return 16 * (row - 1024);  // vertical ramp
    if (row < 1408) {
        // The marker: 64 x 64 at rows 1312-1375, moving 32 columns per frame over 63 places.
        const int left = 32 * static_cast<int>(frame % 63);
        const bool marker = row >= 1312 && row < 1376 && column >= left && column < left + 64;
        return marker ? 3600 : 256;
    }
    // The frame number's bits in cells of 64 columns at rows 1440-1503, least significant left.
    const int bit = column / 64;
    const bool set = row >= 1440 && row < 1504 && bit < 32 && ((frame >> bit) & 1u) != 0;
    return set ? 3600 : 256;
}

// The sample the camera sends for a pixel at the default exposure and gain (brightness 1) with a
// dark offset added: 8-bit data carries the top 8 of the converter's 12 bits, 16-bit data the 12
// bits shifted to the top of the word.
inline uint16_t ExpectedSample(int value, bool sixteenBit, int darkOffset = 0) {
    const int v = std::min(value + darkOffset, sim::kConverterMax);
    return static_cast<uint16_t>(sixteenBit ? v << 4 : v >> 4);
}

// Compares a delivered frame with the scene: the window's rows upright and unmirrored (each row
// reversed by the host), in stored order for `rowOrder` 0 and last row first for 1. Reports the
// first few mismatches and returns their number.
inline int CountMismatches(const std::vector<uint8_t>& frame, const Window& w, int rowOrder,
                           uint32_t frameNumber, int darkOffset = 0) {
    const size_t pixelBytes = w.sixteenBit ? 2 : 1;
    if (frame.size() != static_cast<size_t>(w.width) * w.height * pixelBytes) {
        ADD_FAILURE() << "frame of " << frame.size() << " bytes";
        return 1;
    }
    int mismatches = 0;
    for (int r = 0; r < w.height; ++r) {
        const int row = w.y + (rowOrder == 0 ? r : w.height - 1 - r);
        for (int c = 0; c < w.width; ++c) {
            const int column = w.x + c;
            const uint16_t expected =
                ExpectedSample(SceneValue(row, column, frameNumber), w.sixteenBit, darkOffset);
            const size_t at = (static_cast<size_t>(r) * w.width + c) * pixelBytes;
            const uint16_t got =
                w.sixteenBit ? static_cast<uint16_t>(frame[at] | frame[at + 1] << 8) : frame[at];
            if (got != expected && ++mismatches <= 5) {
                ADD_FAILURE() << "position (" << r << ", " << c << ") = sensor (" << row << ", "
                              << column << ") of frame " << frameNumber << ": got " << got
                              << ", expected " << expected;
            }
        }
    }
    return mismatches;
}

// Polls `done` every millisecond of real time until it holds or `limit` has passed. The limit
// only keeps a broken build from hanging; it is not a speed requirement.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Engines opened as the camera context opens them (camera ID 12736, controller on the camera's
// interface class), in front of emulated cameras plugged into the in-process driver. A private
// device table; SDK time runs at the given scale for the test.
class CaptureTest : public ::testing::Test {
protected:
    static constexpr int32_t kImx252 = 12736;
    static constexpr uint8_t kFpgaDataWidth = 0x3C;

    explicit CaptureTest(uint32_t timeScale = 1) : m_scale(timeScale) {}

    void TearDown() override {
        // Engines first: their capture threads end before the cameras go away.
        m_engines.clear();
        sim::DetachAllCameras();
    }

    // An emulated camera that answers every frame request at once.
    static sim::CameraConfig FastCamera() {
        sim::CameraConfig config;
        config.asFastAsPossible = true;
        return config;
    }

    // A new engine with instance `instance` open, as the context's SetDeviceNumber leaves it.
    CaptureEngine& OpenEngine(int32_t instance = 0) {
        auto engine = std::make_unique<CaptureEngine>();
        EXPECT_EQ(engine->SetCameraId(kImx252), 1);
        EXPECT_EQ(engine->CreateController(platform::WindowHandle{}, nullptr), 1);
        EXPECT_EQ(engine->OpenCamera(instance), 0);
        m_engines.push_back(std::move(engine));
        return *m_engines.back();
    }

    // Programs the window and data width as the engine's settings do: the head's window
    // registers, the FPGA's pixel data width (2 = 16-bit, 1 = 8-bit) and the engine's flag. The
    // frame buffers follow at the next capture start (a freshly opened engine) or at once.
    static void Configure(CaptureEngine& engine, const Window& w, bool prepareNow = false) {
        CSensorBase& head = *engine.Sensor();
        ASSERT_EQ(head.SetDataWidth(w.sixteenBit ? 1 : 0), 1);
        ASSERT_EQ(engine.WriteFpgaRegister(kFpgaDataWidth, w.sixteenBit ? 2 : 1), 1);
        engine.SetDataWidthFlag(w.sixteenBit ? 1 : 0);
        ASSERT_EQ(head.SetCaptureWindow(w.x, w.width, w.y, w.height, 0), 1);
        if (prepareNow) {
            ASSERT_EQ(engine.PrepareFrameBuffers(), 1);
        }
    }

    // The newest frame as the context reads it, with its frame number.
    static std::vector<uint8_t> ReadNewest(CaptureEngine& engine, int rowOrder,
                                           int32_t* frameNumber) {
        std::vector<uint8_t> frame(engine.FrameSize());
        EXPECT_EQ(engine.ReadNewestFrameWithInfo(frame.data(), frameNumber, nullptr, nullptr,
                                                 nullptr, nullptr, rowOrder),
                  0);
        return frame;
    }

    ScopedSectionName m_section;
    uint32_t m_scale;
    ScopedTimeScale m_time{m_scale};
    std::vector<std::unique_ptr<CaptureEngine>> m_engines;
};

}  // namespace quorix::test
