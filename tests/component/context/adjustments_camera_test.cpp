// The frame routine's automatic controls and adjustments against an emulated camera: the auto
// iris settling the camera's exposure or gain on the scene from too dark and from too bright,
// the automatic Bayer gains taking out a colour cast of the camera, and two contexts previewing
// side by side with different saturations, each with its own colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "context_test_support.h"
#include "picture_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;

class AdjustmentsCamera : public ContextCameraTest {
protected:
    // A snapshot of the whole sensor into `picture`, top row first.
    static void Snap(QuorixHandle handle, int32_t bits, std::vector<uint8_t>& picture) {
        picture.resize(test::StrideOf(sim::kSensorWidth, bits) * sim::kSensorHeight);
        ASSERT_EQ(Quorix_SnapShot(handle, picture.data(), static_cast<uint32_t>(picture.size()), 1),
                  1)
            << "code " << Quorix_GetLastError(handle);
    }
};

struct IrisCase {
    int32_t mode;      // 1 exposure, 2 gain
    int32_t bits;      // raw colour type
    int32_t exposure;  // start [100 us]; the scene's nominal brightness is at 170
};

class AutoIris : public AdjustmentsCamera, public ::testing::WithParamInterface<IrisCase> {};

// Starting far too dark (or, at 16 bits, saturated) the auto iris changes the camera's exposure
// or gain frame by frame until the picture's regions are in their band, and then leaves it:
// within 30 frames the value stays put for three frames running, with the scene's middle gray no
// longer black nor white. Catches a factor applied the wrong way, 16-bit means compared with 8-bit
// thresholds (a 16-bit picture reads as white at any exposure and never settles), a change that
// never reaches the camera or the next frame.
TEST_P(AutoIris, SettlesOnTheScene) {
    const IrisCase& c = GetParam();
    sim::CameraConfig config;
    config.serialNumber = "QX252-000900";
    config.asFastAsPossible = true;
    Attach(config);
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(Quorix_SetColorMode(handle, c.bits), 1);
    ASSERT_EQ(Quorix_SetExposureTime(handle, c.exposure), 1);
    ASSERT_EQ(Quorix_SetAutoIris(handle, c.mode), 1);
    const auto controlled = [&] {
        int32_t ok = 0;
        return c.mode == 1 ? Quorix_GetExposureTime(handle, &ok)
                           : Quorix_GetGlobalGain(handle, &ok);
    };
    const int32_t start = controlled();
    std::vector<uint8_t> picture;
    int32_t previous = start;
    int steady = 0;
    int frames = 0;
    for (; frames < 30 && steady < 3; ++frames) {
        ASSERT_NO_FATAL_FAILURE(Snap(handle, c.bits, picture));
        const int32_t now = controlled();
        steady = now == previous ? steady + 1 : 0;
        previous = now;
    }
    EXPECT_EQ(steady, 3) << "still changing after " << frames << " frames, now " << previous;
    EXPECT_NE(previous, start);
    // The settled picture: the middle gray patch (1800 of 4095; scene rows 96..159, columns
    // 608..671) neither black nor clipped, on the 8-bit scale.
    const test::PictureView view(picture.data(), c.bits, sim::kSensorWidth, sim::kSensorHeight, 1);
    double sum = 0.0;
    for (int y = 96; y < 160; ++y) {
        for (int x = 608; x < 672; ++x) {
            sum += c.bits == 16 ? view.Raw(x, y) / 256.0 : view.Raw(x, y);
        }
    }
    const double patch = sum / (64.0 * 64.0);
    EXPECT_GT(patch, 40.0) << "settled too dark at " << previous;
    EXPECT_LT(patch, 250.0) << "settled clipped at " << previous;
    // The context keeps what the camera got.
    if (c.mode == 1) {
        int32_t ok = 0;
        EXPECT_EQ(static_cast<int32_t>(Quorix_GetRealExposureTime(handle, &ok)), previous * 100);
    }
}

INSTANTIATE_TEST_SUITE_P(FromDarkAndBright, AutoIris,
                         ::testing::Values(IrisCase{1, 8, 15}, IrisCase{1, 16, 3000},
                                           IrisCase{2, 8, 40}),
                         [](const ::testing::TestParamInfo<IrisCase>& info) {
                             const IrisCase& c = info.param;
                             return std::string(c.mode == 1 ? "Exposure" : "Gain") + "Bits" +
                                    std::to_string(c.bits) + "From" + std::to_string(c.exposure);
                         });

// A camera whose red and blue light is cast down (x 0.6 and x 0.8): with the automatic Bayer
// gains on, the gray patches come out gray again (red and blue within 8 % of green: the scene is
// gray on average to about 5 %), green is reported as 100 and red and blue near the inverse of
// the cast. Without the gains the red of a gray patch would be 40 % short. Catches gains not
// applied, red and blue swapped, the mosaic's sites miscounted.
TEST_F(AdjustmentsCamera, AutomaticBayerGainsNeutraliseACast) {
    sim::CameraConfig config;
    config.serialNumber = "QX252-000901";
    config.asFastAsPossible = true;
    config.imperfections.castRed = 0.6;
    config.imperfections.castBlue = 0.8;
    Attach(config);
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(Quorix_SetColorMode(handle, 24), 1);
    ASSERT_EQ(Quorix_SetBayerGainAuto(handle, 1), 1);
    std::vector<uint8_t> picture;
    ASSERT_NO_FATAL_FAILURE(Snap(handle, 24, picture));
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetBayerGainGreen(handle, &ok), 100);
    EXPECT_NEAR(Quorix_GetBayerGainRed(handle, &ok), 100 / 0.6, 100 / 0.6 * 0.08);
    EXPECT_NEAR(Quorix_GetBayerGainBlue(handle, &ok), 100 / 0.8, 100 / 0.8 * 0.08);
    const test::PictureView view(picture.data(), 24, sim::kSensorWidth, sim::kSensorHeight, 1);
    // Gray patches 0..3 (3600, 2700, 1800, 900), their centres.
    for (int patch = 0; patch < 4; ++patch) {
        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;
        for (int y = 112; y < 144; ++y) {
            for (int x = 256 * patch + 112; x < 256 * patch + 144; ++x) {
                red += view.Red(x, y);
                green += view.Green(x, y);
                blue += view.Blue(x, y);
            }
        }
        EXPECT_NEAR(red / green, 1.0, 0.08) << "gray patch " << patch;
        EXPECT_NEAR(blue / green, 1.0, 0.08) << "gray patch " << patch;
    }
}

// Two cameras previewing at once in two contexts, one at saturation -255 (gray) and one at +255,
// then the other way round while both run: each context's pictures keep its own saturation. The
// red patch (3200, 400, 400) turns gray in one and at least as saturated as the scene in the
// other. Run under TSan: the saturation tables of contexts in parallel must not race.
TEST_F(AdjustmentsCamera, ConcurrencyTwoPreviewsKeepTheirOwnSaturation) {
    Attach("QX252-000902");
    Attach("QX252-000903");
    const QuorixHandle handles[2] = {Initialize(), Initialize()};
    // Scene columns 1024..2047 and rows 0..255: the gray 100 patch and the three primaries.
    constexpr int32_t kWidth = 1024;
    constexpr int32_t kHeight = 256;
    const size_t size = test::StrideOf(kWidth, 24) * kHeight;
    QuorixWindow windows[2] = {Quorix_CreateMessageWindow(), Quorix_CreateMessageWindow()};
    for (int i = 0; i < 2; ++i) {
        const QuorixHandle h = handles[i];
        ASSERT_NE(windows[i], nullptr);
        ASSERT_EQ(Quorix_SetDeviceNumber(h, i), 1);
        ASSERT_EQ(Quorix_SetColorMode(h, 24), 1);
        ASSERT_EQ(Quorix_SetCaptureWindowEx(h, 2048, 1024, kWidth, 1536, 0, kHeight), 1);
        ASSERT_EQ(Quorix_SetPreviewWindow(h, nullptr, 0, 0, 0, 0), 1);
        ASSERT_EQ(Quorix_SetSaturation(h, i == 0 ? -255 : 255), 1);
        ASSERT_EQ(Quorix_CallBackPreview(h, windows[i], nullptr, 0, 1), 1);
    }
    // Waits for `count` more frames of each preview.
    const auto frames = [&](int count) {
        for (int i = 0; i < 2; ++i) {
            int seen = 0;
            QuorixMessage message;
            while (seen < count && Quorix_GetWindowMessage(windows[i], &message, 5000) == 1) {
                if (message.message == QUORIX_MSG_FRAME && message.wParam != 0) {
                    ++seen;
                }
            }
            ASSERT_EQ(seen, count) << "preview " << i << " stopped";
        }
    };
    // Chroma (max - min) of the red patch's centre (scene columns 1360..1391 = picture 336..367).
    const auto redPatchChroma = [&](QuorixHandle h) {
        std::vector<uint8_t> picture(size);
        EXPECT_EQ(Quorix_GetImage(h, picture.data(), static_cast<uint32_t>(size), 1), 1);
        const test::PictureView view(picture.data(), 24, kWidth, kHeight, 1);
        int lowest = 255;
        int highest = 0;
        for (int y = 112; y < 144; y += 4) {
            for (int x = 336; x < 368; x += 4) {
                const int chroma = std::max({view.Red(x, y), view.Green(x, y), view.Blue(x, y)}) -
                                   std::min({view.Red(x, y), view.Green(x, y), view.Blue(x, y)});
                lowest = std::min(lowest, chroma);
                highest = std::max(highest, chroma);
            }
        }
        return std::pair{lowest, highest};
    };
    // The scene's own chroma there: (3200 - 400) >> 4.
    constexpr int kSceneChroma = 175;
    for (int round = 0; round < 2; ++round) {
        ASSERT_NO_FATAL_FAILURE(frames(3));
        for (int i = 0; i < 2; ++i) {
            const bool gray = (i == 0) == (round == 0);
            const auto [lowest, highest] = redPatchChroma(handles[i]);
            if (gray) {
                EXPECT_LE(highest, 1) << "context " << i << " round " << round;
            } else {
                EXPECT_GE(lowest, kSceneChroma) << "context " << i << " round " << round;
            }
        }
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(Quorix_SetSaturation(handles[i], i == 0 ? 255 : -255), 1);
        }
        // Frame messages already queued tell of frames made before the change: only those that
        // come after it count (the first of them may still have been under way).
        for (int i = 0; i < 2; ++i) {
            QuorixMessage message;
            while (Quorix_GetWindowMessage(windows[i], &message, 0) == 1) {
            }
        }
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Quorix_StopPreview(handles[i]), 1);
        Quorix_DestroyMessageWindow(windows[i]);
    }
}

}  // namespace
}  // namespace quorix
