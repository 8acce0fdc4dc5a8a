// The IMX252 head against a recorded camera board: the register values each setting must write,
// derived from the sensor's timing (54.545 MHz pixel clock, 444/888-clock lines at 8/16 bits).
#include "sensors/sensor_imx252.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fake_controller.h"
#include "platform/clock.h"

namespace quorix {
namespace {

using test::FakeController;

class Imx252 : public ::testing::Test {
protected:
    void SetUp() override { platform::SetTimeScale(1000); }
    void TearDown() override { platform::SetTimeScale(1); }

    // A head with 8- or 16-bit data on a full window, as after the context applied its settings.
    // A 1 ms exposure fits in every frame, so the window's own frame length stays programmed.
    void Configure(int32_t wide, int32_t exposure = 10) {
        ASSERT_EQ(head.SetDataWidth(wide), 1);
        ASSERT_EQ(head.SetExposureTime(exposure), 1);
        ASSERT_EQ(head.SetCaptureWindow(0, 2048, 0, 1536, 0), 1);
        board.writes.clear();
    }
    uint32_t Shutter() const {
        return static_cast<uint32_t>(board.Register(0x28D)) |
               (static_cast<uint32_t>(board.Register(0x28E)) << 8);
    }

    FakeController board;
    CSensorIMX252 head{&board, 72};
};

TEST_F(Imx252, FreshHeadHoldsItsLimitsAndTouchesNothing) {
    const SensorStateBlock& s = head.State();
    EXPECT_EQ(s.m_nMaxWidth, 2048u);
    EXPECT_EQ(s.m_nMaxHeight, 1536u);
    EXPECT_EQ(s.m_nGainMax, 480u);
    EXPECT_EQ(s.m_nExposureTime, 170u);
    EXPECT_EQ(s.m_nDataBits, 0u);
    EXPECT_EQ(s.m_nPixelClockKHz, 54545);
    int32_t mode = 0;
    EXPECT_EQ(head.GetTriggerMode(&mode), 1);
    EXPECT_EQ(mode, 15);
    EXPECT_EQ(head.HeadCode(), 56);
    EXPECT_TRUE(board.writes.empty());
    EXPECT_TRUE(board.fpgaWrites.empty());
}

TEST_F(Imx252, FullWindowProgramsOffsetsFromTheFarCorner) {
    Configure(0);
    ASSERT_EQ(head.SetCaptureWindow(0, 2048, 0, 1536, 0), 1);
    EXPECT_EQ(board.Register(0x20D), 0);
    EXPECT_EQ(board.Register16(0x510), 8u);  // 2048 - 0 - 2048 + 8
    EXPECT_EQ(board.Register16(0x512), 8u);
    EXPECT_EQ(board.Register16(0x514), 2048u);
    EXPECT_EQ(board.Register16(0x516), 1540u);  // output height + 4
    EXPECT_EQ(board.Register(0x500), 3);
    EXPECT_EQ(board.Register20(0x210), 1574u);  // height + 38 blanking lines
    EXPECT_EQ(board.Register16(0x214), 444u);
    int32_t x = -1, w = -1, y = -1, h = -1, m = -1;
    ASSERT_EQ(head.GetCaptureWindow(&x, &w, &y, &h, &m), 1);
    EXPECT_EQ(std::vector<int32_t>({x, w, y, h, m}), std::vector<int32_t>({0, 2048, 0, 1536, 0}));

    Configure(1);
    EXPECT_EQ(board.Register16(0x214), 888u);  // 16-bit lines take twice the clocks
}

TEST_F(Imx252, WindowedCaptureCountsFromTheFarEdge) {
    Configure(0);
    ASSERT_EQ(head.SetCaptureWindow(512, 640, 384, 480, 0), 1);
    EXPECT_EQ(board.Register16(0x510), 2048u - 512 - 640 + 8);
    EXPECT_EQ(board.Register16(0x512), 1536u - 384 - 480 + 8);
    EXPECT_EQ(board.Register16(0x514), 640u);
    EXPECT_EQ(board.Register16(0x516), 484u);
    EXPECT_EQ(board.Register20(0x210), 480u + 38);
    EXPECT_EQ(head.State().m_nFrameLines, 518u);
}

TEST_F(Imx252, SubSamplingHalvesTheOutputAndUsesItsOwnTiming) {
    Configure(0);
    ASSERT_EQ(head.SetCaptureWindow(0, 2048, 0, 1536, 1), 1);
    EXPECT_EQ(board.Register(0x20D), 0x11);
    EXPECT_EQ(board.Register(0x500), 0);
    EXPECT_EQ(board.Register20(0x210), 810u);
    EXPECT_EQ(board.Register16(0x214), 396u);
    EXPECT_EQ(head.State().m_nWidth, 1024);
    EXPECT_EQ(head.State().m_nHeight, 768);
    EXPECT_EQ(head.State().m_nSubSample, 1u);
}

// Misaligned or oversized windows are refused before any register changes.
TEST_F(Imx252, BadWindowsAreRefusedUntouched) {
    Configure(0);
    EXPECT_EQ(head.SetCaptureWindow(2, 2048, 0, 1536, 0), 0);  // 2 + 2048 > 2048
    EXPECT_EQ(head.SetCaptureWindow(0, 1000, 0, 1536, 0), 0);  // width not a multiple of 16
    EXPECT_EQ(head.SetCaptureWindow(2, 1024, 0, 1536, 1), 0);  // x not a multiple of 4
    EXPECT_EQ(head.SetCaptureWindow(0, 2048, 0, 1538, 0), 0);  // height not a multiple of 4
    EXPECT_EQ(head.SetCaptureWindow(8, 64, 8, 8, 2), 1);       // other modes: multiples of 8/64
    EXPECT_EQ(head.SetCaptureWindow(4, 64, 8, 8, 2), 0);
    board.writes.clear();
    EXPECT_EQ(head.SetCaptureWindow(-2, 16, 0, 4, 0), 1);  // the checks are on the values passed
    EXPECT_FALSE(board.writes.empty());
}

// Exposure times become whole line periods: 170 x 100 us at 5.9217 us per line is 2870 lines,
// longer than the 1574-line frame, so the frame stretches to 2880 lines and the shutter opens at
// line 10. 1 ms (168 lines) fits: frame back to 1574, shutter at 1574 - 168.
TEST_F(Imx252, ExposureStretchesTheFrameAndComesBack) {
    Configure(0);
    EXPECT_EQ(board.Register20(0x210), 1574u);
    ASSERT_EQ(head.SetExposureTime(170), 1);
    EXPECT_EQ(head.State().m_nExposureLines, static_cast<uint32_t>(170 / (3230.0 / 54545.0)));
    EXPECT_EQ(head.State().m_nExposureLines, 2870u);
    EXPECT_EQ(board.Register20(0x210), 2880u);
    EXPECT_EQ(Shutter(), 10u);
    EXPECT_EQ(head.State().m_nFrameLines, 1574u);

    ASSERT_EQ(head.SetExposureTime(10), 1);
    EXPECT_EQ(head.State().m_nExposureLines, 168u);
    EXPECT_EQ(board.Register20(0x210), 1574u);
    EXPECT_EQ(Shutter(), 1406u);
    // The shutter and frame writes are held together.
    EXPECT_EQ(board.writes.back(), std::make_pair(0x208u, uint8_t{0}));
}

TEST_F(Imx252, LinePeriodFollowsDataWidthAndTrigger) {
    Configure(1);
    ASSERT_EQ(head.SetExposureTime(170), 1);
    EXPECT_EQ(head.State().m_nExposureLines, 1435u);  // 11.843 us lines

    Configure(0, 170);
    ASSERT_EQ(head.SetTriggerMode(1), 1);
    EXPECT_EQ(head.State().m_nExposureLines, 3219u);  // 5.28 us lines in trigger operation
    EXPECT_EQ(board.Register(0x20A), 1);
    EXPECT_EQ(board.Register(0x20B), 1);
    EXPECT_EQ(board.Register(0x236), 0xF0);
    EXPECT_EQ(board.Register(0x2AA), 1);
    ASSERT_EQ(head.SetTriggerMode(0), 1);
    EXPECT_EQ(board.Register(0x20A), 0);
    EXPECT_EQ(board.Register(0x20B), 0);
    EXPECT_EQ(board.fpga[0x58], 0);
}

TEST_F(Imx252, ExposureIsClampedToItsRange) {
    Configure(0);
    ASSERT_EQ(head.SetExposureTime(0), 1);
    EXPECT_EQ(head.State().m_nExposureTime, 1u);
    EXPECT_EQ(head.State().m_nExposureLines, 16u);  // 100 us / 5.9217 us
    ASSERT_EQ(head.SetExposureTime(30000), 1);
    EXPECT_EQ(head.State().m_nExposureTime, 20000u);
    EXPECT_EQ(head.State().m_nExposureLines, static_cast<uint32_t>(20000 / (3230.0 / 54545.0)));
    // Beyond 16 bits of frame length the high part goes first.
    EXPECT_EQ(board.Register20(0x210), head.State().m_nExposureLines + 10);
}

TEST_F(Imx252, ExposureNeedsTheDataWidth) {
    EXPECT_EQ(head.SetExposureTime(50), 0);
    EXPECT_EQ(head.State().m_nExposureTime, 170u);
    EXPECT_TRUE(board.writes.empty());
}

TEST_F(Imx252, GainIsClampedAndSplitOverTwoRegisters) {
    ASSERT_EQ(head.SetGain(500), 1);
    EXPECT_EQ(board.Register(0x404), 0xE0);
    EXPECT_EQ(board.Register(0x405), 1);
    int32_t gain = 0;
    head.GetGain(&gain);
    EXPECT_EQ(gain, 480);
    board.busFails = true;
    EXPECT_EQ(head.SetGain(100), 0);
    head.GetGain(&gain);
    EXPECT_EQ(gain, 480);
}

TEST_F(Imx252, MirrorBitsCombineBothAxes) {
    ASSERT_EQ(head.SetMirrorH(1), 1);
    ASSERT_EQ(head.SetMirrorV(1), 1);
    EXPECT_EQ(board.Register(0x20E), 3);
    ASSERT_EQ(head.SetMirrorH(0), 1);
    EXPECT_EQ(board.Register(0x20E), 1);
    board.busFails = true;
    EXPECT_EQ(head.SetMirrorV(0), 0);
    int32_t on = 0;
    head.GetMirrorV(&on);
    EXPECT_EQ(on, 1);
}

TEST_F(Imx252, RegistersGoHighAddressByteFirstAndWaitForAnIdleBus) {
    ASSERT_EQ(head.WriteRegisterRaw(0x3A5, 0x1C7), 1);
    EXPECT_EQ(board.Register(0x3A5), 0xC7);
    uint32_t value = 0;
    ASSERT_EQ(head.ReadRegisterRaw(0x3A5, &value), 1);
    EXPECT_EQ(value, 0xC7u);
    // A busy bus (FPGA register 2 non-zero) defers the polled forms until they give up.
    board.fpga[0x02] = 0x02;
    board.writes.clear();
    EXPECT_EQ(head.WriteSensorRegister(0x20E, 1), 0);
    EXPECT_TRUE(board.writes.empty());
    EXPECT_EQ(head.ReadSensorRegister(0x3A5, &value), 0);
    board.fpga[0x02] = 0;
    EXPECT_EQ(head.WriteSensorRegister(0x20E, 1), 1);
    int32_t rate = 5;
    EXPECT_EQ(head.SetSamplingRate(0, &rate), 0);
    EXPECT_EQ(head.SetSamplingRate(1, &rate), 0);
}

// After initialisation: gain 64, no mirroring, the full window with 1574-line frames, black
// level 80, and the exposure of 10 lines programmed against the constructor's 1576-line frame.
TEST_F(Imx252, InitializeLeavesTheDocumentedState) {
    board.fpgaVersion = 320;
    ASSERT_EQ(head.Initialize(), 1);
    EXPECT_EQ(board.fpga[0x60], 1);
    EXPECT_EQ(board.Register(0x412), 8);
    EXPECT_EQ(board.Register(0x454), 0x50);
    EXPECT_EQ(board.Register(0x404), 64);
    EXPECT_EQ(board.Register(0x20E), 0);
    EXPECT_EQ(board.Register20(0x210), 1574u);
    EXPECT_EQ(board.Register16(0x214), 444u);
    EXPECT_EQ(Shutter(), 1566u);
    EXPECT_EQ(head.State().m_nExposureLines, 10u);
    EXPECT_EQ(head.State().m_nExposureTime, 170u);
    EXPECT_EQ(head.CachedFpgaVersion(), 320);
    EXPECT_EQ(board.fpga.count(0x81), 0u);  // a new FPGA is not reconfigured
}

TEST_F(Imx252, InitializeFailsWhenTheSensorNeverComesUp) {
    board.readinessNeverZero = true;
    EXPECT_EQ(head.Initialize(), 0);
    board.readinessNeverZero = false;
    board.fpga[0x02] = 0x10;  // bus status bits 0x90 must clear
    EXPECT_EQ(head.Initialize(), 0);
}

TEST_F(Imx252, OldFpgaIsReconfiguredOnce) {
    board.fpgaVersion = 300;
    ASSERT_EQ(head.Initialize(), 1);
    ASSERT_GE(board.fpgaWrites.size(), 2u);
    std::vector<uint8_t> reconfigure;
    for (const auto& [reg, value] : board.fpgaWrites) {
        if (reg == 0x81) {
            reconfigure.push_back(value);
        }
    }
    EXPECT_EQ(reconfigure, std::vector<uint8_t>({1, 0}));
}

TEST(Imx252WithoutController, UncheckedSettingsStillUpdateTheState) {
    CSensorIMX252 head{nullptr, 72};
    EXPECT_EQ(head.WriteRegisterRaw(0x20E, 1), 0);
    EXPECT_EQ(head.SetGain(10), 0);
    EXPECT_EQ(head.SetMirrorV(1), 0);
    EXPECT_EQ(head.SetTriggerMode(1), 0);
    EXPECT_EQ(head.SetCaptureWindow(0, 1024, 0, 768, 0), 1);
    EXPECT_EQ(head.State().m_nWidth, 1024);
    EXPECT_EQ(head.Initialize(), 1);
}

}  // namespace
}  // namespace quorix
