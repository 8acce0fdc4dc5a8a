// The settings dialogs' models driven by control identifier, as a view drives them, against an
// emulated camera (and, for the exposure in seconds, an engine whose head has one): live changes
// reaching the camera and the delivered frames, Cancel restoring what was there before, Default,
// the format dialog's presets and its writes to the settings store.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../../support/settings_files.h"
#include "../../unit/context/fake_engine.h"
#include "../context/context_test_support.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/dialog_factory.h"
#include "dialogs/image_dialog.h"

namespace quorix {
namespace {

using dialogs::AnalogDialog;
using dialogs::CameraDialog;
using dialogs::Control;
using dialogs::ControlKind;
using dialogs::DialogModel;
using dialogs::ImageDialog;
using platform::Language;
using test::ContextCameraTest;

constexpr Language kEnglish = Language::kEnglish;

// The last value the camera's sensor got in a register, if any.
std::optional<uint16_t> LastWrite(sim::EmulatedCamera& camera, uint16_t reg) {
    const auto values = camera.Log().WrittenValues(sim::RegisterSpace::kSensor, reg);
    return values.empty() ? std::nullopt : std::optional<uint16_t>(values.back());
}

class DialogModels : public ContextCameraTest {
protected:
    void SetUp() override {
        sim::CameraConfig config;
        config.serialNumber = "QX252-001600";
        config.asFastAsPossible = true;
        m_camera = Attach(config);
        m_handle = Initialize();
        ASSERT_EQ(ContextOf(m_handle).DeviceNumber(), 0);
    }
    CQuorix& Context() { return ContextOf(m_handle); }
    // A size preset of camera 0 in the store, selected.
    static void StorePreset(int32_t index, const std::array<uint32_t, 7>& values) {
        platform::SettingsStore::CurrentUser().Update([&](platform::SettingsTree& tree) {
            const std::string preset = SizePresetKey(test::CameraKeyPath(0), index);
            for (size_t i = 0; i < values.size(); ++i) {
                tree.SetDword(preset, kSizePresetValues[i], values[i]);
            }
            tree.SetDword(test::CameraKeyPath(0), "Size", static_cast<uint32_t>(index));
            return true;
        });
    }
    static const Control& Get(const DialogModel& dialog, int32_t id) {
        const Control* control = dialog.Find(id);
        EXPECT_NE(control, nullptr) << "no control " << id;
        static const Control none;
        return control != nullptr ? *control : none;
    }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    QuorixHandle m_handle = 0;
};

// --- Image dialog ------------------------------------------------------------------------------

// Brightness and contrast moved by trackbar and by typing reach the context at once; Cancel puts
// back what the context had before, OK keeps the new values. Catches a restore that misses the
// typed path, or one that also runs after OK.
TEST_F(DialogModels, ImageDialogCancelRestoresAndOkKeeps) {
    ASSERT_EQ(Quorix_SetBrightness(m_handle, 10), 1);
    ASSERT_EQ(Quorix_SetContrast(m_handle, -5), 1);
    int32_t ok = 0;
    {
        ImageDialog dialog(Context(), kEnglish);
        EXPECT_EQ(Get(dialog, ImageDialog::kBrightness.edit).text, "10");
        ASSERT_TRUE(dialog.Scroll(ImageDialog::kBrightness.trackbar, 200));
        EXPECT_EQ(Get(dialog, ImageDialog::kBrightness.edit).text, "200");
        ASSERT_TRUE(dialog.EditText(ImageDialog::kContrast.edit, "-60"));
        EXPECT_EQ(Get(dialog, ImageDialog::kContrast.trackbar).position, -60);
        EXPECT_EQ(Quorix_GetBrightness(m_handle, &ok), 200);
        EXPECT_EQ(Quorix_GetContrast(m_handle, &ok), -60);
        dialog.Escape();
        EXPECT_EQ(dialog.Result(), DialogModel::kCancel);
        EXPECT_EQ(dialog.Finish(), 1);
    }
    EXPECT_EQ(Quorix_GetBrightness(m_handle, &ok), 10);
    EXPECT_EQ(Quorix_GetContrast(m_handle, &ok), -5);
    {
        ImageDialog dialog(Context(), kEnglish);
        ASSERT_TRUE(dialog.Scroll(ImageDialog::kBrightness.trackbar, -30));
        ASSERT_TRUE(dialog.Click(DialogModel::kIdOk));
        dialog.Finish();
    }
    EXPECT_EQ(Quorix_GetBrightness(m_handle, &ok), -30);
}

struct ColourTypeCase {
    int32_t bits;
    bool monochrome;
};

class ImageDialogPages : public DialogModels,
                         public ::testing::WithParamInterface<ColourTypeCase> {};

// Monochrome types (8, 16 bits) get the gray-filter page and no colour controls; colour types
// one page with everything enabled. Default gives the neutral values of the settings store's
// table (gains 100, gamma 100, Bayer mode 3, gray gains and offsets 128).
TEST_P(ImageDialogPages, PagesEnabledControlsAndDefault) {
    const ColourTypeCase& c = GetParam();
    ASSERT_EQ(Quorix_SetColorMode(m_handle, c.bits), 1);
    ASSERT_EQ(Quorix_SetFilterValue(m_handle, QUORIX_VALUE_GAMMA, 150), 1);
    ASSERT_EQ(Quorix_SetFilterValue(m_handle, QUORIX_VALUE_BAYER_MODE, 0), 1);
    ASSERT_EQ(Quorix_SetFilterValue(m_handle, QUORIX_VALUE_GRAY_OFFSET_G2, -7), 1);
    ImageDialog dialog(Context(), kEnglish);
    const Control& tabs = Get(dialog, DialogModel::kIdTab);
    const std::vector<std::string> expected =
        c.monochrome ? std::vector<std::string>{"Image Filter", "Gray Filter"}
                     : std::vector<std::string>{"Image Filter"};
    EXPECT_EQ(tabs.items, expected);
    EXPECT_EQ(Get(dialog, ImageDialog::kHue.trackbar).enabled, !c.monochrome);
    EXPECT_EQ(Get(dialog, ImageDialog::kHue.edit).enabled, !c.monochrome);
    EXPECT_EQ(Get(dialog, ImageDialog::kGainRed.trackbar).enabled, !c.monochrome);
    EXPECT_EQ(Get(dialog, ImageDialog::kIdBayerMode0).enabled, !c.monochrome);
    EXPECT_EQ(Get(dialog, ImageDialog::kIdAutoAllFrames).enabled, !c.monochrome);
    EXPECT_TRUE(Get(dialog, ImageDialog::kGamma.trackbar).enabled);
    EXPECT_EQ(dialog.Scroll(ImageDialog::kHue.trackbar, 90), !c.monochrome);
    EXPECT_TRUE(Get(dialog, ImageDialog::kIdBayerMode0).checked);

    // A view redraws what the listener names: Default must name what it changed.
    std::vector<int32_t> changed;
    dialog.SetListener([&](const Control& control) { changed.push_back(control.id); });
    ASSERT_TRUE(dialog.Click(DialogModel::kIdDefault));
    for (const int32_t id : {ImageDialog::kGamma.trackbar, ImageDialog::kGamma.edit,
                             ImageDialog::kGamma.upDown, ImageDialog::kIdBayerMode0 + 3}) {
        EXPECT_NE(std::find(changed.begin(), changed.end(), id), changed.end()) << id;
    }
    const ImageValues& values = Context().Images();
    EXPECT_EQ(values.gamma, 100);
    EXPECT_EQ(values.bayerGainRed, 100);
    EXPECT_EQ(values.bayerMode, 3);
    EXPECT_EQ(values.grayOffset[2], c.monochrome ? 128 : -7);
    EXPECT_EQ(Get(dialog, ImageDialog::kGamma.edit).text, "100");
    EXPECT_TRUE(Get(dialog, ImageDialog::kIdBayerMode0 + 3).checked);
    if (c.monochrome) {
        // The gray page shows the same Bayer mode and its own controls once chosen.
        ASSERT_TRUE(dialog.Select(DialogModel::kIdTab, ImageDialog::kGrayPage));
        EXPECT_TRUE(Get(dialog, ImageDialog::kIdBayerMode0 + 3).checked);
        EXPECT_EQ(Get(dialog, ImageDialog::kGrayTrios[6].edit).text, "128");
        ASSERT_TRUE(dialog.Check(ImageDialog::kIdGrayMode0 + 1, true));
        EXPECT_EQ(values.grayMode, 1);
        // Gray gains run from 0 to 255 (128 = x1.0): a larger number typed counts as 255.
        ASSERT_TRUE(dialog.EditText(ImageDialog::kGrayTrios[0].edit, "300"));
        EXPECT_EQ(values.grayGain[0], 255);
    }
}

INSTANTIATE_TEST_SUITE_P(ColourTypes, ImageDialogPages,
                         ::testing::Values(ColourTypeCase{8, true}, ColourTypeCase{16, true},
                                           ColourTypeCase{24, false}),
                         [](const ::testing::TestParamInfo<ColourTypeCase>& info) {
                             return "Bits" + std::to_string(info.param.bits);
                         });

// "Once" measures the Bayer gains on the next frame only: a camera casting red down to 0.6 gets
// a red gain near 100 / 0.6 and the automatic gains are off again afterwards. Catches a one-shot
// that stays on and keeps overwriting the gains.
TEST(ImageDialogWhiteBalance, OnceMeasuresOneFrameAndSwitchesOff) {
    sim::CameraConfig config;
    config.serialNumber = "QX252-001601";
    config.asFastAsPossible = true;
    config.imperfections.castRed = 0.6;
    const auto camera = sim::AttachCamera(config);
    test::ScopedSectionName section;
    const QuorixHandle handle = Quorix_Initialize(nullptr);
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(Quorix_SetColorMode(handle, 24), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, 0, 1024, 1536, 0, 256), 1);
    {
        ImageDialog dialog(*SdkRegistry().Lookup(handle), kEnglish);
        ASSERT_TRUE(dialog.Click(ImageDialog::kIdAutoOnce));
        std::vector<uint8_t> picture(1024 * 3 * 256);
        ASSERT_EQ(Quorix_SnapShot(handle, picture.data(), static_cast<uint32_t>(picture.size()), 1),
                  1);
        ASSERT_TRUE(dialog.Click(DialogModel::kIdOk));
        dialog.Finish();
    }
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetBayerGainAuto(handle, &ok), 0);
    EXPECT_NEAR(Quorix_GetBayerGainRed(handle, &ok), 100 / 0.6, 100 / 0.6 * 0.1);
    Quorix_Release(handle);
    sim::DetachAllCameras();
}

// A brightness of -255 set in the dialog while the preview runs turns the delivered frames black
// (every value x 0); Cancel brings the picture back. Catches a dialog that changes a copy the
// frame routine never reads.
TEST_F(DialogModels, ImageDialogChangesReachThePreviewFrames) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 0, 256, 1536, 0, 64), 1);
    ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
    std::vector<uint8_t> picture(256 * 64);
    QuorixWindow window = Quorix_CreateMessageWindow();
    ASSERT_NE(window, nullptr);
    const auto start = [&] {
        return Quorix_CallBackPreview(m_handle, window, picture.data(),
                                      static_cast<uint32_t>(picture.size()), 1);
    };
    // Two frames on (a frame in the works keeps the values it started with), the preview is
    // stopped so that the worker no longer writes the picture, and its brightest value read.
    const auto brightestAfterTwoFrames = [&] {
        int frames = 0;
        QuorixMessage message;
        while (frames < 2 && Quorix_GetWindowMessage(window, &message, 5000) == 1) {
            frames += message.message == QUORIX_MSG_FRAME && message.wParam != 0 ? 1 : 0;
        }
        EXPECT_EQ(frames, 2) << "the preview stopped delivering";
        EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
        while (Quorix_GetWindowMessage(window, &message, 0) == 1) {
        }
        return *std::max_element(picture.begin(), picture.end());
    };
    ASSERT_EQ(start(), 1);
    EXPECT_GT(brightestAfterTwoFrames(), 100);
    ASSERT_EQ(start(), 1);
    {
        ImageDialog dialog(Context(), kEnglish);
        ASSERT_TRUE(dialog.Scroll(ImageDialog::kBrightness.trackbar, -255));
        EXPECT_EQ(brightestAfterTwoFrames(), 0);
        dialog.Escape();
    }
    ASSERT_EQ(start(), 1);
    EXPECT_GT(brightestAfterTwoFrames(), 100);
    Quorix_DestroyMessageWindow(window);
}

// --- Values the frames change while a dialog is open ----------------------------------------

// A camera whose red light is cast down to 0.6, previewing into a message window.
class DialogFrameChanges : public DialogModels {
protected:
    void SetUp() override {
        sim::CameraConfig config;
        config.serialNumber = "QX252-001602";
        config.asFastAsPossible = true;
        config.imperfections.castRed = 0.6;
        m_camera = Attach(config);
        m_handle = Initialize();
        ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 0, 1024, 1536, 0, 256), 1);
        ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
        m_window = Quorix_CreateMessageWindow();
        ASSERT_NE(m_window, nullptr);
    }
    void TearDown() override {
        Quorix_DestroyMessageWindow(m_window);
        DialogModels::TearDown();
    }
    // Previews `frames` frames on the worker thread, then stops, so the values hold still.
    void PreviewFrames(int frames) {
        ASSERT_EQ(Quorix_CallBackPreview(m_handle, m_window, nullptr, 0, 1), 1)
            << Quorix_GetLastError(m_handle);
        int delivered = 0;
        QuorixMessage message;
        while (delivered < frames && Quorix_GetWindowMessage(m_window, &message, 5000) == 1) {
            delivered += message.message == QUORIX_MSG_FRAME && message.wParam != 0 ? 1 : 0;
        }
        EXPECT_EQ(delivered, frames) << "the preview stopped delivering";
        EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
        while (Quorix_GetWindowMessage(m_window, &message, 0) == 1) {
        }
    }
    // The trio shows `value` in its edit box and, within its range, on its trackbar.
    static void ExpectShows(const DialogModel& dialog, const dialogs::Trio& trio, int32_t value) {
        EXPECT_EQ(Get(dialog, trio.edit).text, std::to_string(value)) << trio.trackbar;
        const Control& bar = Get(dialog, trio.trackbar);
        EXPECT_EQ(bar.position, std::clamp(value, bar.minimum, bar.maximum)) << trio.trackbar;
    }

    QuorixWindow m_window = nullptr;
};

// "Once" and "All frames" of the white balance: the red gain the frames measure (near
// 100 / 0.6) reaches the open dialog's trackbar and edit box, also after the user moved it away.
// Catches a dialog that keeps showing the gains it opened with while the frames replace them.
TEST_F(DialogFrameChanges, ImageDialogFollowsTheWhiteBalance) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 24), 1);
    ImageDialog dialog(Context(), kEnglish);
    EXPECT_FALSE(dialog.ShowFrameChanges());
    ASSERT_TRUE(dialog.Click(ImageDialog::kIdAutoOnce));
    PreviewFrames(2);
    EXPECT_TRUE(dialog.ShowFrameChanges());
    const ImageValues& values = Context().Images();
    EXPECT_NEAR(values.bayerGainRed, 100 / 0.6, 100 / 0.6 * 0.1);
    ExpectShows(dialog, ImageDialog::kGainRed, values.bayerGainRed);
    ExpectShows(dialog, ImageDialog::kGainGreen, values.bayerGainGreen);
    ExpectShows(dialog, ImageDialog::kGainBlue, values.bayerGainBlue);

    ASSERT_TRUE(dialog.Scroll(ImageDialog::kGainRed.trackbar, 300));
    ASSERT_TRUE(dialog.Check(ImageDialog::kIdAutoAllFrames, true));
    PreviewFrames(2);
    EXPECT_TRUE(dialog.ShowFrameChanges());
    EXPECT_NEAR(values.bayerGainRed, 100 / 0.6, 100 / 0.6 * 0.1);
    ExpectShows(dialog, ImageDialog::kGainRed, values.bayerGainRed);
    EXPECT_TRUE(Get(dialog, ImageDialog::kIdAutoAllFrames).checked);
    dialog.Escape();
}

// The gray page's "Once" on an 8-bit mosaic: the gains measured from the next frame replace the
// 128 the page showed. Catches the gray gains left at their old value in the dialog.
TEST_F(DialogFrameChanges, ImageDialogFollowsTheMeasuredGrayGains) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    ASSERT_EQ(Quorix_SetFilterValue(m_handle, QUORIX_VALUE_GRAY_MODE, 1), 1);
    ImageDialog dialog(Context(), kEnglish);
    ASSERT_TRUE(dialog.Select(DialogModel::kIdTab, ImageDialog::kGrayPage));
    EXPECT_EQ(Get(dialog, ImageDialog::kGrayTrios[0].edit).text, "128");
    ASSERT_TRUE(dialog.Click(ImageDialog::kIdAutoOnce));
    PreviewFrames(2);
    EXPECT_TRUE(dialog.ShowFrameChanges());
    const ImageValues& values = Context().Images();
    EXPECT_NE(values.grayGain, (std::array<int32_t, 4>{128, 128, 128, 128}));
    for (size_t i = 0; i < values.grayGain.size(); ++i) {
        ExpectShows(dialog, ImageDialog::kGrayTrios[i], values.grayGain[i]);
    }
    dialog.Escape();
}

// Automatic exposure on dim frames lengthens the exposure step by step; the open analog dialog
// shows the exposure the camera now has, with its millisecond text. Catches the exposure trio
// left at the value the dialog opened with.
TEST_F(DialogFrameChanges, AnalogDialogFollowsTheAutomaticExposure) {
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    // A dim, even target: every region of the frame is far below the middle grey.
    sim::Imperfections dim;
    dim.flatTarget = 160;
    m_camera->SetImperfections(dim);
    AnalogDialog dialog(Context(), kEnglish);
    const int32_t before = Context().Camera().exposure;
    ASSERT_TRUE(dialog.Check(AnalogDialog::kIdAutoExposure, true));
    PreviewFrames(3);
    EXPECT_TRUE(dialog.ShowFrameChanges());
    const int32_t exposure = Context().Camera().exposure;
    EXPECT_GT(exposure, before);
    ExpectShows(dialog, AnalogDialog::kExposure, exposure);
    char milliseconds[32];
    std::snprintf(milliseconds, sizeof milliseconds, "=%.2fms", exposure / 10.0);
    EXPECT_EQ(Get(dialog, AnalogDialog::kIdExposureMs).text, milliseconds);
    dialog.Escape();
}

// --- Analog dialog -----------------------------------------------------------------------------

// Gain and vertical mirror changed in the dialog reach the sensor at once; Cancel sends the
// values from before to the camera again and restores them in the context. Default sends the
// head's default gain. Catches a restore that fixes the context but leaves the camera changed.
TEST_F(DialogModels, AnalogDialogSendsLiveAndCancelSendsTheKeptValuesBack) {
    CQuorixU3R5Base& engine = *Context().Engine();
    ASSERT_EQ(Quorix_SetGlobalGain(m_handle, engine.GetGainDefault() + 40), 1);
    const std::optional<uint16_t> gainBefore = LastWrite(*m_camera, test::kGainLow);
    ASSERT_TRUE(gainBefore.has_value());
    int32_t ok = 0;
    const int32_t gain = Quorix_GetGlobalGain(m_handle, &ok);
    {
        AnalogDialog dialog(Context(), kEnglish);
        EXPECT_EQ(Get(dialog, AnalogDialog::kGlobalGain.edit).text, std::to_string(gain));
        const Control& bar = Get(dialog, AnalogDialog::kGlobalGain.trackbar);
        EXPECT_EQ(bar.minimum, engine.GetGainMin());
        EXPECT_EQ(bar.maximum, engine.GetGainMax());
        EXPECT_EQ(bar.tickFrequency, (engine.GetGainMax() - engine.GetGainMin()) / 8);
        ASSERT_TRUE(dialog.Scroll(AnalogDialog::kGlobalGain.trackbar, engine.GetGainMin()));
        EXPECT_NE(LastWrite(*m_camera, test::kGainLow), gainBefore);
        ASSERT_TRUE(dialog.Check(AnalogDialog::kIdMirrorV, true));
        EXPECT_EQ(LastWrite(*m_camera, test::kMirror).value_or(0) & 1, 1);
        dialog.Escape();
        dialog.Finish();
    }
    EXPECT_EQ(LastWrite(*m_camera, test::kGainLow), gainBefore);
    EXPECT_EQ(LastWrite(*m_camera, test::kMirror).value_or(1) & 1, 0);
    EXPECT_EQ(Quorix_GetGlobalGain(m_handle, &ok), gain);
    EXPECT_EQ(Context().Camera().globalGain, gain);
    EXPECT_EQ(Context().Camera().mirrorV, 0);
    {
        AnalogDialog dialog(Context(), kEnglish);
        ASSERT_TRUE(dialog.Click(DialogModel::kIdDefault));
        EXPECT_EQ(Get(dialog, AnalogDialog::kGlobalGain.edit).text,
                  std::to_string(engine.GetGainDefault()));
        ASSERT_TRUE(dialog.Click(DialogModel::kIdOk));
        dialog.Finish();
    }
    EXPECT_EQ(Quorix_GetGlobalGain(m_handle, &ok), engine.GetGainDefault());
    EXPECT_EQ(Context().Camera().exposure, engine.GetExposureTimeDefault());
}

// A head that takes its exposure in seconds, from 0.1 ms to 2 s, at 0.0125 s now.
class SecondsEngine : public test::FakeEngine {
public:
    double seconds = 0.0125;
    std::vector<double> sent;

    int IsExposureTimeExSupported() override { return 1; }
    int GetExposureTimeExMin(double* s) override { return *s = 0.0001, 1; }
    int GetExposureTimeExMax(double* s) override { return *s = 2.0, 1; }
    int GetExposureTimeExDefault(double* s) override { return *s = 0.01, 1; }
    int GetExposureTimeEx(double* s) override { return *s = seconds, 1; }
    int SetExposureTimeEx(double s) override {
        sent.push_back(s);
        seconds = s;
        return 1;
    }
    int32_t GetExposureTime() override { return static_cast<int32_t>(seconds * 10000.0); }
};

// The exposure in seconds: the unit list spans the units of the head's limits, the value is
// shown in its own unit with three decimals, another unit re-displays it, and a number typed in
// a unit reaches the head in seconds (and the integer exposure follows). Cancel sends the old
// seconds back.
TEST(AnalogDialogSeconds, UnitsFormatsAndTypedValues) {
    SecondsEngine* engine = nullptr;
    CQuorix context([&] {
        auto made = std::make_unique<SecondsEngine>();
        engine = made.get();
        return made;
    });
    ASSERT_EQ(context.Initialize(0), 1);
    ASSERT_NE(engine, nullptr);
    for (const Language language : {Language::kEnglish, Language::kJapanese}) {
        AnalogDialog dialog(context, language);
        const Control& units = *dialog.Find(AnalogDialog::kIdUnit);
        EXPECT_EQ(units.items, (std::vector<std::string>{"\xCE\xBCs", "ms", "sec"}));
        EXPECT_EQ(units.selection, 1);
        EXPECT_EQ(dialog.Find(AnalogDialog::kIdSeconds)->text, "12.500");
        EXPECT_EQ(dialog.Find(AnalogDialog::kIdRange)->text, "range: 100\xCE\xBCs - 2sec");
        EXPECT_FALSE(dialog.Find(AnalogDialog::kExposure.trackbar)->visible);
        EXPECT_FALSE(dialog.Find(AnalogDialog::kIdExposureMs)->visible);
    }
    AnalogDialog dialog(context, kEnglish);
    ASSERT_TRUE(dialog.Select(AnalogDialog::kIdUnit, 0));
    EXPECT_EQ(dialog.Find(AnalogDialog::kIdSeconds)->text, "12500");
    ASSERT_TRUE(dialog.EditText(AnalogDialog::kIdSeconds, "250"));
    ASSERT_FALSE(engine->sent.empty());
    EXPECT_DOUBLE_EQ(engine->sent.back(), 0.00025);
    EXPECT_DOUBLE_EQ(context.Camera().exposureSeconds, 0.00025);
    EXPECT_EQ(context.Camera().exposure, 2);
    EXPECT_EQ(dialog.Find(AnalogDialog::kExposure.edit)->text, "2");
    // A value of the seconds' classes that needs six decimals, and one with none.
    EXPECT_EQ(dialogs::FormatExposureNumber(7.00025), "7.000250");
    EXPECT_EQ(dialogs::FormatExposureNumber(0.003 * 1000.0), "3");
    dialog.Escape();
    dialog.Finish();
    EXPECT_DOUBLE_EQ(engine->sent.back(), 0.0125);
    EXPECT_DOUBLE_EQ(context.Camera().exposureSeconds, 0.0125);
}

// A monochrome head with a black level and an exposure in seconds: the analog page of the heads
// without colour gains, with every control it can show.
class MonochromeSecondsEngine : public SecondsEngine {
public:
    int SupportsOutputColor() override { return 0; }
    int IsBlackLevelSupported() override { return 1; }
};

// Every text the page shows appears once: the black level's and the seconds' static labels are
// their controls' labels, not a second copy beside them. Catches "&Black Level" and "Exposure
// time" shown twice.
TEST(AnalogDialogLayout, EachTextOfThePageAppearsOnce) {
    CQuorix context([] { return std::make_unique<MonochromeSecondsEngine>(); });
    ASSERT_EQ(context.Initialize(0), 1);
    for (const Language language : {Language::kEnglish, Language::kJapanese}) {
        AnalogDialog dialog(context, language);
        ASSERT_FALSE(dialog.ColourPage());
        // What a view shows: texts, and labels except a trio's edit box's (its trackbar's).
        std::vector<std::string> texts;
        const std::vector<Control>& controls = dialog.Controls();
        for (const Control& control : controls) {
            const bool trioEdit =
                std::any_of(controls.begin(), controls.end(), [&](const Control& c) {
                    return c.kind == ControlKind::kUpDown && c.buddy == control.id;
                });
            for (const std::string* text : {&control.text, &control.label}) {
                if (control.visible && !text->empty() && !trioEdit) {
                    texts.push_back(*text);
                }
            }
        }
        for (const char* shown : {"&Black Level", "Exposure time", "露光時間"}) {
            EXPECT_LE(std::count(texts.begin(), texts.end(), shown), 1) << shown;
        }
    }
}

// --- Camera dialog -----------------------------------------------------------------------------

// The clock list shows the high-speed entry, disabled, whatever "Clock" holds; the texts follow
// the language.
TEST_F(DialogModels, CameraDialogClockListAndLanguages) {
    for (const uint32_t clock : {0u, 1u}) {
        platform::SettingsStore::CurrentUser().Update([&](platform::SettingsTree& tree) {
            tree.SetDword(test::CameraKeyPath(0), "Clock", clock);
            return true;
        });
        for (const Language language : {Language::kEnglish, Language::kJapanese}) {
            const bool japanese = language == Language::kJapanese;
            const auto opened =
                dialogs::OpenDialog(dialogs::DialogKind::kCamera, Context(), language);
            ASSERT_NE(opened, nullptr);
            const DialogModel& dialog = *opened;
            const Control& list = Get(dialog, CameraDialog::kIdClock);
            EXPECT_EQ(list.selection, 2);
            EXPECT_FALSE(list.enabled);
            EXPECT_EQ(list.items[2], japanese ? "高速(54MHz)" : "High(54MHz)");
            EXPECT_EQ(list.items[0], japanese ? "標準(24MHz)" : "Nomal(24MHz)");
            EXPECT_EQ(Get(dialog, DialogModel::kIdTab).items[0],
                      japanese ? "ストリーム形式" : "Stream Format");
            EXPECT_EQ(Get(dialog, CameraDialog::kIdSize).items.back(),
                      japanese ? "カスタム" : "Custom");
            EXPECT_EQ(Get(dialog, CameraDialog::kIdColour).items[1],
                      japanese ? "モノクロ 16bit *" : "Monochrome 16bit *");
            EXPECT_FALSE(Get(dialog, CameraDialog::kIdApply).enabled);
        }
    }
}

// "1/2 Skip" needs the whole sensor: without a 2048 x 1536 preset at 0, 0 one is added and
// chosen, with one present that one is chosen; the geometry is disabled until "1/1".
TEST_F(DialogModels, CameraDialogHalfSkipChoosesOrAddsTheWholeSensor) {
    StorePreset(0, {2048, 1536, 1024, 768, 512, 384, 4});
    for (const bool second : {false, true}) {
        CameraDialog dialog(Context(), kEnglish);
        EXPECT_EQ(Get(dialog, CameraDialog::kIdGeometry[2]).text, second ? "2048" : "1024");
        ASSERT_TRUE(dialog.Select(CameraDialog::kIdSubSample, 1));
        const Control& sizes = Get(dialog, CameraDialog::kIdSize);
        EXPECT_EQ(sizes.items, (std::vector<std::string>{"1024 x 768", "2048 x 1536", "Custom"}));
        EXPECT_EQ(sizes.selection, 1);
        EXPECT_FALSE(sizes.enabled);
        const char* const whole[4] = {"2048", "1536", "0", "0"};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(Get(dialog, CameraDialog::kIdGeometry[i + 2]).text, whole[i]);
            EXPECT_FALSE(Get(dialog, CameraDialog::kIdGeometry[i + 2]).enabled);
        }
        EXPECT_TRUE(Get(dialog, CameraDialog::kIdApply).enabled);
        ASSERT_TRUE(dialog.Select(CameraDialog::kIdSubSample, 0));
        EXPECT_TRUE(Get(dialog, CameraDialog::kIdGeometry[2]).enabled);
        EXPECT_TRUE(Get(dialog, CameraDialog::kIdSize).enabled);
        // The first round saves the added preset; the second finds it.
        ASSERT_TRUE(dialog.Click(second ? DialogModel::kIdCancel : CameraDialog::kIdApply));
        EXPECT_EQ(dialog.Result(), second ? DialogModel::kCancel : DialogModel::kOpen);
    }
}

// The IMX252 reads windows whose width is a multiple of 16, height of 4 and starts of 2, inside
// its 2048 x 1536 pixels. OK and Apply refuse any other window, naming the rule it breaks, and
// save nothing; a window on the steps is taken. Catches a width of 1000 saved, which would fail
// the next snapshot and stop a running preview from restarting.
TEST_F(DialogModels, CameraDialogRefusesWindowsTheSensorCannotRead) {
    StorePreset(0, CameraDialog::kDefaultPreset);
    struct Case {
        int32_t edit;  // index into kIdGeometry
        const char* value;
        const char* rule;
    };
    const Case refused[] = {
        {2, "1000", "multiple of 16"},
        {3, "766", "multiple of 4"},
        {4, "3", "multiple of 2"},
        {5, "7", "multiple of 2"},
        {4, "1040", "within the sensor's 2048 x 1536"},
        {3, "0", "within the sensor's"},
    };
    CameraDialog dialog(Context(), kEnglish);
    EXPECT_FALSE(Get(dialog, CameraDialog::kIdWindowRule).visible);
    for (const Case& c : refused) {
        ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[2], "1024"));
        ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[3], "768"));
        ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[4], "0"));
        ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[5], "0"));
        ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[c.edit], c.value));
        for (const int32_t button : {CameraDialog::kIdApply, DialogModel::kIdOk}) {
            ASSERT_TRUE(dialog.Click(button));
            EXPECT_EQ(dialog.Result(), DialogModel::kOpen) << c.value;
            const Control& rule = Get(dialog, CameraDialog::kIdWindowRule);
            EXPECT_TRUE(rule.visible) << c.value;
            EXPECT_NE(rule.text.find(c.rule), std::string::npos) << rule.text;
        }
        EXPECT_EQ(test::StoredSettings().Dword(test::CameraKeyPath(0, "Size_00"), "EH"), 2048u);
    }
    ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[2], "1008"));
    ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[3], "764"));
    ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[4], "1040"));
    ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[5], "6"));
    ASSERT_TRUE(dialog.Click(DialogModel::kIdOk));
    EXPECT_EQ(dialog.Result(), DialogModel::kOk);
    EXPECT_FALSE(Get(dialog, CameraDialog::kIdWindowRule).visible);
    dialog.Finish();
    std::vector<uint8_t> picture(1008 * 764 * 3);
    EXPECT_EQ(Quorix_SnapShot(m_handle, picture.data(), static_cast<uint32_t>(picture.size()), 1),
              1)
        << Quorix_GetLastError(m_handle);
}

// OK with "Custom" appends the edited window as a new preset and saves it with the colour type,
// sub-sampling, wait time and clock under the camera's key; the context then runs on them. The
// preview that ran before is stopped while the dialog is open and runs again afterwards.
TEST_F(DialogModels, CameraDialogOkSavesAndTheContextReloads) {
    ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
    ASSERT_EQ(Quorix_StartPreview(m_handle), 1);
    StorePreset(0, CameraDialog::kDefaultPreset);
    {
        CameraDialog dialog(Context(), kEnglish);
        EXPECT_EQ(Context().AcquisitionState(), 0);
        const Control& colours = Get(dialog, CameraDialog::kIdColour);
        ASSERT_EQ(colours.items[0], "Monochrome 8bit");
        ASSERT_TRUE(dialog.Select(CameraDialog::kIdColour, 0));
        ASSERT_TRUE(dialog.Select(
            CameraDialog::kIdSize,
            static_cast<int32_t>(Get(dialog, CameraDialog::kIdSize).items.size()) - 1));
        const char* const window[6] = {"2048", "1536", "1024", "768", "512", "384"};
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(dialog.EditText(CameraDialog::kIdGeometry[i], window[i]));
        }
        ASSERT_TRUE(dialog.EditText(CameraDialog::kIdWaitTime, "20"));
        ASSERT_TRUE(dialog.Click(DialogModel::kIdOk));
        dialog.Finish();
    }
    EXPECT_EQ(Context().AcquisitionState(), 1);
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);

    const platform::SettingsTree tree = test::StoredSettings();
    const std::string key = test::CameraKeyPath(0);
    const std::string added = test::CameraKeyPath(0, "Size_01");
    const uint32_t expected[7] = {2048, 1536, 1024, 768, 512, 384, 4};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(tree.Dword(added, kSizePresetValues[i]), expected[i]) << kSizePresetValues[i];
    }
    EXPECT_EQ(tree.Dword(test::CameraKeyPath(0, "Size_00"), "EH"), 2048u);
    EXPECT_EQ(tree.Dword(key, "Size"), 1u);
    EXPECT_EQ(tree.Dword(key, "Color"), 0u);
    EXPECT_EQ(tree.Dword(key, "SubSample"), 0u);
    EXPECT_EQ(tree.Dword(key, "WaitTime"), 20u);
    EXPECT_EQ(tree.Dword(key, "Clock"), 2u);

    int32_t total[2] = {};
    int32_t start[2] = {};
    int32_t size[2] = {};
    ASSERT_EQ(Quorix_GetCaptureWindowEx(m_handle, &total[0], &start[0], &size[0], &total[1],
                                        &start[1], &size[1]),
              1);
    EXPECT_EQ(size[0], 1024);
    EXPECT_EQ(size[1], 768);
    EXPECT_EQ(start[0], 512);
    EXPECT_EQ(start[1], 384);
    EXPECT_EQ(Quorix_GetColorMode(m_handle), 8);
    EXPECT_EQ(Quorix_GetWaitTime(m_handle), 20);
}

}  // namespace
}  // namespace quorix
