// Host and camera agree: after the settings a camera context sends, the state block the engine
// reads (through CopyStateBlock) describes what the emulated sensor actually does - the window
// it reads, its sub-sampling and mirroring, the gain, frame and line length and the exposure in
// lines - across windows x sub-sampling x mirroring x data width x exposure. The camera decodes
// its registers on its own (window from the far-edge registers, exposure from frame length minus
// shutter line), so a register the head gets wrong shows up as a disagreement.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>

#include "head_fixture.h"
#include "sim/emulator.h"

namespace quorix {
namespace {

using test::CameraHeadTest;

struct Window {
    int32_t x, width, y, height, mode;
};

void PrintTo(const Window& w, std::ostream* os) {
    *os << "window (" << w.x << ", " << w.width << ", " << w.y << ", " << w.height << ", mode "
        << w.mode << ")";
}

// Windows of both read-out modes: the whole sensor, windows inside it, the smallest one in a
// corner, and 2x2 sub-sampling of the whole sensor and of a part of it.
constexpr std::array kWindows = {Window{0, 2048, 0, 1536, 0}, Window{512, 640, 384, 480, 0},
                                 Window{2, 1024, 6, 800, 0},  Window{1024, 16, 1532, 4, 0},
                                 Window{0, 2048, 0, 1536, 1}, Window{512, 1024, 256, 768, 1}};

// Exposure [100 us] and gain pairs: the shortest exposure, one that fits every frame, the
// default that outgrows a full frame, and the longest.
struct Analog {
    int32_t exposure, gain;
};

void PrintTo(const Analog& a, std::ostream* os) {
    *os << "exposure " << a.exposure << ", gain " << a.gain;
}
constexpr std::array kAnalog = {Analog{1, 0}, Analog{10, 137}, Analog{170, 64}, Analog{20000, 480}};

using Case = std::tuple<Window, int /*mirror bits*/, int32_t /*wide*/, Analog>;

class Imx252Readout : public CameraHeadTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Imx252Readout, TheStateBlockDescribesWhatTheSensorDoes) {
    const auto& [window, mirror, wide, analog] = GetParam();
    const bool mirrorV = (mirror & 1) != 0;
    const bool mirrorH = (mirror & 2) != 0;
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_head->SetDataWidth(wide), 1);
    ASSERT_EQ(
        m_head->SetCaptureWindow(window.x, window.width, window.y, window.height, window.mode), 1);
    ASSERT_EQ(m_head->SetMirrorV(mirrorV ? 1 : 0), 1);
    ASSERT_EQ(m_head->SetMirrorH(mirrorH ? 1 : 0), 1);
    ASSERT_EQ(m_head->SetTriggerMode(0), 1);
    ASSERT_EQ(m_head->SetGain(analog.gain), 1);
    ASSERT_EQ(m_head->SetExposureTime(analog.exposure), 1);

    std::array<uint32_t, 88> w{};
    ASSERT_EQ(m_head->CopyStateBlock(w.data()), 1);
    const sim::ReadoutSettings r = Camera().Readout();

    // The window and its output size.
    const int32_t d = window.mode == 1 ? 2 : 1;
    const int32_t outWidth = window.width / d / 4 * 4;
    const int32_t outHeight = window.height / d / 4 * 4;
    EXPECT_EQ(static_cast<int32_t>(w[8]), window.x);
    EXPECT_EQ(static_cast<int32_t>(w[9]), window.y);
    EXPECT_EQ(static_cast<int32_t>(w[10]), outWidth);
    EXPECT_EQ(static_cast<int32_t>(w[11]), outHeight);
    EXPECT_EQ(w[14], window.mode == 1 ? 1u : 0u);
    if (window.mode == 1) {
        // The sensor sub-samples its whole array; the FPGA cuts the window out of that.
        EXPECT_TRUE(r.subSampleH);
        EXPECT_TRUE(r.subSampleV);
        EXPECT_EQ(r.sensorLineWidth, 2048 / 2);
        EXPECT_EQ(r.sensorLines, 1536 / 2);
    } else {
        EXPECT_FALSE(r.subSampleH || r.subSampleV);
        EXPECT_EQ(r.windowX, window.x);
        EXPECT_EQ(r.windowY, window.y);
        EXPECT_EQ(r.windowWidth, outWidth);
        EXPECT_EQ(r.windowHeight, outHeight);
        EXPECT_EQ(r.sensorLineWidth, static_cast<int>(w[10]));
        EXPECT_EQ(r.sensorLines, static_cast<int>(w[11]));
    }

    // Mirroring, gain, data width.
    EXPECT_EQ(r.mirrorV, w[78] != 0);
    EXPECT_EQ(r.mirrorH, w[81] != 0);
    EXPECT_EQ(r.mirrorV, mirrorV);
    EXPECT_EQ(r.mirrorH, mirrorH);
    EXPECT_EQ(r.gain, w[19]);
    EXPECT_EQ(w[19], static_cast<uint32_t>(analog.gain));
    EXPECT_EQ(w[84], wide != 0 ? 16u : 8u);
    EXPECT_FALSE(r.triggerMode);

    // Timing: the line length as stored, the frame as stored unless the exposure stretched it
    // (shutter at the margin line then), and the exposure in lines.
    EXPECT_EQ(r.lineLength, w[12]);
    const uint32_t lines = w[24];
    EXPECT_EQ(r.exposureLines, lines);
    if (lines + 10 > w[13]) {
        EXPECT_EQ(r.frameLines, lines + 10);
        EXPECT_EQ(r.shutterLine, 10u);
    } else {
        EXPECT_EQ(r.frameLines, w[13]);
    }

    // At full resolution the sensor's line (its line length in pixel clocks) is the line period
    // the head counts in, so the camera exposes the time asked for, less at most one line.
    if (window.mode != 1) {
        const double clocksPerUnit = sim::kPixelClockHz * 100e-6;
        const double exposed = r.exposureClocks / clocksPerUnit;
        const double line = r.exposureClocks / r.exposureLines / clocksPerUnit;
        EXPECT_LE(exposed, static_cast<double>(w[49]) + 1e-9);
        EXPECT_GT(exposed, static_cast<double>(w[49]) - line);
    }
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    const auto& [window, mirror, wide, analog] = info.param;
    return "x" + std::to_string(window.x) + "w" + std::to_string(window.width) + "y" +
           std::to_string(window.y) + "h" + std::to_string(window.height) + "m" +
           std::to_string(window.mode) + "_mirror" + std::to_string(mirror) +
           (wide != 0 ? "_16bit" : "_8bit") + "_t" + std::to_string(analog.exposure) + "_g" +
           std::to_string(analog.gain);
}

INSTANTIATE_TEST_SUITE_P(Matrix, Imx252Readout,
                         ::testing::Combine(::testing::ValuesIn(kWindows),
                                            ::testing::Values(0, 1, 2, 3), ::testing::Values(0, 1),
                                            ::testing::ValuesIn(kAnalog)),
                         CaseName);

}  // namespace
}  // namespace quorix
