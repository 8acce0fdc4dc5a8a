// Frames of the emulated camera: the transfer protocol on endpoint 0x81 and the picture the
// sensor and the FPGA make of the scene for what the host programs. Expected pixels come from
// the scene's description and the camera's read-out rules, computed here.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim_test_host.h"

namespace quorix::sim::test {
namespace {

class ScopedTimeScale {
public:
    explicit ScopedTimeScale(uint32_t factor) { platform::SetTimeScale(factor); }
    ~ScopedTimeScale() { platform::SetTimeScale(1); }
};

// Each frame comes in a few milliseconds of SDK time at this scale.
constexpr uint32_t kFastClock = 1000;

std::shared_ptr<EmulatedCamera> FastCamera() {
    CameraConfig config;
    config.asFastAsPossible = true;
    return CreateCamera(config);
}

// The header announces width x height x bytes per pixel from the FPGA geometry, and a read of
// 64 bytes gets exactly the header: header and data never share a transfer.
TEST(EmulatorFrames, HeaderThenDataAsSeparateTransfers) {
    auto camera = FastCamera();
    TestHost host(*camera);
    ASSERT_TRUE(host.SetFrameGeometry(640, 480));
    ASSERT_TRUE(host.RequestFrame());

    std::vector<uint8_t> big(4096);
    size_t moved = 0;
    ASSERT_EQ(host.Receive(0x81, big, &moved), TransferResult::kCompleted);
    ASSERT_EQ(moved, 64u);  // the header alone, although more was asked for
    EXPECT_EQ(std::string(big.begin(), big.begin() + 4), "QXFH");
    EXPECT_EQ(Le32(big.data() + 16), 640u * 480u);
    const uint32_t first = Le32(big.data() + 32);

    // The data: a transfer returns at most what is left of it, ending short.
    std::vector<uint8_t> chunk(200000);
    ASSERT_EQ(host.Receive(0x81, chunk, &moved), TransferResult::kCompleted);
    EXPECT_EQ(moved, 200000u);
    ASSERT_EQ(host.Receive(0x81, chunk, &moved), TransferResult::kCompleted);
    EXPECT_EQ(moved, 640u * 480u - 200000u);
    EXPECT_EQ(camera->Counters().framesSent, 1u);

    // 16-bit data (on lines long enough to carry it) doubles the byte count; frame numbers count
    // on.
    ASSERT_TRUE(host.WriteSensor(0x214, 888 & 0xFF));
    ASSERT_TRUE(host.WriteSensor(0x215, 888 >> 8));
    ASSERT_TRUE(host.WriteFpga(0x3C, 2));
    const FrameRead wide = host.ReadFrame();
    EXPECT_EQ(wide.byteCount, 640u * 480u * 2u);
    EXPECT_EQ(wide.frameNumber, first + 1);
}

// Nothing comes on 0x81 without a frame request: a read blocks until it is cancelled.
TEST(EmulatorFrames, NoDataWithoutRequest) {
    auto camera = FastCamera();
    TestHost host(*camera);
    CancelToken token;
    token.Cancel();
    std::vector<uint8_t> buffer(64);
    size_t moved = 7;
    EXPECT_EQ(host.Receive(0x81, buffer, &moved, token), TransferResult::kCancelled);
    EXPECT_EQ(moved, 0u);
    // The stream reset discards requested frames.
    ASSERT_TRUE(host.SetFrameGeometry(64, 64));
    ASSERT_TRUE(host.RequestFrame());
    ASSERT_EQ(host.Control(kOut, 0xC0, 0, 0).result, TransferResult::kCompleted);
    CancelToken again;
    again.Cancel();
    EXPECT_EQ(host.Receive(0x81, buffer, &moved, again), TransferResult::kCancelled);
    EXPECT_EQ(camera->Counters().headersSent, 0u);
}

// The whole sensor: every line arrives right to left, so after the host reverses each row it has
// the scene upright, with G R on the first line and B G on the second.
TEST(EmulatorFrames, FullFrameIsTheSceneSentRightToLeft) {
    auto camera = FastCamera();
    TestHost host(*camera);
    host.ProgramNominal(0, 2048, 0, 1536, false, false);
    const FrameRead frame = host.ReadFrame();
    ASSERT_EQ(frame.byteCount, 2048u * 1536u);
    int mismatches = 0;
    for (int line = 0; line < 1536 && mismatches < 5; ++line) {
        for (int k = 0; k < 2048; ++k) {
            const int expected = ExpectedNominal(line, 2047 - k, frame.frameNumber) >> 4;
            if (SampleAt(frame.data, 2048, 1, line, k) != expected && ++mismatches < 5)
                ADD_FAILURE() << "line " << line << " byte " << k;
        }
    }
    EXPECT_EQ(mismatches, 0);
    // Patch 16 has distinct channels (2000, 1200, 400): its top-left corner, after the host's
    // row reversal, reads G R / B G.
    const auto hostPixel = [&](int row, int column) {
        return SampleAt(frame.data, 2048, 1, row, 2047 - column);
    };
    EXPECT_EQ(hostPixel(512, 0), 1200 >> 4);
    EXPECT_EQ(hostPixel(512, 1), 2000 >> 4);
    EXPECT_EQ(hostPixel(513, 0), 400 >> 4);
    EXPECT_EQ(hostPixel(513, 1), 1200 >> 4);
}

// One window as the host sets it: its sensor registers and the FPGA geometry.
struct WindowCase {
    int x, width, y, height;
    bool mirrorV, mirrorH, sixteenBit;
};

std::string Name(const testing::TestParamInfo<WindowCase>& info) {
    const WindowCase& c = info.param;
    return "x" + std::to_string(c.x) + "w" + std::to_string(c.width) + "y" + std::to_string(c.y) +
           "h" + std::to_string(c.height) + (c.mirrorV ? "_mv" : "") + (c.mirrorH ? "_mh" : "") +
           (c.sixteenBit ? "_16" : "_8");
}

class EmulatorWindow : public testing::TestWithParam<WindowCase> {};

// A window decoded wrongly from the far-edge registers shows as shifted content; a mirror
// applied in the wrong direction as flipped content. The host reverses every row and, with the
// mirror flags, must find the colour phase its rule predicts.
TEST_P(EmulatorWindow, ContentMatchesTheScene) {
    const WindowCase c = GetParam();
    auto camera = FastCamera();
    TestHost host(*camera);
    const auto [outWidth, outHeight] =
        host.ProgramNominal(c.x, c.width, c.y, c.height, false, c.sixteenBit);
    host.ProgramExposureTime(170, c.sixteenBit);  // nominal exposure at either data width
    host.ProgramMirror(c.mirrorV, c.mirrorH);
    const int bpp = c.sixteenBit ? 2 : 1;

    const FrameRead frame = host.ReadFrame();
    ASSERT_EQ(frame.byteCount, static_cast<uint32_t>(outWidth * outHeight * bpp));
    int mismatches = 0;
    for (int i = 0; i < outHeight; ++i) {
        for (int j = 0; j < outWidth; ++j) {
            // Host image pixel (i, j) is frame line i, byte position width - 1 - j.
            const int row = c.mirrorV ? c.y + c.height - 1 - i : c.y + i;
            const int column = c.mirrorH ? c.x + c.width - 1 - j : c.x + j;
            const int expected = Encode(ExpectedNominal(row, column, frame.frameNumber), bpp);
            const int got = SampleAt(frame.data, outWidth, bpp, i, outWidth - 1 - j);
            if (got != expected && ++mismatches <= 5)
                ADD_FAILURE() << "host pixel " << i << "," << j << " got " << got << " expected "
                              << expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
    // The first host pixel's filter colour: G for no mirror, flipped parity per mirror flag.
    const char expectedPhase = FilterAt(c.mirrorV ? 1 : 0, c.mirrorH ? 1 : 0);
    const int firstRow = c.mirrorV ? c.y + c.height - 1 : c.y;
    const int firstColumn = c.mirrorH ? c.x + c.width - 1 : c.x;
    EXPECT_EQ(FilterAt(firstRow, firstColumn), expectedPhase);
}

INSTANTIATE_TEST_SUITE_P(Windows, EmulatorWindow,
                         testing::Values(WindowCase{0, 2048, 0, 1536, false, false, false},
                                         WindowCase{0, 2048, 0, 1536, true, false, false},
                                         WindowCase{0, 2048, 0, 1536, false, true, true},
                                         WindowCase{0, 2048, 0, 1536, true, true, false},
                                         // Windows straddling patch edges and the ramps.
                                         WindowCase{200, 512, 700, 400, false, false, false},
                                         WindowCase{200, 512, 700, 400, true, true, true},
                                         WindowCase{1536, 512, 1100, 436, false, true, false},
                                         WindowCase{2, 32, 2, 4, true, false, true},
                                         WindowCase{1024, 1024, 768, 768, true, false, false}),
                         Name);

struct SubSampleCase {
    int x, width;
    bool sixteenBit;
};

class EmulatorSubSampling : public testing::TestWithParam<SubSampleCase> {};

// 2x2 sub-sampling: the sensor reads two columns of every four and two lines of every four of the
// whole sensor, starting on a blue-green line, and sends whole lines right to left; the FPGA
// keeps the first width / 2 pixels of each (the host programs offset 0). No register carries the
// window's x, so a narrower window always shows the sensor's right end: columns 2048 - width on.
TEST_P(EmulatorSubSampling, ReadsEveryOtherPairStartingOnBlueGreen) {
    const SubSampleCase c = GetParam();
    auto camera = FastCamera();
    TestHost host(*camera);
    const auto [outWidth, outHeight] =
        host.ProgramNominal(c.x, c.width, 0, 1536, true, c.sixteenBit);
    ASSERT_EQ(outWidth, c.width / 2);
    ASSERT_EQ(outHeight, 768);
    const int bpp = c.sixteenBit ? 2 : 1;
    // Sub-sampled timing (line length 396) changes the exposure: lines x 396 x 323 / 444 pixel
    // clocks against the nominal 2870 x 323.
    host.ProgramExposureLines(2870);
    const double factor = 2870.0 * 396.0 / 444.0 / 2870.0;

    const FrameRead frame = host.ReadFrame();
    ASSERT_EQ(frame.byteCount, static_cast<uint32_t>(outWidth * outHeight * bpp));
    int mismatches = 0;
    for (int i = 0; i < outHeight; ++i) {
        const int row = 4 * (i / 2) + 1 + i % 2;
        for (int j = 0; j < outWidth; ++j) {
            const int column = (2048 - c.width) + 4 * (j / 2) + j % 2;
            const int expected =
                Encode(Scaled(ExpectedNominal(row, column, frame.frameNumber), factor), bpp);
            const int got = SampleAt(frame.data, outWidth, bpp, i, outWidth - 1 - j);
            if (got != expected && ++mismatches <= 5)
                ADD_FAILURE() << "host pixel " << i << "," << j;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(FilterAt(1, c.x), 'B');  // the first line read is blue-green
}

INSTANTIATE_TEST_SUITE_P(Windows, EmulatorSubSampling,
                         testing::Values(SubSampleCase{0, 2048, false},
                                         SubSampleCase{1024, 1024, false},
                                         SubSampleCase{0, 1024, true},
                                         SubSampleCase{512, 512, false}));

// 16-bit data is full scale: the converter's 12 bits in the high bits, little-endian.
TEST(EmulatorFrames, SixteenBitSamplesAreFullScale) {
    auto camera = FastCamera();
    TestHost host(*camera);
    const auto [w, h] = host.ProgramNominal(0, 2048, 768, 256, false, true);
    host.ProgramExposureTime(170, true);  // 1435 lines at line length 888: nominal
    const FrameRead frame = host.ReadFrame();
    ASSERT_EQ(frame.byteCount, static_cast<uint32_t>(w * h * 2));
    // The horizontal ramp: column c reads 2c, so the byte pair at position k of a line carries
    // (2 x (2047 - k)) << 4.
    for (int k : {0, 1, 100, 1023, 2046, 2047}) {
        const size_t at = static_cast<size_t>(k) * 2;
        const int column = 2047 - k;
        EXPECT_EQ(frame.data[at], static_cast<uint8_t>((2 * column) << 4)) << k;
        EXPECT_EQ(frame.data[at + 1], static_cast<uint8_t>(((2 * column) << 4) >> 8)) << k;
    }
    EXPECT_EQ(frame.data[0] & 0x0F, 0);  // the low four bits stay clear
}

// Brightness scales with exposure lines x gain and clips at the converter's range.
TEST(EmulatorFrames, ExposureAndGainScaleAndClip) {
    auto camera = FastCamera();
    TestHost host(*camera);
    const auto [w, h] = host.ProgramNominal(0, 2048, 0, 256, false, false);
    // The host's 8-bit line period is 323 pixel clocks; the nominal exposure is 2870 lines.
    struct Step {
        uint32_t lines;
        uint32_t gain;
    };
    for (const Step step : {Step{1435, 64}, Step{2870, 64}, Step{100, 64}, Step{1435, 124},
                            Step{2870, 480}, Step{2870, 0}}) {
        host.ProgramExposureLines(step.lines);
        host.ProgramGain(step.gain);
        const double factor = step.lines / 2870.0 * std::pow(10.0, (step.gain - 64.0) / 200.0);
        const FrameRead frame = host.ReadFrame();
        ASSERT_EQ(frame.byteCount, static_cast<uint32_t>(w * h));
        for (int patch = 0; patch < 8; ++patch) {
            // A green pixel (even row, even column) and a red one (even row, odd column).
            const int column = patch * 256 + 100;
            const SceneColour colour = kPatchColours[static_cast<size_t>(patch)];
            EXPECT_EQ(SampleAt(frame.data, w, 1, 50, 2047 - column),
                      Scaled(colour.green, factor) >> 4)
                << "lines " << step.lines << " gain " << step.gain << " patch " << patch;
            EXPECT_EQ(SampleAt(frame.data, w, 1, 50, 2047 - (column + 1)),
                      Scaled(colour.red, factor) >> 4);
        }
    }
    // At gain 480 the white patch is far beyond full scale: 255 exactly.
    host.ProgramGain(480);
    const FrameRead saturated = host.ReadFrame();
    EXPECT_EQ(SampleAt(saturated.data, w, 1, 10, 2047 - 10), 255);
}

// Writes made under the register hold wait for its release, as a group.
TEST(EmulatorFrames, RegisterHoldDefersSettings) {
    auto camera = FastCamera();
    TestHost host(*camera);
    host.ProgramNominal(0, 2048, 0, 1536, false, false);
    ASSERT_TRUE(host.WriteSensor(0x208, 1));
    host.ProgramMirror(true, false);
    EXPECT_EQ(host.ReadSensor(0x20E), 1);  // reads see the written value at once
    FrameRead frame = host.ReadFrame();
    // Still upright: the first line is scene row 0.
    EXPECT_EQ(SampleAt(frame.data, 2048, 1, 0, 2047), ExpectedNominal(0, 0, 0) >> 4);
    ASSERT_TRUE(host.WriteSensor(0x208, 0));
    frame = host.ReadFrame();
    EXPECT_EQ(SampleAt(frame.data, 2048, 1, 0, 2047 - 5),
              ExpectedNominal(1535, 5, frame.frameNumber) >> 4);
}

// The marker moves with the frame number and the code band carries it, so a host can tell which
// frame it got from the picture alone.
TEST(EmulatorFrames, FrameNumberIsVisibleInThePicture) {
    auto camera = FastCamera();
    TestHost host(*camera);
    host.ProgramNominal(0, 2048, 0, 1536, false, false);
    for (int n = 0; n < 3; ++n) {
        const FrameRead frame = host.ReadFrame();
        const auto hostPixel = [&](int row, int column) {
            return SampleAt(frame.data, 2048, 1, row, 2047 - column);
        };
        uint32_t decoded = 0;
        for (int bit = 0; bit < 32; ++bit) {
            if (hostPixel(1472, 64 * bit + 32) > 128)
                decoded |= 1u << bit;
        }
        EXPECT_EQ(decoded, frame.frameNumber);
        const int markerLeft = 32 * static_cast<int>(frame.frameNumber % 63);
        EXPECT_EQ(hostPixel(1340, markerLeft + 32), 3600 >> 4);
        EXPECT_EQ(hostPixel(1340, (markerLeft + 1024) % 2048), 256 >> 4);
    }
}

// Frames come one frame period apart on the platform clock, never sooner; a camera left alone
// keeps producing, so the next frame is the newest one, not the next in line.
TEST(EmulatorFrames, SensorTimingPacesFrames) {
    // The power-up frame period: 1600 lines of 464 x 323 / 444 pixel clocks at 54.545 MHz.
    EXPECT_NEAR(CreateCamera()->Readout().framePeriodMs, 1600.0 * 464.0 * 323.0 / 444.0 / 54545.0,
                1e-9);

    CameraConfig config;
    config.framesPerSecond = 10;
    // The sensor starts with the camera: frame n completes n periods after it, never sooner.
    const uint64_t startMs = platform::MonotonicMs();
    auto camera = CreateCamera(config);
    TestHost host(*camera);
    // A small frame: pacing, not pixels, is tested here.
    ASSERT_TRUE(host.SetFrameGeometry(64, 64));
    uint32_t previous = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t number = host.ReadFrame().frameNumber;
        EXPECT_GT(number, previous);
        EXPECT_GE(platform::MonotonicMs() - startMs, 100u * number);
        previous = number;
    }
    platform::SleepMs(1000);
    EXPECT_GE(host.ReadFrame().frameNumber, previous + 9);
}

// In trigger mode the sensor waits for trigger pulses; the FPGA's frame counter shows each one,
// which is how the host knows when to ask for a frame.
TEST(EmulatorFrames, TriggerModeCountsTriggeredFrames) {
    ScopedTimeScale fast(kFastClock);
    CameraConfig config;
    config.autoTrigger = false;
    auto camera = CreateCamera(config);
    TestHost host(*camera);
    host.ProgramNominal(0, 2048, 0, 1536, false, false);
    EXPECT_FALSE(camera->FireTrigger());  // free-run: no trigger input
    ASSERT_TRUE(host.WriteFpga(0x58, 1));
    ASSERT_TRUE(host.WriteSensor(0x20A, 1));
    ASSERT_TRUE(host.WriteSensor(0x20B, 1));
    const uint8_t counter = host.ReadFpga(0x08).value();
    platform::SleepMs(2000);
    EXPECT_EQ(host.ReadFpga(0x08), counter);  // no pulse, no frame
    ASSERT_TRUE(camera->FireTrigger());
    EXPECT_EQ(host.ReadFpga(0x08), static_cast<uint8_t>(counter + 1));
    const FrameRead frame = host.ReadFrame();
    EXPECT_EQ(frame.frameNumber & 0xFF, static_cast<uint32_t>(counter + 1) & 0xFF);
    EXPECT_EQ(camera->Counters().triggers, 1u);

    // With the automatic trigger, pulses come by themselves, one per frame period.
    CameraConfig automatic;
    auto other = CreateCamera(automatic);
    TestHost otherHost(*other);
    ASSERT_TRUE(otherHost.WriteFpga(0x58, 1));
    ASSERT_TRUE(otherHost.WriteSensor(0x20A, 1));
    ASSERT_TRUE(otherHost.WriteSensor(0x20B, 1));
    ASSERT_TRUE(otherHost.ReadFpga(0x08).has_value());
    platform::SleepMs(2000);
    ASSERT_TRUE(otherHost.ReadFpga(0x08).has_value());
    EXPECT_GE(other->Counters().triggers, 100u);  // 2000 ms / 17.05 ms
}

// In trigger mode the FPGA times the exposure: its exposure lines x its clocks per line.
TEST(EmulatorFrames, TriggerExposureComesFromTheFpga) {
    auto camera = FastCamera();
    TestHost host(*camera);
    const auto [w, h] = host.ProgramNominal(0, 2048, 0, 256, false, false);
    // 1000 trigger lines of 288 pixel clocks (the host's trigger line length).
    ASSERT_TRUE(host.WriteFpga(0x85, 1000 & 0xFF));
    ASSERT_TRUE(host.WriteFpga(0x86, 1000 >> 8));
    ASSERT_TRUE(host.WriteFpga(0x9B, 0));
    ASSERT_TRUE(host.WriteFpga(0x54, 0x20));
    ASSERT_TRUE(host.WriteFpga(0x55, 0x01));
    ASSERT_TRUE(host.WriteSensor(0x20A, 1));
    ASSERT_TRUE(host.WriteSensor(0x20B, 1));
    const double factor = 1000.0 * 288.0 / (2870.0 * 323.0);
    const FrameRead frame = host.ReadFrame();
    ASSERT_EQ(frame.byteCount, static_cast<uint32_t>(w * h));
    EXPECT_EQ(SampleAt(frame.data, w, 1, 0, 2047), Scaled(3600, factor) >> 4);
    EXPECT_EQ(SampleAt(frame.data, w, 1, 0, 2047 - 256 * 5 - 1), Scaled(3200, factor) >> 4);
}

// Imperfections: each one off by default, each one where it is documented when on.
TEST(EmulatorFrames, ImperfectionsAppearWhereDocumented) {
    auto camera = FastCamera();
    TestHost host(*camera);
    host.ProgramNominal(0, 2048, 0, 1536, false, false);
    const FrameRead clean = host.ReadFrame();
    const auto hostPixel = [](const FrameRead& f, int row, int column) {
        return SampleAt(f.data, 2048, 1, row, 2047 - column);
    };
    for (const SensorPixel& p : kHotPixels)
        EXPECT_EQ(hostPixel(clean, p.row, p.column),
                  ExpectedNominal(p.row, p.column, clean.frameNumber) >> 4);

    Imperfections defects;
    defects.defectPixels = true;
    camera->SetImperfections(defects);
    const FrameRead withDefects = host.ReadFrame();
    for (const SensorPixel& p : kHotPixels)
        EXPECT_EQ(hostPixel(withDefects, p.row, p.column), 255);
    for (const SensorPixel& p : kDeadPixels)
        EXPECT_EQ(hostPixel(withDefects, p.row, p.column), 0);

    Imperfections offsetAndCast;
    offsetAndCast.darkOffset = 160;
    offsetAndCast.castRed = 0.5;
    camera->SetImperfections(offsetAndCast);
    const FrameRead cast = host.ReadFrame();
    // Patch 5 is red (3200, 400, 400): red pixels at half light plus the offset.
    EXPECT_EQ(hostPixel(cast, 100, 5 * 256 + 1), (3200 / 2 + 160) >> 4);
    EXPECT_EQ(hostPixel(cast, 100, 5 * 256), (400 + 160) >> 4);

    // Noise: the same seed and frame number give the same noise on any camera; another frame
    // gets other noise; pixels move off nominal by about the deviation.
    Imperfections noisy;
    noisy.noiseSigma = 40;
    noisy.noiseSeed = 9;
    auto first = FastCamera();
    auto second = FastCamera();
    first->SetImperfections(noisy);
    second->SetImperfections(noisy);
    TestHost firstHost(*first);
    TestHost secondHost(*second);
    firstHost.ProgramNominal(0, 2048, 0, 1536, false, true);
    secondHost.ProgramNominal(0, 2048, 0, 1536, false, true);
    const FrameRead a = firstHost.ReadFrame();
    const FrameRead b = secondHost.ReadFrame();
    ASSERT_EQ(a.frameNumber, b.frameNumber);
    EXPECT_EQ(a.data, b.data);
    const FrameRead next = firstHost.ReadFrame();
    EXPECT_NE(std::vector<uint8_t>(a.data.begin() + 900 * 4096, a.data.begin() + 901 * 4096),
              std::vector<uint8_t>(next.data.begin() + 900 * 4096, next.data.begin() + 901 * 4096));
    double sumSquares = 0;
    int n = 0;
    for (int k = 0; k < 2048; k += 2) {
        const int column = 2047 - k;
        const double diff = SampleAt(a.data, 2048, 2, 900, k) / 16.0 - 2.0 * column;
        if (2 * column > 200 && 2 * column < 3800) {
            sumSquares += diff * diff;
            ++n;
        }
    }
    EXPECT_NEAR(std::sqrt(sumSquares / n), 40.0, 6.0);

    Imperfections vignette;
    vignette.vignetting = 0.5;
    camera->SetImperfections(vignette);
    host.ProgramNominal(0, 2048, 0, 1536, false, true);
    const FrameRead v = host.ReadFrame();
    // The vertical ramp at row 1279, column 0: distance from the centre 511.5 rows, 1023.5 columns.
    const double d2 = (511.5 * 511.5 + 1023.5 * 1023.5) / (767.5 * 767.5 + 1023.5 * 1023.5);
    EXPECT_EQ(SampleAt(v.data, 2048, 2, 1279, 2047) >> 4, Scaled(16 * 255, 1.0 - 0.5 * d2));
}

}  // namespace
}  // namespace quorix::sim::test
