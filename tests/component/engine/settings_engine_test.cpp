// The engine's settings surface against an emulated camera: the frame data wait that long
// exposures need, the capture window and the geometry flag, the pixel data width in the head, the
// FPGA and the buffers, the link speed, the trigger mode, 16-bit registers of sensor-bus devices
// behind the bus-idle wait, the EEPROM's user identification byte, and what the surface answers
// without a sensor head.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "engine_fixture.h"
#include "platform/clock.h"
#include "sensors/sensor_imx252.h"

namespace quorix {
namespace {

using test::FpgaReadsOf;
using test::FpgaValues;
using test::FpgaWrites;
using test::RegWrites;
using test::SensorWrites;

// The engine as the context creates it, with the internals these tests must see or set.
class ProbedEngine : public CQuorixUSB3R5SimpleSdk {
public:
    int32_t DataWidthFlag() const { return m_dataWidth; }
    int32_t TriggerModeFlag() const { return m_triggerMode; }
    void UseSensor(std::unique_ptr<CSensorBase> sensor) { m_sensor = std::move(sensor); }
};

// An IMX252 head that remembers the speed modes it was given and takes them all, so that what the
// engine forwards can be seen (the real head keeps the base's "not supported").
class SpeedRecordingHead : public CSensorIMX252 {
public:
    using CSensorIMX252::CSensorIMX252;
    int SetSpeedMode(int32_t mode) override {
        modes.push_back(mode);
        return 1;
    }
    std::vector<int32_t> modes;
};

// Bus addresses of the camera board's devices as the 16-bit register calls take them (7 bits).
constexpr uint8_t kSensorBridge7 = 0x48 >> 1;
constexpr uint8_t kEeprom7 = 0xA2 >> 1;

class EngineSettings : public ::testing::Test {
protected:
    void TearDown() override {
        m_engine.reset();
        sim::DetachAllCameras();
    }
    // Opens one camera as the context does it.
    void Open(const sim::CameraConfig& config = {}) {
        m_camera = sim::AttachCamera(config);
        m_engine = std::make_unique<ProbedEngine>();
        ASSERT_EQ(m_engine->SetCameraId(12736), 1);
        ASSERT_EQ(m_engine->CreateController(platform::WindowHandle{}, nullptr), 1);
        ASSERT_EQ(m_engine->OpenCamera(0), 0);
        m_camera->Log().Clear();
    }

    test::ScopedSectionName m_section;
    test::ScopedTimeScale m_fast{1000};
    std::shared_ptr<sim::EmulatedCamera> m_camera;
    std::unique_ptr<ProbedEngine> m_engine;
};

// --- Frame data wait ---------------------------------------------------------------------------

// A frame's data arrives one exposure after it was asked for: up to 5 s of exposure (50000 units
// of 100 us) the default wait of 5000 ms holds; beyond, the wait is the exposure in units / 5 ms.
// Seconds-based exposures above 2 s wait for the exposure plus one second; 2 s or less leave the
// wait as it was.
TEST_F(EngineSettings, LongExposuresLengthenTheFrameDataWait) {
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(m_engine->DataTimeoutMs(), 5000u);

    struct Step {
        const char* call;
        bool seconds;
        double value;
        uint32_t waitMs;
    };
    const Step steps[] = {
        {"SetExposureTimeEx 2.0 s", true, 2.0, 5000},
        {"SetExposureTime 50005", false, 50005, 50005 / 5},
        {"SetExposureTime 50000", false, 50000, 5000},
        {"SetExposureTimeEx 2.5 s", true, 2.5, (2500 + 1000)},
        {"SetExposureTimeEx 2.0 s again", true, 2.0, (2500 + 1000)},
        {"SetExposureTimeEx 1.0 s", true, 1.0, (2500 + 1000)},
        {"SetExposureTime 170", false, 170, 5000},
        {"SetExposureTime 60000", false, 60000, 60000 / 5},
    };
    for (const Step& step : steps) {
        if (step.seconds) {
            // This head has no seconds-based exposure; the wait is the engine's own.
            EXPECT_EQ(m_engine->SetExposureTimeEx(step.value), 0) << step.call;
        } else {
            m_engine->SetExposureTime(static_cast<int32_t>(step.value));
        }
        EXPECT_EQ(m_engine->DataTimeoutMs(), step.waitMs) << step.call;
    }
}

// --- Capture window ----------------------------------------------------------------------------

// The window the sensor already has costs no bus traffic and does not make the next capture
// re-size its buffers; a new window is programmed, read back, and flags the geometry.
TEST_F(EngineSettings, UnchangedWindowIsLeftAloneAndANewOneFlagsTheGeometry) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    ASSERT_FALSE(m_engine->GeometryPending());
    m_camera->Log().Clear();

    EXPECT_EQ(m_engine->SetCaptureWindow(0, 0, 2048, 1536, 0), 1);
    EXPECT_FALSE(m_engine->GeometryPending());
    EXPECT_TRUE(SensorWrites(*m_camera).empty());
    EXPECT_TRUE(m_camera->Log().BusTransfers().empty());

    ASSERT_EQ(m_engine->SetCaptureWindow(512, 384, 640, 480, 0), 1);
    EXPECT_TRUE(m_engine->GeometryPending());
    int32_t v[5] = {-1, -1, -1, -1, -1};
    ASSERT_EQ(m_engine->GetCaptureWindowValues(&v[0], &v[1], &v[2], &v[3], &v[4]), 1);
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{512, 384, 640, 480, 0}));
    const sim::ReadoutSettings r = m_camera->Readout();
    EXPECT_EQ(r.windowX, 512);
    EXPECT_EQ(r.windowY, 384);
    EXPECT_EQ(r.windowWidth, 640);
    EXPECT_EQ(r.windowHeight, 480);

    // Once the buffers follow the new window, asking for it again changes nothing.
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    m_camera->Log().Clear();
    EXPECT_EQ(m_engine->SetCaptureWindow(512, 384, 640, 480, 0), 1);
    EXPECT_FALSE(m_engine->GeometryPending());
    EXPECT_TRUE(SensorWrites(*m_camera).empty());
}

// A window the sensor refuses (odd x) keeps the old window and the buffers as they are. A 2x2
// sub-sampled window reports the halved output size the frames will have.
TEST_F(EngineSettings, RefusedWindowKeepsTheOldOneAndSubSamplingHalvesTheOutput) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    EXPECT_EQ(m_engine->SetCaptureWindow(3, 0, 640, 480, 0), 0);
    EXPECT_FALSE(m_engine->GeometryPending());
    int32_t v[5] = {};
    ASSERT_EQ(m_engine->GetCaptureWindowValues(&v[0], &v[1], &v[2], &v[3], &v[4]), 1);
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{0, 0, 2048, 1536, 0}));

    ASSERT_EQ(m_engine->SetCaptureWindow(0, 0, 2048, 1536, 1), 1);
    EXPECT_TRUE(m_engine->GeometryPending());
    ASSERT_EQ(m_engine->GetCaptureWindowValues(&v[0], &v[1], &v[2], &v[3], &v[4]), 1);
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{0, 0, 1024, 768, 1}));
    EXPECT_TRUE(m_camera->Readout().subSampleH);
    // Null outputs are skipped.
    EXPECT_EQ(m_engine->GetCaptureWindowValues(nullptr, nullptr, nullptr, nullptr, nullptr), 1);
}

// A window whose writes cannot reach the sensor (bus stuck busy) fails after one bus wait (the
// first write's 100 polls of up to three status reads each), not a wait for each of its registers, and leaves the window as
// it was; once the bus is free the same window is programmed instead of being taken for the one
// the sensor already has.
TEST_F(EngineSettings, WindowThatDidNotReachTheSensorFailsAfterOneWaitAndIsProgrammedLater) {
    ASSERT_NO_FATAL_FAILURE(Open());
    m_camera->Faults().SetBusBusyStuck(true);
    EXPECT_EQ(m_engine->SetCaptureWindow(512, 384, 640, 480, 0), 0);
    EXPECT_EQ(FpgaReadsOf(*m_camera, 0x02), 300u);
    int32_t v[5] = {};
    ASSERT_EQ(m_engine->GetCaptureWindowValues(&v[0], &v[1], &v[2], &v[3], &v[4]), 1);
    EXPECT_EQ(std::vector<int32_t>(v, v + 5), (std::vector<int32_t>{0, 0, 2048, 1536, 0}));

    m_camera->Faults().SetBusBusyStuck(false);
    ASSERT_EQ(m_engine->SetCaptureWindow(512, 384, 640, 480, 0), 1);
    EXPECT_TRUE(m_engine->GeometryPending());
    const sim::ReadoutSettings r = m_camera->Readout();
    EXPECT_EQ(r.windowX, 512);
    EXPECT_EQ(r.windowY, 384);
    EXPECT_EQ(r.windowWidth, 640);
    EXPECT_EQ(r.windowHeight, 480);
}

// --- Pixel data width ----------------------------------------------------------------------------

// The FPGA's width register says 2 for 16-bit data and 1 for 8-bit; a change re-sizes the
// buffers at once (2 bytes per pixel), the same width again only re-states the register.
TEST_F(EngineSettings, DataWidthReachesTheFpgaAndResizesTheBuffersWhenItChanges) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    const uint32_t pixels = 2048u * 1536u;
    ASSERT_EQ(m_engine->FrameSize(), pixels);

    ASSERT_EQ(m_engine->SetDataWidth(1), 1);
    EXPECT_EQ(FpgaValues(*m_camera, 0x3C), (std::vector<uint8_t>{2}));
    EXPECT_EQ(m_camera->Readout().bytesPerPixel, 2);
    EXPECT_EQ(m_engine->DataWidthFlag(), 1);
    EXPECT_EQ(m_engine->FrameSize(), pixels * 2);
    EXPECT_EQ(m_engine->RawBufferCapacity(),
              ((1536u + 128) * (2048u + 128) * 2 + 8191) / 8192 * 8192);
    EXPECT_EQ(m_engine->Sensor()->State().m_nDataBits, 16u);

    m_camera->Log().Clear();
    ASSERT_EQ(m_engine->SetDataWidth(1), 1);
    EXPECT_EQ(FpgaWrites(*m_camera), (RegWrites{{0x3C, 2}}));  // no geometry programmed again

    m_camera->Log().Clear();
    ASSERT_EQ(m_engine->SetDataWidth(0), 1);
    EXPECT_EQ(FpgaValues(*m_camera, 0x3C).front(), 1);
    EXPECT_EQ(m_camera->Readout().bytesPerPixel, 1);
    EXPECT_EQ(m_engine->DataWidthFlag(), 0);
    EXPECT_EQ(m_engine->FrameSize(), pixels);
    EXPECT_EQ(m_engine->Sensor()->State().m_nDataBits, 8u);

    // Any non-zero flag is 16-bit data for the head, the FPGA and the buffers alike.
    ASSERT_EQ(m_engine->SetDataWidth(2), 1);
    EXPECT_EQ(m_engine->Sensor()->State().m_nDataBits, 16u);
    EXPECT_EQ(m_camera->Readout().bytesPerPixel, 2);
    EXPECT_EQ(m_engine->FrameSize(), pixels * 2);
}

TEST_F(EngineSettings, FailedFpgaWriteLeavesTheDataWidthAsItWas) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    const uint32_t frameSize = m_engine->FrameSize();
    sim::Unplug(m_camera);
    EXPECT_EQ(m_engine->SetDataWidth(1), 0);
    EXPECT_EQ(m_engine->DataWidthFlag(), 0);
    EXPECT_EQ(m_engine->FrameSize(), frameSize);
}

// --- Link speed ------------------------------------------------------------------------------

struct SpeedCase {
    uint32_t linkSpeed;  // the driver's speed word: 4 SuperSpeed, 3 high, 2 full speed
    int32_t requested;
    int32_t forwarded;
};

void PrintTo(const SpeedCase& c, std::ostream* os) {
    *os << "link speed " << c.linkSpeed << ", mode " << c.requested;
}

class EngineSpeedMode : public EngineSettings, public ::testing::WithParamInterface<SpeedCase> {};

// Mode 2 needs a SuperSpeed link; on a slower one the head gets mode 0. Other modes pass as
// they are.
TEST_P(EngineSpeedMode, ModeTwoNeedsASuperSpeedLink) {
    const SpeedCase& c = GetParam();
    sim::CameraConfig config;
    config.deviceSpeed = c.linkSpeed;
    ASSERT_NO_FATAL_FAILURE(Open(config));
    auto head =
        std::make_unique<SpeedRecordingHead>(m_engine->Controller(), CSensorIMX252::kBusAddress);
    SpeedRecordingHead* recorder = head.get();
    m_engine->UseSensor(std::move(head));
    EXPECT_EQ(m_engine->SetSpeedMode(c.requested), 1);
    EXPECT_EQ(recorder->modes, (std::vector<int32_t>{c.forwarded}));
}

INSTANTIATE_TEST_SUITE_P(Links, EngineSpeedMode,
                         ::testing::Values(SpeedCase{4, 2, 2}, SpeedCase{3, 2, 0},
                                           SpeedCase{2, 2, 0}, SpeedCase{3, 1, 1},
                                           SpeedCase{2, 0, 0}, SpeedCase{4, 1, 1}));

// The IMX252 head has one speed: the engine passes the refusal on.
TEST_F(EngineSettings, TheImx252HeadHasNoSpeedModes) {
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(m_engine->SetSpeedMode(2), 0);
}

// --- Trigger mode ----------------------------------------------------------------------------

// Asking for the mode in force without forcing it neither stops capture nor touches the camera;
// forcing it programs the sensor again; a new mode programs the trigger enable pair.
TEST_F(EngineSettings, CurrentTriggerModeIsOnlyProgrammedWhenForced) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_engine->SetTriggerMode(0, 1), 1);
    m_camera->Log().Clear();
    const uint64_t requestsBefore = m_camera->Counters().vendorRequests;

    EXPECT_EQ(m_engine->SetTriggerMode(0, 0), 1);
    EXPECT_EQ(m_camera->Counters().vendorRequests, requestsBefore);
    EXPECT_TRUE(m_camera->Log().BusTransfers().empty());

    EXPECT_EQ(m_engine->SetTriggerMode(0, 1), 1);
    const RegWrites writes = SensorWrites(*m_camera);
    EXPECT_NE(std::find(writes.begin(), writes.end(), test::RegWrite{0x20B, 0}), writes.end());
    // Free-run does not wait for triggers, so the FPGA's frame counter is not consulted.
    EXPECT_EQ(FpgaReadsOf(*m_camera, 0x08), 0u);

    // In trigger mode the capture loop waits for the FPGA's frame counter to move on from its
    // count at the switch.
    m_camera->Log().Clear();
    ASSERT_EQ(m_engine->SetTriggerMode(1, 0), 1);
    EXPECT_TRUE(m_camera->Readout().triggerMode);
    EXPECT_EQ(FpgaReadsOf(*m_camera, 0x08), 1u);
    int32_t mode = -1;
    ASSERT_EQ(m_engine->GetTriggerMode(&mode), 1);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(m_engine->TriggerModeFlag(), 1);
}

// A head that could not take a mode leaves it unknown: asking for the same mode again programs
// it, instead of trusting a camera that may still run in the other mode.
TEST_F(EngineSettings, FailedTriggerModeIsProgrammedAgainOnTheNextRequest) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_engine->SetTriggerMode(1, 1), 1);
    ASSERT_TRUE(m_camera->Readout().triggerMode);

    m_camera->Faults().RefuseBusDevice(0x48, 1000000);
    EXPECT_EQ(m_engine->SetTriggerMode(0, 0), 0);
    EXPECT_TRUE(m_camera->Readout().triggerMode);

    m_camera->Faults().ClearAll();
    EXPECT_EQ(m_engine->SetTriggerMode(0, 0), 1);
    EXPECT_FALSE(m_camera->Readout().triggerMode);
    EXPECT_EQ(m_engine->TriggerModeFlag(), 0);
}

// --- 16-bit registers of bus devices ---------------------------------------------------------

// The register number and the value travel high byte first, and the first byte read back is the
// high byte: a gain of 300 (0x12C) sits in the sensor as 0x2C at 0x404 and 0x01 at 0x405, so a
// 16-bit read at 0x404 gives 0x2C01.
TEST_F(EngineSettings, BusRegistersAreSixteenBitsHighByteFirst) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_engine->SetGain(300), 1);
    const uint16_t expected = static_cast<uint16_t>(m_camera->SensorRegister(0x404) << 8 |
                                                    m_camera->SensorRegister(0x405));
    ASSERT_EQ(expected, 0x2C01);
    uint16_t value = 0;
    ASSERT_EQ(m_engine->ReadBusRegister16(kSensorBridge7, 0x404, &value), 1);
    EXPECT_EQ(value, expected);

    m_camera->SetEepromByte(0x0200, 0xAB);
    m_camera->SetEepromByte(0x0201, 0xCD);
    ASSERT_EQ(m_engine->ReadBusRegister16(kEeprom7, 0x0200, &value), 1);
    EXPECT_EQ(value, 0xABCD);

    ASSERT_EQ(m_engine->WriteBusRegister16(kEeprom7, 0x0300, 0x1234), 1);
    EXPECT_EQ(m_camera->EepromByte(0x0300), 0x12);
    EXPECT_EQ(m_camera->EepromByte(0x0301), 0x34);
    ASSERT_EQ(m_engine->WriteBusRegister16(kSensorBridge7, 0x0404, 0x5001), 1);
    EXPECT_EQ(m_camera->SensorRegister(0x404), 0x50);
    EXPECT_EQ(m_camera->SensorRegister(0x405), 0x01);
}

// With the FPGA reporting the bus busy the whole time, the wait gives up after its limit (of SDK
// time, polling meanwhile) and the register access is never attempted.
TEST_F(EngineSettings, BusStuckBusyEndsTheWaitAfterItsLimit) {
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(m_engine->WaitBusIdle(0), 1);

    m_camera->Faults().SetBusBusyStuck(true);
    m_camera->Log().Clear();
    const uint64_t start = platform::MonotonicMs();
    EXPECT_EQ(m_engine->WaitBusIdle(3000), 0);
    EXPECT_GE(platform::MonotonicMs() - start, 3000u);
    EXPECT_GT(FpgaReadsOf(*m_camera, 0x02), 1u);

    m_camera->Log().Clear();
    uint16_t value = 0x7777;
    EXPECT_EQ(m_engine->WriteBusRegister16(kEeprom7, 0x0300, 0x1234), 0);
    EXPECT_EQ(m_engine->ReadBusRegister16(kSensorBridge7, 0x0404, &value), 0);
    EXPECT_EQ(value, 0x7777);
    for (const sim::BusTransferRecord& transfer : m_camera->Log().BusTransfers()) {
        EXPECT_EQ(transfer.address & 0xFE, 0x40) << "only the FPGA's status may be read";
    }
    EXPECT_EQ(m_camera->EepromByte(0x0300), 0xFF);

    // A status that cannot be read ends the wait at once.
    m_camera->Faults().SetBusBusyStuck(false);
    sim::Unplug(m_camera);
    EXPECT_EQ(m_engine->WaitBusIdle(3000), 0);
}

// --- EEPROM, FPGA temperature ------------------------------------------------------------------

TEST_F(EngineSettings, UserIdentificationByteSitsAt0x1080) {
    sim::CameraConfig config;
    config.userId = 0x3C;
    ASSERT_NO_FATAL_FAILURE(Open(config));
    uint8_t id = 0;
    ASSERT_EQ(m_engine->ReadSromId(&id), 1);
    EXPECT_EQ(id, 0x3C);
    ASSERT_EQ(m_engine->WriteSromId(0xC5), 1);
    EXPECT_EQ(m_camera->EepromByte(0x1080), 0xC5);
    ASSERT_EQ(m_engine->ReadSromId(&id), 1);
    EXPECT_EQ(id, 0xC5);
}

// Only the FPGA of line-sensor heads has a thermometer; the IMX252's registers 0x8E/0x8F are not
// read as one. For a line-sensor head the reading (low + 256 high) spans 503.975 K over 65536.
TEST_F(EngineSettings, FpgaTemperatureIsReadOnlyForLineSensorHeads) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(m_engine->WriteFpgaRegister(0x8E, 0x40), 1);
    ASSERT_EQ(m_engine->WriteFpgaRegister(0x8F, 0x9A), 1);
    m_camera->Log().Clear();
    double celsius = -1000.0;
    EXPECT_EQ(m_engine->GetFpgaTemperature(&celsius), 0);
    EXPECT_EQ(celsius, -1000.0);
    EXPECT_EQ(FpgaReadsOf(*m_camera, 0x8E), 0u);

    ASSERT_EQ(m_engine->SetCameraId(13072), 1);
    ASSERT_EQ(m_engine->GetFpgaTemperature(&celsius), 1);
    EXPECT_DOUBLE_EQ(celsius, (0x40 + 256.0 * 0x9A) * 503.975 / 65536.0 - 273.15);
}

// --- Without a sensor head ---------------------------------------------------------------------

// Before a camera is opened every setting fails and every query answers 0; the gain mode says
// "none" (-1) and the output formats are not restricted yet (1).
TEST_F(EngineSettings, WithoutAHeadSettingsFailAndQueriesAnswerZero) {
    m_engine = std::make_unique<ProbedEngine>();
    m_engine->SetCameraId(12736);
    m_engine->CreateController(platform::WindowHandle{}, nullptr);
    int32_t out = 7;
    uint32_t raw = 7;
    uint16_t word = 7;
    double seconds = 7.0;
    struct Case {
        const char* name;
        int64_t result;
        int64_t expected;
    };
    const Case cases[] = {
        {"SetDataWidth", m_engine->SetDataWidth(1), 0},
        {"SetSpeedMode", m_engine->SetSpeedMode(2), 0},
        {"SetCaptureWindow", m_engine->SetCaptureWindow(0, 0, 2048, 1536, 0), 0},
        {"GetCaptureWindowValues", m_engine->GetCaptureWindowValues(&out, &out, &out, &out, &out),
         0},
        {"SetTriggerMode forced", m_engine->SetTriggerMode(1, 1), 0},
        {"SetMirrorH", m_engine->SetMirrorH(1), 0},
        {"GetMirrorV", m_engine->GetMirrorV(), 0},
        {"IsMirrorHSupported", m_engine->IsMirrorHSupported(), 0},
        {"GetMaxWidth", m_engine->GetMaxWidth(), 0},
        {"IsWidthAdjustable", m_engine->IsWidthAdjustable(), 0},
        {"GetGain", m_engine->GetGain(), 0},
        {"GetExposureTime", m_engine->GetExposureTime(), 0},
        {"GetExposureLinesMax", m_engine->GetExposureLinesMax(), 0},
        {"GetExposureTimeEx", m_engine->GetExposureTimeEx(&seconds), 0},
        {"GetColorGainBlue", m_engine->GetColorGainBlue(), 0},
        {"GetBlackLevelMax", m_engine->GetBlackLevelMax(), 0},
        {"WriteRegisterRaw", m_engine->WriteRegisterRaw(0, 0x404, 1), 0},
        {"ReadRegisterRaw", m_engine->ReadRegisterRaw(0, 0x404, &raw), 0},
        {"SetSamplingRate", m_engine->SetSamplingRate(0, 0, &out), 0},
        {"GetGainMode", m_engine->GetGainMode(), -1},
        {"SupportsOutput8", m_engine->SupportsOutput8(), 1},
        {"SupportsOutput16", m_engine->SupportsOutput16(), 1},
        {"SupportsOutputColor", m_engine->SupportsOutputColor(), 1},
        {"ReadBusRegister16", m_engine->ReadBusRegister16(kEeprom7, 0, &word), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.name;
    }
    EXPECT_EQ(out, 7);
    EXPECT_EQ(raw, 7u);
    EXPECT_EQ(word, 7);
}

// The open IMX252 head: its window limits and defaults (the whole 2048 x 1536 sensor, both sizes
// adjustable), every output format, sensor register access on sensor 0 only, and none of the
// optional features of other heads.
TEST_F(EngineSettings, TheImx252HeadReportsItsLimitsAndLacksOtherHeadsFeatures) {
    ASSERT_NO_FATAL_FAILURE(Open());
    int32_t out = 0;
    uint32_t raw = 0;
    struct Case {
        const char* name;
        int64_t result;
        int64_t expected;
    };
    const Case cases[] = {
        {"IsWidthAdjustable", m_engine->IsWidthAdjustable(), 1},
        {"IsHeightAdjustable", m_engine->IsHeightAdjustable(), 1},
        {"GetMaxWidth", m_engine->GetMaxWidth(), 2048},
        {"GetMaxHeight", m_engine->GetMaxHeight(), 1536},
        {"GetDefaultWidth", m_engine->GetDefaultWidth(), 2048},
        {"GetDefaultHeight", m_engine->GetDefaultHeight(), 1536},
        {"GetDefaultX", m_engine->GetDefaultX(), 0},
        {"GetDefaultY", m_engine->GetDefaultY(), 0},
        {"IsMirrorVSupported", m_engine->IsMirrorVSupported(), 1},
        {"IsMirrorHSupported", m_engine->IsMirrorHSupported(), 1},
        {"SupportsOutput8", m_engine->SupportsOutput8(), 1},
        {"SupportsOutput16", m_engine->SupportsOutput16(), 1},
        {"SupportsOutputColor", m_engine->SupportsOutputColor(), 1},
        {"GetGainMode", m_engine->GetGainMode(), -1},
        {"IsBlackLevelSupported", m_engine->IsBlackLevelSupported(), 0},
        {"IsCoolerSupported", m_engine->IsCoolerSupported(), 0},
        {"IsTemperatureSupported", m_engine->IsTemperatureSupported(), 0},
        {"IsInternalCorrectionSupported", m_engine->IsInternalCorrectionSupported(), 0},
        {"IsShortExposureModeSupported", m_engine->IsShortExposureModeSupported(), 0},
        {"IsExposureTimeExSupported", m_engine->IsExposureTimeExSupported(), 0},
        {"SetSamplingRate", m_engine->SetSamplingRate(0, 0, &out), 0},
        {"SetSamplingRate sensor 1", m_engine->SetSamplingRate(1, 0, &out), 0},
        {"ReadRegisterRaw sensor 1", m_engine->ReadRegisterRaw(1, 0x404, &raw), 0},
        {"IsLineSensorHead", m_engine->IsLineSensorHead(), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.name;
    }
    // Sensor 0 reaches the IMX252's registers: the gain the head programmed at open.
    ASSERT_EQ(m_engine->ReadRegisterRaw(0, 0x404, &raw), 1);
    EXPECT_EQ(raw, m_camera->SensorRegister(0x404));
    ASSERT_EQ(m_engine->WriteRegisterRaw(0, 0x404, 0x33), 1);
    EXPECT_EQ(m_camera->SensorRegister(0x404), 0x33);
}

}  // namespace
}  // namespace quorix
