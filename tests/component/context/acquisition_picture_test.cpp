// Pictures from an emulated camera through the exported functions, read back against the known
// scene: every colour type, with and without 2x2 sub-sampling, every mirror setting, the whole
// sensor and a window. Catches pictures whose geometry, row order, colour filter phase, channel
// order or magnitude is wrong: a patch of the wrong colour, a ramp running the wrong way, a
// marker in the wrong place for the frame shown, rows in the wrong order.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "context_test_support.h"
#include "picture_support.h"

namespace quorix {
namespace {

using test::CaptureWindow;
using test::ContextCameraTest;
using test::PictureGeometry;
using test::PictureView;

enum class Mirror { kNone, kHorizontal, kVertical, kBoth };

struct PictureCase {
    int32_t bitsPerPixel;
    int32_t subSample;
    Mirror mirror;
    bool windowed;

    bool MirrorH() const { return mirror == Mirror::kHorizontal || mirror == Mirror::kBoth; }
    bool MirrorV() const { return mirror == Mirror::kVertical || mirror == Mirror::kBoth; }
};

std::string NameOf(const PictureCase& c) {
    static constexpr const char* kMirrorNames[] = {"NoMirror", "MirrorH", "MirrorV", "MirrorHV"};
    return "Bits" + std::to_string(c.bitsPerPixel) + (c.subSample != 0 ? "_SubSampled" : "_Full") +
           "_" + kMirrorNames[static_cast<int>(c.mirror)] + (c.windowed ? "_Window" : "_Sensor");
}

void PrintTo(const PictureCase& c, std::ostream* os) {
    *os << NameOf(c);
}

// The window of the windowed cases: at full resolution sensor columns 256..1279 and rows
// 512..1279 (the bottom patch row, both ramps); sub-sampled a 512 x 384 picture.
constexpr CaptureWindow kWindow{256, 512, 1024, 768};
constexpr CaptureWindow kWholeSensor{};

// Guard bytes after the size given to the library, which must stay untouched.
constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuardByte = 0xA5;

class AcquisitionPictureTest : public ContextCameraTest {
protected:
    void SetUp() override {
        m_camera = Attach("QX252-000500");
        m_handle = Initialize();
        ASSERT_EQ(ContextOf(m_handle).DeviceNumber(), 0);
        while (Quorix_GetLastError(m_handle) != 0) {
        }
    }

    // A buffer of `size` bytes for the library and a guard behind it.
    static std::vector<uint8_t> GuardedBuffer(size_t size) {
        return std::vector<uint8_t>(size + kGuardBytes, kGuardByte);
    }
    static bool GuardIntact(const std::vector<uint8_t>& buffer) {
        return std::all_of(buffer.end() - kGuardBytes, buffer.end(),
                           [](uint8_t b) { return b == kGuardByte; });
    }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    QuorixHandle m_handle = 0;
};

class AcquisitionPicture : public AcquisitionPictureTest,
                           public ::testing::WithParamInterface<PictureCase> {};

// One snapshot in one row order, then the same frame again through Quorix_GetImage in the other:
// the first copy is read back against the scene, the second must hold the same rows the other
// way round. The row order of the snapshot alternates between the whole-sensor and the window
// cases, so both calls are exercised with both flags (and with a flag other than 0 and 1).
TEST_P(AcquisitionPicture, ShowsTheSceneInBothRowOrders) {
    const PictureCase& c = GetParam();
    ASSERT_EQ(Quorix_SetColorMode(m_handle, c.bitsPerPixel), 1);
    ASSERT_EQ(Quorix_SetSubSample(m_handle, c.subSample), 1);
    ASSERT_EQ(Quorix_SetMirrorH(m_handle, c.MirrorH() ? 1 : 0), 1);
    ASSERT_EQ(Quorix_SetMirrorV(m_handle, c.MirrorV() ? 1 : 0), 1);
    const CaptureWindow window = c.windowed ? kWindow : kWholeSensor;
    if (c.windowed) {
        ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, window.hStart, window.width, 1536,
                                            window.vStart, window.height),
                  1);
    }
    const PictureGeometry g =
        test::ExpectedGeometry(window, c.subSample != 0, c.MirrorH(), c.MirrorV());
    const size_t size = static_cast<size_t>(g.height) * test::StrideOf(g.width, c.bitsPerPixel);
    const int32_t snapshotOrder = c.windowed ? 0 : 1;
    const int32_t copyOrder = c.windowed ? 7 : 0;

    std::vector<uint8_t> first = GuardedBuffer(size);
    std::vector<uint8_t> second = GuardedBuffer(size);
    ASSERT_EQ(Quorix_SnapShot(m_handle, first.data(), static_cast<uint32_t>(size), snapshotOrder),
              1)
        << "code " << Quorix_GetLastError(m_handle);
    const uint32_t framesProduced = m_camera->FramesProduced();
    ASSERT_EQ(Quorix_GetImage(m_handle, second.data(), static_cast<uint32_t>(size), copyOrder), 1)
        << "code " << Quorix_GetLastError(m_handle);
    EXPECT_EQ(Quorix_GetLastError(m_handle), 0u);
    EXPECT_TRUE(GuardIntact(first)) << "SnapShot wrote past " << size << " bytes";
    EXPECT_TRUE(GuardIntact(second)) << "GetImage wrote past " << size << " bytes";
    EXPECT_EQ(Quorix_Width(m_handle), window.width);
    EXPECT_EQ(Quorix_Height(m_handle), window.height);

    const PictureView view(first.data(), c.bitsPerPixel, g.width, g.height, snapshotOrder);
    const test::PictureSummary seen =
        test::CheckPicture(view, g, test::kDefaultBrightness, framesProduced);
    EXPECT_EQ(test::RowsNotReversed(first.data(), second.data(), g.width, g.height, c.bitsPerPixel),
              0)
        << "GetImage in the other row order";

    // Every case shows some of the scene; the whole sensor shows all of it.
    EXPECT_GT(seen.patches + seen.rampPixels + (seen.markerChecked ? 1 : 0), 0);
    if (!c.windowed) {
        EXPECT_EQ(seen.patches, static_cast<int>(sim::kPatchCount));
        EXPECT_GT(seen.rampPixels, 0);
        EXPECT_EQ(seen.code.visible, 0xFFFFFFFFu);
        EXPECT_TRUE(seen.frameNumber.has_value());
        EXPECT_TRUE(seen.markerChecked);
    }
}

std::vector<PictureCase> AllPictureCases() {
    std::vector<PictureCase> cases;
    for (const int32_t bits : {8, 16, 24, 32, 48, 64}) {
        for (const int32_t subSample : {0, 1}) {
            for (const Mirror mirror :
                 {Mirror::kNone, Mirror::kHorizontal, Mirror::kVertical, Mirror::kBoth}) {
                for (const bool windowed : {false, true}) {
                    cases.push_back({bits, subSample, mirror, windowed});
                }
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Formats, AcquisitionPicture, ::testing::ValuesIn(AllPictureCases()),
                         [](const ::testing::TestParamInfo<PictureCase>& info) {
                             return NameOf(info.param);
                         });

// --- Brightness --------------------------------------------------------------------------------

struct BrightnessCase {
    int32_t bitsPerPixel;
    int32_t subSample;
};

std::string NameOf(const BrightnessCase& c) {
    return "Bits" + std::to_string(c.bitsPerPixel) + (c.subSample != 0 ? "_SubSampled" : "_Full");
}

void PrintTo(const BrightnessCase& c, std::ostream* os) {
    *os << NameOf(c);
}

class AcquisitionBrightness : public AcquisitionPictureTest,
                              public ::testing::WithParamInterface<BrightnessCase> {};

// At the default exposure (17 ms) and gain the camera reads the scene's nominal values, so the
// brightest gray patch (3600) arrives as 3600 >> 4 at 8 bits and 3600 << 4 at 16 bits, with or
// without sub-sampling. Catches an exposure that is not what the application set in one of the
// read-out modes (a line period taken from the other mode).
TEST_P(AcquisitionBrightness, DefaultExposureGivesTheNominalScene) {
    const BrightnessCase& c = GetParam();
    ASSERT_EQ(Quorix_SetColorMode(m_handle, c.bitsPerPixel), 1);
    ASSERT_EQ(Quorix_SetSubSample(m_handle, c.subSample), 1);
    const PictureGeometry g = test::ExpectedGeometry(kWholeSensor, c.subSample != 0, false, false);
    const size_t size = static_cast<size_t>(g.height) * test::StrideOf(g.width, c.bitsPerPixel);
    std::vector<uint8_t> picture(size);
    ASSERT_EQ(Quorix_SnapShot(m_handle, picture.data(), static_cast<uint32_t>(size), 1), 1)
        << "code " << Quorix_GetLastError(m_handle);
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetExposureTime(m_handle, &ok), 170);

    const PictureView view(picture.data(), c.bitsPerPixel, g.width, g.height, 1);
    const bool wide = c.bitsPerPixel == 16;
    const int expected = test::ToOutputScale(sim::kPatchColours[0].red, wide);
    // Patch 0 (gray 3600) at scene rows and columns 96..159.
    const std::vector<int> ys = g.RowsIn(96, 160);
    const std::vector<int> xs = g.ColumnsIn(96, 160);
    ASSERT_FALSE(ys.empty());
    ASSERT_FALSE(xs.empty());
    double sum = 0.0;
    for (const int y : ys) {
        for (const int x : xs) {
            sum += view.Raw(x, y);
        }
    }
    const double mean = sum / static_cast<double>(ys.size() * xs.size());
    EXPECT_NEAR(mean, expected, wide ? 32.0 : 2.0)
        << "camera brightness " << m_camera->Readout().brightness << ", exposure "
        << m_camera->Readout().exposureClocks / (sim::kPixelClockHz / 1000.0) << " ms";
}

INSTANTIATE_TEST_SUITE_P(Formats, AcquisitionBrightness,
                         ::testing::Values(BrightnessCase{8, 0}, BrightnessCase{8, 1},
                                           BrightnessCase{16, 0}, BrightnessCase{16, 1}),
                         [](const ::testing::TestParamInfo<BrightnessCase>& info) {
                             return NameOf(info.param);
                         });

}  // namespace
}  // namespace quorix
