// The frame rate the preview reports with every frame: a camera running at 12.5 frames per
// second is reported as 125 (frames per second x 10) once a second of frames has been counted.
// The frame statistics of a preview in both delivery modes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "context_test_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;

class AcquisitionRate : public ContextCameraTest {};

TEST_F(AcquisitionRate, TwelveAndAHalfFramesPerSecondAreReportedAs125) {
    sim::CameraConfig config;
    config.serialNumber = "QX252-000700";
    config.framesPerSecond = 12.5;
    Attach(config);
    const QuorixHandle handle = Initialize();
    // A small 8-bit picture: the worker's own time per frame stays far below the 80 ms period.
    ASSERT_EQ(Quorix_SetColorMode(handle, 8), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, 0, 256, 1536, 0, 64), 1);
    ASSERT_EQ(Quorix_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0), 1);
    QuorixWindow window = Quorix_CreateMessageWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(Quorix_CallBackPreview(handle, window, nullptr, 0, 1), 1);
    // The first window counts from the preview's start, before the first frame; the windows
    // after it are whole runs of frames 80 ms apart: 13 frames in 1040 ms. 40 frames span three
    // windows; the rate of the last frame is that of the second or the third.
    uint32_t rate = 0;
    int frames = 0;
    QuorixMessage message;
    while (frames < 40 && Quorix_GetWindowMessage(window, &message, 5000) == 1) {
        if (message.message == QUORIX_MSG_FRAME && message.wParam != 0) {
            auto* info = reinterpret_cast<QuorixFrameInfo*>(message.wParam);
            rate = std::atomic_ref<uint32_t>(info->frameRate).load();
            ++frames;
        }
    }
    EXPECT_EQ(Quorix_StopPreview(handle), 1);
    Quorix_DestroyMessageWindow(window);
    ASSERT_EQ(frames, 40) << "the preview stopped delivering";
    // A frame delivered a few milliseconds late moves a window's end by as much: 1040 +- 8 ms.
    EXPECT_NEAR(static_cast<double>(rate), 125.0, 1.0);
}

// The frame statistics of a preview: in every-frame delivery nothing is overtaken, and once the
// preview has stopped every frame received is delivered (one frame message each) or failed, none
// left pending; a new preview starts the counts afresh (here in newest-frame delivery, where the
// frames the preview did not take count as overtaken). The delivery mode is not changed under a
// running preview.
class FrameStatistics : public ContextCameraTest {
protected:
    // Frame messages carrying a frame, until `count` came (0: until the queue stays empty).
    static int TakeFrames(QuorixWindow window, int count) {
        int frames = 0;
        QuorixMessage message;
        while ((count == 0 || frames < count) &&
               Quorix_GetWindowMessage(window, &message, count == 0 ? 0 : 5000) == 1) {
            if (message.message == QUORIX_MSG_FRAME && message.wParam != 0) {
                ++frames;
            }
        }
        return frames;
    }
    static QuorixFrameStatistics Statistics(QuorixHandle handle) {
        QuorixFrameStatistics statistics{};
        statistics.size = sizeof statistics;
        EXPECT_EQ(Quorix_GetFrameStatistics(handle, &statistics), 1);
        return statistics;
    }
    static void ExpectAllAccountedFor(const QuorixFrameStatistics& s, uint64_t messages) {
        EXPECT_EQ(s.framesPending, 0u);
        EXPECT_EQ(s.framesDelivered, messages);
        EXPECT_EQ(s.framesFailed, s.failedTransfer + s.failedFrame + s.failedBuffer +
                                      s.failedRingFull + s.failedStopped);
        EXPECT_EQ(s.framesReceived, s.framesDelivered + s.framesOvertaken + s.framesFailed);
        EXPECT_GE(s.newestFrameNumber, static_cast<int64_t>(s.framesReceived));
    }
};

TEST_F(FrameStatistics, AddUpAfterEveryFrameDeliveryAndStartAfreshWithTheNextPreview) {
    sim::CameraConfig config;
    config.framesPerSecond = 100.0;
    Attach(config);
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(Quorix_SetColorMode(handle, 8), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, 0, 256, 1536, 0, 64), 1);
    ASSERT_EQ(Quorix_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0), 1);
    ASSERT_EQ(Quorix_SetWaitTime(handle, 0), 1);
    ASSERT_EQ(Quorix_SetDeliveryMode(handle, QUORIX_DELIVERY_EVERY_FRAME), 1);
    QuorixWindow window = Quorix_CreateMessageWindow();
    ASSERT_NE(window, nullptr);

    ASSERT_EQ(Quorix_CallBackPreview(handle, window, nullptr, 0, 1), 1);
    int messages = TakeFrames(window, 40);
    EXPECT_EQ(Quorix_SetDeliveryMode(handle, QUORIX_DELIVERY_NEWEST), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_NO_ENGINE);
    EXPECT_EQ(Quorix_SetFrameRingDepth(handle, 32), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_NO_ENGINE);
    ASSERT_EQ(Quorix_StopPreview(handle), 1);
    messages += TakeFrames(window, 0);
    ASSERT_GE(messages, 40);
    const QuorixFrameStatistics first = Statistics(handle);
    EXPECT_EQ(first.framesOvertaken, 0u);
    ExpectAllAccountedFor(first, static_cast<uint64_t>(messages));

    ASSERT_EQ(Quorix_SetDeliveryMode(handle, QUORIX_DELIVERY_NEWEST), 1);
    ASSERT_EQ(Quorix_StartPreview(handle), 1);
    messages = TakeFrames(window, 5);
    ASSERT_EQ(Quorix_StopPreview(handle), 1);
    messages += TakeFrames(window, 0);
    ASSERT_GE(messages, 5);
    const QuorixFrameStatistics second = Statistics(handle);
    ExpectAllAccountedFor(second, static_cast<uint64_t>(messages));
    EXPECT_GT(second.newestFrameNumber, first.newestFrameNumber);
    Quorix_DestroyMessageWindow(window);
}

}  // namespace
}  // namespace quorix
