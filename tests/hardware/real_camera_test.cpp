// A Quorix 252 on this machine's USB bus, through the installed library's public interface as an
// application uses it. Every test is skipped ("no Quorix 252 camera attached") when no camera is
// present, so the suite runs everywhere and checks hardware only where there is some. Point the
// camera at a steady, evenly lit scene (a grey card) for the exposure series.
//
//   build/tests/quorix_real_camera_tests                      all of it, 10 s of preview
//   QUORIX_REAL_CAMERA_PREVIEW_S=60 build/tests/quorix_real_camera_tests   a longer preview
//   QUORIX_REAL_CAMERA_FIRST_EXPOSURE=50 ...   exposure series from 5 ms (default 0.1 ms)
//
// Built with umockdev, the program can also stand its camera in itself: with
// QUORIX_REAL_CAMERA_EMULATED=1 under umockdev-wrapper it makes the emulated camera of the
// umockdev tests before the library starts, so the suite itself is checked where no camera is.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <quorix/quorix.h>

#ifdef QUORIX_REAL_CAMERA_CAN_EMULATE
#include "support/umockdev_camera.h"
#endif

namespace {

constexpr int32_t kWidth = 2048;
constexpr int32_t kHeight = 1536;

// The first exposure of the series [100 us]: QUORIX_REAL_CAMERA_FIRST_EXPOSURE, else 1.
int32_t FirstExposure() {
    const char* text = std::getenv("QUORIX_REAL_CAMERA_FIRST_EXPOSURE");  // NOLINT
    const int32_t value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : 1;
}

int PreviewSeconds() {
    const char* text = std::getenv("QUORIX_REAL_CAMERA_PREVIEW_S");  // NOLINT
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 10;
}

class RealCamera : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
#ifdef QUORIX_REAL_CAMERA_CAN_EMULATE
        const char* emulated = std::getenv("QUORIX_REAL_CAMERA_EMULATED");  // NOLINT
        if (emulated != nullptr && std::strcmp(emulated, "1") == 0 &&
            quorix::testing::UmockdevCamera::InMockEnvironment()) {
            static auto* camera = new quorix::testing::UmockdevCamera();
            camera->Plug();
        }
#endif
    }

    void SetUp() override {
        m_handle = Quorix_Initialize(nullptr);
        ASSERT_NE(m_handle, 0u);
        char names[10][256] = {};
        const int32_t count = Quorix_EnumDevice(m_handle, names);
        if (count == 0)
            GTEST_SKIP() << "no Quorix 252 camera attached";
        m_name = names[0];
        // The name ends in NN = device index + 1; the first camera listed is the one tested.
        const int32_t index = std::atoi(names[0] + std::strlen(names[0]) - 2) - 1;
        ASSERT_EQ(Quorix_SetDeviceNumber(m_handle, index), 1)
            << m_name << " does not open: code " << Quorix_GetLastError(m_handle);
        ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
        ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    }
    void TearDown() override {
        if (m_handle != 0)
            Quorix_Release(m_handle);
    }

    // One 8-bit raw snapshot of the whole sensor, or sub-sampled (1024 x 768).
    std::vector<uint8_t> Snap(bool subSampled) {
        const size_t bytes =
            subSampled ? size_t{kWidth / 2} * (kHeight / 2) : size_t{kWidth} * kHeight;
        std::vector<uint8_t> picture(bytes);
        EXPECT_EQ(Quorix_SetSubSample(m_handle, subSampled ? 1 : 0), 1);
        const int taken =
            Quorix_SnapShot(m_handle, picture.data(), static_cast<uint32_t>(bytes), 1);
        EXPECT_EQ(taken, 1) << "code " << Quorix_GetLastError(m_handle);
        if (taken != 1)
            picture.clear();
        return picture;
    }
    static double Median(std::vector<uint8_t> picture) {
        if (picture.empty())
            return -1.0;
        auto middle = picture.begin() + static_cast<std::ptrdiff_t>(picture.size() / 2);
        std::nth_element(picture.begin(), middle, picture.end());
        return *middle;
    }

    // Brightness grows in proportion to the exposure time: the medians of pictures at T, 2T and
    // 4T step by d and 2d (the black level cancels). T is the first exposure, doubling from
    // FirstExposure(), whose median reaches 12 counts; the 4T picture must stay below
    // saturation.
    void CheckExposureProportional(bool subSampled) {
        ASSERT_EQ(Quorix_SetGlobalGain(m_handle, 0), 1);
        int32_t exposure = FirstExposure();  // [100 us]
        double first = 0.0;
        for (;; exposure *= 2) {
            ASSERT_LE(exposure, 5000) << "the scene is too dark for the exposure series";
            ASSERT_EQ(Quorix_SetExposureTime(m_handle, exposure), 1);
            first = Median(Snap(subSampled));
            ASSERT_GE(first, 0.0);
            if (first >= 12.0)
                break;
        }
        ASSERT_EQ(Quorix_SetExposureTime(m_handle, exposure * 2), 1);
        const double second = Median(Snap(subSampled));
        ASSERT_EQ(Quorix_SetExposureTime(m_handle, exposure * 4), 1);
        const double fourth = Median(Snap(subSampled));
        if (fourth >= 250.0)
            GTEST_SKIP() << "the scene saturates at " << exposure * 4 << " x 100 us";
        const double ratio = (fourth - second) / (second - first);
        std::printf("%s: exposure %d x 100 us: medians %.0f, %.0f, %.0f; step ratio %.2f\n",
                    subSampled ? "2x2 sub-sampled" : "full resolution", exposure, first, second,
                    fourth, ratio);
        EXPECT_GT(second, first);
        EXPECT_NEAR(ratio, 2.0, 0.3) << "brightness not proportional to exposure";
    }

    QuorixHandle m_handle = 0;
    std::string m_name;
};

// The camera is listed under its name, opens, and reports what a Quorix 252 is.
TEST_F(RealCamera, ListsAndOpens) {
    EXPECT_NE(m_name.find("Quorix252DIV-USB3-R5_"), std::string::npos) << m_name;
    char serial[64] = {};
    EXPECT_EQ(Quorix_ReadSerialNumberA(m_handle, serial, sizeof serial), 1);
    std::printf("camera %s, serial number %s\n", m_name.c_str(), serial);
}

// A full-resolution snapshot arrives whole and is not blank.
TEST_F(RealCamera, TakesASnapshot) {
    const std::vector<uint8_t> picture = Snap(false);
    ASSERT_EQ(picture.size(), size_t{kWidth} * kHeight);
    const auto [low, high] = std::minmax_element(picture.begin(), picture.end());
    EXPECT_LT(*low, *high) << "every pixel reads " << int{*low};
}

// A preview of PreviewSeconds() seconds delivers frames without transfer failures; the frames
// the camera made that never arrived (dropped) are counted and printed.
TEST_F(RealCamera, PreviewsWithDroppedFrameCount) {
    ASSERT_EQ(Quorix_SetSubSample(m_handle, 0), 1);
    const QuorixWindow window = Quorix_CreateMessageWindow();
    ASSERT_NE(window, nullptr);
    std::vector<uint8_t> buffer(size_t{kWidth} * kHeight);
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, buffer.data(),
                                     static_cast<uint32_t>(buffer.size()), 1),
              1);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(PreviewSeconds());
    uint64_t errors = 0;
    QuorixMessage message{};
    while (std::chrono::steady_clock::now() < end) {
        if (Quorix_GetWindowMessage(window, &message, 100) == 1 &&
            message.message == QUORIX_MSG_FRAME && message.wParam == 0)
            ++errors;
    }
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
    Quorix_DestroyMessageWindow(window);
    QuorixFrameStatistics statistics{};
    statistics.size = sizeof statistics;
    ASSERT_EQ(Quorix_GetFrameStatistics(m_handle, &statistics), 1);
    std::printf(
        "preview %d s: %llu frames received, %llu delivered, %llu dropped (never "
        "arrived), %llu failed\n",
        PreviewSeconds(), static_cast<unsigned long long>(statistics.framesReceived),
        static_cast<unsigned long long>(statistics.framesDelivered),
        static_cast<unsigned long long>(statistics.framesSkipped),
        static_cast<unsigned long long>(statistics.framesFailed));
    RecordProperty("dropped_frames", std::to_string(statistics.framesSkipped));
    EXPECT_GT(statistics.framesDelivered, 0u);
    EXPECT_EQ(statistics.failedTransfer, 0u);
    EXPECT_EQ(errors, 0u) << "frame notifications that carried an error";
}

// The sensor's gain registers (0x404 low, 0x405 bit 0 high) read back through the camera and
// follow the gain the library programs.
TEST_F(RealCamera, ReadsRegisters) {
    const auto gainRegisters = [this] {
        int32_t okLow = 0;
        int32_t okHigh = 0;
        const uint32_t low = Quorix_ReadRegisterEx(m_handle, 0x404, &okLow);
        const uint32_t high = Quorix_ReadRegisterEx(m_handle, 0x405, &okHigh);
        EXPECT_EQ(okLow, 1);
        EXPECT_EQ(okHigh, 1);
        return low | (high & 1) << 8;
    };
    ASSERT_EQ(Quorix_SetGlobalGain(m_handle, 0), 1);
    const uint32_t none = gainRegisters();
    ASSERT_EQ(Quorix_SetGlobalGain(m_handle, 240), 1);
    const uint32_t some = gainRegisters();
    EXPECT_GT(some, none) << "the gain registers did not follow the gain";
}

TEST_F(RealCamera, BrightnessProportionalToExposureAtFullResolution) {
    CheckExposureProportional(false);
}

TEST_F(RealCamera, BrightnessProportionalToExposureSubSampled) {
    CheckExposureProportional(true);
}

}  // namespace
