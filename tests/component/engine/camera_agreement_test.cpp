// The host and the camera agree on what the camera does, and the camera shows where they do not.
//
// Brightness: one rule for every read-out. The camera exposes for the time the application asked
// (in 100 us units) and amplifies by the gain register (0.1 dB steps), whatever the data width,
// the sub-sampling or the trigger operation: a gray of nominal value N reads
// N x (t x 100 us / 17 ms) x 10^((gain - 64) / 200) in the picture, the converter's 12 bits
// carried as their top 8 (8-bit data) or shifted to the top of the word (16-bit data).
//
// Host mistakes: the camera powers up with settings the host does not use, refuses to stream
// with a timing it cannot run, and refuses a bridge transfer the host did not wait for. Heads
// broken on purpose show that each such mistake makes a visible failure.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "capture_fixture.h"
#include "sensors/sensor_imx252.h"
#include "sim/camera_registers.h"

namespace quorix {
namespace {

using test::CaptureEngine;
using test::CaptureTest;

// Where the measured gray lies in the scene: the patch of nominal 900 at sensor rows 0..255 and
// columns 768..1023, measured well inside it.
constexpr int kGrayNominal = 900;
constexpr int kGrayTop = 64;
constexpr int kGrayLeft = 832;
constexpr int kGraySize = 128;

// Exposure [100 us] giving the scene's nominal values at gain 64: 17 ms.
constexpr double kNominalExposure = 170.0;

struct ReadOut {
    bool sixteenBit;
    bool subSampled;
    bool triggered;
};

void PrintTo(const ReadOut& r, std::ostream* os) {
    *os << (r.sixteenBit ? "16-bit" : "8-bit") << (r.subSampled ? " sub-sampled" : " full")
        << (r.triggered ? " triggered" : " free-run");
}

class CameraAgreement : public CaptureTest {
protected:
    // SDK time runs fast enough that the trigger set-up pauses cost little real time, and slow
    // enough that rendering a frame stays well within the data time-outs.
    CameraAgreement() : CaptureTest(20) {}

    void SetUp() override {
        m_camera = sim::AttachCamera(FastCamera());
        m_engine = &OpenEngine();
    }

    // The settings a camera context sends, in its order, for the whole sensor.
    static void Configure(CaptureEngine& engine, const ReadOut& r, int32_t exposure,
                          int32_t gain) {
        CSensorBase& head = *engine.Sensor();
        ASSERT_EQ(head.SetDataWidth(r.sixteenBit ? 1 : 0), 1);
        ASSERT_EQ(engine.WriteFpgaRegister(kFpgaDataWidth, r.sixteenBit ? 2 : 1), 1);
        engine.SetDataWidthFlag(r.sixteenBit ? 1 : 0);
        ASSERT_EQ(head.SetCaptureWindow(0, sim::kSensorWidth, 0, sim::kSensorHeight,
                                        r.subSampled ? 1 : 0),
                  1);
        ASSERT_EQ(head.SetTriggerMode(r.triggered ? 1 : 0), 1);
        engine.SetTriggerModeFlag(r.triggered ? 1 : 0);
        ASSERT_EQ(head.SetGain(gain), 1);
        ASSERT_EQ(head.SetExposureTime(exposure), 1);
    }

    // One frame on the caller's thread, upright; empty when none came.
    std::vector<uint8_t> Capture() {
        if (m_engine->CaptureOneFrame() != 0 || m_engine->ErrorFlag() != 0) {
            return {};
        }
        std::vector<uint8_t> frame(m_engine->FrameSize());
        EXPECT_EQ(m_engine->ReadFirstSlot(frame.data(), 0), 0);
        return frame;
    }

    // Mean sample of the gray patch, in 12-bit converter units.
    double MeasureGray(const std::vector<uint8_t>& frame, const ReadOut& r) const {
        const int step = r.subSampled ? 2 : 1;
        const int width = sim::kSensorWidth / step;
        double sum = 0.0;
        int count = 0;
        for (int y = kGrayTop / step; y < (kGrayTop + kGraySize) / step; ++y) {
            for (int x = kGrayLeft / step; x < (kGrayLeft + kGraySize) / step; ++x) {
                const size_t at = static_cast<size_t>(y) * width + x;
                sum += r.sixteenBit ? (frame[2 * at] | frame[2 * at + 1] << 8) / 16.0
                                    : frame[at] * 16.0;
                ++count;
            }
        }
        return sum / count;
    }

    // Starts a head of type `Head` on a sensor holding its own black level again, as after
    // power-up, and configures it for the plain read-out at the nominal exposure.
    template <typename Head>
    void StartOnResetSensor() {
        ASSERT_EQ(m_engine->WriteRegisterRaw(0, CSensorIMX252::kRegBlackLevel,
                                             sim::reg::kResetBlackLevel),
                  1);
        ASSERT_EQ(m_engine->UseHead<Head>(), 1);
        ASSERT_NO_FATAL_FAILURE(Configure(*m_engine, {false, false, false}, 170, 64));
    }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    CaptureEngine* m_engine = nullptr;
};

class BrightnessRule : public CameraAgreement, public ::testing::WithParamInterface<ReadOut> {};

TEST_P(BrightnessRule, GrayFollowsExposureTimesGain) {
    const ReadOut& r = GetParam();
    for (const int32_t exposure : {40, 170, 300}) {
        for (const int32_t gain : {0, 64, 120}) {
            SCOPED_TRACE("exposure " + std::to_string(exposure) + ", gain " +
                         std::to_string(gain));
            ASSERT_NO_FATAL_FAILURE(Configure(*m_engine, r, exposure, gain));
            const std::vector<uint8_t> frame = Capture();
            ASSERT_FALSE(frame.empty()) << sim::ReadoutFaultName(m_camera->Readout().fault);
            const double expected = kGrayNominal * (exposure / kNominalExposure) *
                                    std::pow(10.0, (gain - 64) / 200.0);
            // Whole line periods lose under 0.2 % of these exposures; an 8-bit sample is 16
            // converter units wide.
            const double tolerance = expected * 0.01 + (r.sixteenBit ? 1.0 : 16.0);
            EXPECT_NEAR(MeasureGray(frame, r), expected, tolerance);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ReadOuts, BrightnessRule,
    ::testing::Values(ReadOut{false, false, false}, ReadOut{false, false, true},
                      ReadOut{false, true, false}, ReadOut{false, true, true},
                      ReadOut{true, false, false}, ReadOut{true, false, true},
                      ReadOut{true, true, false}, ReadOut{true, true, true}),
    [](const ::testing::TestParamInfo<ReadOut>& info) {
        const ReadOut& r = info.param;
        return std::string(r.sixteenBit ? "Bits16" : "Bits8") +
               (r.subSampled ? "_SubSampled" : "_Full") + (r.triggered ? "_Trigger" : "_FreeRun");
    });

// --- Heads broken on purpose ------------------------------------------------------------------

// Forgets the black level at start-up (the sensor keeps its own).
class HeadWithoutBlackLevel : public CSensorIMX252 {
public:
    using CSensorIMX252::CSensorIMX252;
    int WriteSensorRegister(uint32_t address, uint32_t value) override {
        return address == kRegBlackLevel ? 1 : CSensorIMX252::WriteSensorRegister(address, value);
    }
};

// Writes sensor registers without waiting for the bridge to report the last transfer ended.
class HeadWithoutStatusPolling : public CSensorIMX252 {
public:
    using CSensorIMX252::CSensorIMX252;
    int WriteSensorRegister(uint32_t address, uint32_t value) override {
        return WriteRegisterRaw(address, value);
    }
};

// Leaves no vertical blanking: the frame is as long as the lines it sends.
class HeadWithoutBlanking : public CSensorIMX252 {
public:
    using CSensorIMX252::CSensorIMX252;
    int SetCaptureWindow(int32_t x, int32_t width, int32_t y, int32_t height,
                         int32_t mode) override {
        const int result = CSensorIMX252::SetCaptureWindow(x, width, y, height, mode);
        const auto lines = static_cast<uint32_t>(State().m_nHeight);
        State().m_nFrameLines = lines;  // the exposure keeps to this frame
        WriteSensorRegister(kRegFrameLength2, lines >> 16);
        WriteSensorRegister(kRegFrameLength1, (lines >> 8) & 0xFF);
        WriteSensorRegister(kRegFrameLength0, lines & 0xFF);
        return result;
    }
};

constexpr ReadOut kPlain{false, false, false};

TEST_F(CameraAgreement, AForgottenStartUpWriteShowsInThePicture) {
    // The real head: the nominal gray.
    ASSERT_NO_FATAL_FAILURE(StartOnResetSensor<CSensorIMX252>());
    std::vector<uint8_t> frame = Capture();
    ASSERT_FALSE(frame.empty());
    EXPECT_NEAR(MeasureGray(frame, kPlain), kGrayNominal, 16.0);

    // Without the black level write the gray sits 20 converter units low.
    ASSERT_NO_FATAL_FAILURE(StartOnResetSensor<HeadWithoutBlackLevel>());
    frame = Capture();
    ASSERT_FALSE(frame.empty());
    EXPECT_NEAR(MeasureGray(frame, kPlain), kGrayNominal - 20.0, 16.0);
    EXPECT_LT(MeasureGray(frame, kPlain), kGrayNominal - 10.0);
}

TEST_F(CameraAgreement, AHostThatSkipsTheStatusPollingFailsToStartTheSensor) {
    ASSERT_EQ(m_engine->UseHead<CSensorIMX252>(), 1);
    EXPECT_EQ(m_camera->Counters().bridgeBusyRefusals, 0u);

    EXPECT_EQ(m_engine->UseHead<HeadWithoutStatusPolling>(), 0);
    EXPECT_GT(m_camera->Counters().bridgeBusyRefusals, 0u);
}

TEST_F(CameraAgreement, ACameraRefusesToStreamWithoutBlanking) {
    ASSERT_EQ(m_engine->UseHead<HeadWithoutBlanking>(), 1);
    ASSERT_NO_FATAL_FAILURE(Configure(*m_engine, kPlain, 10, 64));
    EXPECT_TRUE(Capture().empty());
    EXPECT_EQ(m_camera->Readout().fault, sim::ReadoutFault::kFrameLength);
    EXPECT_GT(m_camera->Counters().readoutRefusals, 0u);
}

}  // namespace
}  // namespace quorix
