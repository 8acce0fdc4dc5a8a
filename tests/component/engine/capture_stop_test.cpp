// Stopping capture: the thread is ended and joined however it is occupied, a receive it is
// blocked in is aborted rather than waited out, a reader still waiting is released, and nothing
// of the stopped capture is reported afterwards.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <thread>
#include <vector>

#include "capture_fixture.h"
#include "sensors/sensor_base.h"

namespace quorix {
namespace {

using test::CaptureEngine;
using test::CaptureTest;
using test::ScopedTimeScale;
using test::WaitUntil;
using test::Window;

constexpr Window kSmall{0, 768, 256, 64, false};
constexpr auto kMustNotHang = std::chrono::seconds(60);

class EngineCaptureStop : public CaptureTest {};

// A frame stored but never read leaves the write index ahead of the read mark, and its signal
// pending. After a stop, a wait must not report it: the stop's signal went to the old frame
// event, and a new capture mode brings a new one that nothing signals.
TEST_F(EngineCaptureStop, AfterAStopAWaitTimesOut) {
    ScopedTimeScale fast(20);
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kSmall);
    ASSERT_EQ(engine.StartCapture(1), 1);
    ASSERT_TRUE(WaitUntil([&] { return engine.FramesStored() == 1; }));
    ASSERT_EQ(engine.WriteIndex(), 1);
    ASSERT_EQ(engine.ReadMark(), 0);
    EXPECT_EQ(engine.StopCapture(0), 1);
    EXPECT_FALSE(engine.CaptureRunning());
    EXPECT_EQ(engine.CaptureMode(), 0);

    EXPECT_EQ(engine.WaitFrame(100), 2);
    ASSERT_EQ(engine.SetCaptureMode(1), 1);
    EXPECT_EQ(engine.WaitFrame(100), 2);

    // The same after a continuous capture, stopped while it streams.
    ASSERT_EQ(engine.StartCapture(0), 1);
    ASSERT_TRUE(WaitUntil([&] { return engine.FramesStored() >= 4; }));
    EXPECT_EQ(engine.StopCapture(1), 1);
    EXPECT_EQ(engine.WaitFrame(100), 2);
    ASSERT_EQ(engine.SetCaptureMode(1), 1);
    EXPECT_EQ(engine.WaitFrame(100), 2);
    // The camera is asked for nothing more.
    const uint64_t requests = camera->Counters().frameRequests;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(camera->Counters().frameRequests, requests);
}

// A frame whose data never comes keeps the thread in a receive for the whole data timeout, here
// ten minutes of real time. A waiting stop aborts the receive instead of sitting it out.
TEST_F(EngineCaptureStop, AWaitingStopEndsAStalledReceive) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kSmall);
    ASSERT_EQ(engine.SetDataTimeout(600000), 1);
    camera->Faults().StallFrameData(1);
    ASSERT_EQ(engine.StartCapture(0), 1);
    ASSERT_TRUE(WaitUntil([&] { return camera->Counters().dataStalls == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // into the data receive

    auto stop = std::async(std::launch::async, [&] { return engine.StopCapture(1); });
    ASSERT_EQ(stop.wait_for(kMustNotHang), std::future_status::ready);
    EXPECT_EQ(stop.get(), 1);
    EXPECT_FALSE(engine.CaptureRunning());
    EXPECT_GE(camera->Counters().cancelledTransfers, 1u);
    EXPECT_EQ(engine.FramesStored(), 0u);
    EXPECT_EQ(engine.ErrorFlag(), 0);
}

// A reader waiting for a frame that will not come (a trigger camera without pulses) is released
// by the stop, not left to its own ten-minute limit.
TEST_F(EngineCaptureStop, AStopReleasesAWaitingReader) {
    sim::CameraConfig config;
    config.autoTrigger = false;
    auto camera = sim::AttachCamera(config);
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kSmall);
    ASSERT_EQ(engine.Sensor()->SetTriggerMode(1), 1);
    engine.SetTriggerModeFlag(1);
    ASSERT_EQ(engine.ReadFrameCounter(), 1);
    ASSERT_EQ(engine.StartCapture(0), 1);

    auto waiter = std::async(std::launch::async, [&] { return engine.WaitFrame(600000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(engine.StopCapture(0), 1);
    ASSERT_EQ(waiter.wait_for(kMustNotHang), std::future_status::ready);
    EXPECT_EQ(waiter.get(), 2);
    EXPECT_EQ(camera->Counters().frameRequests, 0u);
}

// Closing the camera while it streams: the thread is joined before the buffers, the sensor and
// the controller go.
TEST_F(EngineCaptureStop, ClosingTheCameraWhileCapturing) {
    ScopedTimeScale fast(20);
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kSmall);
    ASSERT_EQ(engine.StartCapture(0), 1);
    ASSERT_TRUE(WaitUntil([&] { return engine.FramesStored() >= 2; }));
    EXPECT_EQ(engine.CloseCamera(), 1);
    EXPECT_FALSE(engine.CaptureRunning());
    EXPECT_EQ(engine.FrameSize(), 0u);
    EXPECT_EQ(engine.WaitFrame(0), 2);
    EXPECT_EQ(engine.StartCapture(0), 0);  // no controller any more
}

}  // namespace
}  // namespace quorix
