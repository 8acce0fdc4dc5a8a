// Capture through a failing camera. Each frame whose header does not come or whose data does not
// arrive whole costs one recovery pass: the stream handle closed, a pipe reset of endpoint 0x81,
// a pulse of the FPGA's transfer reset (register 0x6C) and the handle opened again. Four failed
// frames in a row are survived; the fifth ends capture with the error flag set, which a waiting
// reader learns as WaitFrame's 1. The faults come from the emulated camera: swallowed frame
// requests (the controller asks 16 times for a header, so 15 swallowed requests fail one frame;
// the 16th is discarded by the pipe reset), withheld data, and data that ends early.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

#include "camera/fpga_registers.h"
#include "capture_fixture.h"

namespace quorix {
namespace {

using test::CaptureEngine;
using test::CaptureTest;
using test::CountMismatches;
using test::WaitUntil;
using test::Window;

constexpr Window kCoded{0, 1408, 256, 64, false};  // frame-number bits 0-3 in rows 1440-1471
constexpr uint32_t kLongWaitMs = 600000;
constexpr uint32_t kDataTimeoutMs = 1000;

enum class Fault { kDroppedHeaders, kStalledData, kShortData };

void PrintTo(Fault fault, std::ostream* os) {
    switch (fault) {
        case Fault::kDroppedHeaders:
            *os << "DroppedHeaders";
            break;
        case Fault::kStalledData:
            *os << "StalledData";
            break;
        case Fault::kShortData:
            *os << "ShortData";
            break;
    }
}

constexpr uint32_t kRequestsSwallowedPerFailedHeader = 15;

class EngineCaptureRecovery : public CaptureTest, public ::testing::WithParamInterface<Fault> {
protected:
    EngineCaptureRecovery() : CaptureTest(5) {}

    void SetUp() override {
        m_camera = sim::AttachCamera(FastCamera());
        m_engine = &OpenEngine();
        Configure(*m_engine, kCoded);
        ASSERT_EQ(m_engine->SetDataTimeout(kDataTimeoutMs), 1);
    }

    // Makes the next `frames` frames fail.
    void Fail(uint32_t frames) {
        sim::CameraFaults& faults = m_camera->Faults();
        switch (GetParam()) {
            case Fault::kDroppedHeaders:
                faults.DropFrameHeaders(frames * kRequestsSwallowedPerFailedHeader);
                break;
            case Fault::kStalledData:
                faults.StallFrameData(frames);
                break;
            case Fault::kShortData:
                faults.ShortenFrameData(frames, 1000);
                break;
        }
    }

    // FPGA transfer resets per failed frame: the recovery's pulse, and for a missing header the
    // controller's pulse after each of its 15 receives.
    uint64_t TransferResetsPerFailure() const {
        return GetParam() == Fault::kDroppedHeaders ? 1 + kRequestsSwallowedPerFailedHeader : 1;
    }

    bool Ended() const { return !m_engine->CaptureRunning(); }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    CaptureEngine* m_engine = nullptr;
};

TEST_P(EngineCaptureRecovery, FourFailedFramesThenAGoodOneDeliverItWithoutError) {
    ASSERT_EQ(m_engine->SetCaptureMode(1), 1);  // so that starting changes no mode
    const sim::CameraCounters before = m_camera->Counters();
    Fail(4);
    ASSERT_EQ(m_engine->StartCapture(1), 1);
    EXPECT_EQ(m_engine->WaitFrame(kLongWaitMs), 3);
    ASSERT_TRUE(WaitUntil([&] { return Ended(); }));
    EXPECT_EQ(m_engine->ErrorFlag(), 0);
    EXPECT_EQ(m_engine->FramesStored(), 1u);

    const sim::CameraCounters after = m_camera->Counters();
    EXPECT_EQ(after.pipeResets - before.pipeResets, 4u);
    EXPECT_EQ(after.transferResets - before.transferResets, 4 * TransferResetsPerFailure());
    // The frame delivered is the one the camera sent last, whole.
    int32_t number = 0;
    const std::vector<uint8_t> frame = ReadNewest(*m_engine, 0, &number);
    EXPECT_EQ(number, static_cast<int32_t>(m_camera->FramesProduced()));
    EXPECT_EQ(CountMismatches(frame, kCoded, 0, static_cast<uint32_t>(number)), 0);
}

TEST_P(EngineCaptureRecovery, FiveFailedFramesEndCaptureWithTheErrorFlag) {
    ASSERT_EQ(m_engine->SetCaptureMode(0), 1);
    const sim::CameraCounters before = m_camera->Counters();
    Fail(5);
    ASSERT_EQ(m_engine->StartCapture(0), 1);
    // A reader waiting for frames learns that capture has ended on failures.
    EXPECT_EQ(m_engine->WaitFrame(kLongWaitMs), 1);
    ASSERT_TRUE(WaitUntil([&] { return Ended(); }));
    EXPECT_EQ(m_engine->ErrorFlag(), 1);
    EXPECT_EQ(m_engine->FramesStored(), 0u);
    EXPECT_EQ(m_engine->WaitFrame(0), 1);

    // No recovery after the fifth failure, and nothing asked of the camera afterwards.
    const sim::CameraCounters after = m_camera->Counters();
    EXPECT_EQ(after.pipeResets - before.pipeResets, 4u);
    EXPECT_EQ(after.transferResets - before.transferResets,
              4 + 5 * (TransferResetsPerFailure() - 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(m_camera->Counters().frameRequests, after.frameRequests);

    // The next capture starts without the old error and delivers.
    ASSERT_EQ(m_engine->StartCapture(1), 1);
    EXPECT_EQ(m_engine->WaitFrame(kLongWaitMs), 3);
    EXPECT_EQ(m_engine->ErrorFlag(), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, EngineCaptureRecovery,
                         ::testing::Values(Fault::kDroppedHeaders, Fault::kStalledData,
                                           Fault::kShortData),
                         [](const auto& info) {
                             std::ostringstream name;
                             PrintTo(info.param, &name);
                             return name.str();
                         });

// The synchronous one-frame capture on the caller's thread: up to 11 tries with 3000 ms per data
// chunk, giving up after 10 retries or once 10 s have passed.
class EngineCaptureOneFrame : public CaptureTest {
protected:
    EngineCaptureOneFrame() : CaptureTest(5) {}
};

// Frames of another geometry than the buffers were prepared for: the FPGA's width register is
// made 16 columns wider behind the engine's back, so every frame is 272 x 64 bytes where 256 x 64
// were programmed; it still fits the padded receive buffer. Catches a size check that only
// refuses frames too large for the buffer, which stores each such frame as a skewed picture.
// Every frame fails and capture ends with the error flag; nothing is stored.
TEST_F(EngineCaptureOneFrame, FramesOfAnotherSizeAreNeverStored) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kCoded, true);
    ASSERT_EQ(engine.WriteFpgaRegister(fpga::kWidthLow, 0x10), 1);
    ASSERT_EQ(engine.StartCapture(0), 1);
    EXPECT_EQ(engine.WaitFrame(kLongWaitMs), 1);
    EXPECT_EQ(engine.FramesStored(), 0u);
    EXPECT_EQ(engine.CaptureOneFrame(), 0);
    EXPECT_EQ(engine.ErrorFlag(), 1);
    EXPECT_EQ(engine.SlotFrameNumber(0), -1);
}

// A frame geometry the FPGA did not take (its bus device refuses the writes) leaves no frame size
// to trust: capture does not start, and starts once the FPGA answers again.
TEST_F(EngineCaptureOneFrame, AFailedGeometryWriteRefusesCapture) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kCoded);
    camera->Faults().RefuseBusDevice(test::kBusFpga, 1000000);
    EXPECT_EQ(engine.StartCapture(1), 0);
    EXPECT_EQ(engine.CaptureOneFrame(), 2);
    camera->Faults().ClearAll();
    ASSERT_EQ(engine.StartCapture(1), 1);
    EXPECT_EQ(engine.WaitFrame(kLongWaitMs), 3);
}

TEST_F(EngineCaptureOneFrame, DeliversIntoTheFirstSlotAfterAFailedTry) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kCoded);
    camera->Faults().StallFrameData(1);
    EXPECT_EQ(engine.CaptureOneFrame(), 0);
    EXPECT_EQ(engine.ErrorFlag(), 0);
    EXPECT_EQ(camera->Counters().dataStalls, 1u);
    EXPECT_EQ(engine.SlotFrameNumber(0), 2);

    std::vector<uint8_t> frame(engine.FrameSize(), 0);
    EXPECT_EQ(engine.ReadFirstSlot(frame.data(), 0), 0);
    EXPECT_EQ(CountMismatches(frame, kCoded, 0, 2), 0);
    EXPECT_EQ(engine.ReadFirstSlot(nullptr, 0), -2);
}

// Data that never comes: 3000 ms per try, so after the fourth try more than 9999 ms have passed.
TEST_F(EngineCaptureOneFrame, GivesUpWithTheErrorFlagWhenTheDataNeverComes) {
    auto camera = sim::AttachCamera(FastCamera());
    CaptureEngine& engine = OpenEngine();
    Configure(engine, kCoded);
    camera->Faults().StallFrameData(100);
    EXPECT_EQ(engine.CaptureOneFrame(), 0);
    EXPECT_EQ(engine.ErrorFlag(), 1);
    EXPECT_EQ(camera->Counters().dataStalls, 4u);
    EXPECT_EQ(engine.SlotFrameNumber(0), -1);
}

// Without a controller there is nothing to capture from.
TEST_F(EngineCaptureOneFrame, NeedsAController) {
    CaptureEngine engine;
    EXPECT_EQ(engine.CaptureOneFrame(), 2);
    EXPECT_EQ(engine.StartCapture(0), 0);
    EXPECT_EQ(engine.SetCaptureMode(1), 0);
    EXPECT_EQ(engine.ResetTransfer(), 0);
}

}  // namespace
}  // namespace quorix
