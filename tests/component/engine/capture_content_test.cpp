// What a reader gets is the picture the camera sent for the configured window, bit for bit: the
// camera sends every line right to left, the engine reverses each row, so the frame shows the
// scene upright and unmirrored; row-order 0 keeps the rows as stored (top first), 1 puts the
// last row first. 8-bit samples are the converter's 12-bit value >> 4, 16-bit samples value << 4
// little-endian. Expected pixels are computed from the scene's description at the default
// exposure and gain, which read the nominal values. Real time: full frames take a while to render.

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "capture_fixture.h"

namespace quorix {
namespace {

using test::CaptureEngine;
using test::CaptureTest;
using test::CountMismatches;
using test::WaitUntil;
using test::Window;

constexpr uint32_t kLongWaitMs = 60000;

struct ContentCase {
    const char* name;
    Window window;
};

void PrintTo(const ContentCase& c, std::ostream* os) {
    *os << c.name;
}

class EngineFrameContent : public CaptureTest, public ::testing::WithParamInterface<ContentCase> {
protected:
    void SetUp() override {
        // Every frame request answered at once with a new frame: the frame number sent is the
        // number of frames the camera has produced.
        m_camera = sim::AttachCamera(FastCamera());
        m_engine = &OpenEngine();
        ASSERT_NO_FATAL_FAILURE(Configure(*m_engine, GetParam().window));
    }

    void CheckCameraReadsNominal() {
        // The default exposure and gain: brightness 1, the scene's nominal values.
        EXPECT_DOUBLE_EQ(m_camera->Readout().brightness, 1.0);
    }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    CaptureEngine* m_engine = nullptr;
};

TEST_P(EngineFrameContent, TheCaptureThreadDeliversTheWindowUpright) {
    const Window& w = GetParam().window;
    ASSERT_EQ(m_engine->StartCapture(1), 1);
    ASSERT_EQ(m_engine->WaitFrame(kLongWaitMs), 3);
    CheckCameraReadsNominal();
    const uint32_t bytes = static_cast<uint32_t>(w.width * w.height * (w.sixteenBit ? 2 : 1));
    ASSERT_EQ(m_engine->FrameSize(), bytes);

    for (int rowOrder : {0, 1}) {
        SCOPED_TRACE(rowOrder == 0 ? "rows as stored" : "last row first");
        std::vector<uint8_t> frame(bytes, 0);
        int32_t number = 0;
        ASSERT_EQ(m_engine->GetFrame(frame.data(), bytes, &number, nullptr, nullptr, nullptr,
                                     nullptr, 0, rowOrder),
                  1);
        EXPECT_EQ(number, static_cast<int32_t>(m_camera->FramesProduced()));
        EXPECT_EQ(CountMismatches(frame, w, rowOrder, static_cast<uint32_t>(number)), 0);
    }
}

TEST_P(EngineFrameContent, TheSynchronousCaptureDeliversTheWindowUpright) {
    const Window& w = GetParam().window;
    EXPECT_EQ(m_engine->CaptureOneFrame(), 0);
    ASSERT_EQ(m_engine->ErrorFlag(), 0);
    CheckCameraReadsNominal();
    std::vector<uint8_t> frame(m_engine->FrameSize(), 0);
    ASSERT_EQ(m_engine->ReadFirstSlot(frame.data(), 1), 0);
    EXPECT_EQ(CountMismatches(frame, w, 1, static_cast<uint32_t>(m_engine->SlotFrameNumber(0))), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, EngineFrameContent,
    ::testing::Values(ContentCase{"Full8", Window{0, 0, 2048, 1536, false}},
                      ContentCase{"Full16", Window{0, 0, 2048, 1536, true}},
                      // Patches, horizontal ramp and vertical ramp, away from every edge.
                      ContentCase{"Window8", Window{512, 704, 640, 384, false}},
                      ContentCase{"Window16", Window{512, 704, 640, 384, true}},
                      // The marker lane and the frame-number code at the sensor's right edge.
                      ContentCase{"Corner8", Window{1408, 1280, 640, 256, false}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorix
