#include "dialogs/image_dialog.h"

#include <algorithm>
#include <iterator>

namespace quorix::dialogs {

namespace {

// A numeric setting of the dialog: its trio, label, range, tick frequency and value, and whether
// it means anything for monochrome pictures.
struct Setting {
    Trio trio;
    const char* english;
    const char* japanese;
    int32_t minimum;
    int32_t maximum;
    int32_t tickFrequency;
    int32_t& (*value)(ImageValues&);
    bool monochrome;
};

constexpr Setting kImageSettings[] = {
    {ImageDialog::kBrightness, "Brightness", "明るさ", -255, 255, 64,
     [](ImageValues& v) -> int32_t& { return v.brightness; }, true},
    {ImageDialog::kContrast, "Contrast", "コントラスト", -127, 127, 32,
     [](ImageValues& v) -> int32_t& { return v.contrast; }, true},
    {ImageDialog::kHue, "Hue", "色相", -360, 360, 90,
     [](ImageValues& v) -> int32_t& { return v.hue; }, false},
    {ImageDialog::kSaturation, "Saturation", "彩度", -255, 255, 64,
     [](ImageValues& v) -> int32_t& { return v.saturation; }, false},
    {ImageDialog::kSharpness, "Sharpness", "シャープネス", 0, 30, 4,
     [](ImageValues& v) -> int32_t& { return v.sharpness; }, true},
    {ImageDialog::kGainRed, "R Gain", "Rゲイン", 0, 400, 32,
     [](ImageValues& v) -> int32_t& { return v.bayerGainRed; }, false},
    {ImageDialog::kGainGreen, "G Gain", "Gゲイン", 0, 400, 32,
     [](ImageValues& v) -> int32_t& { return v.bayerGainGreen; }, false},
    {ImageDialog::kGainBlue, "B Gain", "Bゲイン", 0, 400, 32,
     [](ImageValues& v) -> int32_t& { return v.bayerGainBlue; }, false},
    {ImageDialog::kGamma, "Gamma", "ガンマ", 0, 200, 32,
     [](ImageValues& v) -> int32_t& { return v.gamma; }, true},
};

// The gray gains have one range wherever they are set or stored: 0 to 255, 128 being x1.0.
constexpr Setting kGraySettings[] = {
    {ImageDialog::kGrayTrios[0], "Gain R", "ゲイン R", 0, 255, 32,
     [](ImageValues& v) -> int32_t& { return v.grayGain[0]; }, true},
    {ImageDialog::kGrayTrios[1], "Gain G1", "ゲイン G1", 0, 255, 32,
     [](ImageValues& v) -> int32_t& { return v.grayGain[1]; }, true},
    {ImageDialog::kGrayTrios[2], "Gain G2", "ゲイン G2", 0, 255, 32,
     [](ImageValues& v) -> int32_t& { return v.grayGain[2]; }, true},
    {ImageDialog::kGrayTrios[3], "Gain B", "ゲイン B", 0, 255, 32,
     [](ImageValues& v) -> int32_t& { return v.grayGain[3]; }, true},
    {ImageDialog::kGrayTrios[4], "Offset R", "オフセット R", -255, 255, 32,
     [](ImageValues& v) -> int32_t& { return v.grayOffset[0]; }, true},
    {ImageDialog::kGrayTrios[5], "Offset G1", "オフセット G1", -255, 255, 32,
     [](ImageValues& v) -> int32_t& { return v.grayOffset[1]; }, true},
    {ImageDialog::kGrayTrios[6], "Offset G2", "オフセット G2", -255, 255, 32,
     [](ImageValues& v) -> int32_t& { return v.grayOffset[2]; }, true},
    {ImageDialog::kGrayTrios[7], "Offset B", "オフセット B", -255, 255, 32,
     [](ImageValues& v) -> int32_t& { return v.grayOffset[3]; }, true},
};

const Setting* SettingOf(int32_t page, const Trio& trio) {
    const auto find = [&](const auto& table) -> const Setting* {
        for (const Setting& setting : table) {
            if (setting.trio.trackbar == trio.trackbar) {
                return &setting;
            }
        }
        return nullptr;
    };
    return page == ImageDialog::kImagePage ? find(kImageSettings) : find(kGraySettings);
}

constexpr int32_t kBayerModes = 4;
constexpr int32_t kGrayModes = 3;

}  // namespace

ImageDialog::ImageDialog(CQuorix& context, platform::Language language)
    : DialogModel(language, "Property"), m_context(context) {
    WatchFrameChanges(m_context.FrameValueChanges());
    m_context.UpdateImageValues([&](ImageValues& values) { m_kept = values; });
    // The 8- and 16-bit types are monochrome pictures of the mosaic: no colour to adjust, but
    // the gray filter's per-site gains and offsets.
    const int32_t bits = m_context.GetColorMode();
    const bool monochrome =
        bits == CQuorix::kBitsPerColourType[0] || bits == CQuorix::kBitsPerColourType[1];
    m_grayPage = monochrome;

    std::vector<std::string> tabs = {"Image Filter"};
    if (m_grayPage) {
        tabs.emplace_back("Gray Filter");
    }
    AddTabs(std::move(tabs));
    AddButton(Control::kFrame, kIdOk, "OK");
    AddButton(Control::kFrame, kIdCancel, Text("Cancel", "キャンセル"));
    AddButton(Control::kFrame, kIdDefault, "Default(&D)");

    const auto addBayerButtons = [&](int32_t page, bool enabled) {
        for (int32_t mode = 0; mode < kBayerModes; ++mode) {
            AddRadioButton(page, kIdBayerMode0 + mode, kIdBayerMode0,
                           Text("Bayer ", "ベイヤー ") + std::to_string(mode),
                           mode == 0 ? Text("Bayer mode", "ベイヤーモード") : "");
            SetEnabled(page, kIdBayerMode0 + mode, enabled);
        }
    };
    for (const Setting& setting : kImageSettings) {
        AddTrio(kImagePage, setting.trio, Text(setting.english, setting.japanese));
        SetUpTrio(kImagePage, setting.trio, setting.minimum, setting.maximum, 0,
                  setting.tickFrequency, !monochrome || setting.monochrome);
    }
    addBayerButtons(kImagePage, !monochrome);
    AddCheckBox(kImagePage, kIdAutoAllFrames, "All frames");
    AddButton(kImagePage, kIdAutoOnce, "Once");
    SetEnabled(kImagePage, kIdAutoAllFrames, !monochrome);
    SetEnabled(kImagePage, kIdAutoOnce, !monochrome);

    if (m_grayPage) {
        for (const Setting& setting : kGraySettings) {
            AddTrio(kGrayPage, setting.trio, Text(setting.english, setting.japanese));
            SetUpTrio(kGrayPage, setting.trio, setting.minimum, setting.maximum, 0,
                      setting.tickFrequency, true);
        }
        const char* const modes[kGrayModes][2] = {
            {"Off", "オフ"}, {"Gain / offset", "ゲイン / オフセット"}, {"Luminance", "輝度"}};
        for (int32_t mode = 0; mode < kGrayModes; ++mode) {
            AddRadioButton(kGrayPage, kIdGrayMode0 + mode, kIdGrayMode0,
                           Text(modes[mode][0], modes[mode][1]),
                           mode == 0 ? Text("Gray mode", "グレーモード") : "");
        }
        addBayerButtons(kGrayPage, true);
        AddCheckBox(kGrayPage, kIdAutoAllFrames, "All frames");
        AddButton(kGrayPage, kIdAutoOnce, "Once");
    }
    RefreshPages();
    SetReady(true);
}

ImageDialog::~ImageDialog() {
    if (!m_finished) {
        Finish();
    }
}

void ImageDialog::ShowFrameValues() {
    // The automatic white balance sets the Bayer gains (and "Once" switches itself off); the
    // gray gains are measured from a frame.
    ImageValues values;
    m_context.UpdateImageValues([&](ImageValues& stored) { values = stored; });
    FollowTrioValue(kImagePage, kGainRed, values.bayerGainRed);
    FollowTrioValue(kImagePage, kGainGreen, values.bayerGainGreen);
    FollowTrioValue(kImagePage, kGainBlue, values.bayerGainBlue);
    SetChecked(kImagePage, kIdAutoAllFrames,
               values.bayerGainAuto != 0 && values.bayerGainAutoOnce == 0);
    if (m_grayPage) {
        for (size_t i = 0; i < values.grayGain.size(); ++i) {
            FollowTrioValue(kGrayPage, kGrayTrios[i], values.grayGain[i]);
        }
        SetChecked(kGrayPage, kIdAutoAllFrames, values.grayGainAutoOnce == -1);
    }
}

void ImageDialog::RefreshPages() {
    ImageValues values;
    m_context.UpdateImageValues([&](ImageValues& stored) { values = stored; });
    for (const Setting& setting : kImageSettings) {
        ShowTrioValue(kImagePage, setting.trio, setting.value(values));
    }
    for (const int32_t page : {kImagePage, kGrayPage}) {
        for (int32_t mode = 0; mode < kBayerModes; ++mode) {
            SetChecked(page, kIdBayerMode0 + mode, values.bayerMode == mode);
        }
    }
    SetChecked(kImagePage, kIdAutoAllFrames,
               values.bayerGainAuto != 0 && values.bayerGainAutoOnce == 0);
    if (m_grayPage) {
        for (const Setting& setting : kGraySettings) {
            ShowTrioValue(kGrayPage, setting.trio, setting.value(values));
        }
        for (int32_t mode = 0; mode < kGrayModes; ++mode) {
            SetChecked(kGrayPage, kIdGrayMode0 + mode, values.grayMode == mode);
        }
        SetChecked(kGrayPage, kIdAutoAllFrames, values.grayGainAutoOnce == -1);
    }
}

void ImageDialog::OnTrio(int32_t page, const Trio& trio, int32_t value) {
    if (std::find(m_touched.begin(), m_touched.end(), trio.trackbar) == m_touched.end()) {
        m_touched.push_back(trio.trackbar);
    }
    if (const Setting* setting = SettingOf(page, trio)) {
        m_context.UpdateImageValues([&](ImageValues& values) { setting->value(values) = value; });
    }
}

void ImageDialog::OnCheck(int32_t page, int32_t id, bool checked) {
    if (id >= kIdBayerMode0 && id < kIdBayerMode0 + kBayerModes) {
        const int32_t mode = id - kIdBayerMode0;
        m_context.UpdateImageValues([&](ImageValues& values) { values.bayerMode = mode; });
        // Both pages show the one Bayer mode.
        const int32_t other = page == kImagePage ? kGrayPage : kImagePage;
        for (int32_t m = 0; m < kBayerModes; ++m) {
            SetChecked(other, kIdBayerMode0 + m, m == mode);
        }
    } else if (page == kGrayPage && id >= kIdGrayMode0 && id < kIdGrayMode0 + kGrayModes) {
        const int32_t mode = id - kIdGrayMode0;
        m_context.UpdateImageValues([&](ImageValues& values) { values.grayMode = mode; });
    } else if (id == kIdAutoAllFrames && page == kImagePage) {
        m_context.UpdateImageValues([&](ImageValues& values) {
            values.bayerGainAuto = checked ? 1 : 0;
            values.bayerGainAutoOnce = 0;
        });
    } else if (id == kIdAutoAllFrames && page == kGrayPage) {
        // -1 measures the gray gains on every frame; 1 (the "Once" button) on the next one.
        m_context.UpdateImageValues(
            [&](ImageValues& values) { values.grayGainAutoOnce = checked ? -1 : 0; });
    }
}

void ImageDialog::OnClick(int32_t page, int32_t id) {
    switch (id) {
        case kIdOk:
            ReadBack();
            Close(kOk);
            break;
        case kIdCancel:
            Close(kCancel);
            break;
        case kIdDefault:
            m_context.UpdateImageValues([&](ImageValues& values) {
                values.brightness = 0;
                values.contrast = 0;
                values.hue = 0;
                values.saturation = 0;
                values.sharpness = 0;
                values.bayerGainRed = 100;
                values.bayerGainGreen = 100;
                values.bayerGainBlue = 100;
                values.gamma = 100;
                values.bayerMode = 3;
                if (m_grayPage) {
                    values.grayGain.fill(128);
                    values.grayOffset.fill(128);
                }
            });
            RefreshPages();
            break;
        case kIdAutoOnce:
            if (page == kImagePage) {
                m_context.UpdateImageValues([&](ImageValues& values) {
                    values.bayerGainAuto = 1;
                    values.bayerGainAutoOnce = 1;
                });
                SetChecked(kImagePage, kIdAutoAllFrames, false);
            } else {
                m_context.UpdateImageValues(
                    [&](ImageValues& values) { values.grayGainAutoOnce = 1; });
                SetChecked(kGrayPage, kIdAutoAllFrames, false);
            }
            break;
        default:
            break;
    }
}

void ImageDialog::ReadBack() {
    const auto checkedMode = [&](int32_t page, int32_t first, int32_t count) {
        for (int32_t mode = 0; mode < count; ++mode) {
            const Control* radio = FindOn(page, first + mode);
            if (radio != nullptr && radio->checked) {
                return mode;
            }
        }
        return -1;
    };
    // Only what the user moved: the frames' automatic gains may have changed the others since
    // they were shown, and the context's values are then the newer ones.
    const auto touched = [&](const Trio& trio) {
        return std::find(m_touched.begin(), m_touched.end(), trio.trackbar) != m_touched.end();
    };
    m_context.UpdateImageValues([&](ImageValues& values) {
        for (const Setting& setting : kImageSettings) {
            if (touched(setting.trio)) {
                setting.value(values) = TrioValue(kImagePage, setting.trio);
            }
        }
        if (const int32_t mode = checkedMode(kImagePage, kIdBayerMode0, kBayerModes); mode >= 0) {
            values.bayerMode = mode;
        }
        if (m_grayPage) {
            for (const Setting& setting : kGraySettings) {
                if (touched(setting.trio)) {
                    setting.value(values) = TrioValue(kGrayPage, setting.trio);
                }
            }
            if (const int32_t mode = checkedMode(kGrayPage, kIdGrayMode0, kGrayModes); mode >= 0) {
                values.grayMode = mode;
            }
        }
    });
}

int ImageDialog::Finish() {
    if (!m_finished) {
        m_finished = true;
        if (Result() != kOk) {
            Close(kCancel);
            m_context.UpdateImageValues([&](ImageValues& values) { values = m_kept; });
        }
    }
    return 1;
}

}  // namespace quorix::dialogs
