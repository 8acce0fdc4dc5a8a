// Camera settings through the exported functions, with an emulated camera open: the exposure in
// its three forms (100 us units, microseconds, seconds), mirroring, sensor registers, the I/O
// port in the FPGA and the camera's non-volatile memory, each checked in the camera's registers.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../transport/transport_test_support.h"
#include "context_test_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;

// One line period of the IMX252 in free-run with 8-bit data, in exposure units of 100 us: 323
// pixel clocks per line x 10 (line length 444 at 8 bits) over the 54.545 MHz pixel clock.
constexpr double kLinePeriod8 = 3230.0 / 54545.0;

// The exposure in whole line periods that an exposure in 100 us units gives.
uint32_t ExposureLines(int32_t units) {
    return static_cast<uint32_t>(static_cast<double>(units) / kLinePeriod8);
}

class CameraSettings : public ContextCameraTest {
protected:
    void SetUp() override {
        m_camera = Attach(m_config);
        m_handle = Initialize();
        ASSERT_EQ(ContextOf(m_handle).DeviceNumber(), 0);
        DrainThreadQueue();
        while (Quorix_GetLastError(m_handle) != 0) {
        }
    }
    void TearDown() override {
        DrainThreadQueue();
        ContextCameraTest::TearDown();
    }
    static void DrainThreadQueue() {
        QuorixMessage message;
        while (Quorix_PeekThreadMessage(&message) == 1) {
        }
    }
    // Codes posted to this thread's queue (no notification window) since the last call.
    static std::vector<intptr_t> Posted() {
        std::vector<intptr_t> codes;
        QuorixMessage message;
        while (Quorix_PeekThreadMessage(&message) == 1) {
            EXPECT_EQ(message.message, QUORIX_MSG_ERROR);
            codes.push_back(message.lParam);
        }
        return codes;
    }
    // Acquisition gives the camera its pixel format before it sends the exposure; the sensor
    // head cannot turn an exposure into line periods without it.
    void GiveThePixelFormat() { ASSERT_EQ(ContextOf(m_handle).Engine()->SetDataWidth(0), 1); }

    sim::CameraConfig m_config;
    std::shared_ptr<sim::EmulatedCamera> m_camera;
    QuorixHandle m_handle = 0;
};

// --- Exposure --------------------------------------------------------------------------------

struct ExposureCase {
    const char* name;
    bool microseconds;  // Quorix_SetRealExposureTime, else Quorix_SetExposureTime
    uint32_t value;     // [us] or [100 us]
    int32_t units;      // the exposure it is [100 us], -1 when refused (code 9)
};

void PrintTo(const ExposureCase& c, std::ostream* os) {
    *os << c.name;
}

class ExposureChain : public CameraSettings, public ::testing::WithParamInterface<ExposureCase> {};

// The camera's exposure range is 1..20000 units of 100 us. Microseconds are divided by 100 and
// truncated before the range check; the camera then exposes for whole line periods.
TEST_P(ExposureChain, ReachesTheSensorInLinePeriods) {
    const ExposureCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(GiveThePixelFormat());
    ASSERT_EQ(Quorix_SetExposureTime(m_handle, 170), 1);
    const uint32_t linesBefore = m_camera->Readout().exposureLines;

    const int result = c.microseconds
                           ? Quorix_SetRealExposureTime(m_handle, c.value)
                           : Quorix_SetExposureTime(m_handle, static_cast<int32_t>(c.value));
    int32_t ok = 7;
    if (c.units < 0) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(Quorix_GetLastError(m_handle), 9u);
        EXPECT_EQ(Quorix_GetExposureTime(m_handle, &ok), 170);
        EXPECT_EQ(m_camera->Readout().exposureLines, linesBefore);
        return;
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
    EXPECT_EQ(Quorix_GetExposureTime(m_handle, &ok), c.units);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Quorix_GetRealExposureTime(m_handle, &ok), static_cast<uint32_t>(c.units) * 100);
    EXPECT_EQ(m_camera->Readout().exposureLines, ExposureLines(c.units));
}

INSTANTIATE_TEST_SUITE_P(Values, ExposureChain,
                         ::testing::Values(ExposureCase{"units 1", false, 1, 1},
                                           ExposureCase{"units 500", false, 500, 500},
                                           ExposureCase{"units 20000", false, 20000, 20000},
                                           ExposureCase{"units 0", false, 0, -1},
                                           ExposureCase{"units 20001", false, 20001, -1},
                                           ExposureCase{"123456 us", true, 123456, 1234},
                                           ExposureCase{"199 us", true, 199, 1},
                                           ExposureCase{"100 us", true, 100, 1},
                                           ExposureCase{"99 us", true, 99, -1},
                                           ExposureCase{"2000099 us", true, 2000099, 20000},
                                           ExposureCase{"2000100 us", true, 2000100, -1},
                                           ExposureCase{"4294967295 us", true, 4294967295u, -1}));

// The IMX252 has no exposure in seconds: both calls say so with code 11 and change nothing.
TEST_F(CameraSettings, ExposureInSecondsIsNotSupported) {
    ASSERT_EQ(Quorix_SetExposureTime(m_handle, 250), 1);
    EXPECT_EQ(Quorix_SetExposureTimeEx(m_handle, 0.5), 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 11u);
    int32_t ok = 7;
    EXPECT_EQ(Quorix_GetExposureTimeEx(m_handle, &ok), -1.0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 11u);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
    EXPECT_EQ(ContextOf(m_handle).Camera().exposure, 250);
}

// --- Mirroring -------------------------------------------------------------------------------

// Sensor register 0x20E holds vertical (bit 0) and horizontal (bit 1) mirroring; any non-zero
// argument is "on" and is kept as 1.
TEST_F(CameraSettings, MirroringReachesTheSensorAndIsKeptAsZeroOrOne) {
    ASSERT_EQ(Quorix_SetMirrorH(m_handle, 7), 1);
    EXPECT_TRUE(m_camera->Readout().mirrorH);
    EXPECT_FALSE(m_camera->Readout().mirrorV);
    ASSERT_EQ(Quorix_SetMirrorV(m_handle, -2), 1);
    EXPECT_EQ(m_camera->SensorRegister(0x20E), 3);
    EXPECT_EQ(Quorix_GetMirrorH(m_handle), 1);
    EXPECT_EQ(Quorix_GetMirrorV(m_handle), 1);
    ASSERT_EQ(Quorix_SetMirrorH(m_handle, 0), 1);
    EXPECT_EQ(m_camera->SensorRegister(0x20E), 1);
    EXPECT_EQ(Quorix_GetMirrorH(m_handle), 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
    EXPECT_TRUE(Posted().empty());
}

// --- Sensor registers ------------------------------------------------------------------------

// The Ex forms reach the sensor's 16-bit addresses, the short forms its first 256 registers.
TEST_F(CameraSettings, SensorRegistersAreReachedByAddress) {
    int32_t ok = 7;
    ASSERT_EQ(Quorix_WriteRegisterEx(m_handle, 0x0454, 0x3C), 1);
    EXPECT_EQ(m_camera->SensorRegister(0x454), 0x3C);
    EXPECT_EQ(Quorix_ReadRegisterEx(m_handle, 0x0454, &ok), 0x3Cu);
    EXPECT_EQ(ok, 1);

    ASSERT_EQ(Quorix_WriteRegister(m_handle, 0x0012, 0xA5), 1);
    EXPECT_EQ(m_camera->SensorRegister(0x0012), 0xA5);
    ok = 7;
    EXPECT_EQ(Quorix_ReadRegister(m_handle, 0x12, &ok), 0xA5u);
    EXPECT_EQ(ok, 1);
    // The gain the camera was opened with, read at its full address.
    EXPECT_EQ(Quorix_ReadRegisterEx(m_handle, 0x0404, &ok), m_camera->SensorRegister(0x404));
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
}

// Address or value bits beyond a register space's width would be dropped on the way and reach
// another register (0x1000020E would write the mirror register 0x020E, value 0x103 would write
// 3): every register call refuses them with code 9 and the camera sees no access at all.
TEST_F(CameraSettings, RegisterAddressesAndValuesBeyondTheirWidthAreRefused) {
    const uint8_t mirror = m_camera->SensorRegister(test::kMirror);
    const uint8_t fpga7 = m_camera->FpgaRegister(7);
    const uint64_t eepromWrites = m_camera->Counters().eepromWrites;
    const size_t sensorWrites = SensorWrites(*m_camera).size();
    int32_t ok = 7;
    const std::vector<std::pair<const char*, std::function<uint32_t()>>> refused = {
        {"WriteRegisterEx address",
         [&] { return Quorix_WriteRegisterEx(m_handle, 0x1000020E, 3); }},
        {"WriteRegisterEx value",
         [&] { return Quorix_WriteRegisterEx(m_handle, test::kMirror, 0x103); }},
        {"WriteRegister address", [&] { return Quorix_WriteRegister(m_handle, 0x30E, 3); }},
        {"WriteRegister value", [&] { return Quorix_WriteRegister(m_handle, 0x0E, 0x1A5); }},
        {"ReadRegisterEx address", [&] { return Quorix_ReadRegisterEx(m_handle, 0x1020E, &ok); }},
        {"ReadRegister address", [&] { return Quorix_ReadRegister(m_handle, 0x7712, &ok); }},
        {"Fpga_WriteRegister address",
         [&] { return Quorix_Fpga_WriteRegister(m_handle, 0x107, 5); }},
        {"Fpga_WriteRegister value", [&] { return Quorix_Fpga_WriteRegister(m_handle, 7, 0x3A5); }},
        {"Fpga_ReadRegister address",
         [&] { return Quorix_Fpga_ReadRegister(m_handle, 0x310, &ok); }},
        {"WriteSromID address", [&] { return Quorix_WriteSromID(m_handle, 0x10234, 5); }},
        {"WriteSromID value", [&] { return Quorix_WriteSromID(m_handle, 0x0234, 0x1A7); }},
        {"ReadSromID address", [&] { return Quorix_ReadSromID(m_handle, 0x10080, &ok); }},
    };
    for (const auto& [name, call] : refused) {
        SCOPED_TRACE(name);
        ok = 7;
        EXPECT_EQ(call(), 0u);
        EXPECT_EQ(Quorix_GetLastError(m_handle), 9u);
        if (std::string(name).find("Read") != std::string::npos) {
            EXPECT_EQ(ok, 0);
        }
    }
    EXPECT_EQ(m_camera->SensorRegister(test::kMirror), mirror);
    EXPECT_EQ(m_camera->FpgaRegister(7), fpga7);
    EXPECT_EQ(m_camera->Counters().eepromWrites, eepromWrites);
    EXPECT_EQ(SensorWrites(*m_camera).size(), sensorWrites);
}

TEST_F(CameraSettings, RegisterAccessToAnUnpluggedCameraFailsWithCodeSix) {
    sim::Unplug(m_camera);
    int32_t ok = 7;
    EXPECT_EQ(Quorix_ReadRegisterEx(m_handle, 0x0404, &ok), 0u);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 6u);
    EXPECT_EQ(Quorix_WriteRegister(m_handle, 0x04, 1), 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 6u);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
}

// --- I/O port --------------------------------------------------------------------------------

// The port is FPGA register 7, which holds what was written; the low 8 bits are written.
TEST_F(CameraSettings, IoPortIsFpgaRegisterSeven) {
    ASSERT_EQ(Quorix_SetIOPort(m_handle, 0x3A5), 1);
    EXPECT_EQ(m_camera->FpgaRegister(7), 0xA5);
    uint8_t port = 0;
    ASSERT_EQ(Quorix_GetIOPort(m_handle, &port, 0, 0), 1);
    EXPECT_EQ(port, 0xA5);
    ASSERT_EQ(Quorix_SetIOPort(m_handle, 0x5C), 1);
    ASSERT_EQ(Quorix_GetIOPort(m_handle, &port, 0, 0), 1);
    EXPECT_EQ(port, 0x5C);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
    EXPECT_TRUE(Posted().empty());
}

// Port failures are posted only: a missing byte pointer or a failed read post code 9; a refused
// write is the result alone.
TEST_F(CameraSettings, IoPortFailuresArePostedOnly) {
    EXPECT_EQ(Quorix_GetIOPort(m_handle, nullptr, 0, 0), 0);
    EXPECT_EQ(Posted(), (std::vector<intptr_t>{9}));
    sim::Unplug(m_camera);
    uint8_t port = 0x77;
    EXPECT_EQ(Quorix_GetIOPort(m_handle, &port, 0, 0), 0);
    EXPECT_EQ(port, 0x77);
    EXPECT_EQ(Posted(), (std::vector<intptr_t>{9}));
    EXPECT_EQ(Quorix_SetIOPort(m_handle, 1), 0);
    EXPECT_TRUE(Posted().empty());
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
}

// --- Identification bytes in the EEPROM --------------------------------------------------------

class SromId : public CameraSettings {
protected:
    // EEPROM writes take their write time; SDK time runs fast here.
    test::ScopedTimeScale m_fast{100};
};

// A read clears bits 12-15 of the address: 0x1080 reads the byte at 0x0080. A write uses the low
// 12 bits of the address.
TEST_F(SromId, AddressesLoseBitsTwelveToFifteen) {
    m_camera->SetEepromByte(0x0080, 0x11);
    m_camera->SetEepromByte(0x1080, 0x22);
    int32_t ok = 7;
    EXPECT_EQ(Quorix_ReadSromID(m_handle, 0x1080, &ok), 0x11u);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Quorix_ReadSromID(m_handle, 0xF080, &ok), 0x11u);

    const uint64_t writesBefore = m_camera->Counters().eepromWrites;
    ASSERT_EQ(Quorix_WriteSromID(m_handle, 0xF234, 0xA7), 1);
    EXPECT_EQ(m_camera->EepromByte(0x0234), 0xA7);
    EXPECT_EQ(m_camera->EepromByte(0xF234), 0xFF);
    // A byte that reads back as written at once is written once.
    EXPECT_EQ(m_camera->Counters().eepromWrites, writesBefore + 1);
    EXPECT_EQ(Quorix_ReadSromID(m_handle, 0x0234, &ok), 0xA7u);
    EXPECT_TRUE(Posted().empty());
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
}

// An EEPROM that acknowledges writes without storing them: the byte is written again ten times
// after the first write, never reads back as written, and the call reports the failure (0, code
// 1 posted only) rather than success.
TEST_F(SromId, ByteThatNeverHoldsIsAFailedWrite) {
    m_camera->SetEepromByte(0x0040, 0x5A);
    m_camera->Faults().SetEepromWriteFault(sim::EepromWriteFault::kNotStored);
    const uint64_t writesBefore = m_camera->Counters().eepromWrites;
    EXPECT_EQ(Quorix_WriteSromID(m_handle, 0x0040, 0x33), 0);
    EXPECT_EQ(Posted(), (std::vector<intptr_t>{1}));
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
    EXPECT_EQ(m_camera->Counters().eepromWrites, writesBefore + 1 + 10);
    EXPECT_EQ(m_camera->EepromByte(0x0040), 0x5A);

    // The same byte as stored already needs no write to hold.
    EXPECT_EQ(Quorix_WriteSromID(m_handle, 0x0040, 0x5A), 1);
    EXPECT_TRUE(Posted().empty());
}

// An EEPROM that refuses the write on the bus: the first write fails, nothing is retried.
TEST_F(SromId, RefusedWriteAndFailedReadArePostedOnly) {
    m_camera->Faults().SetEepromWriteFault(sim::EepromWriteFault::kStall);
    const uint64_t writesBefore = m_camera->Counters().eepromWrites;
    EXPECT_EQ(Quorix_WriteSromID(m_handle, 0x0040, 0x33), 0);
    EXPECT_EQ(Posted(), (std::vector<intptr_t>{1}));
    EXPECT_LE(m_camera->Counters().eepromWrites, writesBefore + 1);

    sim::Unplug(m_camera);
    int32_t ok = 7;
    EXPECT_EQ(Quorix_ReadSromID(m_handle, 0x0040, &ok), 0u);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Posted(), (std::vector<intptr_t>{1}));
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
}

// --- Controls this camera lacks -----------------------------------------------------------------

TEST_F(CameraSettings, TemperatureInternalCorrectionAndSamplingRateAreNotAvailable) {
    int32_t ok = 7;
    EXPECT_EQ(Quorix_GetTemperatureEx(m_handle, &ok), 0.0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 11u);
    ok = 7;
    EXPECT_EQ(Quorix_GetInternalCorrection(m_handle, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Quorix_SetInternalCorrection(m_handle, 1), 0);
    EXPECT_EQ(Posted(), (std::vector<intptr_t>{11, 11}));
    EXPECT_EQ(Quorix_SetSamplingRate(m_handle, 0), 0);
    EXPECT_EQ(Quorix_SetSamplingRate(m_handle, 2), 0);
    EXPECT_TRUE(Posted().empty());
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
}

// --- Settings changed while frames stream ----------------------------------------------------

// The preview worker reads the filter values, the mirror flags, the sensor's state block and
// the engine's data width for every frame while the application changes them: run under
// ThreadSanitizer, any of them read without synchronisation is reported. The preview must keep
// delivering frames throughout.
using SettingsConcurrency = CameraSettings;

TEST_F(SettingsConcurrency, SettingsChangedContinuouslyWhileThePreviewStreams) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 24), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 0, 256, 1536, 0, 64), 1);
    ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
    QuorixWindow window = Quorix_CreateMessageWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, nullptr, 0, 1), 1);

    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int32_t i = 0; i < 200; ++i) {
            Quorix_SetFilterValue(m_handle, QUORIX_VALUE_BAYER_MODE, i % 4);
            Quorix_SetFilterValue(m_handle, QUORIX_VALUE_BAYER_GAIN_RGB, 0x404040 + i % 64);
            Quorix_SetFilterValue(m_handle, QUORIX_VALUE_GRAY_MODE, i % 3);
            Quorix_SetMirrorH(m_handle, i % 2);
            Quorix_SetMirrorV(m_handle, (i / 2) % 2);
            Quorix_SetExposureTime(m_handle, 10 + i % 50);
            Quorix_SetGlobalGain(m_handle, i % 64);
        }
        done = true;
    });
    int frames = 0;
    int framesAfter = 0;
    QuorixMessage message;
    while (framesAfter < 3 && Quorix_GetWindowMessage(window, &message, 5000) == 1) {
        if (message.message != QUORIX_MSG_FRAME)
            continue;
        EXPECT_NE(message.wParam, 0u) << "frame failed with code " << message.lParam;
        ++frames;
        if (done)
            ++framesAfter;
    }
    changer.join();
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
    Quorix_DestroyMessageWindow(window);
    EXPECT_GT(frames, framesAfter);
    EXPECT_EQ(framesAfter, 3) << "the preview stopped delivering";
}

}  // namespace
}  // namespace quorix
