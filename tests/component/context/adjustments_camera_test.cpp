// The frame routine's automatic controls and adjustments against an emulated camera: the auto
// iris settling the camera's exposure or gain on the scene from too dark and from too bright,
// the automatic Bayer gains taking out a colour cast of the camera, the gray gains acting on the
// samples of their own colour, and two contexts previewing side by side with different
// saturations, each with its own colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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

struct GrayCase {
    int32_t bits;     // 8 or 16
    bool mirrored;    // both mirrors on: the camera sends the picture turned round
    bool subSampled;  // 2x2 sub-sampling: the read-out starts on a blue-green line
};

class GraySites : public AdjustmentsCamera, public ::testing::WithParamInterface<GrayCase> {};

// Gray mode 1 with the red gain at 0, the G1 gain (green beside red) at half and every offset at
// 0: in the red patch (3200, 400, 400) and the blue patch (400, 400, 3200) every red sample goes
// black, every green beside red halves, the green beside blue and the blue samples keep the
// scene's level, however the picture is turned or sub-sampled (each sample's colour is that of
// the scene pixel it shows). Catches gains applied to the sites of the other colour (red with
// blue, the two greens with each other) or in the phase of the unmirrored picture.
TEST_P(GraySites, GainsActOnTheirOwnColour) {
    const GrayCase& c = GetParam();
    sim::CameraConfig config;
    config.serialNumber = "QX252-000904";
    config.asFastAsPossible = true;
    Attach(config);
    const QuorixHandle handle = Initialize();
    ASSERT_EQ(Quorix_SetColorMode(handle, c.bits), 1);
    ASSERT_EQ(Quorix_SetSubSample(handle, c.subSampled ? 1 : 0), 1);
    ASSERT_EQ(Quorix_SetMirrorH(handle, c.mirrored ? 1 : 0), 1);
    ASSERT_EQ(Quorix_SetMirrorV(handle, c.mirrored ? 1 : 0), 1);
    ASSERT_EQ(Quorix_SetGrayMode(handle, 1), 1);
    ASSERT_EQ(Quorix_SetGrayGainR(handle, 0), 1);
    ASSERT_EQ(Quorix_SetGrayGainG1(handle, 64), 1);
    ASSERT_EQ(Quorix_SetGrayGainG2(handle, 128), 1);
    ASSERT_EQ(Quorix_SetGrayGainB(handle, 128), 1);
    for (const auto setOffset : {Quorix_SetGrayOffsetR, Quorix_SetGrayOffsetG1,
                                 Quorix_SetGrayOffsetG2, Quorix_SetGrayOffsetB}) {
        ASSERT_EQ(setOffset(handle, 0), 1);
    }
    const test::PictureGeometry g =
        test::ExpectedGeometry(test::CaptureWindow{}, c.subSampled, c.mirrored, c.mirrored);
    std::vector<uint8_t> picture(test::StrideOf(g.width, c.bits) * static_cast<size_t>(g.height));
    ASSERT_EQ(Quorix_SnapShot(handle, picture.data(), static_cast<uint32_t>(picture.size()), 1), 1)
        << "code " << Quorix_GetLastError(handle);
    const test::PictureView view(picture.data(), c.bits, g.width, g.height, 1);
    const bool wide = c.bits == 16;
    const int tolerance = wide ? 32 : 2;
    test::Findings findings("gray gains");
    // Patches 5 (red) and 7 (blue) of the top row, their centres.
    for (const int patch : {5, 7}) {
        const sim::SceneColour& colour = sim::kPatchColours[static_cast<size_t>(patch)];
        const int column0 = sim::kPatchSize * patch + test::kPatchMargin;
        const int row0 = test::kPatchMargin;
        for (const int y : g.RowsIn(row0, row0 + 64)) {
            for (const int x : g.ColumnsIn(column0, column0 + 64)) {
                const int row = g.sceneRow[static_cast<size_t>(y)];
                const int column = g.sceneColumn[static_cast<size_t>(x)];
                int expected = 0;
                switch (test::FilterAt(row, column)) {
                    case test::Filter::kRed:
                        expected = 0;
                        break;
                    case test::Filter::kGreen: {
                        const int level = test::ToOutputScale(
                            test::Captured12(colour.green, test::kDefaultBrightness), wide);
                        // Even scene rows hold the green beside red.
                        expected = row % 2 == 0 ? level * 64 / 128 : level;
                        break;
                    }
                    case test::Filter::kBlue:
                        expected = test::ToOutputScale(
                            test::Captured12(colour.blue, test::kDefaultBrightness), wide);
                        break;
                }
                findings.Checked();
                if (std::abs(view.Raw(x, y) - expected) > tolerance) {
                    findings.Add("patch " + std::to_string(patch) + " " +
                                 test::At(x, y, row, column) + ": " +
                                 std::to_string(view.Raw(x, y)) + ", expected " +
                                 std::to_string(expected));
                }
            }
        }
    }
    EXPECT_GT(findings.CheckedCount(), 1000);
    findings.Report();
}

INSTANTIATE_TEST_SUITE_P(Pictures, GraySites,
                         ::testing::Values(GrayCase{8, false, false}, GrayCase{16, false, false},
                                           GrayCase{8, true, false}, GrayCase{16, false, true}),
                         [](const ::testing::TestParamInfo<GrayCase>& info) {
                             const GrayCase& c = info.param;
                             return "Bits" + std::to_string(c.bits) +
                                    (c.mirrored ? "Mirrored" : "") +
                                    (c.subSampled ? "SubSampled" : "");
                         });

// The one-shot gray gains measured on a window inside one patch: each gain is the green beside
// red against the site's own colour, trunc(G / colour x 128) on the 8-bit levels of the scene.
// The red patch (3200, 400, 400) asks for R 16 and B 128, the warm patch 19 (3000, 2200, 1400)
// for R 93 and B 201; G2 stays 128, as both greens see the patch's one green. At 16 bits the
// same gains. Catches the means of red and blue taken from each other's sites.
TEST_F(AdjustmentsCamera, OneShotGrayGainsMeasureTrueColours) {
    sim::CameraConfig config;
    config.serialNumber = "QX252-000905";
    config.asFastAsPossible = true;
    Attach(config);
    const QuorixHandle handle = Initialize();
    struct Window {
        int patch;
        int32_t hStart;  // 128 x 128 at the patch's centre
        int32_t vStart;
    };
    for (const int32_t bits : {8, 16}) {
        ASSERT_EQ(Quorix_SetColorMode(handle, bits), 1);
        ASSERT_EQ(Quorix_SetGrayMode(handle, 1), 1);
        for (const Window w : {Window{5, 1280 + 64, 64}, Window{19, 768 + 64, 512 + 64}}) {
            ASSERT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, w.hStart, 128, 1536, w.vStart, 128),
                      1);
            for (const auto setGain : {Quorix_SetGrayGainR, Quorix_SetGrayGainG1,
                                       Quorix_SetGrayGainG2, Quorix_SetGrayGainB}) {
                ASSERT_EQ(setGain(handle, 128), 1);
            }
            ASSERT_EQ(Quorix_SetFilterValue(handle, QUORIX_VALUE_GRAY_GAIN_AUTO_ONCE, 1), 1);
            std::vector<uint8_t> picture(test::StrideOf(128, bits) * 128);
            ASSERT_EQ(
                Quorix_SnapShot(handle, picture.data(), static_cast<uint32_t>(picture.size()), 1),
                1);
            const sim::SceneColour& colour = sim::kPatchColours[static_cast<size_t>(w.patch)];
            // The 8-bit levels the camera reads, as the gains are measured.
            const auto level = [](int nominal) {
                return test::Captured12(nominal, test::kDefaultBrightness) >> 4;
            };
            const auto gain = [&](int nominal) {
                return level(colour.green) * 128 / level(nominal);
            };
            int32_t ok = 0;
            const std::string where =
                std::to_string(bits) + "-bit, patch " + std::to_string(w.patch);
            EXPECT_EQ(Quorix_GetGrayGainG1(handle, &ok), 128) << where;
            EXPECT_NEAR(Quorix_GetGrayGainR(handle, &ok), gain(colour.red), 1) << where;
            EXPECT_NEAR(Quorix_GetGrayGainG2(handle, &ok), 128, 1) << where;
            EXPECT_NEAR(Quorix_GetGrayGainB(handle, &ok), gain(colour.blue), 1) << where;
        }
    }
}

}  // namespace
}  // namespace quorix
