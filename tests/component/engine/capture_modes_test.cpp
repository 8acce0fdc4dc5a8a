// The capture thread's modes, its ring of slots and the hand-off to a reader, against
// emulated cameras. Frame numbers come from the camera (its headers count the frames it produced,
// starting at 1) and the pixels from the scene it looks at; each delivered window includes the
// scene's frame-number code, so a slot holding another frame than it claims shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "capture_fixture.h"
#include "sensors/sensor_base.h"

namespace quorix {
namespace {

using test::CaptureEngine;
using test::CaptureTest;
using test::CountMismatches;
using test::FpgaReadsOf;
using test::ScopedTimeScale;
using test::WaitUntil;
using test::Window;

// Rows 1408-1535 hold the frame number's bits 0-7 in cells of 64 columns.
constexpr Window kCoded{0, 1408, 512, 128, false};
constexpr uint32_t kLongWaitMs = 60000;  // only a broken capture waits this long
constexpr uint32_t kShortWaitMs = 200;

class EngineCaptureModes : public CaptureTest {
protected:
    EngineCaptureModes() : CaptureTest(2) {}

    CaptureEngine& OpenCoded() {
        CaptureEngine& engine = OpenEngine();
        Configure(engine, kCoded);
        return engine;
    }
    static bool Ended(const CaptureEngine& engine) { return !engine.CaptureRunning(); }
};

// Mode 1 asks the camera for one frame, stores it, signals once and ends. The reader is told of
// it once; after reading it, a signal still pending reports nothing new.
TEST_F(EngineCaptureModes, OneFrameModeStoresOneFrameAndReportsItOnce) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenCoded();

    ASSERT_EQ(engine.StartCapture(1), 1);
    EXPECT_EQ(engine.WaitFrame(kLongWaitMs), 3);
    ASSERT_TRUE(WaitUntil([&] { return Ended(engine); }));
    sim::CameraCounters counters = camera->Counters();
    EXPECT_EQ(counters.frameRequests, 1u);
    EXPECT_EQ(counters.framesSent, 1u);
    EXPECT_EQ(engine.WriteIndex(), 1);
    EXPECT_EQ(engine.SlotFrameNumber(0), 1);
    EXPECT_EQ(engine.ErrorFlag(), 0);
    // Signalled once: a second wait finds nothing.
    EXPECT_EQ(engine.WaitFrame(kShortWaitMs), 2);

    std::vector<uint8_t> frame(engine.FrameSize());
    int32_t number = 0;
    uint32_t a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(engine.ReadNewestFrameWithInfo(frame.data(), &number, &a, &b, &c, &d, 0), 0);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(engine.ReadMark(), 1);
    // Words B, C and D of the header: the frame number, the exposure in pixel clocks and the
    // frame length in lines the camera worked with.
    const sim::ReadoutSettings readout = camera->Readout();
    EXPECT_EQ(b, 1u);
    EXPECT_EQ(c, static_cast<uint32_t>(std::llround(readout.exposureClocks)));
    EXPECT_EQ(d, readout.frameLines);
    EXPECT_EQ(CountMismatches(frame, kCoded, 0, 1), 0);

    // A second one-frame capture, read before anyone waited: its signal is still pending, but the
    // newest frame has been read, so there is nothing new.
    ASSERT_EQ(engine.StartCapture(1), 1);
    ASSERT_TRUE(WaitUntil([&] { return Ended(engine) && engine.FramesStored() == 2; }));
    frame = ReadNewest(engine, 0, &number);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(CountMismatches(frame, kCoded, 0, 2), 0);
    EXPECT_EQ(engine.WaitFrame(kShortWaitMs), 2);
    EXPECT_EQ(camera->Counters().frameRequests, 2u);
}

// Mode 3 reads one header for its frame number and stores nothing. The frame's data must not be
// left in the stream: the next header-only capture reads a header, not pixels.
TEST_F(EngineCaptureModes, HeaderOnlyModeTakesTheFrameNumberAndStoresNothing) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenCoded();

    for (int32_t expected = 1; expected <= 2; ++expected) {
        ASSERT_EQ(engine.StartCapture(3), 1);
        ASSERT_TRUE(WaitUntil([&] { return Ended(engine); }));
        EXPECT_EQ(engine.LastFrameNumber(), expected);
        EXPECT_EQ(camera->FramesProduced(), static_cast<uint32_t>(expected));
    }
    const sim::CameraCounters counters = camera->Counters();
    EXPECT_EQ(counters.headersSent, 2u);
    EXPECT_EQ(counters.framesSent, 0u);
    EXPECT_EQ(engine.FramesStored(), 0u);
    EXPECT_EQ(engine.WriteIndex(), 0);
    for (int32_t slot = 0; slot < 4; ++slot)
        EXPECT_EQ(engine.SlotFrameNumber(slot), -1) << "slot " << slot;
    EXPECT_EQ(engine.WaitFrame(kShortWaitMs), 2);
}

// Mode 2 first moves the write index back to the read mark, stores one frame under the last
// frame number (not the header's) and counts it.
TEST_F(EngineCaptureModes, CountedFrameModeKeepsTheLastFrameNumberAndCountsTheFrame) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenCoded();
    ASSERT_EQ(engine.StartCapture(1), 1);  // frame 1 into slot 0, not read
    ASSERT_EQ(engine.WaitFrame(kLongWaitMs), 3);
    ASSERT_TRUE(WaitUntil([&] { return Ended(engine); }));
    ASSERT_EQ(engine.WriteIndex(), 1);
    ASSERT_EQ(engine.ReadMark(), 0);

    ASSERT_EQ(engine.StartCapture(2), 1);
    ASSERT_EQ(engine.WaitFrame(kLongWaitMs), 3);
    ASSERT_TRUE(WaitUntil([&] { return Ended(engine); }));
    EXPECT_EQ(engine.SingleFrameCount(), 1);
    EXPECT_EQ(engine.WriteIndex(), 1);        // slot 0 filled again
    EXPECT_EQ(engine.SlotFrameNumber(0), 1);  // the last frame number, frame 1's
    EXPECT_EQ(camera->FramesProduced(), 2u);  // while the pixels are frame 2's
    int32_t number = 0;
    const std::vector<uint8_t> frame = ReadNewest(engine, 0, &number);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(CountMismatches(frame, kCoded, 0, 2), 0);
}

// Continuous capture fills the slots in turn: after n frames the write index is n mod 4 and the
// four slots hold the last four frames, the oldest at the write index.
TEST_F(EngineCaptureModes, ContinuousModeFillsTheRingInFrameOrder) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenCoded();
    ASSERT_EQ(engine.StartCapture(0), 1);
    ASSERT_TRUE(WaitUntil([&] { return engine.FramesStored() >= 10; }));
    EXPECT_EQ(engine.StopCapture(1), 1);
    EXPECT_FALSE(engine.CaptureRunning());

    const auto stored = static_cast<int32_t>(engine.FramesStored());
    EXPECT_EQ(engine.WriteIndex(), stored % 4);
    for (int32_t k = stored - 3; k <= stored; ++k)
        EXPECT_EQ(engine.SlotFrameNumber((k - 1) % 4), k) << "frame " << k;
    int32_t number = 0;
    const std::vector<uint8_t> frame = ReadNewest(engine, 0, &number);
    EXPECT_EQ(number, stored);
    EXPECT_EQ(CountMismatches(frame, kCoded, 0, static_cast<uint32_t>(stored)), 0);
    EXPECT_EQ(engine.ErrorFlag(), 0);
}

// Every-frame delivery: while the reader pauses, the thread never overwrites a frame not yet
// taken; once the whole ring waits, further frames are dropped and counted. The reader then gets
// the ring oldest first, frames 1..depth in camera order with the pictures of those frames, and
// later frames in increasing order. Every frame the camera sent is accounted for.
TEST_F(EngineCaptureModes, EveryFrameDeliveryHandsOverTheRingOldestFirstAndCountsWhatItDrops) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenCoded();
    constexpr int32_t kDepth = 6;
    ASSERT_EQ(engine.SetFrameDelivery(true, kDepth), 1);
    engine.ResetFrameCounts();
    ASSERT_EQ(engine.StartCapture(0), 1);
    ASSERT_TRUE(WaitUntil([&] { return engine.GetFrameCounts().failedRingFull >= 3; }));
    EXPECT_EQ(engine.SetFrameDelivery(false, 4), 0) << "changed under a running capture";

    std::vector<uint8_t> frame(engine.FrameSize());
    std::vector<int32_t> numbers;
    for (int k = 0; k < kDepth + 4; ++k) {
        // 2: a signal for a frame already taken.
        int waited = 2;
        while (waited == 2) {
            waited = engine.WaitFrame(kLongWaitMs);
        }
        ASSERT_EQ(waited, 3) << "frame " << k;
        int32_t number = -1;
        ASSERT_EQ(engine.ReadFrame(frame.data(), engine.FrameSize(), 0, &number), 0);
        EXPECT_EQ(CountMismatches(frame, kCoded, 0, static_cast<uint32_t>(number)), 0)
            << "frame " << k << " claims number " << number;
        numbers.push_back(number);
    }
    engine.StopCapture(1);
    engine.SettleFrameCounts();

    for (int k = 0; k < kDepth; ++k)
        EXPECT_EQ(numbers[static_cast<size_t>(k)], k + 1) << "the ring lost or reordered a frame";
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    EXPECT_EQ(std::adjacent_find(numbers.begin(), numbers.end()), numbers.end());
    const CQuorixU3R5Base::FrameCounts counts = engine.GetFrameCounts();
    // This camera numbers the frames it is asked for from 1 without gaps.
    EXPECT_EQ(counts.received, static_cast<uint64_t>(counts.newestFrameNumber));
    EXPECT_EQ(counts.skipped, 0u);
    EXPECT_EQ(counts.taken, numbers.size());
    EXPECT_EQ(counts.overtaken, 0u);
    EXPECT_EQ(counts.pending, 0u);
    EXPECT_GE(counts.failedRingFull, 3u);
    // The frames missing between those taken were dropped while the ring was full.
    EXPECT_GE(counts.failedRingFull,
              static_cast<uint64_t>(numbers.back() - numbers.front() + 1) - numbers.size());
    EXPECT_EQ(counts.received, counts.taken + counts.failedRingFull + counts.failedTransfer +
                                   counts.failedFrame + counts.failedStopped);
}

// The frame-rate meter counts stored frames over windows of one second of SDK time; a camera
// pacing 25 frames per second reads as 25. The data rate is in Mbit/s over at least 1 ms.
TEST_F(EngineCaptureModes, FrameRateFollowsTheCameraPace) {
    ScopedTimeScale pace(1);  // the camera's pace in real time, which a busy machine keeps
    sim::CameraConfig config;
    config.framesPerSecond = 25.0;
    auto camera = sim::AttachCamera(config);
    CaptureEngine& engine = OpenCoded();
    ASSERT_EQ(engine.StartCapture(0), 1);
    // Over two windows: the first opens at the capture's first frame.
    ASSERT_TRUE(WaitUntil([&] { return engine.FramesStored() >= 60; }));
    EXPECT_GE(engine.FrameRate(), 22.0f);
    EXPECT_LE(engine.FrameRate(), 26.0f);
    const double frameMbit = static_cast<double>(engine.FrameSize()) * 8.0 / (1 << 20);
    EXPECT_GE(engine.DataRate(), 0.0);
    EXPECT_LE(engine.DataRate(), frameMbit * 1000.0);
    engine.StopCapture(0);
    EXPECT_EQ(engine.FrameRate(), 0.0f);
}

class EngineFrameDelivery : public EngineCaptureModes {};

// A destination one byte smaller than the frame gets nothing, not even the frame number.
TEST_F(EngineFrameDelivery, ADestinationOneByteShortGetsNothing) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenCoded();
    ASSERT_EQ(engine.StartCapture(1), 1);
    ASSERT_EQ(engine.WaitFrame(kLongWaitMs), 3);
    const uint32_t size = engine.FrameSize();
    ASSERT_EQ(size, 512u * 128u);

    std::vector<uint8_t> destination(size, 0xA5);
    int32_t number = -7;
    uint32_t wordB = 0xDEAD;
    EXPECT_EQ(engine.GetFrame(destination.data(), size - 1, &number, nullptr, &wordB, nullptr,
                              nullptr, 0, 0),
              0);
    EXPECT_EQ(std::count(destination.begin(), destination.end(), 0xA5),
              static_cast<std::ptrdiff_t>(size));
    EXPECT_EQ(number, -7);
    EXPECT_EQ(wordB, 0xDEADu);

    EXPECT_EQ(
        engine.GetFrame(destination.data(), size, &number, nullptr, &wordB, nullptr, nullptr, 0, 0),
        1);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(wordB, 1u);
    EXPECT_EQ(CountMismatches(destination, kCoded, 0, 1), 0);
}

// The slots hold frames of the window they were prepared for. After the head has taken a larger
// window (buffers not yet re-prepared), copying by the new rows would read past the frame: the
// engine refuses and copies nothing.
TEST_F(EngineFrameDelivery, AWindowChangedSinceTheBuffersWerePreparedIsNotCopied) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenCoded();
    ASSERT_EQ(engine.StartCapture(1), 1);
    ASSERT_EQ(engine.WaitFrame(kLongWaitMs), 3);
    ASSERT_TRUE(WaitUntil([&] { return Ended(engine); }));
    ASSERT_EQ(engine.Sensor()->SetCaptureWindow(0, 2048, 0, 1536, 0), 1);

    std::vector<uint8_t> destination(2048u * 1536u, 0x5A);
    EXPECT_EQ(engine.GetFrame(destination.data(), static_cast<uint32_t>(destination.size()),
                              nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0),
              0);
    EXPECT_EQ(std::count(destination.begin(), destination.end(), 0x5A),
              static_cast<std::ptrdiff_t>(destination.size()));
    EXPECT_EQ(engine.ReadNewestFrame(destination.data(), 0), -1);
    EXPECT_EQ(engine.ReadMark(), 0);  // nothing was read
}

// In trigger mode a frame exists only once the FPGA's frame counter (register 8, the low byte of
// the camera's frame count) has moved. The capture thread polls the counter and asks for a frame
// only then: a request made earlier would wait for a trigger that may never come.
class EngineCaptureTrigger : public CaptureTest {
protected:
    EngineCaptureTrigger() : CaptureTest(2) {}

    void SetUp() override {
        sim::CameraConfig config;
        config.autoTrigger = false;  // pulses only from FireTrigger
        m_camera = sim::AttachCamera(config);
        m_engine = &OpenEngine();
        Configure(*m_engine, kCoded);
        ASSERT_EQ(m_engine->Sensor()->SetTriggerMode(1), 1);
        m_engine->SetTriggerModeFlag(1);
    }

    // Lets the thread poll the frame counter 50 more times.
    void LetItPoll() {
        const size_t polls = FpgaReadsOf(*m_camera, 8);
        ASSERT_TRUE(WaitUntil([&] { return FpgaReadsOf(*m_camera, 8) >= polls + 50; }));
    }

    // Fires one pulse and checks that exactly that frame arrives.
    void TriggerOneFrame(uint64_t requestsBefore) {
        ASSERT_TRUE(m_camera->FireTrigger());
        ASSERT_EQ(m_engine->WaitFrame(kLongWaitMs), 3);
        int32_t number = 0;
        const std::vector<uint8_t> frame = ReadNewest(*m_engine, 0, &number);
        EXPECT_EQ(number, static_cast<int32_t>(m_camera->FramesProduced()));
        EXPECT_EQ(CountMismatches(frame, kCoded, 0, static_cast<uint32_t>(number)), 0);
        EXPECT_EQ(m_camera->Counters().frameRequests, requestsBefore + 1);
        // The counter stands still again: no further request.
        ASSERT_NO_FATAL_FAILURE(LetItPoll());
        EXPECT_EQ(m_camera->Counters().frameRequests, requestsBefore + 1);
    }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    CaptureEngine* m_engine = nullptr;
};

TEST_F(EngineCaptureTrigger, AStillCounterRequestsNoFrameAndATriggerDeliversOne) {
    ASSERT_EQ(m_engine->ReadFrameCounter(), 1);
    EXPECT_EQ(m_engine->LastFrameNumber(), 0);
    const uint64_t requests = m_camera->Counters().frameRequests;
    ASSERT_EQ(m_engine->StartCapture(0), 1);
    ASSERT_NO_FATAL_FAILURE(LetItPoll());
    EXPECT_EQ(m_camera->Counters().frameRequests, requests);
    EXPECT_EQ(m_engine->WaitFrame(0), 2);

    ASSERT_NO_FATAL_FAILURE(TriggerOneFrame(requests));
    ASSERT_NO_FATAL_FAILURE(TriggerOneFrame(requests + 1));
    EXPECT_EQ(m_engine->StopCapture(1), 1);
}

// Past frame 255 the 8-bit counter and the headers' frame numbers differ in all but their low
// byte; a counter that stands still must still request nothing.
TEST_F(EngineCaptureTrigger, ACounterPastFrame255StillRequestsNothingUntilTriggered) {
    for (int pulse = 0; pulse < 300; ++pulse)
        ASSERT_TRUE(m_camera->FireTrigger());
    ASSERT_EQ(m_engine->ReadFrameCounter(), 1);
    EXPECT_EQ(m_engine->LastFrameNumber(), 300 & 0xFF);
    const uint64_t requests = m_camera->Counters().frameRequests;
    ASSERT_EQ(m_engine->StartCapture(0), 1);
    ASSERT_NO_FATAL_FAILURE(LetItPoll());
    EXPECT_EQ(m_camera->Counters().frameRequests, requests);

    ASSERT_NO_FATAL_FAILURE(TriggerOneFrame(requests));
    EXPECT_EQ(m_engine->LastFrameNumber(), 301);
    EXPECT_EQ(m_engine->StopCapture(1), 1);
}

}  // namespace
}  // namespace quorix
