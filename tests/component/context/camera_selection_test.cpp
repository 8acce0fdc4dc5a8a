// Choosing the camera of a context among emulated cameras: which camera Quorix_Initialize opens by
// itself, how cameras are named, which camera Quorix_SetDeviceNumber opens for a device index,
// what a newly opened camera receives, and that Quorix_Release lets the camera go.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "context_test_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;

constexpr char kName1[] = "Quorix252DIV-USB3-R5_01";
constexpr char kName2[] = "Quorix252DIV-USB3-R5_02";

using CameraSelection = ContextCameraTest;

// A context must not pick one of several cameras by itself: it opens none, and both are listed.
TEST_F(CameraSelection, TwoCamerasOpenNoneAndBothAreListed) {
    auto first = Attach("QX252-000101");
    auto second = Attach("QX252-000102");
    const QuorixHandle handle = Initialize();

    EXPECT_EQ(ContextOf(handle).DeviceNumber(), -1);
    EXPECT_FALSE(WasOpened(*first));
    EXPECT_FALSE(WasOpened(*second));

    char names[10][256];
    std::memset(names, 'x', sizeof names);
    ASSERT_EQ(Quorix_EnumDevice(handle, names), 2);
    EXPECT_STREQ(names[0], kName1);
    EXPECT_STREQ(names[1], kName2);
    for (int entry = 2; entry < 10; ++entry) {
        EXPECT_EQ(names[entry][0], '\0') << "entry " << entry;
    }
    QuorixWChar wide[10][256];
    std::memset(wide, 0x5A, sizeof wide);
    ASSERT_EQ(Quorix_EnumDeviceW(handle, wide), 2);
    EXPECT_EQ(std::u16string(wide[0]), u"Quorix252DIV-USB3-R5_01");
    EXPECT_EQ(std::u16string(wide[1]), u"Quorix252DIV-USB3-R5_02");
    for (int entry = 2; entry < 10; ++entry) {
        EXPECT_EQ(wide[entry][0], u'\0') << "entry " << entry;
    }

    // Listing opened nothing either, and no camera answers for the context yet.
    EXPECT_EQ(ContextOf(handle).DeviceNumber(), -1);
    EXPECT_FALSE(WasOpened(*first));
    EXPECT_FALSE(WasOpened(*second));
    uint8_t block[QUORIX_DEVICE_INFO_SIZE];
    EXPECT_EQ(Quorix_GetDeviceInfo(handle, block, sizeof block), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 6u);
}

// A device index is the camera's instance number among the cameras of this model, not its place
// in the device table: the table also holds other models and the stale entries of unplugged
// cameras, and a replugged camera comes back under the next instance number.
TEST_F(CameraSelection, DeviceIndexIsTheInstanceNumberWhereverTheEntrySits) {
    auto other = Attach("QX250-000900", test::kOtherModel);  // table entry 0
    auto a = Attach("QX252-000201");                         // entry 1, instance 0
    auto b = Attach("QX252-000202");                         // entry 2, instance 1
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(ContextOf(handle).DeviceNumber(), -1);

    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 1), 1);
    EXPECT_EQ(ContextOf(handle).DeviceNumber(), 1);
    EXPECT_EQ(SerialA(handle), "QX252-000202");
    EXPECT_EQ(SerialW(handle), u"QX252-000202");
    EXPECT_TRUE(WasOpened(*b));
    EXPECT_FALSE(WasOpened(*a));
    EXPECT_FALSE(WasOpened(*other));

    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 0), 1);
    EXPECT_EQ(SerialA(handle), "QX252-000201");
    EXPECT_EQ(SerialW(handle), u"QX252-000201");
    EXPECT_FALSE(WasOpened(*other));

    // Camera a leaves and comes back: its old entry (instance 0) stays and no longer opens; it
    // is entered again at table entry 3 as instance 2. Listing the cameras enters it.
    sim::Unplug(a);
    sim::Replug(a);
    char names[10][256];
    Quorix_EnumDevice(handle, names);
    a->Log().Clear();

    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 2), 1);
    EXPECT_EQ(ContextOf(handle).DeviceNumber(), 2);
    EXPECT_EQ(SerialA(handle), "QX252-000201");
    EXPECT_TRUE(WasOpened(*a));

    EXPECT_EQ(Quorix_SetDeviceNumber(handle, 0), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 2u);
    EXPECT_EQ(ContextOf(handle).DeviceNumber(), 2);

    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 1), 1);
    EXPECT_EQ(SerialA(handle), "QX252-000202");
    EXPECT_EQ(SerialW(handle), u"QX252-000202");
    EXPECT_FALSE(WasOpened(*other));
}

// A context that holds an unplugged camera keeps its device index 0 taken; a camera plugged in
// then takes index 1, and a second context must still find it: listed under the name of index
// 1, opened by itself as the only camera, reached by that index. Once no context holds the
// unplugged camera its index is free again, while the present camera keeps its own.
TEST_F(CameraSelection, AnUnpluggedCameraHoldingIndexZeroDoesNotHideThePresentOne) {
    auto gone = Attach("QX252-000501");
    const QuorixHandle holder = Initialize();
    ASSERT_EQ(ContextOf(holder).DeviceNumber(), 0);
    sim::Unplug(gone);
    auto present = Attach("QX252-000502");

    const QuorixHandle handle = Initialize();
    EXPECT_EQ(ContextOf(handle).DeviceNumber(), 1);
    EXPECT_EQ(SerialA(handle), "QX252-000502");
    char names[10][256];
    ASSERT_EQ(Quorix_EnumDevice(handle, names), 1);
    EXPECT_STREQ(names[0], kName2);
    char name[256] = {};
    ASSERT_EQ(Quorix_GetDeviceName(handle, 1, name, sizeof name), 1);
    EXPECT_STREQ(name, names[0]);
    EXPECT_EQ(Quorix_SetDeviceNumber(handle, 0), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 2u);

    ASSERT_EQ(Release(holder), 1);
    auto added = Attach("QX252-000503");
    ASSERT_EQ(Quorix_EnumDevice(handle, names), 2);
    EXPECT_STREQ(names[0], kName1);
    EXPECT_STREQ(names[1], kName2);
    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 0), 1);
    EXPECT_EQ(SerialA(handle), "QX252-000503");
    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 1), 1);
    EXPECT_EQ(SerialA(handle), "QX252-000502");
}

// Selecting the camera that is open already must not run its open sequence again (which would
// reprogram the sensor and reset what the application set).
TEST_F(CameraSelection, SelectingTheOpenCameraAgainDoesNotReopenIt) {
    auto a = Attach("QX252-000301");
    auto b = Attach("QX252-000302");
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(Quorix_SetDeviceNumber(handle, 1), 1);
    const uint64_t busTransfers = b->Counters().busTransfers;
    const size_t sensorWrites = SensorWrites(*b).size();

    EXPECT_EQ(Quorix_SetDeviceNumber(handle, 1), 1);
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
    EXPECT_EQ(b->Counters().busTransfers, busTransfers);
    EXPECT_EQ(SensorWrites(*b).size(), sensorWrites);
    EXPECT_FALSE(WasOpened(*a));
    EXPECT_EQ(SerialA(handle), "QX252-000302");
}

// The one camera attached opens at once, and the context sends it its analog values after the
// open sequence: the global gain (the head's default register value 64), then the exposure,
// then the vertical and the horizontal mirror.
TEST_F(CameraSelection, OneCameraOpensAtOnceAndReceivesTheAnalogValues) {
    auto camera = Attach("QX252-000401");
    const QuorixHandle handle = Initialize();
    EXPECT_EQ(ContextOf(handle).DeviceNumber(), 0);
    ASSERT_TRUE(WasOpened(*camera));

    const std::vector<sim::RegisterWriteRecord> writes = SensorWrites(*camera);
    ASSERT_GE(writes.size(), 4u);
    const size_t n = writes.size();
    // The mirror register is written last, once for each direction, both off.
    EXPECT_EQ(writes[n - 1].reg, test::kMirror);
    EXPECT_EQ(writes[n - 2].reg, test::kMirror);
    EXPECT_EQ(writes[n - 1].value, 0);
    EXPECT_EQ(writes[n - 2].value, 0);
    // Before them the gain of the analog values; only exposure registers may lie in between.
    size_t gain = n;
    for (size_t i = 0; i + 2 < n; ++i) {
        if (writes[i].reg == test::kGainLow) {
            gain = i;
        }
    }
    ASSERT_LT(gain + 1, n - 2) << "no gain write before the mirror";
    EXPECT_EQ(writes[gain].value, 64);
    EXPECT_EQ(writes[gain + 1].reg, test::kGainHigh);
    EXPECT_EQ(writes[gain + 1].value, 0);
    const auto isExposureRegister = [](uint16_t reg) {
        return reg == 0x208 || (reg >= 0x210 && reg <= 0x212) || (reg >= 0x28D && reg <= 0x28F);
    };
    for (size_t i = gain + 2; i < n - 2; ++i) {
        EXPECT_TRUE(isExposureRegister(writes[i].reg))
            << "register 0x" << std::hex << writes[i].reg << " between gain and mirror";
    }
    // And the open sequence came first.
    const auto open = std::find_if(writes.begin(), writes.end(), [](const auto& w) {
        return w.reg == test::kOpenSequenceRegister;
    });
    EXPECT_LT(static_cast<size_t>(open - writes.begin()), gain);
    EXPECT_EQ(SerialA(handle), "QX252-000401");
}

// An engine that notes the settings the context sends, and forwards them to the camera.
class RecordingEngine : public CQuorixUSB3R5SimpleSdk {
public:
    struct Call {
        std::string operation;
        int32_t value;
        int result;
    };

    RecordingEngine(std::vector<Call>* calls, std::function<void()> opened)
        : m_calls(calls), m_opened(std::move(opened)) {}

    int CreateSensor(int32_t instance) override {
        return Note("CreateSensor", instance, [&] {
            const int result = CQuorixUSB3R5SimpleSdk::CreateSensor(instance);
            m_opened();
            return result;
        });
    }
    int SetGain(int32_t value) override {
        return Note("SetGain", value, [&] { return CQuorixUSB3R5SimpleSdk::SetGain(value); });
    }
    int SetColorGainRed(int32_t value) override {
        return Note("SetColorGainRed", value,
                    [&] { return CQuorixUSB3R5SimpleSdk::SetColorGainRed(value); });
    }
    int SetColorGainGreen1(int32_t value) override {
        return Note("SetColorGainGreen1", value,
                    [&] { return CQuorixUSB3R5SimpleSdk::SetColorGainGreen1(value); });
    }
    int SetColorGainGreen2(int32_t value) override {
        return Note("SetColorGainGreen2", value,
                    [&] { return CQuorixUSB3R5SimpleSdk::SetColorGainGreen2(value); });
    }
    int SetColorGainBlue(int32_t value) override {
        return Note("SetColorGainBlue", value,
                    [&] { return CQuorixUSB3R5SimpleSdk::SetColorGainBlue(value); });
    }
    int SetExposureTime(int32_t value) override {
        return Note("SetExposureTime", value,
                    [&] { return CQuorixUSB3R5SimpleSdk::SetExposureTime(value); });
    }
    int SetExposureTimeEx(double seconds) override {
        return Note("SetExposureTimeEx", static_cast<int32_t>(seconds * 10000),
                    [&] { return CQuorixUSB3R5SimpleSdk::SetExposureTimeEx(seconds); });
    }
    int SetMirrorV(int32_t on) override {
        return Note("SetMirrorV", on, [&] { return CQuorixUSB3R5SimpleSdk::SetMirrorV(on); });
    }
    int SetMirrorH(int32_t on) override {
        return Note("SetMirrorH", on, [&] { return CQuorixUSB3R5SimpleSdk::SetMirrorH(on); });
    }

private:
    template <typename Forward>
    int Note(const char* operation, int32_t value, Forward forward) {
        const int result = forward();
        m_calls->push_back({operation, value, result});
        return result;
    }

    std::vector<Call>* m_calls;
    std::function<void()> m_opened;
};

// The analog values of a newly opened camera reach the engine in the order the camera expects:
// global gain, the four colour gains (green 1, red, blue, green 2; this head has none and refuses
// them), the exposure in 100 us units, vertical mirror, horizontal mirror. The values are the
// head's defaults: gain register 64, colour gains 0, 17 ms, no mirroring.
TEST_F(CameraSelection, AnalogValuesReachTheEngineInOrderAfterTheOpenSequence) {
    auto camera = Attach("QX252-000501");
    std::vector<RecordingEngine::Call> calls;
    // What the sensor receives after the open sequence: the log is cleared once it is done.
    CQuorix context(
        [&] { return std::make_unique<RecordingEngine>(&calls, [&] { camera->Log().Clear(); }); });
    ASSERT_EQ(context.Initialize(0), 1);
    ASSERT_EQ(context.DeviceNumber(), 0);

    std::vector<std::string> order;
    order.reserve(calls.size());
    for (const auto& call : calls) {
        order.push_back(call.operation + "(" + std::to_string(call.value) + ")");
    }
    EXPECT_EQ(order, (std::vector<std::string>{
                         "CreateSensor(0)", "SetGain(64)", "SetColorGainGreen1(0)",
                         "SetColorGainRed(0)", "SetColorGainBlue(0)", "SetColorGainGreen2(0)",
                         "SetExposureTime(170)", "SetMirrorV(0)", "SetMirrorH(0)"}));
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[0].result, 1) << "the camera opens";
    EXPECT_EQ(calls[1].result, 1) << "the gain is taken";
    for (size_t i = 2; i < 6; ++i) {
        EXPECT_EQ(calls[i].result, 0) << calls[i].operation << " refused by this head";
    }
    EXPECT_EQ(calls[7].result, 1);
    EXPECT_EQ(calls[8].result, 1);

    // On the sensor: the gain first, the mirror register last (twice), exposure in between.
    const std::vector<sim::RegisterWriteRecord> writes = SensorWrites(*camera);
    ASSERT_GE(writes.size(), 4u);
    EXPECT_EQ(writes[0].reg, test::kGainLow);
    EXPECT_EQ(writes[0].value, 64);
    EXPECT_EQ(writes[1].reg, test::kGainHigh);
    EXPECT_EQ(writes[writes.size() - 2].reg, test::kMirror);
    EXPECT_EQ(writes.back().reg, test::kMirror);
    for (size_t i = 2; i + 2 < writes.size(); ++i) {
        EXPECT_NE(writes[i].reg, test::kGainLow);
        EXPECT_NE(writes[i].reg, test::kMirror);
    }
}

// Releasing the handle closes the camera: it hears nothing more from this context, and a new
// context can open it again.
TEST_F(CameraSelection, ReleaseLetsTheCameraGoAndANewContextOpensItAgain) {
    auto camera = Attach("QX252-000601");
    const QuorixHandle first = Initialize();
    ASSERT_EQ(ContextOf(first).DeviceNumber(), 0);
    ASSERT_EQ(Release(first), 1);
    EXPECT_EQ(Quorix_SetDeviceNumber(first, 0), 0);  // the handle is gone

    const uint64_t requests = camera->Counters().vendorRequests;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(camera->Counters().vendorRequests, requests);

    camera->Log().Clear();
    const QuorixHandle second = Initialize();
    EXPECT_EQ(ContextOf(second).DeviceNumber(), 0);
    EXPECT_TRUE(WasOpened(*camera));
    EXPECT_EQ(SerialA(second), "QX252-000601");
}

}  // namespace
}  // namespace quorix
