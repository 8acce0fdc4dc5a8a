// The IMX252 head through the real controller and an emulated camera: the sensor registers each
// setting writes, in the order the camera receives them, and what the camera's sensor makes of
// them (its decoded window, frame, shutter and exposure). Expected values come from the sensor's
// timing: a 54.545 MHz pixel clock, 323-clock lines at 8 bits and 646 at 16 bits in free-run,
// 288 clocks in trigger operation, a window 38 lines shorter than its frame, and window
// registers counted from the sensor's far corner past an 8-pixel margin.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "head_fixture.h"

namespace quorix {
namespace {

using test::CameraHeadTest;
using test::FpgaReadsOf;
using test::kLine16;
using test::kLine8;
using test::kTriggerLine8;
using test::LinesIn;
using test::LowFirst;
using test::RegWrites;
using test::SensorValue;
using test::SensorWrites;

constexpr uint32_t kBlankingLines = 38;
constexpr uint32_t kShutterMargin = 10;

// A frame that keeps its length: the frame-length registers high part first, then the shutter
// line under the register hold, so the sensor takes both at once.
RegWrites ShutterWithinFrame(uint32_t frame, uint32_t lines) {
    const uint32_t start = frame - lines;
    return {{0x212, static_cast<uint8_t>((frame >> 16) & 0x0F)},
            {0x211, static_cast<uint8_t>(frame >> 8)},
            {0x210, static_cast<uint8_t>(frame)},
            {0x208, 1},
            {0x28D, static_cast<uint8_t>(start)},
            {0x28E, static_cast<uint8_t>((start >> 8) & 0x0F)},
            {0x28F, 0},
            {0x208, 0}};
}

// After a stretched frame's length: its hold released, then the shutter at the margin line
// under a hold of its own.
RegWrites ShutterAtMargin() {
    return {{0x208, 0}, {0x208, 1}, {0x28D, kShutterMargin}, {0x28E, 0}, {0x28F, 0}, {0x208, 0}};
}

class Imx252OnCamera : public CameraHeadTest {};

// --- Window ----------------------------------------------------------------------------------

class Imx252FullWindow : public CameraHeadTest, public ::testing::WithParamInterface<int32_t> {};

// The whole sensor as a window, at 8 and 16 bits. A 1 ms exposure is programmed first, so it
// fits the new frame and the re-applied exposure keeps the window's frame length.
TEST_P(Imx252FullWindow, ProgramsOffsetsSizeAndTimingThenReappliesTheExposure) {
    const int32_t wide = GetParam();
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_NO_FATAL_FAILURE(Configure(wide, 10));
    ASSERT_EQ(m_head->SetCaptureWindow(0, 2048, 0, 1536, 0), 1);

    const uint32_t frame = 1536 + kBlankingLines;
    const uint32_t lineLength = wide != 0 ? 888 : 444;
    const uint32_t lines = LinesIn(10, wide != 0 ? kLine16 : kLine8);
    RegWrites expected = {{0x20D, 0}};
    test::Append(expected, LowFirst(0x510, 2048 - 0 - 2048 + 8, 2));
    test::Append(expected, LowFirst(0x512, 1536 - 0 - 1536 + 8, 2));
    test::Append(expected, LowFirst(0x514, 2048, 2));
    test::Append(expected, LowFirst(0x516, 1536 + 4, 2));
    expected.emplace_back(0x500, 3);
    test::Append(expected, LowFirst(0x210, frame, 3));
    test::Append(expected, LowFirst(0x214, lineLength, 2));
    test::Append(expected, ShutterWithinFrame(frame, lines));
    EXPECT_EQ(SensorWrites(Camera()), expected);
    // Every write waited for the bridge to end the transfer before it: the status read after a
    // transfer reports the bus busy once, the next one idle.
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x02), 2 * expected.size());
    EXPECT_EQ(Camera().Counters().bridgeBusyRefusals, 0u);

    EXPECT_EQ(SensorValue(Camera(), 0x510, 2), 8u);
    EXPECT_EQ(SensorValue(Camera(), 0x512, 2), 8u);
    EXPECT_EQ(SensorValue(Camera(), 0x514, 2), 2048u);
    EXPECT_EQ(SensorValue(Camera(), 0x516, 2), 1540u);
    EXPECT_EQ(Camera().SensorRegister(0x500), 3);
    EXPECT_EQ(SensorValue(Camera(), 0x210, 3), 1574u);
    EXPECT_EQ(SensorValue(Camera(), 0x214, 2), wide != 0 ? 888u : 444u);

    const sim::ReadoutSettings r = Camera().Readout();
    EXPECT_EQ(r.windowX, 0);
    EXPECT_EQ(r.windowY, 0);
    EXPECT_EQ(r.windowWidth, 2048);
    EXPECT_EQ(r.windowHeight, 1536);
    EXPECT_FALSE(r.subSampleH || r.subSampleV);
    EXPECT_EQ(r.frameLines, frame);
    EXPECT_EQ(r.lineLength, lineLength);
    EXPECT_EQ(r.exposureLines, lines);

    int32_t x = -1, width = -1, y = -1, height = -1, mode = -1;
    ASSERT_EQ(m_head->GetCaptureWindow(&x, &width, &y, &height, &mode), 1);
    EXPECT_EQ(std::vector<int32_t>({x, width, y, height, mode}),
              std::vector<int32_t>({0, 2048, 0, 1536, 0}));
    EXPECT_EQ(State().m_nFrameLines, frame);
    EXPECT_EQ(State().m_nLineLength, lineLength);
}

INSTANTIATE_TEST_SUITE_P(DataWidths, Imx252FullWindow, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param != 0 ? "Bits16" : "Bits8"; });

// 2x2 sub-sampling: the sensor reads the whole array in its sub-sampled mode (no window
// registers, no cropping) with its own 810-line frame of 396-unit lines, in which the exposure is
// counted; the output halves.
TEST_F(Imx252OnCamera, SubSamplingUsesTheSensorsOwnModeAndTiming) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_NO_FATAL_FAILURE(Configure(0, 10));
    ASSERT_EQ(m_head->SetCaptureWindow(0, 2048, 0, 1536, 1), 1);

    RegWrites expected = {{0x20D, 0x11}, {0x500, 0}};
    test::Append(expected, LowFirst(0x210, 810, 3));
    test::Append(expected, LowFirst(0x214, 396, 2));
    // The 1 ms exposure is counted in the shorter lines: 10 / (3230/54545 x 396/444) = 189.3.
    test::Append(expected, ShutterWithinFrame(810, 189));
    EXPECT_EQ(SensorWrites(Camera()), expected);

    const sim::ReadoutSettings r = Camera().Readout();
    EXPECT_TRUE(r.subSampleH);
    EXPECT_TRUE(r.subSampleV);
    EXPECT_EQ(r.sensorLineWidth, 1024);
    EXPECT_EQ(r.sensorLines, 768);
    EXPECT_EQ(r.frameLines, 810u);
    EXPECT_EQ(r.lineLength, 396u);
    EXPECT_EQ(State().m_nWidth, 1024);
    EXPECT_EQ(State().m_nHeight, 768);
    EXPECT_EQ(State().m_nSubSample, 1u);

    // At 16 bits the full-resolution line is twice as long, the sub-sampled one is not: the same
    // 189 lines keep the exposure at 1 ms instead of halving it.
    ASSERT_NO_FATAL_FAILURE(Configure(1, 10));
    ASSERT_EQ(m_head->SetCaptureWindow(0, 2048, 0, 1536, 1), 1);
    EXPECT_EQ(State().m_nExposureLines, 189u);
    EXPECT_EQ(Camera().Readout().exposureLines, 189u);
}

// A refused window changes nothing anywhere: not a single request reaches the camera (not even
// a bus-status poll) and the state block keeps every word.
TEST_F(Imx252OnCamera, MisalignedOrOversizedWindowsReachNoRegister) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_NO_FATAL_FAILURE(Configure(0, 10, 512, 640, 384, 480, 0));
    const SensorStateBlock before = State();

    EXPECT_EQ(m_head->SetCaptureWindow(2, 2048, 0, 1536, 0), 0);  // 2 + 2048 columns
    EXPECT_EQ(m_head->SetCaptureWindow(0, 2048, 4, 1536, 0), 0);  // 4 + 1536 lines
    EXPECT_EQ(m_head->SetCaptureWindow(0, 1000, 0, 1536, 0), 0);  // width not a multiple of 16
    EXPECT_EQ(m_head->SetCaptureWindow(0, 2048, 0, 1534, 0), 0);  // height not a multiple of 4
    EXPECT_EQ(m_head->SetCaptureWindow(1, 1024, 0, 1536, 0), 0);  // odd x
    EXPECT_EQ(m_head->SetCaptureWindow(2, 1024, 0, 1536, 1), 0);  // 2x2: x not a multiple of 4
    EXPECT_EQ(m_head->SetCaptureWindow(0, 1040, 0, 768, 1), 0);   // 2x2: width not of 32
    EXPECT_EQ(m_head->SetCaptureWindow(0, 2048, 2, 768, 1), 0);   // 2x2: y not a multiple of 4

    EXPECT_TRUE(Camera().Log().VendorRequests().empty());
    EXPECT_EQ(std::memcmp(&before, &State(), sizeof before), 0);
    EXPECT_EQ(Camera().Readout().windowX, 512);
    EXPECT_EQ(Camera().Readout().windowWidth, 640);
}

// A window without pixels - a negative or zero size, or a 2x2 window whose halved height
// rounds down to no line - would program a nonsense window into the sensor (a negative width
// lands in the 13-bit width register as 8176) and give the engine an empty or negative frame to
// size its buffers by. It is refused like any other impossible window.
TEST_F(Imx252OnCamera, WindowsWithoutPixelsAreRefused) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_NO_FATAL_FAILURE(Configure(0, 10));
    const SensorStateBlock before = State();

    EXPECT_EQ(m_head->SetCaptureWindow(0, -16, 0, 1536, 0), 0);
    EXPECT_EQ(m_head->SetCaptureWindow(0, 2048, 0, -4, 0), 0);
    EXPECT_EQ(m_head->SetCaptureWindow(0, 0, 0, 1536, 0), 0);
    EXPECT_EQ(m_head->SetCaptureWindow(0, 2048, 0, 0, 0), 0);
    EXPECT_EQ(m_head->SetCaptureWindow(0, 2048, 0, 4, 1), 0);  // 4 / 2 = 2 -> 0 lines
    EXPECT_EQ(m_head->SetCaptureWindow(0, -64, 0, -8, 2), 0);

    EXPECT_TRUE(Camera().Log().VendorRequests().empty());
    EXPECT_EQ(std::memcmp(&before, &State(), sizeof before), 0);
    // The smallest windows that do hold pixels are still taken.
    EXPECT_EQ(m_head->SetCaptureWindow(0, 16, 0, 4, 0), 1);
    EXPECT_EQ(Camera().Readout().windowWidth, 16);
    EXPECT_EQ(Camera().Readout().windowHeight, 4);
    EXPECT_EQ(m_head->SetCaptureWindow(0, 32, 0, 8, 1), 1);
    EXPECT_EQ(State().m_nWidth, 16);
    EXPECT_EQ(State().m_nHeight, 4);
}

// --- Exposure --------------------------------------------------------------------------------

// 0 is raised to the shortest exposure (100 us, 16 whole lines) and 3 s lowered to the longest
// (2 s): that many lines need a frame longer than 16 bits, whose high part goes first.
TEST_F(Imx252OnCamera, ExposureTimesAreClampedToTheirRange) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_NO_FATAL_FAILURE(Configure(0, 10));
    const uint32_t frame = 1536 + kBlankingLines;

    ASSERT_EQ(m_head->SetExposureTime(0), 1);
    EXPECT_EQ(State().m_nExposureTime, 1u);
    const uint32_t shortest = LinesIn(1, kLine8);
    EXPECT_EQ(shortest, 16u);
    EXPECT_EQ(SensorWrites(Camera()), ShutterWithinFrame(frame, shortest));
    EXPECT_EQ(Camera().Readout().exposureLines, shortest);

    Camera().Log().Clear();
    ASSERT_EQ(m_head->SetExposureTime(30000), 1);
    EXPECT_EQ(State().m_nExposureTime, 20000u);
    const uint32_t longest = LinesIn(20000, kLine8);
    EXPECT_EQ(State().m_nExposureLines, longest);
    const uint32_t stretched = longest + kShutterMargin;
    ASSERT_GT(stretched, 0xFFFFu);
    RegWrites expected = {{0x208, 1},
                          {0x212, static_cast<uint8_t>(stretched >> 16)},
                          {0x210, static_cast<uint8_t>(stretched)},
                          {0x211, static_cast<uint8_t>(stretched >> 8)}};
    test::Append(expected, ShutterAtMargin());
    EXPECT_EQ(SensorWrites(Camera()), expected);
    const sim::ReadoutSettings r = Camera().Readout();
    EXPECT_EQ(r.frameLines, stretched);
    EXPECT_EQ(r.shutterLine, kShutterMargin);
    EXPECT_EQ(r.exposureLines, longest);
    // The frame stays the window's for the next exposure.
    EXPECT_EQ(State().m_nFrameLines, frame);
}

// The default 17 ms is 2870 lines at 8 bits, more than a 1574-line frame holds: the frame is
// stretched to 2880 lines with the shutter at line 10. 1 ms (168 lines) fits again: the frame
// returns to 1574 lines and the shutter opens at line 1406.
TEST_F(Imx252OnCamera, LongExposureStretchesTheFrameAndAShortOneRestoresIt) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_NO_FATAL_FAILURE(Configure(0, 10));

    ASSERT_EQ(m_head->SetExposureTime(170), 1);
    const uint32_t lines = LinesIn(170, kLine8);
    EXPECT_EQ(lines, 2870u);
    RegWrites expected = {{0x208, 1}, {0x212, 0}, {0x211, 2880 >> 8}, {0x210, 2880 & 0xFF}};
    test::Append(expected, ShutterAtMargin());
    EXPECT_EQ(SensorWrites(Camera()), expected);
    sim::ReadoutSettings r = Camera().Readout();
    EXPECT_EQ(r.frameLines, 2880u);
    EXPECT_EQ(r.shutterLine, 10u);
    EXPECT_EQ(r.exposureLines, 2870u);

    Camera().Log().Clear();
    ASSERT_EQ(m_head->SetExposureTime(10), 1);
    EXPECT_EQ(State().m_nExposureLines, LinesIn(10, kLine8));
    EXPECT_EQ(SensorWrites(Camera()), ShutterWithinFrame(1574, LinesIn(10, kLine8)));
    r = Camera().Readout();
    EXPECT_EQ(r.frameLines, 1574u);
    EXPECT_EQ(r.shutterLine, 1406u);
    EXPECT_EQ(r.exposureLines, 168u);
}

// The frame keeps its length while the exposure leaves the 10 margin lines free: 1564 lines fit
// a 1574-line frame with the shutter at line 10; one more line stretches the frame by one.
TEST_F(Imx252OnCamera, TheFrameStretchesOnlyBeyondTheMargin) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_NO_FATAL_FAILURE(Configure(0, 10));
    const uint32_t frame = 1536 + kBlankingLines;

    ASSERT_EQ(m_head->SetExposureLines(static_cast<int32_t>(frame - kShutterMargin)), 1);
    EXPECT_EQ(SensorWrites(Camera()), ShutterWithinFrame(frame, frame - kShutterMargin));
    sim::ReadoutSettings r = Camera().Readout();
    EXPECT_EQ(r.frameLines, frame);
    EXPECT_EQ(r.shutterLine, kShutterMargin);
    EXPECT_EQ(r.exposureLines, frame - kShutterMargin);

    Camera().Log().Clear();
    ASSERT_EQ(m_head->SetExposureLines(static_cast<int32_t>(frame - kShutterMargin + 1)), 1);
    r = Camera().Readout();
    EXPECT_EQ(r.frameLines, frame + 1);
    EXPECT_EQ(r.shutterLine, kShutterMargin);
    EXPECT_EQ(r.exposureLines, frame - kShutterMargin + 1);
    EXPECT_EQ(State().m_nExposureLines, frame - kShutterMargin + 1);
    EXPECT_EQ(State().m_nFrameLines, frame);
}

// 16-bit lines take twice the clocks, so 17 ms is 1435 lines and fits the frame. Trigger
// operation uses the FPGA's shorter lines: 3219 of them, carried into the FPGA's trigger timing,
// which the camera then exposes by; back in free-run the sensor's shutter counts again.
TEST_F(Imx252OnCamera, TheLinePeriodFollowsDataWidthAndTriggerOperation) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_NO_FATAL_FAILURE(Configure(1, 170));
    EXPECT_EQ(LinesIn(170, kLine16), 1435u);
    EXPECT_EQ(State().m_nExposureLines, 1435u);
    sim::ReadoutSettings r = Camera().Readout();
    EXPECT_EQ(r.frameLines, 1574u);
    EXPECT_EQ(r.exposureLines, 1435u);

    ASSERT_NO_FATAL_FAILURE(Configure(0, 170));
    EXPECT_EQ(Camera().Readout().exposureLines, 2870u);
    ASSERT_EQ(m_head->SetTriggerMode(1), 1);
    const uint32_t lines = LinesIn(170, kTriggerLine8);
    EXPECT_EQ(lines, 3219u);
    EXPECT_EQ(State().m_nExposureLines, lines);
    r = Camera().Readout();
    EXPECT_TRUE(r.triggerMode);
    EXPECT_EQ(r.exposureLines, lines);
    EXPECT_EQ(r.frameLines, lines + kShutterMargin);
    const auto fpga16 = [this](uint8_t low) {
        return Camera().FpgaRegister(low) |
               (Camera().FpgaRegister(static_cast<uint8_t>(low + 1)) << 8);
    };
    EXPECT_EQ(fpga16(0x54), 288);  // FPGA line: 288 pixel clocks
    EXPECT_EQ(fpga16(0x50), static_cast<int>(lines + 1536 + 25));
    EXPECT_EQ(Camera().FpgaRegister(0x58), 1);
    EXPECT_EQ(Camera().SensorRegister(0x236), 0xF0);
    EXPECT_EQ(Camera().SensorRegister(0x2AE), 0);
    EXPECT_EQ(Camera().SensorRegister(0x2AA), 1);

    ASSERT_EQ(m_head->SetTriggerMode(0), 1);
    r = Camera().Readout();
    EXPECT_FALSE(r.triggerMode);
    EXPECT_EQ(Camera().FpgaRegister(0x58), 0);
    EXPECT_EQ(r.exposureLines, 2870u);
    EXPECT_EQ(State().m_nExposureLines, 2870u);
}

// Until the data width is known there is no line period to count an exposure in: the head
// refuses, keeps 17 ms and asks nothing of the camera.
TEST_F(Imx252OnCamera, ExposureBeforeTheDataWidthIsRefusedUntouched) {
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(m_head->SetExposureTime(50), 0);
    int32_t time = 0;
    ASSERT_EQ(m_head->GetExposureTime(&time), 1);
    EXPECT_EQ(time, 170);
    EXPECT_TRUE(Camera().Log().VendorRequests().empty());
}

// --- Gain, mirroring, trigger mode, registers ------------------------------------------------

// 500 is above the 9-bit register's 480: 480 goes out as 0xE0 and bit 8.
TEST_F(Imx252OnCamera, GainIsClampedAndSplitOverItsTwoRegisters) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_head->SetGain(500), 1);
    EXPECT_EQ(SensorWrites(Camera()), RegWrites({{0x404, 0xE0}, {0x405, 1}}));
    EXPECT_EQ(Camera().Readout().gain, 480u);
    int32_t gain = 0;
    ASSERT_EQ(m_head->GetGain(&gain), 1);
    EXPECT_EQ(gain, 480);
}

// Register 0x20E carries both axes (bit 0 vertical, bit 1 horizontal), so each setter keeps
// the other axis' bit.
TEST_F(Imx252OnCamera, MirrorWritesKeepTheOtherAxis) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_head->SetMirrorH(1), 1);
    ASSERT_EQ(m_head->SetMirrorV(1), 1);
    EXPECT_EQ(Camera().SensorRegister(0x20E), 3);
    ASSERT_EQ(m_head->SetMirrorH(0), 1);
    EXPECT_EQ(SensorWrites(Camera()), RegWrites({{0x20E, 2}, {0x20E, 3}, {0x20E, 1}}));
    const sim::ReadoutSettings r = Camera().Readout();
    EXPECT_TRUE(r.mirrorV);
    EXPECT_FALSE(r.mirrorH);
    int32_t v = -1, h = -1;
    m_head->GetMirrorV(&v);
    m_head->GetMirrorH(&h);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(h, 0);
}

// The sampling rate cannot be changed on this head and a fresh head is in free-run (15); neither
// question reaches the camera.
TEST_F(Imx252OnCamera, FixedSamplingRateAndFreshTriggerModeAskNothing) {
    ASSERT_NO_FATAL_FAILURE(Open());
    int32_t rate = 54545;
    EXPECT_EQ(m_head->SetSamplingRate(0, &rate), 0);
    EXPECT_EQ(m_head->SetSamplingRate(1, &rate), 0);
    EXPECT_EQ(m_head->SetSamplingRate(0, nullptr), 0);
    int32_t mode = 0;
    ASSERT_EQ(m_head->GetTriggerMode(&mode), 1);
    EXPECT_EQ(mode, 15);
    EXPECT_TRUE(Camera().Log().VendorRequests().empty());
}

// Raw register access is one bus transfer with the address high byte first and no wait for an
// idle bus (a raw access right after another is refused until the status has been read); the
// polled forms wait for the FPGA's bus-status register to read 0 and give up after 100 polls
// while it stays busy.
TEST_F(Imx252OnCamera, RegisterAccessAddressesTheSensorHighByteFirst) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_head->WriteRegisterRaw(0x3A5, 0x1C7), 1);
    auto bus = Camera().Log().BusTransfers();
    ASSERT_EQ(bus.size(), 1u);
    EXPECT_EQ(bus[0].address, kSensorBus);
    EXPECT_EQ(bus[0].bytes, std::vector<uint8_t>({0x03, 0xA5, 0xC7}));
    uint32_t value = 0;
    EXPECT_EQ(m_head->ReadRegisterRaw(0x3A5, &value), 0);
    uint8_t status = 0;
    ASSERT_EQ(m_controller->ReadFpgaRegister(0x02, &status), 1);
    EXPECT_EQ(status, 0x02);

    Camera().Log().Clear();
    ASSERT_EQ(m_head->ReadRegisterRaw(0x3A5, &value), 1);
    EXPECT_EQ(value, 0xC7u);
    EXPECT_EQ(Camera().SensorRegister(0x3A5), 0xC7);
    bus = Camera().Log().BusTransfers();
    ASSERT_EQ(bus.size(), 2u);
    EXPECT_EQ(bus[0].bytes, std::vector<uint8_t>({0x03, 0xA5}));
    EXPECT_TRUE(bus[1].read);
    EXPECT_EQ(bus[1].address, kSensorBus | 1);

    Camera().Log().Clear();
    Camera().Faults().SetBusBusyStuck(true);
    EXPECT_EQ(m_head->WriteSensorRegister(0x20E, 1), 0);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x02), 300u);
    EXPECT_EQ(m_head->ReadSensorRegister(0x3A5, &value), 0);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x02), 600u);
    EXPECT_TRUE(SensorWrites(Camera()).empty());
    Camera().Faults().SetBusBusyStuck(false);
    EXPECT_EQ(m_head->WriteSensorRegister(0x20E, 1), 1);
    EXPECT_EQ(Camera().SensorRegister(0x20E), 1);
}

}  // namespace
}  // namespace quorix
