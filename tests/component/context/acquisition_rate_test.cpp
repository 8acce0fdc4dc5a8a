// The frame rate the preview reports with every frame: a camera running at 12.5 frames per
// second is reported as 125 (frames per second x 10) once a second of frames has been counted.
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

}  // namespace
}  // namespace quorix
