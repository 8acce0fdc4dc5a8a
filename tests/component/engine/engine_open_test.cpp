// Opening cameras through the capture engine, with the real controller and emulated cameras:
// counting, choosing a camera by its instance number, the wait for the camera's readiness line,
// the device info block and closing.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "platform/clock.h"
#include "sensors/sensor_base.h"

namespace quorix {
namespace {

using test::EngineTest;
using test::FpgaValues;
using test::SensorWrites;

constexpr uint8_t kRequestDeviceInfo = 0xB0;
constexpr uint8_t kRequestReadiness = 0xC3;

class EngineOpen : public EngineTest {};

// Counting with 0 counts table entries, which outlive the cameras they describe; counting one
// camera ID counts only cameras of that model that are plugged in now.
TEST_F(EngineOpen, CountDevicesCountsEntriesOrPresentCamerasOfTheModel) {
    auto first = Attach();
    auto other = AttachProduct(kOtherProduct);
    auto second = Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    EXPECT_EQ(m_engine->CountDevices(0), 3);
    EXPECT_EQ(m_engine->CountDevices(kImx252), 2);
    EXPECT_EQ(m_engine->CountDevices(kOtherProduct), 1);

    sim::Unplug(first);
    EXPECT_EQ(m_engine->CountDevices(0), 3);
    EXPECT_EQ(m_engine->CountDevices(kImx252), 1);

    // Plugged in again it is a new interface; nobody held the old entry, so the new one takes
    // its slot and the table does not grow.
    sim::Replug(first);
    EXPECT_EQ(m_engine->CountDevices(0), 3);
    EXPECT_EQ(m_engine->CountDevices(kImx252), 2);
}

// Before its controller exists the engine has no device table to look at: it counts nothing,
// offers nothing and opens nothing, even with a camera plugged in.
TEST_F(EngineOpen, NothingIsCountedOrAvailableWithoutAController) {
    Attach();
    m_engine = std::make_unique<test::TestEngine>();
    m_engine->SetCameraId(kImx252);
    EXPECT_EQ(m_engine->CountDevices(0), 0);
    EXPECT_EQ(m_engine->IsDeviceAvailable(0), 0);
    EXPECT_EQ(m_engine->GetInstanceNumber(0), -1);
    EXPECT_EQ(m_engine->OpenCamera(0), -1);
    EXPECT_EQ(m_engine->Sensor(), nullptr);
}

// Instance numbers count per model. With a camera of another model plugged in first, the first
// IMX252 camera (instance 0) sits at table position 1 behind that camera's own instance 0, and
// the second (instance 1) at position 2. Opening an instance must select the IMX252 entry with
// that number and start that camera - never the entry at the position of the same number, nor
// the other model's entry with the same instance number.
TEST_F(EngineOpen, OpenCameraFindsTheInstanceWhereverItSits) {
    auto other = AttachProduct(kOtherProduct);
    auto first = Attach();
    auto second = Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    ASSERT_EQ(m_engine->CountDevices(kImx252), 2);
    EXPECT_EQ(m_engine->GetInstanceNumber(0), 0);
    EXPECT_EQ(m_engine->GetInstanceNumber(1), 0);
    EXPECT_EQ(m_engine->GetInstanceNumber(2), 1);
    EXPECT_EQ(m_engine->GetInstanceNumber(3), -1);
    EXPECT_EQ(m_engine->GetInstanceNumber(32), -1);
    EXPECT_EQ(m_engine->GetInstanceNumber(-1), -1);
    EXPECT_EQ(m_engine->IsDeviceAvailable(1), 1);
    EXPECT_EQ(m_engine->IsDeviceAvailable(2), 0);

    EXPECT_EQ(m_engine->OpenCamera(1), 0);
    ASSERT_NE(m_engine->Sensor(), nullptr);
    EXPECT_EQ(m_engine->Controller()->SelectedDevice(), 2);
    EXPECT_EQ(m_engine->GetDeviceIndex(), 1);
    EXPECT_FALSE(SensorWrites(*second).empty());
    EXPECT_TRUE(SensorWrites(*first).empty());
    EXPECT_TRUE(other->Log().VendorRequests().empty());
    EXPECT_TRUE(m_engine->GeometryPending());

    second->Log().Clear();
    EXPECT_EQ(m_engine->OpenCamera(0), 0);
    EXPECT_EQ(m_engine->Controller()->SelectedDevice(), 1);
    EXPECT_EQ(m_engine->GetDeviceIndex(), 0);
    EXPECT_FALSE(SensorWrites(*first).empty());
    EXPECT_TRUE(second->Log().VendorRequests().empty());
    EXPECT_TRUE(other->Log().VendorRequests().empty());
}

// A failed selection changes nothing: an instance without an entry, or one whose camera was
// unplugged, gives -1 and the open camera keeps its sensor head and stays selected.
TEST_F(EngineOpen, OpeningAMissingInstanceKeepsTheCurrentCamera) {
    auto first = Attach();
    auto second = Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    ASSERT_EQ(m_engine->OpenCamera(0), 0);
    CSensorBase* const sensor = m_engine->Sensor();
    ASSERT_NE(sensor, nullptr);
    first->Log().Clear();
    second->Log().Clear();

    EXPECT_EQ(m_engine->OpenCamera(2), -1);
    sim::Unplug(second);
    EXPECT_EQ(m_engine->OpenCamera(1), -1);

    EXPECT_EQ(m_engine->Sensor(), sensor);
    EXPECT_EQ(m_engine->Controller()->SelectedDevice(), 0);
    EXPECT_EQ(m_engine->GetDeviceIndex(), 0);
    EXPECT_TRUE(first->Log().VendorRequests().empty());
    EXPECT_TRUE(second->Log().VendorRequests().empty());
    // The open camera still answers through the kept head.
    EXPECT_EQ(sensor->SetGain(100), 1);
    EXPECT_EQ(first->Readout().gain, 100u);
}

// A camera ID without a sensor head of this build does not open, and leaves no head behind.
TEST_F(EngineOpen, ACameraIdWithoutAHeadDoesNotOpen) {
    auto other = AttachProduct(kOtherProduct);
    ASSERT_NO_FATAL_FAILURE(CreateEngine(kOtherProduct));
    ASSERT_EQ(m_engine->CountDevices(kOtherProduct), 1);
    EXPECT_EQ(m_engine->OpenCamera(0), -1);
    EXPECT_EQ(m_engine->Sensor(), nullptr);
    EXPECT_TRUE(SensorWrites(*other).empty());
}

// Opening a ready camera: the device info block is read (for the engine and for the readiness
// decision), the readiness line is asked once and reads 1, then the head starts the sensor.
TEST_F(EngineOpen, OpeningAReadyCameraPollsOnceThenStartsTheSensor) {
    auto camera = Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    ASSERT_EQ(m_engine->OpenCamera(0), 0);

    const auto requests = camera->Log().VendorRequests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[0].setup.request, kRequestDeviceInfo);
    EXPECT_EQ(requests[1].setup.request, kRequestDeviceInfo);
    EXPECT_EQ(requests[2].setup.request, kRequestReadiness);
    EXPECT_EQ(requests[2].data.at(0), 1);
    EXPECT_EQ(camera->Log().CountVendorRequests(kRequestReadiness), 1u);
    EXPECT_GE(camera->Counters().deviceResets, 1u);
    // The sensor is started, and the state block the engine hands out says what the camera
    // holds: the full window, its 1574-line frame of 444-clock lines, gain 64.
    const sim::ReadoutSettings r = camera->Readout();
    std::array<uint32_t, 88> w{};
    ASSERT_EQ(m_engine->CopyStateBlock(w.data()), 1);
    EXPECT_EQ(m_engine->CopyStateBlock(nullptr), 0);
    EXPECT_EQ(w[0], 2048u);
    EXPECT_EQ(w[1], 1536u);
    EXPECT_EQ(static_cast<int>(w[10]), r.windowWidth);
    EXPECT_EQ(static_cast<int>(w[11]), r.windowHeight);
    EXPECT_EQ(w[12], r.lineLength);
    EXPECT_EQ(w[13], r.frameLines);
    EXPECT_EQ(r.frameLines, 1574u);
    EXPECT_EQ(w[19], r.gain);
    EXPECT_EQ(r.gain, 64u);
}

// --- The readiness line ----------------------------------------------------------------------

// Switches the SDK log on for one test and captures what it writes.
class CapturedLog {
public:
    CapturedLog() {
        setenv("QUORIX_LOG", "1", 1);
        ::testing::internal::CaptureStderr();
    }
    ~CapturedLog() {
        if (!m_taken)
            ::testing::internal::GetCapturedStderr();
        unsetenv("QUORIX_LOG");
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    std::string Take() {
        m_taken = true;
        return ::testing::internal::GetCapturedStderr();
    }

private:
    bool m_taken = false;
};

struct ReadinessCase {
    uint16_t firmware;
    uint8_t gpio25Flag;
    size_t polls;       // readiness requests while opening a ready camera
    const char* trace;  // the engine's trace line when it does not wait, else null
};

class EngineReadinessLine : public EngineTest,
                            public ::testing::WithParamInterface<ReadinessCase> {};

// Only firmware above 0x1100 with the readiness line wired (GPIO25 flag 1) is waited for; any
// other camera is opened without asking, and the engine says why in its trace.
TEST_P(EngineReadinessLine, IsAskedOnlyWhenFirmwareAndWiringHaveIt) {
    const ReadinessCase& c = GetParam();
    sim::CameraConfig config;
    config.firmwareVersion = c.firmware;
    config.gpio25Flag = c.gpio25Flag;
    auto camera = Attach(config);
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    std::string trace;
    {
        CapturedLog log;
        EXPECT_EQ(m_engine->OpenCamera(0), 0);
        trace = log.Take();
    }
    EXPECT_EQ(camera->Log().CountVendorRequests(kRequestReadiness), c.polls);
    if (c.trace != nullptr) {
        EXPECT_NE(trace.find(std::string("[Engine] ") + c.trace + "\n"), std::string::npos)
            << trace;
    } else {
        EXPECT_EQ(trace.find("Cypress="), std::string::npos) << trace;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, EngineReadinessLine,
    ::testing::Values(ReadinessCase{0x1100, 1, 0, "Cypress=0x1100(NG), GPIO25 flag=1(OK)"},
                      ReadinessCase{0x1101, 1, 1, nullptr},
                      ReadinessCase{0x1201, 0, 0, "Cypress=0x1201(OK), GPIO25 flag=0(NG)"},
                      ReadinessCase{0x0F00, 0, 0, "Cypress=0xF00(NG), GPIO25 flag=0(NG)"}),
    [](const auto& info) {
        return "Firmware" + std::to_string(info.param.firmware) + "Flag" +
               std::to_string(info.param.gpio25Flag);
    });

class EngineReadiness : public EngineTest {};

// A camera that never raises its readiness line: the engine polls 400 times, 500 ms apart, and
// gives up; every 25 s of waiting it resets the sensor bridge (a pulse of FPGA register 0x82
// bit 0). The 200 s of waiting run on a fast SDK clock. Each reset needs more than 24999 ms of
// waiting since the last one and each poll waits at least 500 ms, so there is a reset within
// every 50 polls - at least 8 - and no more than the time waited allows.
TEST_F(EngineReadiness, ANeverReadyCameraFailsAfter400PollsWithBridgeResets) {
    sim::CameraConfig config;
    config.readyDelayMs = -1;
    auto camera = Attach(config);
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    platform::SetTimeScale(50);
    const uint64_t start = platform::MonotonicMs();
    EXPECT_EQ(m_engine->OpenCamera(0), -1);
    const uint64_t waited = platform::MonotonicMs() - start;

    EXPECT_EQ(camera->Log().CountVendorRequests(kRequestReadiness), 400u);
    const std::vector<uint8_t> bridge = FpgaValues(*camera, 0x82);
    ASSERT_EQ(bridge.size() % 3, 0u);
    const size_t resets = bridge.size() / 3;
    for (size_t i = 0; i < resets; ++i) {
        EXPECT_EQ(bridge[3 * i], 0) << i;
        EXPECT_EQ(bridge[3 * i + 1], 1) << i;
        EXPECT_EQ(bridge[3 * i + 2], 0) << i;
    }
    EXPECT_EQ(camera->Counters().bridgeResets, resets);
    EXPECT_GE(resets, 8u);
    EXPECT_LE(resets, waited / 25000);

    // Polls between one reset and the next.
    const auto requests = camera->Log().VendorRequests();
    const auto writes = camera->Log().RegisterWrites(sim::RegisterSpace::kFpga);
    size_t pollsBefore = 0;
    size_t lastPulse = 0;
    auto request = requests.begin();
    for (const sim::RegisterWriteRecord& write : writes) {
        if (write.reg != 0x82 || write.value != 1)
            continue;
        for (; request != requests.end() && request->sequence < write.sequence; ++request) {
            if (request->setup.request == kRequestReadiness)
                ++pollsBefore;
        }
        EXPECT_GE(pollsBefore - lastPulse, 1u);
        EXPECT_LE(pollsBefore - lastPulse, 50u);
        lastPulse = pollsBefore;
    }
    // Fewer than 50 polls can follow the last reset.
    EXPECT_LT(400 - lastPulse, 50u);

    // The sensor was never started.
    EXPECT_TRUE(SensorWrites(*camera).empty());
    EXPECT_TRUE(test::ReadinessReads(*camera).empty());
}

// --- Device info and closing -----------------------------------------------------------------

// The 64-byte block of vendor request 0xB0 comes back unchanged: model name, vendor and product
// ID, FPGA version, firmware version at byte 24, serial number, GPIO25 flag at byte 52. The
// second block carries the link speed word, FPGA and firmware version.
TEST_F(EngineOpen, DeviceInfoIsTheCamerasBlock) {
    sim::CameraConfig config;
    config.firmwareVersion = 0x1234;
    config.fpgaVersion = 0x0150;
    config.gpio25Flag = 1;
    config.serialNumber = "QX252-004711";
    auto camera = Attach(config);
    ASSERT_NO_FATAL_FAILURE(CreateEngine());

    std::array<uint8_t, 64> expected{};
    std::memcpy(expected.data(), "QUORIX-252", 10);
    const auto put16 = [&expected](size_t at, uint16_t value) {
        expected[at] = static_cast<uint8_t>(value);
        expected[at + 1] = static_cast<uint8_t>(value >> 8);
    };
    put16(16, 0x04B4);
    put16(18, 0x31C0);
    put16(20, 0x0150);
    put16(24, 0x1234);
    std::memcpy(expected.data() + 28, "QX252-004711", 12);
    expected[52] = 1;

    ASSERT_EQ(m_engine->OpenCamera(0), 0);
    EXPECT_EQ(m_engine->DeviceInfo(), expected);
    std::array<uint8_t, 64> info{};
    ASSERT_EQ(m_engine->GetDeviceInfo(info.data()), 1);
    EXPECT_EQ(info, expected);
    EXPECT_EQ(m_engine->GetDeviceInfo(nullptr), 0);

    std::array<uint8_t, 64> second{};
    std::array<uint8_t, 64> expectedSecond{};
    expectedSecond[0] = 4;  // SuperSpeed
    expectedSecond[4] = 0x50;
    expectedSecond[5] = 0x01;
    expectedSecond[6] = 0x34;
    expectedSecond[7] = 0x12;
    ASSERT_EQ(m_engine->GetDeviceInfo2(second.data()), 1);
    EXPECT_EQ(second, expectedSecond);
}

// Closing gives up the camera entirely: no controller, no head, no buffers, no device info;
// device questions answer as before a controller existed. The camera ID stays, so a new
// controller opens the camera again.
TEST_F(EngineOpen, CloseCameraLeavesNoControllerAndNoSensor) {
    auto camera = Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    ASSERT_EQ(m_engine->OpenCamera(0), 0);
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);

    EXPECT_EQ(m_engine->CloseCamera(), 1);
    EXPECT_EQ(m_engine->Controller(), nullptr);
    EXPECT_EQ(m_engine->Sensor(), nullptr);
    EXPECT_EQ(m_engine->RawBufferCapacity(), 0u);
    EXPECT_EQ(m_engine->FrameSize(), 0u);
    EXPECT_EQ(m_engine->DeviceInfo(), (std::array<uint8_t, 64>{}));
    EXPECT_EQ(m_engine->GetCameraId(), kImx252);
    EXPECT_EQ(m_engine->CountDevices(0), 0);
    EXPECT_EQ(m_engine->GetInstanceNumber(0), -1);
    std::array<uint8_t, 64> info{};
    EXPECT_EQ(m_engine->GetDeviceInfo(info.data()), 0);
    EXPECT_EQ(m_engine->PrepareFrameBuffers(), 0);
    EXPECT_EQ(m_engine->CloseCamera(), 1);

    ASSERT_EQ(m_engine->CreateController(platform::WindowHandle{}, nullptr), 1);
    EXPECT_EQ(m_engine->CountDevices(kImx252), 1);
    EXPECT_EQ(m_engine->OpenCamera(0), 0);
    EXPECT_NE(m_engine->Sensor(), nullptr);
}

}  // namespace
}  // namespace quorix
