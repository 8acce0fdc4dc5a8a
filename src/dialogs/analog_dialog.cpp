#include "dialogs/analog_dialog.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quorix::dialogs {

namespace {

constexpr double kUnitFactors[] = {1e9, 1e6, 1e3, 1.0};

// Scaled exposures such as 0.0003 s x 1e6 come out a hair below the whole number they stand
// for; rounding to a millionth of the unit first keeps them from being truncated one too low.
double Tidy(double number) {
    return std::round(number * 1e6) / 1e6;
}

// The tick frequency of the camera's ranges: eight steps over the range.
int32_t Ticks(int32_t minimum, int32_t maximum) {
    return (maximum - minimum) / 8;
}

// A non-negative decimal number, as typed into the seconds edit box.
std::optional<double> ParseSeconds(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    while (end != nullptr && (*end == ' ' || *end == '\t')) {
        ++end;
    }
    if (end == text.c_str() || *end != '\0' || errno != 0 || !std::isfinite(number) ||
        number < 0.0) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

ExposureUnit ClassifyExposure(double seconds) {
    if (seconds > 1.0) {
        return ExposureUnit::kSeconds;
    }
    if (seconds >= 0.001) {
        return ExposureUnit::kMilliseconds;
    }
    if (seconds >= 0.000001) {
        return ExposureUnit::kMicroseconds;
    }
    return ExposureUnit::kNanoseconds;
}

const char* UnitName(ExposureUnit unit) {
    switch (unit) {
        case ExposureUnit::kNanoseconds:
            return "ns";
        case ExposureUnit::kMicroseconds:
            return "\xCE\xBCs";  // Greek small letter mu
        case ExposureUnit::kMilliseconds:
            return "ms";
        case ExposureUnit::kSeconds:
            break;
    }
    return "sec";
}

double ScaleToUnit(double seconds, ExposureUnit unit) {
    return seconds * kUnitFactors[static_cast<int32_t>(unit)];
}

double ScaleFromUnit(double number, ExposureUnit unit) {
    return number / kUnitFactors[static_cast<int32_t>(unit)];
}

std::string FormatExposureNumber(double number) {
    number = Tidy(number);
    const double fraction = number - std::floor(number);
    char text[64];
    if (fraction >= 0.001) {
        std::snprintf(text, sizeof text, "%.3f", number);
    } else if (fraction >= 0.000001) {
        std::snprintf(text, sizeof text, "%.6f", number);
    } else {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(number));
    }
    return text;
}

AnalogDialog::AnalogDialog(CQuorix& context, platform::Language language)
    : DialogModel(language, "Property"), m_context(context), m_engine(*context.Engine()) {
    m_seconds = m_engine.IsExposureTimeExSupported() != 0;
    m_colourPage = m_engine.SupportsOutputColor() != 0;
    m_blackLevel = m_engine.IsBlackLevelSupported() != 0;
    m_cooler = m_engine.IsCoolerSupported() != 0;
    m_shortExposure = m_engine.IsShortExposureModeSupported() != 0;
    m_gainMode = m_engine.IsGainModeSupported() != 0;

    WatchFrameChanges(m_context.FrameValueChanges());
    // The camera holds what it was last given; the automatic exposure or gain may have moved it
    // since the context stored its values.
    const int32_t gain = m_engine.GetGain();
    const int32_t green1 = m_engine.GetColorGainGreen1();
    const int32_t red = m_engine.GetColorGainRed();
    const int32_t blue = m_engine.GetColorGainBlue();
    const int32_t green2 = m_engine.GetColorGainGreen2();
    const int32_t exposure = m_engine.GetExposureTime();
    double seconds = 0.0;
    if (m_seconds) {
        m_engine.GetExposureTimeEx(&seconds);
    }
    const int32_t mirrorV = m_engine.GetMirrorV();
    const int32_t mirrorH = m_engine.GetMirrorH();
    m_context.UpdateCameraValues([&](CameraValues& values) {
        values.globalGain = gain;
        values.colorGainGreen1 = green1;
        values.colorGainRed = red;
        values.colorGainBlue = blue;
        values.colorGainGreen2 = green2;
        values.exposure = exposure;
        if (m_seconds) {
            values.exposureSeconds = seconds;
        }
        values.mirrorV = mirrorV;
        values.mirrorH = mirrorH;
        m_kept = values;
    });

    AddTabs({"Analog Gain"});
    AddButton(Control::kFrame, kIdOk, "OK");
    AddButton(Control::kFrame, kIdCancel, Text("Cancel", "キャンセル"));
    AddButton(Control::kFrame, kIdDefault, "Default(&D)");

    AddTrio(kPage, kGlobalGain, Text("Gain", "ゲイン"));
    if (m_colourPage) {
        AddTrio(kPage, kColourGainGreen1, Text("Green 1", "グリーン1"));
        AddTrio(kPage, kColourGainRed, Text("Red", "レッド"));
        AddTrio(kPage, kColourGainBlue, Text("Blue", "ブルー"));
        AddTrio(kPage, kColourGainGreen2, Text("Green 2", "グリーン2"));
    }
    AddTrio(kPage, kExposure, Text("Exposure", "露光時間"));
    AddStatic(kPage, kIdExposureMs, "");
    if (!m_colourPage) {
        AddCheckBox(kPage, kIdCooler, "Peltier");
    }
    AddCheckBox(kPage, kIdMirrorV, Text("Vertical mirror", "上下反転"));
    AddCheckBox(kPage, kIdMirrorH, Text("Horizontal mirror", "左右反転"));
    AddCheckBox(kPage, kIdAutoGain, Text("Auto gain", "自動ゲイン"));
    AddCheckBox(kPage, kIdAutoExposure, Text("Auto exposure", "自動露光"));
    if (!m_colourPage) {
        // The static texts 2127 and 2134 are the labels of the black level and the seconds;
        // their controls carry none, or a view would show each label twice.
        AddStatic(kPage, kIdBlackLevelLabel, "&Black Level");
        AddTrio(kPage, kBlackLevel, "");
        AddCheckBox(kPage, kIdShortExposure, "Short exposure mode");
        AddComboBox(kPage, kIdGainMode, Text("Gain mode", "ゲインモード"));
    }
    AddStatic(kPage, kIdSecondsLabel, Text("Exposure time", "露光時間"));
    AddEdit(kPage, kIdSeconds, "");
    AddComboBox(kPage, kIdUnit, "");
    AddStatic(kPage, kIdRange, "");

    InitialisePage();
    SetReady(true);
}

AnalogDialog::~AnalogDialog() {
    if (!m_finished) {
        Finish();
    }
}

// --- Showing the values ------------------------------------------------------------------------

void AnalogDialog::InitialisePage() {
    SetUpTrio(kPage, kGlobalGain, m_engine.GetGainMin(), m_engine.GetGainMax(), 0,
              Ticks(m_engine.GetGainMin(), m_engine.GetGainMax()), true);
    const int32_t colourMin = m_engine.GetColorGainMin();
    const int32_t colourMax = m_engine.GetColorGainMax();
    for (const Trio& trio :
         {kColourGainGreen1, kColourGainRed, kColourGainBlue, kColourGainGreen2}) {
        SetUpTrio(kPage, trio, colourMin, colourMax, 0, Ticks(colourMin, colourMax), false);
    }
    const int32_t exposureMin = m_engine.GetExposureTimeMin();
    const int32_t exposureMax = m_engine.GetExposureTimeMax();
    SetUpTrio(kPage, kExposure, exposureMin, exposureMax, 0, Ticks(exposureMin, exposureMax), true);

    if (m_seconds) {
        double minimum = 0.0;
        double maximum = 0.0;
        m_engine.GetExposureTimeExMin(&minimum);
        m_engine.GetExposureTimeExMax(&maximum);
        const ExposureUnit low = ClassifyExposure(minimum);
        const ExposureUnit high = std::max(low, ClassifyExposure(maximum));
        std::vector<std::string> names;
        for (auto unit = static_cast<int32_t>(low); unit <= static_cast<int32_t>(high); ++unit) {
            m_units.push_back(static_cast<ExposureUnit>(unit));
            names.emplace_back(UnitName(m_units.back()));
        }
        SetItems(kPage, kIdUnit, std::move(names));
        const auto bound = [](double seconds) {
            const ExposureUnit unit = ClassifyExposure(seconds);
            return std::to_string(static_cast<long long>(Tidy(ScaleToUnit(seconds, unit)))) +
                   UnitName(unit);
        };
        SetText(kPage, kIdRange, "range: " + bound(minimum) + " - " + bound(maximum));
        SetTrioVisible(kPage, kExposure, false);
        SetVisible(kPage, kIdExposureMs, false);
    } else {
        for (const int32_t id : {kIdSeconds, kIdUnit, kIdRange, kIdSecondsLabel}) {
            SetVisible(kPage, id, false);
        }
    }
    if (m_blackLevel) {
        const int32_t minimum = m_engine.GetBlackLevelMin();
        const int32_t maximum = m_engine.GetBlackLevelMax();
        SetUpTrio(kPage, kBlackLevel, minimum, maximum, 0, Ticks(minimum, maximum), true);
    } else {
        SetVisible(kPage, kIdBlackLevelLabel, false);
        SetTrioVisible(kPage, kBlackLevel, false);
    }
    SetVisible(kPage, kIdCooler, m_cooler);
    SetVisible(kPage, kIdShortExposure, m_shortExposure);
    if (m_gainMode) {
        SetItems(kPage, kIdGainMode, {"High Gain", "Low Gain"});
    }
    // A head that cannot tell its gain mode answers -1: the list would show a wrong one.
    SetVisible(kPage, kIdGainMode, m_gainMode && m_engine.GetGainMode() != -1);
    RefreshPage();
}

void AnalogDialog::RefreshPage() {
    CameraValues values;
    m_context.UpdateCameraValues([&](CameraValues& stored) { values = stored; });
    ShowTrioValue(kPage, kGlobalGain, values.globalGain);
    ShowTrioValue(kPage, kColourGainGreen1, values.colorGainGreen1);
    ShowTrioValue(kPage, kColourGainRed, values.colorGainRed);
    ShowTrioValue(kPage, kColourGainBlue, values.colorGainBlue);
    ShowTrioValue(kPage, kColourGainGreen2, values.colorGainGreen2);
    ShowTrioValue(kPage, kExposure, values.exposure);
    if (m_blackLevel) {
        ShowTrioValue(kPage, kBlackLevel, values.blackLevel);
    }
    SetChecked(kPage, kIdMirrorV, values.mirrorV != 0);
    SetChecked(kPage, kIdMirrorH, values.mirrorH != 0);
    SetChecked(kPage, kIdAutoExposure, values.autoIris == 1);
    SetChecked(kPage, kIdAutoGain, values.autoIris == 2);
    SetChecked(kPage, kIdCooler, values.coolerOn != 0);
    SetChecked(kPage, kIdShortExposure, values.shortExposure != 0);
    if (const Control* list = FindOn(kPage, kIdGainMode); list != nullptr && list->visible) {
        SetSelection(kPage, kIdGainMode, m_engine.GetGainMode());
    }
    if (m_seconds) {
        ShowSeconds(values.exposureSeconds);
    }
    ShowMilliseconds();
}

void AnalogDialog::ShowFrameValues() {
    // The automatic gain sets the global and the four colour gains, the automatic exposure the
    // exposure; nothing else here changes from the frames.
    CameraValues values;
    m_context.UpdateCameraValues([&](CameraValues& stored) { values = stored; });
    FollowTrioValue(kPage, kGlobalGain, values.globalGain);
    FollowTrioValue(kPage, kColourGainGreen1, values.colorGainGreen1);
    FollowTrioValue(kPage, kColourGainRed, values.colorGainRed);
    FollowTrioValue(kPage, kColourGainBlue, values.colorGainBlue);
    FollowTrioValue(kPage, kColourGainGreen2, values.colorGainGreen2);
    const Control* exposure = FindOn(kPage, kExposure.edit);
    if (exposure == nullptr || ParseSigned(exposure->text) == values.exposure) {
        return;
    }
    ShowTrioValue(kPage, kExposure, values.exposure);
    if (m_seconds) {
        ShowSeconds(values.exposureSeconds);
    }
    ShowMilliseconds();
}

void AnalogDialog::ShowSeconds(double seconds) {
    ShowSecondsIn(seconds, ClassifyExposure(seconds));
}

void AnalogDialog::ShowSecondsIn(double seconds, ExposureUnit unit) {
    if (m_units.empty()) {
        return;
    }
    // A value outside the camera's range is shown in the nearest unit the list offers.
    unit = std::clamp(unit, m_units.front(), m_units.back());
    const auto entry = static_cast<int32_t>(unit) - static_cast<int32_t>(m_units.front());
    SetSelection(kPage, kIdUnit, entry);
    SetText(kPage, kIdSeconds, FormatExposureNumber(ScaleToUnit(seconds, unit)));
}

void AnalogDialog::ShowMilliseconds() {
    int32_t exposure = 0;
    m_context.UpdateCameraValues([&](CameraValues& values) { exposure = values.exposure; });
    char text[48];
    std::snprintf(text, sizeof text, "=%.2fms", exposure / 10.0);
    SetText(kPage, kIdExposureMs, text);
}

// --- Changes -----------------------------------------------------------------------------------

void AnalogDialog::OnTrio(int32_t /*page*/, const Trio& trio, int32_t value) {
    if (std::find(m_touched.begin(), m_touched.end(), trio.trackbar) == m_touched.end()) {
        m_touched.push_back(trio.trackbar);
    }
    const auto store = [&](int32_t CameraValues::*field) {
        m_context.UpdateCameraValues([&](CameraValues& values) { values.*field = value; });
    };
    if (trio.trackbar == kGlobalGain.trackbar) {
        store(&CameraValues::globalGain);
        m_engine.SetGain(value);
    } else if (trio.trackbar == kColourGainGreen1.trackbar) {
        store(&CameraValues::colorGainGreen1);
        m_engine.SetColorGainGreen1(value);
    } else if (trio.trackbar == kColourGainRed.trackbar) {
        store(&CameraValues::colorGainRed);
        m_engine.SetColorGainRed(value);
    } else if (trio.trackbar == kColourGainBlue.trackbar) {
        store(&CameraValues::colorGainBlue);
        m_engine.SetColorGainBlue(value);
    } else if (trio.trackbar == kColourGainGreen2.trackbar) {
        store(&CameraValues::colorGainGreen2);
        m_engine.SetColorGainGreen2(value);
    } else if (trio.trackbar == kBlackLevel.trackbar) {
        store(&CameraValues::blackLevel);
        m_engine.SetBlackLevel(value);
    } else if (trio.trackbar == kExposure.trackbar) {
        store(&CameraValues::exposure);
        m_engine.SetExposureTime(value);
        // The camera sets the nearest exposure it can make.
        const int32_t made = m_engine.GetExposureTime();
        double seconds = 0.0;
        if (m_seconds) {
            m_engine.GetExposureTimeEx(&seconds);
        }
        m_context.UpdateCameraValues([&](CameraValues& values) {
            values.exposure = made;
            if (m_seconds) {
                values.exposureSeconds = seconds;
            }
        });
        ShowMilliseconds();
        if (m_seconds) {
            ShowSeconds(seconds);
        }
    }
}

void AnalogDialog::OnEdit(int32_t /*page*/, int32_t id) {
    if (id != kIdSeconds || !m_seconds) {
        return;
    }
    const Control* list = FindOn(kPage, kIdUnit);
    const std::optional<double> number = ParseSeconds(FindOn(kPage, kIdSeconds)->text);
    if (!number || list->selection < 0) {
        return;  // nothing complete typed yet
    }
    m_secondsTyped = true;
    const double seconds = ScaleFromUnit(*number, m_units[static_cast<size_t>(list->selection)]);
    if (!m_engine.SetExposureTimeEx(seconds)) {
        return;  // refused by the camera: the values stay what the camera has
    }
    const int32_t exposure = m_engine.GetExposureTime();
    m_context.UpdateCameraValues([&](CameraValues& values) {
        values.exposureSeconds = seconds;
        values.exposure = exposure;
    });
    ShowTrioValue(kPage, kExposure, exposure);
}

void AnalogDialog::OnSelect(int32_t /*page*/, int32_t id, int32_t index) {
    if (id == kIdUnit) {
        double seconds = 0.0;
        m_context.UpdateCameraValues(
            [&](CameraValues& values) { seconds = values.exposureSeconds; });
        ShowSecondsIn(seconds, m_units[static_cast<size_t>(index)]);
    } else if (id == kIdGainMode) {
        if (m_engine.SetGainMode(index)) {
            m_context.UpdateCameraValues([&](CameraValues& values) { values.gainMode = index; });
        }
    }
}

void AnalogDialog::OnCheck(int32_t /*page*/, int32_t id, bool checked) {
    switch (id) {
        case kIdMirrorV:
            m_context.SetMirrorV(checked ? 1 : 0);
            break;
        case kIdMirrorH:
            m_context.SetMirrorH(checked ? 1 : 0);
            break;
        case kIdAutoGain:
        case kIdAutoExposure: {
            // The two automatic modes exclude each other; clearing either switches both off.
            const int32_t other = id == kIdAutoGain ? kIdAutoExposure : kIdAutoGain;
            if (checked) {
                SetChecked(kPage, other, false);
            }
            m_context.SetAutoIris(!checked ? 0 : id == kIdAutoGain ? 2 : 1);
            break;
        }
        case kIdCooler:
            m_engine.SetCooler(checked ? 1 : 0);
            m_context.UpdateCameraValues([&](CameraValues& v) { v.coolerOn = checked ? 1 : 0; });
            break;
        case kIdShortExposure:
            if (m_engine.SetShortExposureMode(checked ? 1 : 0)) {
                m_context.UpdateCameraValues(
                    [&](CameraValues& v) { v.shortExposure = checked ? 1 : 0; });
            }
            break;
        default:
            break;
    }
}

void AnalogDialog::OnClick(int32_t /*page*/, int32_t id) {
    switch (id) {
        case kIdOk:
            ReadBack();
            Close(kOk);
            break;
        case kIdCancel:
            Close(kCancel);
            break;
        case kIdDefault:
            Default();
            break;
        default:
            break;
    }
}

void AnalogDialog::Default() {
    const int32_t gain = m_engine.GetGainDefault();
    const int32_t colour = m_engine.GetColorGainDefault();
    m_engine.SetGain(gain);
    m_engine.SetColorGainGreen1(colour);
    m_engine.SetColorGainRed(colour);
    m_engine.SetColorGainBlue(colour);
    m_engine.SetColorGainGreen2(colour);
    double seconds = 0.0;
    int32_t exposure = 0;
    if (m_seconds) {
        m_engine.GetExposureTimeExDefault(&seconds);
        m_engine.SetExposureTimeEx(seconds);
        exposure = m_engine.GetExposureTime();
    } else {
        exposure = m_engine.GetExposureTimeDefault();
        m_engine.SetExposureTime(exposure);
    }
    const int32_t blackLevel = m_blackLevel ? m_engine.GetBlackLevelDefault() : 0;
    if (m_blackLevel) {
        m_engine.SetBlackLevel(blackLevel);
    }
    if (m_cooler) {
        m_engine.SetCooler(1);
    }
    if (m_shortExposure) {
        m_engine.SetShortExposureMode(0);
    }
    if (m_gainMode) {
        m_engine.SetGainMode(0);
    }
    m_context.UpdateCameraValues([&](CameraValues& values) {
        values.globalGain = gain;
        values.colorGainGreen1 = colour;
        values.colorGainRed = colour;
        values.colorGainBlue = colour;
        values.colorGainGreen2 = colour;
        values.exposure = exposure;
        if (m_seconds) {
            values.exposureSeconds = seconds;
        }
        if (m_blackLevel) {
            values.blackLevel = blackLevel;
        }
        if (m_cooler) {
            values.coolerOn = 1;
        }
        if (m_shortExposure) {
            values.shortExposure = 0;
        }
        if (m_gainMode) {
            values.gainMode = 0;
        }
    });
    RefreshPage();
}

void AnalogDialog::ReadBack() {
    const auto visible = [&](int32_t id) {
        const Control* control = FindOn(kPage, id);
        return control != nullptr && control->visible;
    };
    const auto checked = [&](int32_t id) { return visible(id) && FindOn(kPage, id)->checked; };
    // Only what the user changed: the automatic exposure or gain may have moved the others since
    // they were shown, and the context's values are then the newer ones (and the camera's).
    const auto touched = [&](const Trio& trio) {
        return visible(trio.edit) &&
               std::find(m_touched.begin(), m_touched.end(), trio.trackbar) != m_touched.end();
    };
    std::optional<double> seconds;
    if (m_secondsTyped && visible(kIdSeconds)) {
        const Control* list = FindOn(kPage, kIdUnit);
        const std::optional<double> number = ParseSeconds(FindOn(kPage, kIdSeconds)->text);
        if (number && list->selection >= 0) {
            seconds = ScaleFromUnit(*number, m_units[static_cast<size_t>(list->selection)]);
        }
    }
    const Control* gainMode = FindOn(kPage, kIdGainMode);
    m_context.UpdateCameraValues([&](CameraValues& values) {
        const std::pair<const Trio*, int32_t CameraValues::*> trios[] = {
            {&kGlobalGain, &CameraValues::globalGain},
            {&kColourGainGreen1, &CameraValues::colorGainGreen1},
            {&kColourGainRed, &CameraValues::colorGainRed},
            {&kColourGainBlue, &CameraValues::colorGainBlue},
            {&kColourGainGreen2, &CameraValues::colorGainGreen2},
            {&kExposure, &CameraValues::exposure},
            {&kBlackLevel, &CameraValues::blackLevel},
        };
        for (const auto& [trio, field] : trios) {
            if (touched(*trio)) {
                values.*field = TrioValue(kPage, *trio);
            }
        }
        if (seconds) {
            values.exposureSeconds = *seconds;
        }
        values.mirrorV = checked(kIdMirrorV) ? 1 : 0;
        values.mirrorH = checked(kIdMirrorH) ? 1 : 0;
        values.autoIris = checked(kIdAutoExposure) ? 1 : checked(kIdAutoGain) ? 2 : 0;
        if (visible(kIdCooler)) {
            values.coolerOn = checked(kIdCooler) ? 1 : 0;
        }
        if (visible(kIdShortExposure)) {
            values.shortExposure = checked(kIdShortExposure) ? 1 : 0;
        }
        if (gainMode != nullptr && gainMode->visible && gainMode->selection >= 0) {
            values.gainMode = gainMode->selection;
        }
    });
}

// --- Closing -----------------------------------------------------------------------------------

void AnalogDialog::SendCameraValues(const CameraValues& values) {
    m_engine.SetGain(values.globalGain);
    m_engine.SetColorGainGreen1(values.colorGainGreen1);
    m_engine.SetColorGainRed(values.colorGainRed);
    m_engine.SetColorGainBlue(values.colorGainBlue);
    m_engine.SetColorGainGreen2(values.colorGainGreen2);
    if (m_seconds) {
        m_engine.SetExposureTimeEx(values.exposureSeconds);
    } else {
        m_engine.SetExposureTime(values.exposure);
    }
    m_engine.SetMirrorV(values.mirrorV);
    m_engine.SetMirrorH(values.mirrorH);
    // The head's own features were changed live too; the camera gets them back as well, or it
    // would keep what the context no longer says.
    if (m_blackLevel) {
        m_engine.SetBlackLevel(values.blackLevel);
    }
    if (m_cooler) {
        m_engine.SetCooler(values.coolerOn);
    }
    if (m_shortExposure) {
        m_engine.SetShortExposureMode(values.shortExposure);
    }
    if (m_gainMode && m_engine.GetGainMode() != -1) {
        m_engine.SetGainMode(values.gainMode);
    }
}

int AnalogDialog::Finish() {
    if (!m_finished) {
        m_finished = true;
        if (Result() != kOk) {
            Close(kCancel);
            SendCameraValues(m_kept);
            m_context.UpdateCameraValues([&](CameraValues& values) { values = m_kept; });
        }
    }
    return 1;
}

}  // namespace quorix::dialogs
