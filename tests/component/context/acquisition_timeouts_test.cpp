// How long an acquisition start blocks when the camera does not take its settings, and what it
// answers: with the sensor bus stuck busy, or a camera that has stopped reporting ready (its FPGA
// then keeps the bus closed), a start from idle used to wait a second for each of some seventy
// register writes and then report success for settings that never reached the sensor. Each start
// must fail with code 6 after one bus wait, well within the snapshot's 3000 ms, and work again
// once the bus is free. Times are SDK time, which runs faster than real time here.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../../unit/platform/test_support.h"
#include "context_test_support.h"
#include "platform/clock.h"

namespace quorix {
namespace {

using test::ContextCameraTest;

// 1024 x 768 at 8 bits (2x2 sub-sampled whole sensor).
constexpr uint32_t kSubSampled8Bytes = 786'432;
// The snapshot's documented limit [ms]: a start that cannot even send its settings must not take
// longer than a snapshot may wait for its frame.
constexpr uint64_t kSnapshotTimeoutMs = 3000;
// One polled register write's wait for an idle bus [ms]: a start must spend at least that before
// it gives up, or it did not give the bus its chance.
constexpr uint64_t kBusWaitMs = 1000;
constexpr uint32_t kTimeScale = 10;

struct StuckBusCase {
    const char* name;
    bool neverReady;  // the camera stops reporting ready, instead of the bus-busy bit sticking
};

class AcquisitionTimeouts : public ContextCameraTest,
                            public ::testing::WithParamInterface<StuckBusCase> {
protected:
    void SetUp() override {
        m_camera = Attach("QX252-000700");
        m_handle = Initialize();
        ASSERT_EQ(ContextOf(m_handle).DeviceNumber(), 0);
        ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
        ASSERT_EQ(Quorix_SetSubSample(m_handle, 1), 1);
        while (Quorix_GetLastError(m_handle) != 0) {
        }
    }

    void StickBus(bool stuck) {
        if (GetParam().neverReady) {
            m_camera->Faults().SetNeverReady(stuck);
        } else {
            m_camera->Faults().SetBusBusyStuck(stuck);
        }
    }

    // Runs `call` and checks that it fails with code 6 as the newest code, after one bus wait
    // and within the snapshot's limit of SDK time.
    void ExpectFailsWithinOneBusWait(const std::function<int()>& call, const char* what) {
        const uint64_t start = platform::MonotonicMs();
        EXPECT_EQ(call(), 0) << what;
        const uint64_t took = platform::MonotonicMs() - start;
        EXPECT_EQ(Quorix_GetLastError(m_handle), 6u) << what;
        while (Quorix_GetLastError(m_handle) != 0) {
        }
        EXPECT_GE(took, kBusWaitMs) << what;
        EXPECT_LT(took, kSnapshotTimeoutMs) << what;
    }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    QuorixHandle m_handle = 0;
};

// Snapshot, capture state and preview each fail with code 6 within one bus wait and leave the
// camera idle; with the bus free again the next snapshot sends every setting and succeeds.
TEST_P(AcquisitionTimeouts, StartsFailWithCode6AfterOneBusWaitAndRecover) {
    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    ASSERT_EQ(Quorix_SetMirrorV(m_handle, 1), 1);
    {
        const platform::test::ScopedTimeScale fast(kTimeScale);
        StickBus(true);
        ExpectFailsWithinOneBusWait(
            [&] { return Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1); },
            "SnapShot");
        ExpectFailsWithinOneBusWait([&] { return Quorix_Capture(m_handle); }, "Capture");
        ExpectFailsWithinOneBusWait([&] { return Quorix_StartPreview(m_handle); }, "StartPreview");
        EXPECT_EQ(ContextOf(m_handle).AcquisitionState(), 0);
        StickBus(false);
    }

    m_camera->Log().Clear();
    ASSERT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 1);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
    // The settings the failed starts could not send reached the sensor now: vertical mirroring
    // (mirror register bit 0) and the gain.
    EXPECT_EQ(m_camera->SensorRegister(test::kMirror) & 1, 1);
    EXPECT_FALSE(
        m_camera->Log().WrittenValues(sim::RegisterSpace::kSensor, test::kGainLow).empty());
}

INSTANTIATE_TEST_SUITE_P(, AcquisitionTimeouts,
                         ::testing::Values(StuckBusCase{"BusStuckBusy", false},
                                           StuckBusCase{"CameraNeverReady", true}),
                         [](const ::testing::TestParamInfo<StuckBusCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace quorix
