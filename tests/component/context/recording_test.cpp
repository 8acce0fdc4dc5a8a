// AVI recording of an emulated camera's preview through the exported functions: a recording of
// about one second at the camera's steady rate, the pictures an 8- and a 16-bit recording hold,
// a missing file name, and recordings ended early in every way an application or the camera can
// end them, each of which must leave a whole file that ffprobe reads to the last frame.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "../../unit/output/output_test_support.h"
#include "context_test_support.h"

namespace quorix {
namespace {

using test::AviFile;
using test::ContextCameraTest;
using test::ExpectConsistentAvi;
using test::ReadAvi;
using test::ScratchDirectory;

// A small window of the vertical gray ramp (scene rows 1024.. , value 16 x (row - 1024)): picture
// row y reads y at 8 bits, and y in the high byte of a 16-bit sample whose low byte is 0.
constexpr int32_t kWidth = 256;
constexpr int32_t kHeight = 64;
constexpr int32_t kRampTop = 1024;
constexpr uint32_t kFrameBytes = kWidth * 3 * kHeight;
constexpr double kCameraRate = 25.0;  // [frames per second]

class Recording : public ContextCameraTest {
protected:
    QuorixHandle Start(int32_t bits, uint32_t durationMs) {
        sim::CameraConfig config;
        config.framesPerSecond = kCameraRate;
        m_camera = Attach(config);
        const QuorixHandle handle = Initialize();
        EXPECT_EQ(Quorix_SetColorMode(handle, bits), 1);
        EXPECT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, 0, kWidth, 1536, kRampTop, kHeight), 1);
        EXPECT_EQ(Quorix_SetWaitTime(handle, 0), 1);
        EXPECT_EQ(Quorix_SetDeliveryMode(handle, QUORIX_DELIVERY_EVERY_FRAME), 1);
        EXPECT_EQ(Quorix_Record(handle, m_path.c_str(), durationMs, 0), 1)
            << "code " << Quorix_GetLastError(handle);
        return handle;
    }
    static QuorixRecordStatus Status(QuorixHandle handle) {
        QuorixRecordStatus status{};
        status.size = sizeof status;
        EXPECT_EQ(Quorix_GetRecordStatus(handle, &status), 1);
        return status;
    }
    // Waits until the recording has written `frames` frames or has finished.
    static QuorixRecordStatus WaitFor(QuorixHandle handle, uint64_t frames) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        QuorixRecordStatus status = Status(handle);
        while (status.state != QUORIX_RECORD_FINISHED && status.framesWritten < frames &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            status = Status(handle);
        }
        return status;
    }
    static QuorixRecordStatus WaitFinished(QuorixHandle handle) {
        return WaitFor(handle, UINT64_MAX);
    }
    // The file is whole: what the headers count is in the index, and ffprobe decodes every frame.
    AviFile ExpectWholeFile(uint64_t frames) {
        const AviFile avi = ReadAvi(m_path);
        ExpectConsistentAvi(avi, static_cast<uint32_t>(frames), kFrameBytes);
        const test::Probe probe = test::ProbeVideo(m_path);
        EXPECT_EQ(probe.width, static_cast<uint32_t>(kWidth));
        EXPECT_EQ(probe.height, static_cast<uint32_t>(kHeight));
        EXPECT_EQ(probe.frames, frames);
        return avi;
    }

    ScratchDirectory m_directory;
    std::string m_path = m_directory.File("clip.avi");
    std::shared_ptr<sim::EmulatedCamera> m_camera;
};

TEST_F(Recording, OneSecondAtASteadyRateAgreesWithItselfAndWithAnIndependentReader) {
    const QuorixHandle handle = Start(24, 1000);
    const QuorixRecordStatus status = WaitFinished(handle);
    ASSERT_EQ(status.state, static_cast<uint32_t>(QUORIX_RECORD_FINISHED));
    EXPECT_EQ(status.endReason, static_cast<uint32_t>(QUORIX_RECORD_END_DURATION));
    // One second of 25 frames per second, and the frame that ends it.
    EXPECT_GE(status.framesWritten, 24u);
    EXPECT_LE(status.framesWritten, 28u);
    EXPECT_EQ(status.framesDropped, 0u);
    const AviFile avi = ExpectWholeFile(status.framesWritten);
    EXPECT_EQ(avi.bytes.size(), status.fileBytes);
    // The rate measured over the frames written: the camera's, within the scheduling delays of
    // the first and the last frame.
    EXPECT_NEAR(avi.Rate(), kCameraRate, 2.0);
    EXPECT_NEAR(status.rate / 100.0, avi.Rate(), 0.01);
    EXPECT_EQ(avi.maxBytesPerSecond,
              static_cast<uint32_t>((8ull + kFrameBytes) * status.rate / 100));
    // The preview goes on after the recording.
    EXPECT_EQ(ContextOf(handle).AcquisitionState(), 1);
}

// Raw output is recorded as 24-bit gray, bottom row first: 8-bit samples as they are, 16-bit
// samples by their high byte (the picture, not the low byte's noise).
class RecordingGray : public Recording, public ::testing::WithParamInterface<int32_t> {};

TEST_P(RecordingGray, HoldsTheRampAsGrayBottomRowFirst) {
    const QuorixHandle handle = Start(GetParam(), 200);
    const QuorixRecordStatus status = WaitFinished(handle);
    ASSERT_GE(status.framesWritten, 1u);
    const AviFile avi = ExpectWholeFile(status.framesWritten);
    ASSERT_FALSE(avi.chunkData.empty());
    const uint8_t* frame = avi.bytes.data() + avi.chunkData[0];
    for (int32_t fileRow = 0; fileRow < kHeight; ++fileRow) {
        const int expected = kHeight - 1 - fileRow;  // picture row, counted from the top
        for (int32_t x = 0; x < kWidth; x += 51) {
            const uint8_t* pixel = frame + (fileRow * kWidth + x) * 3;
            ASSERT_EQ(pixel[0], pixel[1]) << "row " << fileRow << " column " << x;
            ASSERT_EQ(pixel[1], pixel[2]) << "row " << fileRow << " column " << x;
            ASSERT_NEAR(pixel[0], expected, 2) << "row " << fileRow << " column " << x;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RawTypes, RecordingGray, ::testing::Values(8, 16));

TEST_F(Recording, WithoutAFileNameFailsWithCode9BeforeAnythingStarts) {
    Attach("QX252-000900");
    const QuorixHandle handle = Initialize();
    EXPECT_EQ(Quorix_Record(handle, nullptr, 1000, 0), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_ARGUMENT);
    EXPECT_EQ(Quorix_Record(handle, "", 1000, 0), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_ARGUMENT);
    EXPECT_EQ(ContextOf(handle).AcquisitionState(), 0);
    EXPECT_EQ(Status(handle).state, static_cast<uint32_t>(QUORIX_RECORD_IDLE));
}

// A recording ended before its duration, by the application or by the camera or the disk: the
// file is finished with every frame written, the end reason says why, and a disk that could take
// no more is reported with code 12.
enum class EarlyStop { kStopPreview, kClose, kRelease, kUnplug, kFullDisk };

class RecordingStopConcurrency : public Recording,
                                 public ::testing::WithParamInterface<EarlyStop> {};

TEST_P(RecordingStopConcurrency, LeavesAWholeFile) {
    const EarlyStop stop = GetParam();
    // Room for the headers and five frames, not for a sixth.
    const test::FileSizeLimit limit(stop == EarlyStop::kFullDisk
                                        ? test::kAviHeaderBytes + 5 * (8 + kFrameBytes) + 1000
                                        : RLIM_INFINITY);
    const QuorixHandle handle = Start(24, 60000);
    QuorixRecordStatus status = WaitFor(handle, 3);
    ASSERT_GE(status.framesWritten, 3u);
    uint32_t reason = QUORIX_RECORD_END_STOPPED;
    switch (stop) {
        case EarlyStop::kStopPreview:
            EXPECT_EQ(Quorix_StopPreview(handle), 1);
            break;
        case EarlyStop::kClose:
            EXPECT_EQ(Quorix_Close(handle), 1);
            break;
        case EarlyStop::kRelease:
            EXPECT_EQ(Release(handle), 1);
            break;
        case EarlyStop::kUnplug:
            sim::Unplug(m_camera);
            reason = QUORIX_RECORD_END_ACQUISITION;
            break;
        case EarlyStop::kFullDisk:
            reason = QUORIX_RECORD_END_WRITE_FAILED;
            break;
    }
    if (stop == EarlyStop::kRelease) {
        // No handle to ask any more: the file alone tells.
        const AviFile avi = ReadAvi(m_path);
        ASSERT_TRUE(avi.valid);
        EXPECT_GE(avi.totalFrames, 3u);
        ExpectWholeFile(avi.totalFrames);
        return;
    }
    status = WaitFinished(handle);
    ASSERT_EQ(status.state, static_cast<uint32_t>(QUORIX_RECORD_FINISHED));
    EXPECT_EQ(status.endReason, reason);
    if (stop == EarlyStop::kFullDisk) {
        EXPECT_EQ(status.framesWritten, 5u);
        EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_TEXT);
    }
    ExpectWholeFile(status.framesWritten);
}

INSTANTIATE_TEST_SUITE_P(EveryWay, RecordingStopConcurrency,
                         ::testing::Values(EarlyStop::kStopPreview, EarlyStop::kClose,
                                           EarlyStop::kRelease, EarlyStop::kUnplug,
                                           EarlyStop::kFullDisk));

}  // namespace
}  // namespace quorix
