// The context's settings in the current user's settings store: format settings and size presets
// under each camera's key, the analog values, image filter and gray filter of each camera, and
// the capture window chosen by size from the product-wide presets.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "context/quorix.h"
#include "context/settings_keys.h"
#include "platform/byte_order.h"
#include "platform/settings_store.h"

namespace quorix {

namespace {

using platform::SettingsStore;
using platform::SettingsTree;

constexpr const char* kProductKey = CQuorix::kSettingsProductKey;

std::string CameraKey(int32_t number) {
    return CQuorix::SettingsCameraKey(number);
}

// A stored image value: its name, value ID and the value a missing key gives.
struct StoredImageDefault {
    const char* name;
    int32_t valueId;
    int32_t fallback;
};

constexpr std::array<StoredImageDefault, 10> kFilterValues = {{
    {"Brightness", QUORIX_VALUE_BRIGHTNESS, 0},
    {"Contrast", QUORIX_VALUE_CONTRAST, 0},
    {"Hue", QUORIX_VALUE_HUE, 0},
    {"Saturation", QUORIX_VALUE_SATURATION, 0},
    {"Sharpness", QUORIX_VALUE_SHARPNESS, 0},
    {"R_Gain", QUORIX_VALUE_BAYER_GAIN_RED, 100},
    {"G_Gain", QUORIX_VALUE_BAYER_GAIN_GREEN, 100},
    {"B_Gain", QUORIX_VALUE_BAYER_GAIN_BLUE, 100},
    {"Gamma", QUORIX_VALUE_GAMMA, 100},
    {"BayerMode", QUORIX_VALUE_BAYER_MODE, 3},
}};

constexpr std::array<StoredImageDefault, 9> kGrayValues = {{
    {"Mode", QUORIX_VALUE_GRAY_MODE, 0},
    {"GainR1", QUORIX_VALUE_GRAY_GAIN_R, 128},
    {"GainG1", QUORIX_VALUE_GRAY_GAIN_G1, 128},
    {"GainG2", QUORIX_VALUE_GRAY_GAIN_G2, 128},
    {"GainB1", QUORIX_VALUE_GRAY_GAIN_B, 128},
    {"OffsetR1", QUORIX_VALUE_GRAY_OFFSET_R, 128},
    {"OffsetG1", QUORIX_VALUE_GRAY_OFFSET_G1, 128},
    {"OffsetG2", QUORIX_VALUE_GRAY_OFFSET_G2, 128},
    {"OffsetB1", QUORIX_VALUE_GRAY_OFFSET_B, 128},
}};

// The analog values of a camera key's "Gain", as they are stored.
struct AnalogName {
    const char* name;
    int32_t CameraValues::*field;
};
constexpr std::array<AnalogName, 11> kAnalogValues = {{
    {"Global", &CameraValues::globalGain},
    {"ColorG1", &CameraValues::colorGainGreen1},
    {"ColorR", &CameraValues::colorGainRed},
    {"ColorB", &CameraValues::colorGainBlue},
    {"ColorG2", &CameraValues::colorGainGreen2},
    {"Exposure", &CameraValues::exposure},
    {"V_Mirror", &CameraValues::mirrorV},
    {"H_Mirror", &CameraValues::mirrorH},
    {"AutoIris", &CameraValues::autoIris},
    {"GainMode", &CameraValues::gainMode},
    {"BlackLevel", &CameraValues::blackLevel},
}};
constexpr char kExposureSeconds[] = "ExposureEx";  // 8 bytes: a little-endian IEEE double

// The colour type a camera can deliver in place of `type` (0-5: 8, 16, 24, 32, 48, 64 bits): a
// camera without 8-bit output turns 8 bits and 32-bit colour into 16 bits or 24-bit colour, one
// without colour turns 24-bit colour into 16 or 8 bits, one without 16-bit output turns 16 bits
// into colour or 8 bits.
// Reads one group of stored image values under `key` into `store(valueId, value, fromFile)`: a
// group without its key gives every value's default (fromFile false), and so does a value that is
// missing or not of four bytes: keeping the context's value instead would give a fresh context's 0
// (a gray gain or gamma of 0 turns the picture black), which the next save would then store.
// False when the key is missing.
template <size_t N, typename Store>
bool LoadStoredValues(const SettingsTree& tree, const std::string& key,
                      const std::array<StoredImageDefault, N>& values, const Store& store) {
    const bool stored = tree.HasKey(key);
    for (const StoredImageDefault& value : values) {
        const auto read = stored ? tree.Dword(key, value.name) : std::nullopt;
        if (read) {
            store(value.valueId, static_cast<int32_t>(*read), true);
        } else {
            store(value.valueId, value.fallback, false);
        }
    }
    return stored;
}

int32_t CorrectColourType(int32_t type, CQuorixU3R5Base& engine) {
    const bool eight = engine.SupportsOutput8() != 0;
    const bool sixteen = engine.SupportsOutput16() != 0;
    const bool colour = engine.SupportsOutputColor() != 0;
    if (!eight && (type == 0 || type == 3)) {
        type = sixteen ? 1 : 2;
    }
    if (!colour && type == 2) {
        type = sixteen ? 1 : 0;
    }
    if (!sixteen && type == 1) {
        type = colour ? 2 : 0;
    }
    return type;
}

}  // namespace

std::string CQuorix::SettingsCameraKey(int32_t number) {
    char name[32];
    std::snprintf(name, sizeof name, "\\Camera_%02d", static_cast<int>(number));
    return kProductKey + std::string(name);
}

// --- Format settings and size presets ----------------------------------------------------------

int CQuorix::LoadSettings() {
    const SettingsTree tree = SettingsStore::CurrentUser().Read();
    const std::string key = CameraKey(m_deviceNumber);
    if (!tree.HasKey(key)) {
        return 0;
    }
    if (const auto colour = tree.Dword(key, "Color")) {
        if (*colour < kBitsPerColourType.size()) {
            m_colourType = static_cast<int32_t>(*colour);
        }
    }
    if (m_engine) {
        m_colourType = CorrectColourType(m_colourType, *m_engine);
    }
    // The sub-sample code is checked with the capture window when acquisition starts.
    if (const auto subSample = tree.Dword(key, "SubSample")) {
        m_subSample = static_cast<int32_t>(*subSample);
    }
    if (const auto wait = tree.Dword(key, "WaitTime")) {
        // A pause beyond what SetWaitTime takes is read as the longest one.
        m_waitTime = std::clamp(static_cast<int32_t>(*wait), 0, kMaxWaitTimeMs);
    }
    if (const auto clock = tree.Dword(key, "Clock")) {
        m_clock = static_cast<int32_t>(*clock);
    }
    return 1;
}

int CQuorix::LoadSizeSettings() {
    const SettingsStore store = SettingsStore::CurrentUser();
    SettingsTree tree = store.Read();
    const std::string key = CameraKey(m_deviceNumber);
    if (!tree.HasKey(kProductKey)) {
        // First use: the product key with this camera number's key, the default size preset (the
        // whole sensor, four buffers) and the default format settings: 24-bit colour, or what
        // the camera delivers instead.
        int32_t colour = 2;
        if (m_engine && m_engine->SupportsOutputColor() == 0) {
            if (m_engine->SupportsOutput8() != 0) {
                colour = 0;
            }
            if (m_engine->SupportsOutput16() != 0) {
                colour = 1;
            }
        }
        bool created = false;
        store.Update([&](SettingsTree& stored) {
            // Another process may have made the key since it was read.
            if (stored.HasKey(kProductKey)) {
                tree = stored;
                return false;
            }
            stored.CreateKey(kProductKey);
            const std::string preset = SizePresetKey(key, 0);
            const std::array<uint32_t, 7> window = {
                kSensorWidth, kSensorHeight, kSensorWidth, kSensorHeight, 0, 0, 4};
            for (size_t i = 0; i < kSizePresetValues.size(); ++i) {
                stored.SetDword(preset, kSizePresetValues[i], window[i]);
            }
            stored.SetDword(key, "Size", 0);
            stored.SetDword(key, "Color", static_cast<uint32_t>(colour));
            stored.SetDword(key, "SubSample", 0);
            stored.SetDword(key, "WaitTime", 1);
            stored.SetDword(key, "Clock", 0);
            created = true;
            return true;
        });
        if (created || !tree.HasKey(kProductKey)) {
            return 0;
        }
    }
    const std::optional<uint32_t> size = tree.Dword(key, "Size");
    if (!size) {
        return 0;
    }
    const std::string preset = SizePresetKey(key, static_cast<int32_t>(*size));
    if (!tree.HasKey(preset)) {
        return 0;
    }
    // Acquisition checks the window; a stored one it refuses fails there with code 7.
    std::array<uint32_t*, 7> fields = {&m_totalWidth,    &m_totalHeight, &m_captureWidth,
                                       &m_captureHeight, &m_hStart,      &m_vStart,
                                       &m_bufferCount};
    for (size_t i = 0; i < kSizePresetValues.size(); ++i) {
        if (const auto value = tree.Dword(preset, kSizePresetValues[i])) {
            *fields[i] = *value;
        }
    }
    return 1;
}

int CQuorix::SetCaptureWindowBySize(int32_t width, int32_t height) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    const SettingsTree tree = SettingsStore::CurrentUser().Read();
    if (!tree.HasKey(kProductKey)) {
        SetError(kErrWindow);
        return 0;
    }
    // The product-wide presets, in index order up to the first missing one; a missing value
    // counts as 0.
    for (int32_t index = 0; index < kMaxSizePresets; ++index) {
        const std::string preset = SizePresetKey(kProductKey, index);
        if (!tree.HasKey(preset)) {
            break;
        }
        std::array<uint32_t, 7> values{};
        for (size_t i = 0; i < kSizePresetValues.size(); ++i) {
            values[i] = tree.Dword(preset, kSizePresetValues[i]).value_or(0);
        }
        if (values[2] != static_cast<uint32_t>(width) ||
            values[3] != static_cast<uint32_t>(height)) {
            continue;
        }
        m_bufferCount = values[6];
        const auto as = [](uint32_t value) { return static_cast<int32_t>(value); };
        if (!SetCaptureWindowEx(as(values[0]), as(values[4]), as(values[2]), as(values[1]),
                                as(values[5]), as(values[3]))) {
            // A preset this camera cannot read out (code 7 is recorded) gives the whole sensor.
            SetCaptureWindowEx(kSensorWidth, 0, kSensorWidth, kSensorHeight, 0, kSensorHeight);
        }
        return 1;
    }
    SetError(kErrWindow);
    return 0;
}

void CQuorix::ReloadFormatSettings() {
    LoadSizeSettings();
    LoadSettings();
}

// --- Analog, image-filter and gray-filter values -------------------------------------------------

void CQuorix::LoadAnalogValues(const SettingsTree& tree, int32_t cameraNumber) {
    if (!m_engine) {
        return;
    }
    const std::string key = CameraKey(cameraNumber) + "\\Gain";
    if (tree.HasKey(key)) {
        std::lock_guard lock(m_valuesLock);
        for (const AnalogName& analog : kAnalogValues) {
            if (const auto value = tree.Dword(key, analog.name)) {
                m_camera.*analog.field = static_cast<int32_t>(*value);
            }
        }
        // The camera takes gains and exposures outside its range as its nearest limit; a
        // mirror is on or off, and an auto-iris mode beyond the three is taken as the nearest.
        m_camera.mirrorV = m_camera.mirrorV != 0 ? 1 : 0;
        m_camera.mirrorH = m_camera.mirrorH != 0 ? 1 : 0;
        m_camera.autoIris = std::clamp(m_camera.autoIris, 0, kMaxAutoIrisMode);
        if (const auto bytes = tree.Bytes(key, kExposureSeconds, sizeof(double))) {
            const auto seconds = std::bit_cast<double>(ReadLe64(bytes->data()));
            if (std::isfinite(seconds) && seconds >= 0.0) {
                m_camera.exposureSeconds = seconds;
            }
        }
        return;
    }
    const int32_t globalGain = m_engine->GetGainDefault();
    const int32_t colourGain = m_engine->GetColorGainDefault();
    const int32_t exposure = m_engine->GetExposureTimeDefault();
    const int32_t mirrorV = m_engine->GetMirrorVDefault();
    const int32_t mirrorH = m_engine->GetMirrorHDefault();
    const int32_t blackLevel = m_engine->GetBlackLevelDefault();
    double seconds = 0.0;
    const bool secondsKnown = m_engine->IsExposureTimeExSupported() != 0;
    if (secondsKnown) {
        m_engine->GetExposureTimeExDefault(&seconds);
    }
    std::lock_guard lock(m_valuesLock);
    m_camera.globalGain = globalGain;
    m_camera.colorGainGreen1 = colourGain;
    m_camera.colorGainRed = colourGain;
    m_camera.colorGainBlue = colourGain;
    m_camera.colorGainGreen2 = colourGain;
    m_camera.exposure = exposure;
    m_camera.mirrorV = mirrorV;
    m_camera.mirrorH = mirrorH;
    m_camera.autoIris = 0;
    m_camera.gainMode = 0;
    m_camera.blackLevel = blackLevel;
    if (secondsKnown) {
        m_camera.exposureSeconds = seconds;
    }
}

bool CQuorix::LoadImageValueGroup(const SettingsTree& tree, int32_t cameraNumber, bool filter) {
    // A value read from the file that its setter would refuse is taken as the nearer end of the
    // range, never as 0 or the default: a gray gain stored as 300 stays the strongest gain, 255.
    const auto store = [this](int32_t valueId, int32_t value, bool fromFile) {
        *StoredImageValue(valueId) = fromFile ? ClampToStoredRange(valueId, value) : value;
    };
    const std::string key = CameraKey(cameraNumber) + (filter ? "\\Filter" : "\\Gray");
    return filter ? LoadStoredValues(tree, key, kFilterValues, store)
                  : LoadStoredValues(tree, key, kGrayValues, store);
}

void CQuorix::LoadFilterValues(const SettingsTree& tree, int32_t cameraNumber) {
    std::lock_guard lock(m_valuesLock);
    if (!LoadImageValueGroup(tree, cameraNumber, true)) {
        m_image.reserved.fill(0);
    }
}

void CQuorix::LoadGrayValues(const SettingsTree& tree, int32_t cameraNumber) {
    std::lock_guard lock(m_valuesLock);
    LoadImageValueGroup(tree, cameraNumber, false);
}

bool CQuorix::SaveCameraValues(int32_t cameraNumber) {
    if (!m_engine || m_engine->Sensor() == nullptr) {
        return true;
    }
    CameraValues camera;
    std::array<int32_t, kFilterValues.size()> filter{};
    std::array<int32_t, kGrayValues.size()> gray{};
    {
        std::lock_guard lock(m_valuesLock);
        camera = m_camera;
        for (size_t i = 0; i < filter.size(); ++i) {
            filter[i] = *StoredImageValue(kFilterValues[i].valueId);
        }
        for (size_t i = 0; i < gray.size(); ++i) {
            gray[i] = *StoredImageValue(kGrayValues[i].valueId);
        }
    }
    const std::string key = CameraKey(cameraNumber);
    return SettingsStore::CurrentUser().Update([&](SettingsTree& tree) {
        const std::string gainKey = key + "\\Gain";
        for (const AnalogName& analog : kAnalogValues) {
            tree.SetDword(gainKey, analog.name, static_cast<uint32_t>(camera.*analog.field));
        }
        std::array<uint8_t, sizeof(double)> bytes{};
        WriteLe64(bytes.data(), std::bit_cast<uint64_t>(camera.exposureSeconds));
        tree.SetBinary(gainKey, kExposureSeconds, bytes);
        for (size_t i = 0; i < filter.size(); ++i) {
            tree.SetDword(key + "\\Filter", kFilterValues[i].name,
                          static_cast<uint32_t>(filter[i]));
        }
        for (size_t i = 0; i < gray.size(); ++i) {
            tree.SetDword(key + "\\Gray", kGrayValues[i].name, static_cast<uint32_t>(gray[i]));
        }
        return true;
    });
}

void CQuorix::UpdateCameraValues(const std::function<void(CameraValues&)>& change) {
    std::lock_guard lock(m_valuesLock);
    change(m_camera);
}

void CQuorix::UpdateImageValues(const std::function<void(ImageValues&)>& change) {
    std::lock_guard lock(m_valuesLock);
    change(m_image);
}

}  // namespace quorix
