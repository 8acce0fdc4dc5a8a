// Acquisition states and caller buffers through the exported functions, with an emulated camera:
// snapshots into buffers of the exact size and one byte less, the last frame kept for
// Quorix_GetImage, the capture state, the windowless preview with its frame notifications, the
// calls each state refuses, the capture window and format checks, windows changed while
// acquisition runs, a camera unplugged or switched while previewing, the preview's pause, and a
// preview stopped from its own frame handler.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "context_test_support.h"
#include "picture_support.h"
#include "platform/clock.h"

namespace quorix {
namespace {

using test::CaptureWindow;
using test::ContextCameraTest;

// 2048 x 1536 at 24 bits: 6144-byte rows.
constexpr uint32_t kSensor24Bytes = 9'437'184;
// 1024 x 768 at 8 bits (2x2 sub-sampled whole sensor): 1024-byte rows.
constexpr uint32_t kSubSampled8Bytes = 786'432;
// Longest wait for something the camera does at its frame rate [ms].
constexpr int32_t kMessageWaitMs = 10'000;
// Longest a call may take before it counts as deadlocked.
constexpr auto kDeadlockLimit = std::chrono::seconds(30);

// Runs `call` on a thread of its own and returns its result. A call that has not returned after
// kDeadlockLimit is deadlocked: the failure is reported and the process ends at once, since a
// library stuck in a lock can no longer be released and the test would otherwise hang.
int CallWithinLimit(const std::function<int()>& call, const char* what) {
    std::packaged_task<int()> task(call);
    std::future<int> result = task.get_future();
    std::thread thread(std::move(task));
    if (result.wait_for(kDeadlockLimit) != std::future_status::ready) {
        ADD_FAILURE() << what << " did not return within 30 s";
        std::fprintf(stderr, "%s deadlocked; ending the test process\n", what);
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
    thread.join();
    return result.get();
}

// Threads of this process now.
size_t ThreadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// Waits until `condition` holds, up to `limitMs`; returns whether it did.
bool WaitUntil(const std::function<bool()>& condition, int limitMs = kMessageWaitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class AcquisitionState : public ContextCameraTest {
protected:
    void SetUp() override {
        m_camera = Attach("QX252-000600");
        m_handle = Initialize();
        ASSERT_EQ(ContextOf(m_handle).DeviceNumber(), 0);
        DrainThreadQueue();
        Errors();
    }
    void TearDown() override {
        for (const QuorixWindow window : m_windows) {
            Quorix_DestroyMessageWindow(window);
        }
        DrainThreadQueue();
        ContextCameraTest::TearDown();
    }

    static void DrainThreadQueue() {
        QuorixMessage message;
        while (Quorix_PeekThreadMessage(&message) == 1) {
        }
    }
    // The recorded codes, newest first; empties the history.
    std::vector<uint32_t> Errors() {
        std::vector<uint32_t> codes;
        for (uint32_t code = Quorix_GetLastError(m_handle); code != 0;
             code = Quorix_GetLastError(m_handle)) {
            codes.push_back(code);
        }
        return codes;
    }
    QuorixWindow MakeWindow() {
        const QuorixWindow window = Quorix_CreateMessageWindow();
        EXPECT_NE(window, nullptr);
        m_windows.push_back(window);
        return window;
    }
    // The next QUORIX_MSG_FRAME posted to `window` (other messages are skipped), or nothing
    // within `limitMs`.
    static std::optional<QuorixMessage> NextFrameMessage(QuorixWindow window,
                                                         int32_t limitMs = kMessageWaitMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        QuorixMessage message{};
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0 ||
                Quorix_GetWindowMessage(window, &message, static_cast<int32_t>(left.count())) !=
                    1) {
                return std::nullopt;
            }
            if (message.message == QUORIX_MSG_FRAME) {
                return message;
            }
        }
    }
    // Messages pending in a window's queue, removed.
    static int Drain(QuorixWindow window) {
        int count = 0;
        QuorixMessage message;
        while (Quorix_PeekWindowMessage(window, &message) == 1) {
            ++count;
        }
        return count;
    }

    // 8-bit sub-sampled pictures of the whole sensor (1024 x 768): the cheapest frames, for the
    // tests that need many of them.
    void UseSmallPictures() {
        ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
        ASSERT_EQ(Quorix_SetSubSample(m_handle, 1), 1);
    }
    // Windowless frame delivery: placement all zeros, so no preview window is made.
    void UseNoPreviewWindow() {
        ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
    }

    // Checks a delivered picture of the whole sensor without mirrors against the scene and
    // returns its frame number (0 when it could not be read).
    uint32_t InspectPicture(const uint8_t* bits, int32_t bitsPerPixel, bool subSampled,
                            int32_t orientation, uint32_t framesProduced) {
        const test::PictureGeometry g =
            test::ExpectedGeometry(CaptureWindow{}, subSampled, false, false);
        const test::PictureView view(bits, bitsPerPixel, g.width, g.height, orientation);
        const test::PictureSummary seen =
            test::CheckPicture(view, g, test::kDefaultBrightness, framesProduced);
        EXPECT_EQ(seen.patches, static_cast<int>(sim::kPatchCount));
        EXPECT_TRUE(seen.frameNumber.has_value());
        return seen.frameNumber.value_or(0);
    }

    // Sets a capture window with the sensor's totals.
    int SetWindow(const CaptureWindow& w) {
        return Quorix_SetCaptureWindowEx(m_handle, 2048, w.hStart, w.width, 1536, w.vStart,
                                         w.height);
    }
    // Checks that a picture of `window` (not mirrored) shows the scene's colour patches where
    // the window puts them.
    static void ExpectPatches(const std::vector<uint8_t>& picture, const CaptureWindow& window,
                              int32_t bitsPerPixel, bool subSampled, int32_t orientation) {
        const test::PictureGeometry g = test::ExpectedGeometry(window, subSampled, false, false);
        ASSERT_EQ(picture.size(), test::StrideOf(g.width, bitsPerPixel) * g.height);
        const test::PictureView view(picture.data(), bitsPerPixel, g.width, g.height, orientation);
        test::Findings patches("patches of a " + std::to_string(window.width) + " x " +
                               std::to_string(window.height) + " window");
        EXPECT_GT(test::CheckPatches(view, g, test::kDefaultBrightness, patches), 0);
        patches.Report();
    }

    // Whether the camera is asked for frames: the request count moves within `windowMs`.
    bool FramesRequested(int windowMs = 300) {
        const uint64_t before = m_camera->Counters().frameRequests;
        std::this_thread::sleep_for(std::chrono::milliseconds(windowMs));
        return m_camera->Counters().frameRequests != before;
    }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    QuorixHandle m_handle = 0;
    std::vector<QuorixWindow> m_windows;
};

// --- Snapshots and caller buffers ---------------------------------------------------------------

// A snapshot without a buffer still takes and keeps the frame: Quorix_GetImage hands it out, as
// often as asked and without taking another, into a buffer of the picture's size.
TEST_F(AcquisitionState, SnapShotWithoutBufferKeepsTheFrameForGetImage) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_EQ(Quorix_SnapShot(m_handle, nullptr, kSubSampled8Bytes, 1), 1);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
    const uint32_t produced = m_camera->FramesProduced();
    const uint64_t requests = m_camera->Counters().frameRequests;

    std::vector<uint8_t> first(kSubSampled8Bytes);
    ASSERT_EQ(Quorix_GetImage(m_handle, first.data(), kSubSampled8Bytes, 1), 1);
    const uint32_t frame = InspectPicture(first.data(), 8, true, 1, produced);
    EXPECT_GE(frame, 1u);

    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<uint8_t> again(kSubSampled8Bytes);
    ASSERT_EQ(Quorix_GetImage(m_handle, again.data(), kSubSampled8Bytes, 1), 1);
    EXPECT_TRUE(first == again) << "a second GetImage gave another picture";
    EXPECT_EQ(m_camera->Counters().frameRequests, requests) << "GetImage took a frame";
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});

    // A copy into a buffer one byte short is refused and records code 5 twice.
    EXPECT_EQ(Quorix_GetImage(m_handle, again.data(), kSubSampled8Bytes - 1, 1), 0);
    EXPECT_EQ(Errors(), (std::vector<uint32_t>{5, 5}));
}

// The 24-bit picture of the whole sensor needs 2048 x 3 x 1536 = 9,437,184 bytes: one byte less
// is refused with code 5, the exact size works, and neither writes beyond the size given.
TEST_F(AcquisitionState, TwentyFourBitSnapShotNeedsExactlyTheWholePicture) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 24), 1);
    constexpr size_t kGuard = 64;
    std::vector<uint8_t> buffer(kSensor24Bytes + kGuard, 0xA5);

    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSensor24Bytes - 1, 1), 0);
    const std::vector<uint32_t> codes = Errors();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 5u);
    EXPECT_TRUE(std::all_of(buffer.begin() + kSensor24Bytes - 1, buffer.end(), [](uint8_t b) {
        return b == 0xA5;
    })) << "a refused snapshot wrote beyond the size given";

    ASSERT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSensor24Bytes, 1), 1);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
    EXPECT_TRUE(std::all_of(buffer.begin() + kSensor24Bytes, buffer.end(), [](uint8_t b) {
        return b == 0xA5;
    })) << "the snapshot wrote past 9,437,184 bytes";
    InspectPicture(buffer.data(), 24, false, 1, m_camera->FramesProduced());
}

// Sub-sampled 8-bit pictures of the whole sensor are 1024 x 768 bytes: 786,432, not one less.
TEST_F(AcquisitionState, SubSampledEightBitSnapShotNeedsExactlyAQuarterOfTheSensor) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes - 1, 0), 0);
    const std::vector<uint32_t> codes = Errors();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 5u);

    ASSERT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 0), 1);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
    InspectPicture(buffer.data(), 8, true, 0, m_camera->FramesProduced());
}

// Nothing has been taken yet: there is no frame to copy.
TEST_F(AcquisitionState, GetImageBeforeAnyFrameFailsWithCode5) {
    std::vector<uint8_t> buffer(size_t{2048} * 1536);
    EXPECT_EQ(Quorix_GetImage(m_handle, buffer.data(), static_cast<uint32_t>(buffer.size()), 1), 0);
    const std::vector<uint32_t> codes = Errors();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 5u);
}

// --- Capture window and format -----------------------------------------------------------------

// The image size follows the capture window: Quorix_Width/Height report the window, an 8-bit
// snapshot of a 1024 x 768 window needs exactly 786,432 bytes, and sub-sampled a quarter of that.
TEST_F(AcquisitionState, WidthAndHeightFollowTheCaptureWindow) {
    EXPECT_EQ(Quorix_Width(m_handle), 2048);
    EXPECT_EQ(Quorix_Height(m_handle), 1536);
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 256, 1024, 1536, 512, 768), 1);
    EXPECT_EQ(Quorix_Width(m_handle), 1024);
    EXPECT_EQ(Quorix_Height(m_handle), 768);
    int32_t values[6] = {};
    ASSERT_EQ(Quorix_GetCaptureWindowEx(m_handle, &values[0], &values[1], &values[2], &values[3],
                                        &values[4], &values[5]),
              1);
    EXPECT_EQ(std::vector<int32_t>(values, values + 6),
              (std::vector<int32_t>{2048, 256, 1024, 1536, 512, 768}));

    std::vector<uint8_t> buffer(size_t{1024} * 768);
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), 1024 * 768 - 1, 1), 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 5u);
    Errors();
    ASSERT_EQ(Quorix_SnapShot(m_handle, buffer.data(), 1024 * 768, 1), 1);

    // Sub-sampling halves the picture, not the window.
    ASSERT_EQ(Quorix_SetSubSample(m_handle, 1), 1);
    EXPECT_EQ(Quorix_Width(m_handle), 1024);
    EXPECT_EQ(Quorix_Height(m_handle), 768);
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), 512 * 384 - 1, 1), 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 5u);
    Errors();
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), 512 * 384, 1), 1);
}

// This camera sets free window widths (no code 9), but not wider than its 2048 columns.
TEST_F(AcquisitionState, WindowWiderThanTheSensorIsRefusedWithCode7) {
    EXPECT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 0, 2100, 1536, 0, 1536), 0);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{7});
}

// A window that sticks out of the sensor (columns 1024..2123) is refused but stored as given:
// Quorix_GetCaptureWindowEx reports it and acquisition fails with code 7 until a valid window
// is set.
TEST_F(AcquisitionState, WindowStickingOutIsStoredAndStopsAcquisition) {
    EXPECT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 1024, 1100, 1536, 0, 1536), 0);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{7});
    int32_t values[6] = {};
    ASSERT_EQ(Quorix_GetCaptureWindowEx(m_handle, &values[0], &values[1], &values[2], &values[3],
                                        &values[4], &values[5]),
              1);
    EXPECT_EQ(std::vector<int32_t>(values, values + 6),
              (std::vector<int32_t>{2048, 1024, 1100, 1536, 0, 1536}));

    EXPECT_EQ(Quorix_SnapShot(m_handle, nullptr, 0, 1), 0);
    std::vector<uint32_t> codes = Errors();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 7u);
    EXPECT_EQ(Quorix_Capture(m_handle), 0);
    codes = Errors();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 7u);

    ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 1024, 1024, 1536, 0, 1536), 1);
    EXPECT_EQ(Quorix_SnapShot(m_handle, nullptr, 0, 1), 1);
}

// Windows the head cannot program are refused at once with code 7, instead of being accepted and
// failing every acquisition afterwards: starts and sizes off the sensor's steps (x and y even,
// width a multiple of 16, height of 4), windows without pixels, and with 2x2 sub-sampling a start
// off its 4-pixel step. The smallest window on the steps is taken and delivers.
TEST_F(AcquisitionState, WindowsTheHeadCannotProgramAreRefusedWithCode7) {
    const CaptureWindow refused[] = {{1, 1, 1, 1},      {0, 0, 2, 2},      {1, 1, 1001, 777},
                                     {0, 0, 1000, 768}, {0, 0, 2048, 766}, {0, 1, 2048, 768},
                                     {0, 0, 0, 0},      {0, 0, 2048, 0}};
    for (const CaptureWindow& w : refused) {
        SCOPED_TRACE(std::to_string(w.width) + " x " + std::to_string(w.height) + " at " +
                     std::to_string(w.hStart) + ", " + std::to_string(w.vStart));
        EXPECT_EQ(SetWindow(w), 0);
        EXPECT_EQ(Errors(), std::vector<uint32_t>{7});
    }
    ASSERT_EQ(SetWindow({2, 2, 16, 4}), 1);
    std::vector<uint8_t> buffer(32 * 32);
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), 16 * 4, 1), 1);
    ASSERT_EQ(Quorix_SetSubSample(m_handle, 1), 1);
    EXPECT_EQ(SetWindow({2, 0, 64, 64}), 0);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{7});
    EXPECT_EQ(SetWindow({4, 8, 64, 64}), 1);
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), 32 * 32, 1), 1);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
}

// Colour modes other than 8, 16, 24, 32, 48 and 64 bits are refused with code 9, sub-sample codes
// other than 0 and 1 without a code; neither changes the stored value.
TEST_F(AcquisitionState, OtherFormatsAreRefused) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 24), 1);
    EXPECT_EQ(Quorix_SetColorMode(m_handle, 12), 0);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{9});
    EXPECT_EQ(Quorix_GetColorMode(m_handle), 24);

    ASSERT_EQ(Quorix_SetSubSample(m_handle, 1), 1);
    EXPECT_EQ(Quorix_SetSubSample(m_handle, 2), 0);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
    EXPECT_EQ(Quorix_GetSubSample(m_handle), 1);
}

// --- States ------------------------------------------------------------------------------------

// A snapshot would compete with the preview for the camera's frames: refused with code 1 while
// the preview runs, fine again after Quorix_StopPreview.
TEST_F(AcquisitionState, SnapShotIsRefusedWhilePreviewing) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_EQ(Quorix_StartPreview(m_handle), 1);
    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 0);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{1});
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
    ASSERT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 1);
    InspectPicture(buffer.data(), 8, true, 1, m_camera->FramesProduced());
}

// A frame copied while the preview runs comes with the record of that very frame: the camera's
// number in the record is the one the picture shows, and each later copy has a later place, number
// and time. Catches a record read apart from the copy, which names another frame than the picture
// once the preview moves on in between, and records of the wrong size or none accepted.
TEST_F(AcquisitionState, GetImageExNamesTheFrameItCopied) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_NO_FATAL_FAILURE(UseNoPreviewWindow());
    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    QuorixImageInfo info{};
    info.size = sizeof info - 1;
    EXPECT_EQ(Quorix_GetImageEx(m_handle, buffer.data(), kSubSampled8Bytes, 1, &info), 0);
    EXPECT_EQ(Quorix_GetImageEx(m_handle, buffer.data(), kSubSampled8Bytes, 1, nullptr), 0);
    EXPECT_EQ(Errors(), (std::vector<uint32_t>{9, 5}));
    EXPECT_EQ(info.version, 0u) << "written by a failed call";

    const QuorixWindow window = MakeWindow();
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, nullptr, 0, 1), 1);
    QuorixImageInfo previous{};
    for (int copy = 0; copy < 6; ++copy) {
        ASSERT_TRUE(NextFrameMessage(window).has_value());
        info = QuorixImageInfo{};
        info.size = sizeof info;
        ASSERT_EQ(Quorix_GetImageEx(m_handle, buffer.data(), kSubSampled8Bytes, 1, &info), 1);
        EXPECT_EQ(info.version, QUORIX_IMAGE_INFO_VERSION);
        EXPECT_EQ(info.width, 1024u);
        EXPECT_EQ(info.height, 768u);
        EXPECT_EQ(info.bitsPerPixel, 8u);
        const uint32_t shown = InspectPicture(buffer.data(), 8, true, 1, m_camera->FramesProduced());
        EXPECT_EQ(info.frameNumber, static_cast<int64_t>(shown)) << "copy " << copy;
        EXPECT_GT(info.frameIndex, previous.frameIndex);
        EXPECT_GT(info.frameNumber, previous.frameNumber);
        EXPECT_GT(info.timestampUs, previous.timestampUs);
        previous = info;
    }
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
}

// Starting the running preview again succeeds and changes nothing: still one worker thread, and a
// single Quorix_StopPreview ends all frame requests and every thread the preview started. Catches
// a second worker that the stop would leave running.
TEST_F(AcquisitionState, StartPreviewTwiceKeepsOneWorker) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    const size_t idleThreads = ThreadCount();
    ASSERT_EQ(Quorix_StartPreview(m_handle), 1);
    ASSERT_TRUE(FramesRequested()) << "the preview asks the camera for no frames";
    const size_t previewThreads = ThreadCount();
    EXPECT_GT(previewThreads, idleThreads);

    EXPECT_EQ(Quorix_StartPreview(m_handle), 1);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
    EXPECT_TRUE(FramesRequested());
    EXPECT_EQ(ThreadCount(), previewThreads) << "the second start made threads";

    EXPECT_EQ(CallWithinLimit([this] { return Quorix_StopPreview(m_handle); }, "StopPreview"), 1);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == idleThreads; }))
        << ThreadCount() << " threads after the stop, " << idleThreads << " before the start";
    EXPECT_FALSE(FramesRequested()) << "frames are still requested after the stop";
}

// The capture state keeps the camera streaming so that snapshots only wait: several snapshots
// deliver successive frames of the scene without restarting the transfer, and
// Quorix_StopPreview ends the state (the camera is no longer asked for frames).
TEST_F(AcquisitionState, CaptureStateServesSeveralSnapShots) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_EQ(Quorix_Capture(m_handle), 1);
    EXPECT_EQ(Quorix_Capture(m_handle), 1) << "already in the capture state";
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});

    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    ASSERT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 1);
    uint32_t previous = InspectPicture(buffer.data(), 8, true, 1, m_camera->FramesProduced());
    const sim::CameraCounters started = m_camera->Counters();
    for (int shot = 0; shot < 3; ++shot) {
        ASSERT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 1)
            << "snapshot " << shot;
        const uint32_t frame =
            InspectPicture(buffer.data(), 8, true, 1, m_camera->FramesProduced());
        EXPECT_GT(frame, previous) << "snapshot " << shot << " repeated an older frame";
        previous = frame;
    }
    const sim::CameraCounters after = m_camera->Counters();
    EXPECT_EQ(after.streamResets, started.streamResets) << "the transfer was restarted";
    EXPECT_EQ(after.transferResets, started.transferResets) << "the transfer was restarted";
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});

    EXPECT_EQ(CallWithinLimit([this] { return Quorix_StopPreview(m_handle); }, "StopPreview"), 1);
    EXPECT_FALSE(FramesRequested()) << "the capture state did not end";
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 1);
}

// A window changed in the capture state applies to the next snapshot: full sensor, 1024 x 768 at
// (256, 512), and back. Each snapshot into a buffer sized from Quorix_Width/Height succeeds and
// shows the scene's patches where that window puts them. Catches image slots left at the old
// size (the exact buffer refused with code 5) and a frame of the new window laid into the old
// slot (a skewed picture returned as success).
TEST_F(AcquisitionState, WindowChangedInTheCaptureStateAppliesToTheNextSnapShot) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    ASSERT_EQ(Quorix_Capture(m_handle), 1);
    for (const CaptureWindow& window :
         {CaptureWindow{}, CaptureWindow{256, 512, 1024, 768}, CaptureWindow{}}) {
        SCOPED_TRACE(std::to_string(window.width) + " x " + std::to_string(window.height));
        ASSERT_EQ(SetWindow(window), 1);
        const int32_t width = Quorix_Width(m_handle);
        const int32_t height = Quorix_Height(m_handle);
        EXPECT_EQ(width, window.width);
        EXPECT_EQ(height, window.height);
        std::vector<uint8_t> picture(test::StrideOf(width, 8) * static_cast<size_t>(height));
        ASSERT_EQ(
            Quorix_SnapShot(m_handle, picture.data(), static_cast<uint32_t>(picture.size()), 1), 1);
        ExpectPatches(picture, window, 8, false, 1);
    }
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
    EXPECT_EQ(CallWithinLimit([this] { return Quorix_StopPreview(m_handle); }, "StopPreview"), 1);
}

// Preview and capture state exclude each other: entering one while the other holds the camera is
// refused with code 1 and leaves the running one alone.
TEST_F(AcquisitionState, PreviewAndCaptureStateExcludeEachOther) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_EQ(Quorix_StartPreview(m_handle), 1);
    EXPECT_EQ(Quorix_Capture(m_handle), 0);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{1});
    EXPECT_TRUE(FramesRequested()) << "the preview stopped";
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);

    ASSERT_EQ(Quorix_Capture(m_handle), 1);
    EXPECT_EQ(Quorix_StartPreview(m_handle), 0);
    EXPECT_EQ(Errors(), std::vector<uint32_t>{1});
    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 1)
        << "the capture state ended";
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
}

// --- Preview and frame notifications -----------------------------------------------------------

// Without a display (DISPLAY unset, or naming a display no server answers for) the preview
// window of the default placement cannot be made: both previews fail with code 4, the process
// goes on, nothing is left running, and a window-less preview still delivers its frames.
TEST_F(AcquisitionState, PreviewWithoutADisplayFailsWithCode4) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    unsetenv("DISPLAY");
    EXPECT_EQ(Quorix_Preview(m_handle), 0);
    std::vector<uint32_t> codes = Errors();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 4u);

    const QuorixWindow window = MakeWindow();
    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    EXPECT_EQ(Quorix_CallBackPreview(m_handle, window, buffer.data(), kSubSampled8Bytes, 1), 0);
    codes = Errors();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 4u);

    // A display number no server has (the highest the protocol allows).
    setenv("DISPLAY", ":65535", 1);
    EXPECT_EQ(Quorix_Preview(m_handle), 0);
    codes = Errors();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), 4u);

    EXPECT_FALSE(FramesRequested());
    EXPECT_EQ(Drain(window), 0);
    EXPECT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 1)
        << "a preview was left running";

    ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, buffer.data(), kSubSampled8Bytes, 1), 1);
    QuorixMessage message{};
    ASSERT_EQ(Quorix_GetWindowMessage(window, &message, kMessageWaitMs), 1);
    EXPECT_EQ(message.message, QUORIX_MSG_FRAME);
    EXPECT_NE(message.wParam, 0u) << "the window-less preview delivers frames";
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
    if (display != nullptr) {
        setenv("DISPLAY", saved.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
}

// A callback buffer too small for the picture does not end the preview: every frame records
// code 5 and is announced with wParam 0 and lParam 5.
TEST_F(AcquisitionState, TooSmallCallbackBufferIsReportedForEveryFrame) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_NO_FATAL_FAILURE(UseNoPreviewWindow());
    const QuorixWindow window = MakeWindow();
    std::vector<uint8_t> buffer(kSubSampled8Bytes - 1);
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, buffer.data(),
                                     static_cast<uint32_t>(buffer.size()), 1),
              1);
    for (int frame = 0; frame < 3; ++frame) {
        const std::optional<QuorixMessage> message = NextFrameMessage(window);
        ASSERT_TRUE(message.has_value()) << "no frame notification " << frame;
        EXPECT_EQ(message->wParam, 0u);
        EXPECT_EQ(message->lParam, 5);
    }
    EXPECT_EQ(Quorix_GetLastError(m_handle), 5u);
    EXPECT_EQ(CallWithinLimit([this] { return Quorix_StopPreview(m_handle); }, "StopPreview"), 1);
}

struct FrameInfoCase {
    const char* name;
    int32_t bitsPerPixel;
    int32_t subSample;
    CaptureWindow window;
    bool withBuffer;
    uint32_t width;   // of the picture
    uint32_t height;  // of the picture
};

void PrintTo(const FrameInfoCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameNotifications : public AcquisitionState,
                           public ::testing::WithParamInterface<FrameInfoCase> {};

// Every frame notification points at a frame info record that describes the picture delivered
// (its size after sub-sampling, the colour type, the callback buffer), and the buffer holds the
// picture. After Quorix_StopPreview no notification follows.
TEST_P(FrameNotifications, DescribeTheDeliveredPicture) {
    const FrameInfoCase& c = GetParam();
    ASSERT_EQ(Quorix_SetColorMode(m_handle, c.bitsPerPixel), 1);
    ASSERT_EQ(Quorix_SetSubSample(m_handle, c.subSample), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, c.window.hStart, c.window.width, 1536,
                                        c.window.vStart, c.window.height),
              1);
    ASSERT_NO_FATAL_FAILURE(UseNoPreviewWindow());
    const QuorixWindow window = MakeWindow();
    const size_t size = c.height * test::StrideOf(static_cast<int32_t>(c.width), c.bitsPerPixel);
    std::vector<uint8_t> buffer(c.withBuffer ? size : 0);
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, c.withBuffer ? buffer.data() : nullptr,
                                     static_cast<uint32_t>(buffer.size()), 0),
              1);
    for (int frame = 0; frame < 2; ++frame) {
        const std::optional<QuorixMessage> message = NextFrameMessage(window);
        ASSERT_TRUE(message.has_value()) << "no frame notification " << frame;
        EXPECT_EQ(message->lParam, 0);
        ASSERT_NE(message->wParam, 0u);
        // The notification carries the record's address.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        const auto* info = reinterpret_cast<const QuorixFrameInfo*>(message->wParam);
        EXPECT_EQ(info->zero, 0u);
        EXPECT_EQ(info->width, c.width);
        EXPECT_EQ(info->height, c.height);
        EXPECT_EQ(info->bitsPerPixel, static_cast<uint32_t>(c.bitsPerPixel));
        EXPECT_EQ(info->callbackBuffer,
                  c.withBuffer ? reinterpret_cast<uintptr_t>(buffer.data()) : 0u);
    }
    EXPECT_EQ(CallWithinLimit([this] { return Quorix_StopPreview(m_handle); }, "StopPreview"), 1);
    Drain(window);
    QuorixMessage late{};
    EXPECT_NE(Quorix_GetWindowMessage(window, &late, 200), 1) << "a notification after the stop";
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});

    if (c.withBuffer) {
        // The last frame copied, bottom row first.
        const test::PictureGeometry g =
            test::ExpectedGeometry(c.window, c.subSample != 0, false, false);
        const test::PictureView view(buffer.data(), c.bitsPerPixel, g.width, g.height, 0);
        test::Findings patches("patches in the callback buffer");
        EXPECT_GT(test::CheckPatches(view, g, test::kDefaultBrightness, patches), 0);
        patches.Report();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameNotifications,
    ::testing::Values(FrameInfoCase{"Bits24_SubSampled_Buffer", 24, 1, CaptureWindow{}, true, 1024,
                                    768},
                      FrameInfoCase{"Bits8_Window_NoBuffer", 8, 0,
                                    CaptureWindow{256, 512, 1024, 768}, false, 1024, 768},
                      FrameInfoCase{"Bits16_SubSampledWindow_Buffer", 16, 1,
                                    CaptureWindow{256, 512, 1024, 768}, true, 512, 384}),
    [](const ::testing::TestParamInfo<FrameInfoCase>& info) { return info.param.name; });

// A camera unplugged during the preview ends the frames with code 13: posted as lParam of a frame
// notification and recorded. Quorix_StopPreview still returns.
TEST_F(AcquisitionState, UnpluggedCameraEndsThePreviewWithCode13) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_NO_FATAL_FAILURE(UseNoPreviewWindow());
    const QuorixWindow window = MakeWindow();
    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, buffer.data(), kSubSampled8Bytes, 1), 1);
    const std::optional<QuorixMessage> first = NextFrameMessage(window);
    ASSERT_TRUE(first.has_value());
    ASSERT_NE(first->wParam, 0u);

    sim::Unplug(m_camera);
    bool stopped = false;
    while (!stopped) {
        const std::optional<QuorixMessage> message = NextFrameMessage(window);
        ASSERT_TRUE(message.has_value()) << "no notification with code 13 after the unplug";
        stopped = message->wParam == 0 && message->lParam == 13;
    }
    const std::vector<uint32_t> codes = Errors();
    EXPECT_NE(std::find(codes.begin(), codes.end(), 13u), codes.end()) << "code 13 not recorded";
    EXPECT_EQ(CallWithinLimit([this] { return Quorix_StopPreview(m_handle); }, "StopPreview"), 1);
}

// A window changed while the preview runs applies from the next frame on, and the frames keep
// coming: full sensor, 1024 x 768 in the middle, and back (sub-sampled 8-bit pictures). Catches a
// preview that goes silent after a change: between the first frame and the stop the
// notifications never pause longer than a second (measured on the platform clock), none carries
// an error, the frame info after each change describes the new picture, and the callback buffer
// ends with the full sensor's picture.
TEST_F(AcquisitionState, WindowChangedDuringThePreviewKeepsTheFramesComing) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_NO_FATAL_FAILURE(UseNoPreviewWindow());
    const QuorixWindow window = MakeWindow();
    std::vector<uint8_t> buffer(kSubSampled8Bytes);

    struct Seen {
        uint64_t at;  // [ms] platform clock
        intptr_t code;
        uint32_t width;
    };
    std::mutex seenLock;
    std::vector<Seen> seen;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        QuorixMessage message{};
        while (!done.load()) {
            if (Quorix_GetWindowMessage(window, &message, 50) != 1 ||
                message.message != QUORIX_MSG_FRAME) {
                continue;
            }
            // NOLINTNEXTLINE(performance-no-int-to-ptr)
            const auto* info = reinterpret_cast<const QuorixFrameInfo*>(message.wParam);
            std::lock_guard lock(seenLock);
            seen.push_back(
                {platform::MonotonicMs(), message.lParam, info != nullptr ? info->width : 0u});
        }
    });
    const auto frameOfWidth = [&](uint32_t width, size_t after) {
        return WaitUntil([&] {
            std::lock_guard lock(seenLock);
            return std::any_of(seen.begin() + static_cast<std::ptrdiff_t>(after), seen.end(),
                               [&](const Seen& s) { return s.width == width; });
        });
    };
    const auto count = [&] {
        std::lock_guard lock(seenLock);
        return seen.size();
    };

    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, buffer.data(), kSubSampled8Bytes, 1), 1);
    EXPECT_TRUE(frameOfWidth(1024, 0)) << "no first frame";
    for (const CaptureWindow& w : {CaptureWindow{256, 512, 1024, 768}, CaptureWindow{}}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const size_t before = count();
        EXPECT_EQ(SetWindow(w), 1);
        EXPECT_TRUE(frameOfWidth(static_cast<uint32_t>(w.width / 2), before))
            << "no frame of the " << w.width << " x " << w.height << " window";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(CallWithinLimit([this] { return Quorix_StopPreview(m_handle); }, "StopPreview"), 1);
    done.store(true);
    reader.join();

    ASSERT_GE(seen.size(), 2u);
    uint64_t longestGap = 0;
    for (size_t i = 1; i < seen.size(); ++i) {
        longestGap = std::max(longestGap, seen[i].at - seen[i - 1].at);
    }
    EXPECT_LE(longestGap, 1000u) << "the frames paused for " << longestGap << " ms";
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const Seen& s) { return s.code == 0; }))
        << "a frame notification carried an error";
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
    InspectPicture(buffer.data(), 8, true, 1, m_camera->FramesProduced());
}

// Selecting another camera under a running preview stops the preview first, under the
// acquisition lock, so that no worker or transfer touches the sensor object being replaced (a
// use after free under ASan otherwise): the callback window gets a frame notification with code
// 13 and no frame after it, no code is recorded, and the next snapshot comes from the new camera
// while the old one is no longer asked for frames.
TEST_F(AcquisitionState, CameraSwitchedUnderARunningPreview) {
    // The device table knows the cameras present when a context initialises.
    ASSERT_EQ(Release(m_handle), 1);
    const std::shared_ptr<sim::EmulatedCamera> second = Attach("QX252-000601");
    m_handle = Initialize();
    ASSERT_EQ(Quorix_SetDeviceNumber(m_handle, 0), 1);
    ASSERT_EQ(SerialA(m_handle), "QX252-000600");
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_NO_FATAL_FAILURE(UseNoPreviewWindow());
    const QuorixWindow window = MakeWindow();
    std::vector<uint8_t> buffer(kSubSampled8Bytes);
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, buffer.data(), kSubSampled8Bytes, 1), 1);
    ASSERT_TRUE(NextFrameMessage(window).has_value());

    EXPECT_EQ(
        CallWithinLimit([this] { return Quorix_SetDeviceNumber(m_handle, 1); }, "SetDeviceNumber"),
        1);
    bool ended = false;
    while (!ended) {
        const std::optional<QuorixMessage> message = NextFrameMessage(window);
        ASSERT_TRUE(message.has_value()) << "no notification with code 13 after the switch";
        ended = message->wParam == 0 && message->lParam == 13;
    }
    QuorixMessage late{};
    EXPECT_NE(Quorix_GetWindowMessage(window, &late, 200), 1) << "a notification after the end";
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
    EXPECT_EQ(SerialA(m_handle), "QX252-000601");

    const uint64_t oldRequests = m_camera->Counters().frameRequests;
    ASSERT_EQ(Quorix_SnapShot(m_handle, buffer.data(), kSubSampled8Bytes, 1), 1);
    InspectPicture(buffer.data(), 8, true, 1, second->FramesProduced());
    EXPECT_GT(second->FramesProduced(), 0u);
    EXPECT_EQ(m_camera->Counters().frameRequests, oldRequests) << "the old camera still streams";
}

// The preview's pause ends at once on a stop: with the longest wait time, a minute,
// Quorix_StopPreview and Quorix_Release return within the deadlock limit rather than after the
// pause. Longer wait times (up to INT32_MAX before) are refused with code 9.
TEST_F(AcquisitionState, LongPreviewPauseEndsAtStopAndRelease) {
    ASSERT_EQ(Quorix_SetWaitTime(m_handle, 60'000), 1);
    EXPECT_EQ(Quorix_SetWaitTime(m_handle, 60'001), 0);
    EXPECT_EQ(Quorix_SetWaitTime(m_handle, INT32_MAX), 0);
    EXPECT_EQ(Errors(), (std::vector<uint32_t>{9, 9}));
    EXPECT_EQ(Quorix_GetWaitTime(m_handle), 60'000);

    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_NO_FATAL_FAILURE(UseNoPreviewWindow());
    ASSERT_EQ(Quorix_StartPreview(m_handle), 1);
    EXPECT_EQ(CallWithinLimit([this] { return Quorix_StopPreview(m_handle); }, "StopPreview"), 1);
    ASSERT_EQ(Quorix_StartPreview(m_handle), 1);
    EXPECT_EQ(CallWithinLimit([this] { return Release(m_handle); }, "Release"), 1);
}

// Frame notifications are posted, so the application's handler may stop the preview: the worker
// must not wait for the handler while the handler waits for the worker. A thread reading the
// callback window stops the preview at its first frame; the stop returns 1 within the limit.
TEST_F(AcquisitionState, PreviewStoppedFromTheFrameHandlerDoesNotDeadlock) {
    ASSERT_NO_FATAL_FAILURE(UseSmallPictures());
    ASSERT_NO_FATAL_FAILURE(UseNoPreviewWindow());
    const QuorixWindow window = MakeWindow();
    std::vector<uint8_t> buffer(kSubSampled8Bytes);

    std::promise<int> stopResult;
    std::future<int> stopped = stopResult.get_future();
    const QuorixHandle handle = m_handle;
    std::thread handler([window, handle, &stopResult] {
        QuorixMessage message{};
        while (Quorix_GetWindowMessage(window, &message, kMessageWaitMs) == 1) {
            if (message.message == QUORIX_MSG_FRAME && message.wParam != 0) {
                stopResult.set_value(Quorix_StopPreview(handle));
                return;
            }
        }
        stopResult.set_value(-1);  // no frame arrived
    });
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, buffer.data(), kSubSampled8Bytes, 1), 1);
    if (stopped.wait_for(kDeadlockLimit) != std::future_status::ready) {
        ADD_FAILURE() << "Quorix_StopPreview from the frame handler did not return within 30 s";
        std::fprintf(stderr, "StopPreview from the frame handler deadlocked; ending\n");
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
    handler.join();
    EXPECT_EQ(stopped.get(), 1);
    EXPECT_FALSE(FramesRequested()) << "the preview still runs";
    EXPECT_EQ(Errors(), std::vector<uint32_t>{});
}

}  // namespace
}  // namespace quorix
