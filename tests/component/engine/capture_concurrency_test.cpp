// The capture thread against the threads around it, for ThreadSanitizer: starts and stops in
// quick succession (with and without waiting, with buffers re-prepared under a running thread),
// and two engines capturing from two cameras at once, each reading while its thread stores. Each
// engine must get its own camera's frames: camera B adds a dark offset to every sample, and
// every frame carries its number in the scene's frame-number code.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture_fixture.h"

namespace quorix {
namespace {

using test::CaptureEngine;
using test::CaptureTest;
using test::CountMismatches;
using test::ScopedTimeScale;
using test::WaitUntil;
using test::Window;

constexpr Window kCoded{0, 1408, 512, 128, false};
constexpr uint32_t kLongWaitMs = 600000;

class EngineCaptureConcurrency : public CaptureTest {
protected:
    EngineCaptureConcurrency() : CaptureTest(20) {}
};

TEST_F(EngineCaptureConcurrency, TwoHundredStartsAndStops) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kCoded);
    int32_t last = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const int32_t mode = cycle % 2;  // continuous, then one frame
        ASSERT_EQ(engine.StartCapture(mode), 1);
        ASSERT_EQ(engine.WaitFrame(kLongWaitMs), 3);
        if (mode == 1) {
            // One stored frame and no more: read it while the thread winds down.
            int32_t number = 0;
            const std::vector<uint8_t> frame = ReadNewest(engine, 0, &number);
            EXPECT_GT(number, last);
            EXPECT_EQ(CountMismatches(frame, kCoded, 0, static_cast<uint32_t>(number)), 0);
            last = number;
        } else if (cycle % 10 == 0) {
            // New buffers while the thread streams into the old ones: it is ended first.
            ASSERT_EQ(engine.PrepareFrameBuffers(), 1);
            EXPECT_FALSE(engine.CaptureRunning());
        }
        EXPECT_EQ(engine.StopCapture(cycle % 3 == 0 ? 1 : 0), 1);
        EXPECT_FALSE(engine.CaptureRunning());
    }
    EXPECT_EQ(engine.ErrorFlag(), 0);
}

// An engine destroyed while its thread streams: the destructor ends and joins the thread before
// any of the engine goes, and the thread never calls into a half-destroyed engine.
TEST_F(EngineCaptureConcurrency, DestroyingAnEngineThatCaptures) {
    auto camera = sim::AttachCamera(FastCamera());
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CaptureEngine& engine = OpenEngine();
        Configure(engine, kCoded);
        ASSERT_EQ(engine.StartCapture(0), 1);
        ASSERT_EQ(engine.WaitFrame(kLongWaitMs), 3);
        m_engines.pop_back();
    }
    const uint64_t requests = camera->Counters().frameRequests;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(camera->Counters().frameRequests, requests);  // no thread left asking
}

// Selecting the open camera again replaces the sensor head: a capture thread that still runs
// must have ended before the old head goes (ASan catches a thread using the freed head).
TEST_F(EngineCaptureConcurrency, ReopeningTheCameraWhileCapturing) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Configure(engine, kCoded);
        ASSERT_EQ(engine.StartCapture(0), 1);
        ASSERT_EQ(engine.WaitFrame(kLongWaitMs), 3);
        ASSERT_NE(engine.CreateSensor(0), 0);
    }
    const uint64_t requests = camera->Counters().frameRequests;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(camera->Counters().frameRequests, requests);  // the capture ended with the head
}

// The serial number in the device info block (bytes 28-51).
std::string SerialOf(CaptureEngine& engine) {
    uint8_t info[64] = {};
    EXPECT_EQ(engine.GetDeviceInfo(info), 1);
    return std::string(reinterpret_cast<const char*>(info + 28),
                       strnlen(reinterpret_cast<const char*>(info + 28), 24));
}

TEST_F(EngineCaptureConcurrency, TwoEnginesEachGetTheirOwnCamerasFrames) {
    ScopedTimeScale real(1);  // a reader has three frame periods of real time for its copy
    struct Stream {
        std::shared_ptr<sim::EmulatedCamera> camera;
        CaptureEngine* engine = nullptr;
        int darkOffset = 0;
    };
    Stream streams[2];
    for (int i = 0; i < 2; ++i) {
        sim::CameraConfig config;
        config.serialNumber = "QX252-00000" + std::to_string(i + 1);
        config.framesPerSecond = i == 0 ? 30.0 : 20.0;
        config.imperfections.darkOffset = i == 0 ? 0 : 160;
        streams[i].camera = sim::AttachCamera(config);
        streams[i].darkOffset = config.imperfections.darkOffset;
    }
    // Instance numbers follow the device table; the serial number tells which camera is which.
    for (int32_t instance = 0; instance < 2; ++instance) {
        CaptureEngine& engine = OpenEngine(instance);
        Configure(engine, kCoded);
        const std::string serial = SerialOf(engine);
        Stream* stream = serial == streams[0].camera->Config().serialNumber   ? &streams[0]
                         : serial == streams[1].camera->Config().serialNumber ? &streams[1]
                                                                              : nullptr;
        ASSERT_NE(stream, nullptr) << serial;
        ASSERT_EQ(stream->engine, nullptr) << "two engines on " << serial;
        stream->engine = &engine;
    }

    constexpr int kFrames = 12;
    const auto run = [](Stream& s) {
        CaptureEngine& engine = *s.engine;
        // Three rounds, so that one engine's stop meets the other's running capture.
        int32_t last = 0;
        for (int round = 0; round < 3; ++round) {
            EXPECT_EQ(engine.StartCapture(0), 1);
            for (int got = 0; got < kFrames;) {
                const int r = engine.WaitFrame(kLongWaitMs);
                if (r == 1) {
                    ADD_FAILURE() << "capture failed";
                    return;
                }
                if (r != 3)
                    continue;
                int32_t number = 0;
                const std::vector<uint8_t> frame = ReadNewest(engine, 0, &number);
                EXPECT_GT(number, last);
                EXPECT_LE(static_cast<uint32_t>(number), s.camera->FramesProduced());
                EXPECT_EQ(
                    CountMismatches(frame, kCoded, 0, static_cast<uint32_t>(number), s.darkOffset),
                    0);
                last = number;
                ++got;
            }
            EXPECT_EQ(engine.StopCapture(round % 2), 1);
            EXPECT_FALSE(engine.CaptureRunning());
        }
    };
    std::thread first(run, std::ref(streams[0]));
    std::thread second(run, std::ref(streams[1]));
    first.join();
    second.join();
    for (const Stream& s : streams) {
        EXPECT_GE(s.camera->Counters().framesSent, 3u * kFrames);
        EXPECT_EQ(s.engine->ErrorFlag(), 0);
    }
}

// Two engines streaming at once from cameras paced at 40 and 10 frames per second of SDK time:
// each engine's frame rate counts its own frames only. A meter shared by the engines would show
// the slow camera at the sum of both rates. A camera never sends faster than its pace, so each
// rate stays within its pace plus the one frame a window's edge can add.
TEST_F(EngineCaptureConcurrency, TwoEnginesEachReportTheirOwnFrameRate) {
    ScopedTimeScale pace(4);
    constexpr double kPace[2] = {40.0, 10.0};
    std::shared_ptr<sim::EmulatedCamera> cameras[2];
    for (int i = 0; i < 2; ++i) {
        sim::CameraConfig config;
        config.serialNumber = "QX252-00001" + std::to_string(i + 1);
        config.framesPerSecond = kPace[i];
        cameras[i] = sim::AttachCamera(config);
    }
    CaptureEngine* engines[2] = {};
    for (int32_t instance = 0; instance < 2; ++instance) {
        CaptureEngine& engine = OpenEngine(instance);
        Configure(engine, kCoded);
        const int i = SerialOf(engine) == cameras[0]->Config().serialNumber ? 0 : 1;
        ASSERT_EQ(engines[i], nullptr) << "two engines on one camera";
        engines[i] = &engine;
    }
    for (CaptureEngine* engine : engines)
        ASSERT_EQ(engine->StartCapture(0), 1);
    // Three windows of the slow camera: the rates shown are of whole windows of both streams.
    ASSERT_TRUE(WaitUntil([&] { return engines[1]->FramesStored() >= 3 * kPace[1] + 1; }));
    const float fast = engines[0]->FrameRate();
    const float slow = engines[1]->FrameRate();
    for (CaptureEngine* engine : engines)
        EXPECT_EQ(engine->StopCapture(0), 1);
    EXPECT_GT(slow, 0.0f);
    EXPECT_LE(slow, kPace[1] + 1.0);
    EXPECT_LE(fast, kPace[0] + 1.0);
    EXPECT_GT(fast, slow) << "the faster camera's engine shows the slower rate";
}

// Every-frame delivery with a ring of four that is full most of the time: the capture thread
// reuses a slot only after the reader handed it back, so each frame read is whole and the one
// its number says (the camera sends faster than the reader checks), and the counts read on a
// third thread meanwhile only grow. Once stopped, every frame received is accounted for.
TEST_F(EngineCaptureConcurrency, EveryFrameReaderAndCountsBesideTheCaptureThread) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kCoded);
    ASSERT_EQ(engine.SetFrameDelivery(true, CQuorixU3R5Base::kRingSlots), 1);
    engine.ResetFrameCounts();
    ASSERT_EQ(engine.StartCapture(0), 1);
    std::atomic<bool> reading{true};
    std::thread counter([&] {
        uint64_t received = 0;
        while (reading.load()) {
            const CQuorixU3R5Base::FrameCounts counts = engine.GetFrameCounts();
            EXPECT_GE(counts.received, received);
            received = counts.received;
        }
    });
    std::vector<uint8_t> frame(engine.FrameSize());
    int32_t last = 0;
    uint64_t taken = 0;
    for (int k = 0; k < 30; ++k) {
        // 2: a signal for a frame already taken.
        int waited = 2;
        while (waited == 2) {
            waited = engine.WaitFrame(kLongWaitMs);
        }
        int32_t number = 0;
        if (waited != 3 || engine.ReadFrame(frame.data(), engine.FrameSize(), 0, &number) != 0) {
            ADD_FAILURE() << "no frame " << k << " (wait " << waited << ")";
            break;
        }
        EXPECT_GT(number, last);
        EXPECT_EQ(CountMismatches(frame, kCoded, 0, static_cast<uint32_t>(number)), 0);
        last = number;
        ++taken;
    }
    reading.store(false);
    counter.join();
    engine.StopCapture(0);
    engine.SettleFrameCounts();
    const CQuorixU3R5Base::FrameCounts counts = engine.GetFrameCounts();
    EXPECT_EQ(counts.taken, taken);
    EXPECT_EQ(counts.overtaken, 0u);
    EXPECT_EQ(counts.received, counts.taken + counts.failedRingFull + counts.failedTransfer +
                                   counts.failedFrame + counts.failedStopped);
}

}  // namespace
}  // namespace quorix
