#include "dialogs/camera_dialog.h"

#include <algorithm>
#include <cstdio>

#include "platform/settings_store.h"
#include "sensors/sensor_imx252.h"

namespace quorix::dialogs {

namespace {

using platform::SettingsStore;
using platform::SettingsTree;

constexpr int32_t kMaxWaitTime = CQuorix::kMaxWaitTimeMs;

}  // namespace

CameraDialog::CameraDialog(CQuorix& context, platform::Language language)
    : DialogModel(language, "Property"), m_context(context), m_engine(*context.Engine()) {
    m_presets.fill(kDefaultPreset);
    // No capture may run while the format changes.
    m_stateBefore = m_context.AcquisitionState();
    if (m_stateBefore != 0) {
        m_context.StopPreview();
    }
    m_cameraNumber = m_engine.GetDeviceIndex();
    m_widthAdjustable = m_engine.IsWidthAdjustable() != 0;
    m_heightAdjustable = m_engine.IsHeightAdjustable() != 0;
    ReadStore();

    AddTabs({Text("Stream Format", "ストリーム形式")});
    AddButton(Control::kFrame, kIdOk, "OK");
    AddButton(Control::kFrame, kIdCancel, Text("Cancel", "キャンセル"));
    AddButton(Control::kFrame, kIdApply, "Apply(&A)");

    AddComboBox(kPage, kIdColour, Text("Color", "カラー"));
    AddComboBox(kPage, kIdSize, Text("Size", "サイズ"));
    AddComboBox(kPage, kIdSubSample, Text("Sub-sample", "間引き"));
    AddComboBox(kPage, kIdClock, Text("Clock", "クロック"));
    const char* const geometry[6][2] = {
        {"Total width", "全幅"}, {"Total height", "全高"},         {"Width", "幅"},
        {"Height", "高さ"},      {"Horizontal start", "水平開始"}, {"Vertical start", "垂直開始"}};
    for (int32_t i = 0; i < 6; ++i) {
        AddEdit(kPage, kIdGeometry[i], Text(geometry[i][0], geometry[i][1]));
    }
    AddEdit(kPage, kIdWaitTime, Text("Wait time (ms)", "待ち時間 (ms)"));
    AddStatic(kPage, kIdWindowRule, "");
    SetVisible(kPage, kIdWindowRule, false);

    // Colour types: the two monochrome depths and the four colour formats the camera offers.
    const bool eight = m_engine.SupportsOutput8() != 0;
    const bool sixteen = m_engine.SupportsOutput16() != 0;
    const bool colour = m_engine.SupportsOutputColor() != 0;
    char sixteenName[48];
    std::snprintf(sixteenName, sizeof sixteenName,
                  Text("Monochrome %dbit *", "モノクロ %dbit *").c_str(), 16);
    const std::string names[6] = {
        Text("Monochrome 8bit", "モノクロ 8bit"), sixteenName,
        Text("Color 24bit", "カラー 24bit"),      Text("Color 32bit", "カラー 32bit"),
        Text("Color 48bit *", "カラー 48bit *"),  Text("Color 64bit *", "カラー 64bit *")};
    std::vector<std::string> colourItems;
    for (int32_t type = 0; type < 6; ++type) {
        if ((type == 0 && eight) || (type == 1 && sixteen) || (type >= 2 && colour)) {
            m_colourTypes.push_back(type);
            colourItems.push_back(names[type]);
        }
    }
    if (!colour) {
        if (sixteen) {
            m_colourType = 1;
        } else if (eight) {
            m_colourType = 0;
        }
    }
    SetItems(kPage, kIdColour, std::move(colourItems));
    const auto entry = std::find(m_colourTypes.begin(), m_colourTypes.end(), m_colourType);
    SetSelection(
        kPage, kIdColour,
        entry != m_colourTypes.end() ? static_cast<int32_t>(entry - m_colourTypes.begin()) : 0);

    SetItems(kPage, kIdSubSample, {"1/1", "1/2 Skip"});
    SetSelection(kPage, kIdSubSample, m_subSample == 1 ? 1 : 0);

    // This camera runs its sensor at the high clock only: the list shows it and cannot change.
    char high[32];
    std::snprintf(high, sizeof high, Text("High(%dMHz)", "高速(%dMHz)").c_str(), 54);
    SetItems(kPage, kIdClock,
             {Text("Nomal(24MHz)", "標準(24MHz)"), Text("Half(12MHz)", "ハーフ(12MHz)"), high});
    SetSelection(kPage, kIdClock, kHighClockEntry);
    SetEnabled(kPage, kIdClock, false);

    std::vector<std::string> sizes;
    for (int32_t i = 0; i < m_presetCount; ++i) {
        sizes.push_back(Title(m_presets[static_cast<size_t>(i)]));
    }
    sizes.push_back(Text("Custom", "カスタム"));
    SetItems(kPage, kIdSize, std::move(sizes));
    // A stored index beyond the presets selects "Custom", whose edits start from the defaults.
    const int32_t selected = std::clamp(m_size, 0, m_presetCount);
    SetSelection(kPage, kIdSize, selected);
    ShowPreset(selected);
    SetText(kPage, kIdWaitTime, std::to_string(m_waitTime));

    UpdateGeometryEnables();
    SetEnabled(Control::kFrame, kIdApply, false);
    SetReady(true);
}

CameraDialog::~CameraDialog() {
    if (!m_finished) {
        Finish();
    }
}

void CameraDialog::ReadStore() {
    // What the store lacks keeps what the context uses now.
    m_colourType = 2;
    for (int32_t type = 0; type < 6; ++type) {
        if (CQuorix::kBitsPerColourType[static_cast<size_t>(type)] == m_context.GetColorMode()) {
            m_colourType = type;
        }
    }
    m_subSample = m_context.GetSubSample();
    m_waitTime = m_context.GetWaitTime();

    const SettingsTree tree = SettingsStore::CurrentUser().Read();
    const std::string key = CQuorix::SettingsCameraKey(m_cameraNumber);
    for (int32_t index = 0; index < kMaxSizePresets; ++index) {
        const std::string preset = SizePresetKey(key, index);
        if (!tree.HasKey(preset)) {
            break;
        }
        for (size_t i = 0; i < kSizePresetValues.size(); ++i) {
            if (const auto value = tree.Dword(preset, kSizePresetValues[i])) {
                m_presets[static_cast<size_t>(index)][i] = *value;
            }
        }
        m_presetCount = index + 1;
    }
    const auto read = [&](const char* name, int32_t& target) {
        if (const auto value = tree.Dword(key, name)) {
            target = static_cast<int32_t>(*value);
        }
    };
    read("Size", m_size);
    read("Color", m_colourType);
    read("SubSample", m_subSample);
    read("WaitTime", m_waitTime);
    read("Clock", m_clock);
    m_waitTime = std::clamp(m_waitTime, 0, kMaxWaitTime);
}

std::string CameraDialog::Title(const Preset& preset) const {
    char title[48];
    std::snprintf(title, sizeof title, "%u x %u", static_cast<unsigned>(preset[2]),
                  static_cast<unsigned>(preset[3]));
    return title;
}

void CameraDialog::ShowPreset(int32_t index) {
    if (index < 0 || index >= kMaxSizePresets) {
        return;
    }
    const Preset& preset = m_presets[static_cast<size_t>(index)];
    for (size_t i = 0; i < 6; ++i) {
        SetText(kPage, kIdGeometry[i], std::to_string(preset[i]));
    }
}

void CameraDialog::UpdateGeometryEnables() {
    const bool halfSkip = FindOn(kPage, kIdSubSample)->selection == 1;
    for (size_t i = 0; i < 6; ++i) {
        // Widths and horizontal values sit at even positions, heights and vertical ones at odd.
        const bool adjustable = i % 2 == 0 ? m_widthAdjustable : m_heightAdjustable;
        // In 2x2 sub-sampling the window is the whole sensor's.
        const bool fixedByHalfSkip = halfSkip && i >= 2;
        SetEnabled(kPage, kIdGeometry[i], adjustable && !fixedByHalfSkip);
    }
    SetEnabled(kPage, kIdSize, !halfSkip && (m_widthAdjustable || m_heightAdjustable));
}

int32_t CameraDialog::AppendPreset(const Preset& preset) {
    if (m_presetCount >= kMaxSizePresets) {
        return -1;
    }
    const int32_t index = m_presetCount++;
    m_presets[static_cast<size_t>(index)] = preset;
    std::vector<std::string> items = FindOn(kPage, kIdSize)->items;
    items.insert(items.begin() + index, Title(preset));
    SetItems(kPage, kIdSize, std::move(items));
    return index;
}

void CameraDialog::ChooseHalfSkipPreset() {
    // The sub-sampled read-out covers the whole sensor.
    for (int32_t i = 0; i < m_presetCount; ++i) {
        const Preset& preset = m_presets[static_cast<size_t>(i)];
        if (preset[2] == 2048 && preset[3] == 1536 && preset[4] == 0 && preset[5] == 0) {
            SetSelection(kPage, kIdSize, i);
            ShowPreset(i);
            return;
        }
    }
    const uint32_t whole[4] = {2048, 1536, 0, 0};
    for (size_t i = 0; i < 4; ++i) {
        SetText(kPage, kIdGeometry[i + 2], std::to_string(whole[i]));
    }
    Preset preset = kDefaultPreset;
    for (size_t i = 0; i < 2; ++i) {
        const std::optional<int32_t> total = EditNumber(kPage, kIdGeometry[i]);
        if (total && *total > 0) {
            preset[i] = static_cast<uint32_t>(*total);
        }
    }
    const int32_t index = AppendPreset(preset);
    if (index >= 0) {
        SetSelection(kPage, kIdSize, index);
    }
}

void CameraDialog::OnEdit(int32_t /*page*/, int32_t /*id*/) {
    SetEnabled(Control::kFrame, kIdApply, true);
}

CameraDialog::Preset CameraDialog::EditedPreset() const {
    const int32_t selected = FindOn(kPage, kIdSize)->selection;
    Preset preset = selected >= 0 && selected < m_presetCount
                        ? m_presets[static_cast<size_t>(selected)]
                        : kDefaultPreset;
    // A geometry edit that holds no number, or a negative one, keeps the preset's value.
    for (size_t i = 0; i < 6; ++i) {
        if (const std::optional<int32_t> value = EditNumber(kPage, kIdGeometry[i]);
            value && *value >= 0) {
            preset[i] = static_cast<uint32_t>(*value);
        }
    }
    return preset;
}

std::string CameraDialog::BrokenWindowRule(const Preset& preset, int32_t subSample) const {
    const int64_t width = preset[2];
    const int64_t height = preset[3];
    const int64_t hStart = preset[4];
    const int64_t vStart = preset[5];
    char text[160];
    if (width == 0 || height == 0 || hStart + width > CQuorix::kSensorWidth ||
        vStart + height > CQuorix::kSensorHeight) {
        std::snprintf(text, sizeof text,
                      Text("The window must lie within the sensor's %d x %d pixels.",
                           "ウィンドウはセンサーの %d x %d 画素の内側にしてください。")
                          .c_str(),
                      CQuorix::kSensorWidth, CQuorix::kSensorHeight);
        return text;
    }
    // This sensor reads windows only on the steps of its read-out mode; 2x2 sub-sampling then
    // halves the height, which must still come out in whole steps.
    const CSensorBase* head = m_engine.Sensor();
    if (head == nullptr || head->HeadCode() != CSensorIMX252::kHeadCode) {
        return "";
    }
    const CSensorIMX252::WindowAlignment align = CSensorIMX252::AlignmentFor(subSample);
    const int32_t heightStep = align.height * (subSample == 1 ? 2 : 1);
    const auto rule = [&](const char* english, const char* japanese, int32_t step) {
        std::snprintf(text, sizeof text, Text(english, japanese).c_str(), step);
        return std::string(text);
    };
    if (width % align.width != 0) {
        return rule("The width must be a multiple of %d pixels.",
                    "幅は %d 画素の倍数にしてください。", align.width);
    }
    if (height % heightStep != 0) {
        return rule("The height must be a multiple of %d lines.",
                    "高さは %d ラインの倍数にしてください。", heightStep);
    }
    if (hStart % align.x != 0) {
        return rule("The horizontal start must be a multiple of %d pixels.",
                    "水平開始は %d 画素の倍数にしてください。", align.x);
    }
    if (vStart % align.y != 0) {
        return rule("The vertical start must be a multiple of %d lines.",
                    "垂直開始は %d ラインの倍数にしてください。", align.y);
    }
    return "";
}

bool CameraDialog::CheckWindow() {
    const std::string broken =
        BrokenWindowRule(EditedPreset(), std::max(FindOn(kPage, kIdSubSample)->selection, 0));
    SetText(kPage, kIdWindowRule, broken);
    SetVisible(kPage, kIdWindowRule, !broken.empty());
    return broken.empty();
}

void CameraDialog::OnSelect(int32_t /*page*/, int32_t id, int32_t index) {
    if (id == kIdSize && index < m_presetCount) {
        ShowPreset(index);
    } else if (id == kIdSubSample) {
        UpdateGeometryEnables();
        if (index == 1) {
            ChooseHalfSkipPreset();
        }
    }
    SetEnabled(Control::kFrame, kIdApply, true);
}

void CameraDialog::OnClick(int32_t /*page*/, int32_t id) {
    switch (id) {
        // A window the sensor cannot read is refused with the rule it breaks, and nothing is
        // saved: acquisition would fail on it once the dialog has closed.
        case kIdOk:
            if (CheckWindow()) {
                Save();
                Close(kOk);
            }
            break;
        case kIdApply:
            if (CheckWindow()) {
                Save();
                SetEnabled(Control::kFrame, kIdApply, false);
            }
            break;
        case kIdCancel:
            Close(kCancel);
            break;
        default:
            break;
    }
}

void CameraDialog::Save() {
    if (const int32_t entry = FindOn(kPage, kIdColour)->selection; entry >= 0) {
        m_colourType = m_colourTypes[static_cast<size_t>(entry)];
    }
    m_subSample = std::max(FindOn(kPage, kIdSubSample)->selection, 0);
    m_clock = std::max(FindOn(kPage, kIdClock)->selection, 0);
    if (const std::optional<int32_t> wait = EditNumber(kPage, kIdWaitTime)) {
        m_waitTime = std::clamp(*wait, 0, kMaxWaitTime);
        SetText(kPage, kIdWaitTime, std::to_string(m_waitTime));
    }

    int32_t selected = FindOn(kPage, kIdSize)->selection;
    const Preset preset = EditedPreset();
    if (selected < 0 || selected >= m_presetCount) {
        // "Custom": a new preset at the end of the list; with all hundred in use there is no
        // room, and the selection stays as stored.
        const int32_t index = AppendPreset(preset);
        selected = index >= 0 ? index : std::clamp(m_size, 0, std::max(m_presetCount - 1, 0));
        SetSelection(kPage, kIdSize, selected);
    } else {
        m_presets[static_cast<size_t>(selected)] = preset;
        std::vector<std::string> items = FindOn(kPage, kIdSize)->items;
        items[static_cast<size_t>(selected)] = Title(preset);
        SetItems(kPage, kIdSize, std::move(items));
        SetSelection(kPage, kIdSize, selected);
    }
    m_size = selected;

    const std::string key = CQuorix::SettingsCameraKey(m_cameraNumber);
    SettingsStore::CurrentUser().Update([&](SettingsTree& tree) {
        for (int32_t index = 0; index < m_presetCount; ++index) {
            const std::string name = SizePresetKey(key, index);
            for (size_t i = 0; i < kSizePresetValues.size(); ++i) {
                tree.SetDword(name, kSizePresetValues[i], m_presets[static_cast<size_t>(index)][i]);
            }
        }
        tree.SetDword(key, "Size", static_cast<uint32_t>(m_size));
        tree.SetDword(key, "Color", static_cast<uint32_t>(m_colourType));
        tree.SetDword(key, "SubSample", static_cast<uint32_t>(m_subSample));
        tree.SetDword(key, "WaitTime", static_cast<uint32_t>(m_waitTime));
        tree.SetDword(key, "Clock", static_cast<uint32_t>(m_clock));
        return true;
    });
}

int CameraDialog::Finish() {
    if (m_finished) {
        return 1;
    }
    m_finished = true;
    if (Result() == kOk) {
        m_context.ReloadFormatSettings();
    } else {
        Close(kCancel);
    }
    if (m_stateBefore == 1) {
        m_context.StartPreview();
    } else if (m_stateBefore == 2) {
        m_context.Capture();
    }
    return 1;
}

}  // namespace quorix::dialogs
