// The sensor interface's base behaviour and its FPGA helpers on a real controller and an
// emulated camera: what reaches the camera (and what must not), read back from its logs.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "head_fixture.h"
#include "sensors/sensor_base.h"

namespace quorix {
namespace {

using test::CameraHeadTest;
using test::FpgaReadsOf;
using test::FpgaValues;
using test::FpgaWrites;
using test::RegWrites;

// A head that overrides nothing, attached to a live controller like any other head.
class BareHead : public CSensorBase {
public:
    explicit BareHead(CControllerBase* controller) { Attach(controller, 72); }
};

class SensorBaseOnCamera : public CameraHeadTest {};

// A head without any operation of its own answers "not supported" to every setting and query
// of the interface - and, connected to a working camera, sends it nothing at all: no setting
// may half-happen on a head that cannot do it.
TEST_F(SensorBaseOnCamera, AHeadWithoutOverridesNeverTouchesTheCamera) {
    ASSERT_NO_FATAL_FAILURE(Open());
    BareHead head(m_controller.get());
    int32_t v = 0;
    uint32_t u = 0;
    double d = 0;
    int32_t rate = 0;
    const std::vector<std::pair<std::string, std::function<int()>>> unsupported = {
        {"IsReady", [&] { return head.IsReady(); }},
        {"Initialize", [&] { return head.Initialize(); }},
        {"SetCaptureWindow", [&] { return head.SetCaptureWindow(0, 2048, 0, 1536, 0); }},
        {"GetCaptureWindow", [&] { return head.GetCaptureWindow(&v, &v, &v, &v, &v); }},
        {"SetTriggerMode", [&] { return head.SetTriggerMode(1); }},
        {"GetTriggerMode", [&] { return head.GetTriggerMode(&v); }},
        {"SetDataWidth", [&] { return head.SetDataWidth(1); }},
        {"SetExposureLines", [&] { return head.SetExposureLines(100); }},
        {"GetExposureLines", [&] { return head.GetExposureLines(&v); }},
        {"SetGain", [&] { return head.SetGain(100); }},
        {"GetGain", [&] { return head.GetGain(&v); }},
        {"SetColorGainRed", [&] { return head.SetColorGainRed(1); }},
        {"GetColorGainRed", [&] { return head.GetColorGainRed(&v); }},
        {"SetColorGainGreen1", [&] { return head.SetColorGainGreen1(1); }},
        {"GetColorGainGreen1", [&] { return head.GetColorGainGreen1(&v); }},
        {"SetColorGainGreen2", [&] { return head.SetColorGainGreen2(1); }},
        {"GetColorGainGreen2", [&] { return head.GetColorGainGreen2(&v); }},
        {"SetColorGainBlue", [&] { return head.SetColorGainBlue(1); }},
        {"GetColorGainBlue", [&] { return head.GetColorGainBlue(&v); }},
        {"GetExposureLinesMin", [&] { return head.GetExposureLinesMin(&v); }},
        {"GetExposureLinesMax", [&] { return head.GetExposureLinesMax(&v); }},
        {"GetExposureLinesDefault", [&] { return head.GetExposureLinesDefault(&v); }},
        {"GetGainMin", [&] { return head.GetGainMin(&v); }},
        {"GetGainMax", [&] { return head.GetGainMax(&v); }},
        {"GetGainDefault", [&] { return head.GetGainDefault(&v); }},
        {"GetColorGainMin", [&] { return head.GetColorGainMin(&v); }},
        {"GetColorGainMax", [&] { return head.GetColorGainMax(&v); }},
        {"GetColorGainDefault", [&] { return head.GetColorGainDefault(&v); }},
        {"IsBlackLevelSupported", [&] { return head.IsBlackLevelSupported(); }},
        {"SetBlackLevel", [&] { return head.SetBlackLevel(80); }},
        {"GetBlackLevel", [&] { return head.GetBlackLevel(&v); }},
        {"GetBlackLevelMin", [&] { return head.GetBlackLevelMin(&v); }},
        {"GetBlackLevelMax", [&] { return head.GetBlackLevelMax(&v); }},
        {"GetBlackLevelDefault", [&] { return head.GetBlackLevelDefault(&v); }},
        {"IsAuxValueSupported", [&] { return head.IsAuxValueSupported(); }},
        {"SetAuxValue", [&] { return head.SetAuxValue(1); }},
        {"GetAuxValue", [&] { return head.GetAuxValue(&v); }},
        {"SetExposureTime", [&] { return head.SetExposureTime(170); }},
        {"GetExposureTime", [&] { return head.GetExposureTime(&v); }},
        {"GetExposureTimeMin", [&] { return head.GetExposureTimeMin(&v); }},
        {"GetExposureTimeMax", [&] { return head.GetExposureTimeMax(&v); }},
        {"GetExposureTimeDefault", [&] { return head.GetExposureTimeDefault(&v); }},
        {"SetMirrorV", [&] { return head.SetMirrorV(1); }},
        {"GetMirrorV", [&] { return head.GetMirrorV(&v); }},
        {"SetMirrorH", [&] { return head.SetMirrorH(1); }},
        {"GetMirrorH", [&] { return head.GetMirrorH(&v); }},
        {"GetMirrorVDefault", [&] { return head.GetMirrorVDefault(); }},
        {"GetMirrorHDefault", [&] { return head.GetMirrorHDefault(); }},
        {"IsMirrorVSupported", [&] { return head.IsMirrorVSupported(); }},
        {"IsMirrorHSupported", [&] { return head.IsMirrorHSupported(); }},
        {"SetSamplingRate", [&] { return head.SetSamplingRate(0, &rate); }},
        {"WriteRegisterRaw", [&] { return head.WriteRegisterRaw(0x20E, 1); }},
        {"ReadRegisterRaw", [&] { return head.ReadRegisterRaw(0x20E, &u); }},
        {"WriteSensorRegister", [&] { return head.WriteSensorRegister(0x20E, 1); }},
        {"ReadSensorRegister", [&] { return head.ReadSensorRegister(0x20E, &u); }},
        {"SetSamplingRateValue", [&] { return head.SetSamplingRateValue(1); }},
        {"SetSpeedMode", [&] { return head.SetSpeedMode(2); }},
        {"CopyStateBlock(null)", [&] { return head.CopyStateBlock(nullptr); }},
        {"IsInternalCorrectionSupported", [&] { return head.IsInternalCorrectionSupported(); }},
        {"SetInternalCorrection", [&] { return head.SetInternalCorrection(1); }},
        {"GetInternalCorrection", [&] { return head.GetInternalCorrection(&v); }},
        {"IsCoolerSupported", [&] { return head.IsCoolerSupported(); }},
        {"GetCooler", [&] { return head.GetCooler(&v); }},
        {"SetCooler", [&] { return head.SetCooler(1); }},
        {"IsTemperatureSupported", [&] { return head.IsTemperatureSupported(); }},
        {"GetTemperature", [&] { return head.GetTemperature(&d); }},
        {"IsExposureTimeExSupported", [&] { return head.IsExposureTimeExSupported(); }},
        {"GetExposureTimeExMin",
         [&] { return static_cast<int>(head.GetExposureTimeExMin(&d) != 0.0); }},
        {"GetExposureTimeExMax",
         [&] { return static_cast<int>(head.GetExposureTimeExMax(&d) != 0.0); }},
        {"GetExposureTimeExDefault",
         [&] { return static_cast<int>(head.GetExposureTimeExDefault(&d) != 0.0); }},
        {"GetExposureTimeEx", [&] { return head.GetExposureTimeEx(&d); }},
        {"SetExposureTimeEx", [&] { return head.SetExposureTimeEx(0.017); }},
        {"IsShortExposureModeSupported", [&] { return head.IsShortExposureModeSupported(); }},
        {"GetShortExposureMode", [&] { return head.GetShortExposureMode(&v); }},
        {"SetShortExposureMode", [&] { return head.SetShortExposureMode(1); }},
        {"IsGainModeSupported", [&] { return head.IsGainModeSupported(); }},
        {"SetGainMode", [&] { return head.SetGainMode(1); }},
    };
    for (const auto& [name, call] : unsupported)
        EXPECT_EQ(call(), 0) << name;

    EXPECT_EQ(head.GetGainMode(), -1);
    EXPECT_EQ(head.GetRawWidthMode(), -1);
    EXPECT_EQ(head.SupportsOutput8(), 1);
    EXPECT_EQ(head.SupportsOutput16(), 1);
    EXPECT_EQ(head.SupportsOutputColor(), 1);
    head.OnSettingsApplied();
    head.OnCaptureStop(1);

    EXPECT_TRUE(Camera().Log().VendorRequests().empty());
}

// The FPGA keeps one byte per register: a value wider than a byte is written as its low byte
// and verified against it. The I/O port register reads back what was written.
TEST_F(SensorBaseOnCamera, VerifiedWriteSendsAndComparesTheLowByte) {
    ASSERT_NO_FATAL_FAILURE(Open());
    BareHead head(m_controller.get());
    EXPECT_EQ(head.WriteFpgaRegisterVerified(0x07, 0x1A5), 1);
    EXPECT_EQ(FpgaWrites(Camera()), RegWrites({{0x07, 0xA5}}));
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x07), 1u);
    EXPECT_EQ(Camera().FpgaRegister(0x07), 0xA5);

    // The precise form takes the same path.
    Camera().Log().Clear();
    EXPECT_EQ(head.WriteFpgaRegisterVerifiedPrecise(0x07, 0x3C), 1);
    EXPECT_EQ(FpgaWrites(Camera()), RegWrites({{0x07, 0x3C}}));
}

// A register that never reads back the value (the read-only version byte) is written and read
// back ten times, then the write is reported failed.
TEST_F(SensorBaseOnCamera, VerifiedWriteGivesUpAfterTenMismatches) {
    sim::CameraConfig config;
    config.fpgaVersion = 0x0140;
    ASSERT_NO_FATAL_FAILURE(Open(config));
    BareHead head(m_controller.get());
    EXPECT_EQ(head.WriteFpgaRegisterVerified(0x10, 0x41), 0);
    EXPECT_EQ(FpgaValues(Camera(), 0x10), std::vector<uint8_t>(10, 0x41));
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x10), 10u);
    uint8_t low = 0;
    ASSERT_EQ(m_controller->ReadFpgaRegister(0x10, &low), 1);
    EXPECT_EQ(low, 0x40);
}

// A write the bus refuses is simply tried again - without a read-back of a value that never got
// there - and the fourth write succeeds here.
TEST_F(SensorBaseOnCamera, VerifiedWriteRetriesARefusedWriteAtOnce) {
    ASSERT_NO_FATAL_FAILURE(Open());
    BareHead head(m_controller.get());
    Camera().Faults().RefuseBusDevice(test::kBusFpga, 3);
    EXPECT_EQ(head.WriteFpgaRegisterVerified(0x07, 0x5A), 1);
    const auto bus = Camera().Log().BusTransfers();
    ASSERT_EQ(bus.size(), 6u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(bus[i].bytes, std::vector<uint8_t>({0x07, 0x00, 0x5A})) << i;
        EXPECT_EQ(bus[i].acknowledged, i == 3) << i;
    }
    EXPECT_EQ(bus[4].bytes, std::vector<uint8_t>({0x07}));
    EXPECT_TRUE(bus[5].read);
}

// An FPGA that reports its configuration loaded (register 0x81 bit 1) is not reloaded: one read
// of 0x81 and no write at all.
TEST_F(SensorBaseOnCamera, ReconfigureLeavesALoadedFpgaAlone) {
    ASSERT_NO_FATAL_FAILURE(Open());
    BareHead head(m_controller.get());
    EXPECT_EQ(head.ReconfigureFpga(), 1);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x81), 1u);
    EXPECT_TRUE(Camera().Log().RegisterWrites().empty());
    EXPECT_EQ(Camera().Counters().fpgaReconfigurations, 0u);
}

// An FPGA without its configuration is pulsed (0x81 = 1, then 0) and the head waits until the
// reload is done and bit 1 reads set.
TEST_F(SensorBaseOnCamera, ReconfigureReloadsAnUnloadedFpgaAndWaitsForIt) {
    ASSERT_NO_FATAL_FAILURE(Open());
    BareHead head(m_controller.get());
    ASSERT_EQ(m_controller->WriteFpgaRegister(0x81, 1), 1);
    Camera().Log().Clear();
    EXPECT_EQ(head.ReconfigureFpga(), 1);
    EXPECT_EQ(FpgaValues(Camera(), 0x81), std::vector<uint8_t>({1, 0}));
    EXPECT_EQ(Camera().Counters().fpgaReconfigurations, 1u);
    const auto bus = Camera().Log().BusTransfers();
    ASSERT_FALSE(bus.empty());
    ASSERT_TRUE(bus.back().read);
    EXPECT_NE(bus.back().bytes.at(1) & 0x02, 0);
}

// The bridge reset holds the sensor bridge in reset for one pulse of register 0x82 bit 0 and
// keeps the register's other bits.
TEST_F(SensorBaseOnCamera, BridgeResetPulsesTheBridgeOnce) {
    ASSERT_NO_FATAL_FAILURE(Open());
    BareHead head(m_controller.get());
    ASSERT_EQ(m_controller->WriteFpgaRegister(0x82, 0xF0), 1);
    Camera().Log().Clear();
    head.ResetSensorBridge();
    EXPECT_EQ(FpgaValues(Camera(), 0x82), std::vector<uint8_t>({0xF0, 0xF1, 0xF0}));
    EXPECT_EQ(Camera().Counters().bridgeResets, 1u);
    // The bridge works again afterwards.
    EXPECT_EQ(m_head->WriteRegisterRaw(0x20E, 2), 1);
    EXPECT_EQ(Camera().SensorRegister(0x20E), 2);
}

// The FPGA version is read once (low byte 0x10, high byte 0x11) and then kept.
TEST_F(SensorBaseOnCamera, FpgaVersionIsReadOnceAndCached) {
    sim::CameraConfig config;
    config.fpgaVersion = 0x0135;
    ASSERT_NO_FATAL_FAILURE(Open(config));
    BareHead head(m_controller.get());
    uint16_t version = 0;
    ASSERT_EQ(head.GetFpgaVersion(&version), 1);
    EXPECT_EQ(version, 0x0135);
    ASSERT_EQ(head.GetFpgaVersion(&version), 1);
    EXPECT_EQ(version, 0x0135);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x10), 1u);
    EXPECT_EQ(FpgaReadsOf(Camera(), 0x11), 1u);
}

}  // namespace
}  // namespace quorix
