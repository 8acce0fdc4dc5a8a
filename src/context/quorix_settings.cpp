// The camera context's settings: the filter values reached by value ID, exposure and mirroring,
// the camera's optional controls, and direct access to sensor registers, the I/O port and the
// EEPROM. Image adjustments are kept here for the frame pipeline; camera values are kept and sent
// to the camera, which receives them again whenever a camera opens or acquisition starts.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "camera/fpga_registers.h"
#include "context/quorix.h"

namespace quorix {

namespace {

// The inclusive range of a value the context keeps by itself.
struct ValueRange {
    int32_t valueId;
    int32_t minimum;
    int32_t maximum;
};

// Bayer-auto (any value, kept as 0/1) and the packed Bayer gains (each byte one gain) are not
// range-checked and have no entry.
constexpr ValueRange kStoredRanges[] = {
    {QUORIX_VALUE_BRIGHTNESS, -255, 255},
    {QUORIX_VALUE_CONTRAST, -127, 127},
    {QUORIX_VALUE_HUE, -360, 360},
    {QUORIX_VALUE_SATURATION, -255, 255},
    {QUORIX_VALUE_SHARPNESS, 0, 30},
    {QUORIX_VALUE_BAYER_GAIN_RED, 0, 400},
    {QUORIX_VALUE_BAYER_GAIN_GREEN, 0, 400},
    {QUORIX_VALUE_BAYER_GAIN_BLUE, 0, 400},
    {QUORIX_VALUE_GAMMA, 0, 200},
    {QUORIX_VALUE_BAYER_MODE, 0, 3},
    {QUORIX_VALUE_GRAY_MODE, 0, 2},
    {QUORIX_VALUE_GRAY_GAIN_R, 0, 255},
    {QUORIX_VALUE_GRAY_GAIN_G1, 0, 255},
    {QUORIX_VALUE_GRAY_GAIN_G2, 0, 255},
    {QUORIX_VALUE_GRAY_GAIN_B, 0, 255},
    {QUORIX_VALUE_GRAY_OFFSET_R, -255, 255},
    {QUORIX_VALUE_GRAY_OFFSET_G1, -255, 255},
    {QUORIX_VALUE_GRAY_OFFSET_G2, -255, 255},
    {QUORIX_VALUE_GRAY_OFFSET_B, -255, 255},
    {QUORIX_VALUE_GRAY_GAIN_AUTO_ONCE, 0, 1},
    {QUORIX_VALUE_DOT_FILTER, 0, 1},
    {QUORIX_VALUE_MASK_FILTER, 0, 1},
};

const ValueRange* StoredRange(int32_t valueId) {
    for (const ValueRange& range : kStoredRanges) {
        if (range.valueId == valueId) {
            return &range;
        }
    }
    return nullptr;
}

void SetFlag(int32_t* ok, int32_t value) {
    if (ok != nullptr) {
        *ok = value;
    }
}

// The Bayer gains travel packed in one value: red in bits 0-7, green in 8-15, blue in 16-23.
constexpr int32_t PackBayerGains(int32_t red, int32_t green, int32_t blue) {
    return (red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16;
}

// Seconds as whole exposure units of 100 us, truncated, within the 32-bit range.
int32_t ToExposureUnits(double seconds) {
    const double units = std::trunc(seconds * 10000.0);
    if (std::isnan(units)) {
        return 0;
    }
    return static_cast<int32_t>(
        std::clamp(units, static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX)));
}

// The camera's non-volatile memory as the identification calls address it.
constexpr uint32_t kSromReadMask = 0xFFFF0FFF;  // bits 12-15 cleared
constexpr uint32_t kSromWriteMask = 0x0FFF;     // low 12 bits
// Writes of an EEPROM byte after the first one, while it does not read back as written.
constexpr int kSromWriteRetries = 10;

}  // namespace

// --- Filter values -----------------------------------------------------------------------------

int32_t* CQuorix::StoredImageValue(int32_t valueId) {
    switch (valueId) {
        case QUORIX_VALUE_BRIGHTNESS:
            return &m_image.brightness;
        case QUORIX_VALUE_CONTRAST:
            return &m_image.contrast;
        case QUORIX_VALUE_HUE:
            return &m_image.hue;
        case QUORIX_VALUE_SATURATION:
            return &m_image.saturation;
        case QUORIX_VALUE_SHARPNESS:
            return &m_image.sharpness;
        case QUORIX_VALUE_BAYER_GAIN_RED:
            return &m_image.bayerGainRed;
        case QUORIX_VALUE_BAYER_GAIN_GREEN:
            return &m_image.bayerGainGreen;
        case QUORIX_VALUE_BAYER_GAIN_BLUE:
            return &m_image.bayerGainBlue;
        case QUORIX_VALUE_BAYER_GAIN_AUTO:
            return &m_image.bayerGainAuto;
        case QUORIX_VALUE_GAMMA:
            return &m_image.gamma;
        case QUORIX_VALUE_BAYER_MODE:
            return &m_image.bayerMode;
        case QUORIX_VALUE_GRAY_MODE:
            return &m_image.grayMode;
        case QUORIX_VALUE_GRAY_GAIN_R:
        case QUORIX_VALUE_GRAY_GAIN_G1:
        case QUORIX_VALUE_GRAY_GAIN_G2:
        case QUORIX_VALUE_GRAY_GAIN_B:
            return &m_image.grayGain[static_cast<size_t>(valueId - QUORIX_VALUE_GRAY_GAIN_R)];
        case QUORIX_VALUE_GRAY_OFFSET_R:
        case QUORIX_VALUE_GRAY_OFFSET_G1:
        case QUORIX_VALUE_GRAY_OFFSET_G2:
        case QUORIX_VALUE_GRAY_OFFSET_B:
            return &m_image.grayOffset[static_cast<size_t>(valueId - QUORIX_VALUE_GRAY_OFFSET_R)];
        case QUORIX_VALUE_GRAY_GAIN_AUTO_ONCE:
            return &m_image.grayGainAutoOnce;
        case QUORIX_VALUE_DOT_FILTER:
            return &m_dotFilter;
        case QUORIX_VALUE_MASK_FILTER:
            return &m_maskFilter;
        default:
            return nullptr;
    }
}

int32_t CQuorix::ClampToStoredRange(int32_t valueId, int32_t value) {
    const ValueRange* range = StoredRange(valueId);
    return range == nullptr ? value : std::clamp(value, range->minimum, range->maximum);
}

int32_t CQuorix::GetFilterValue(int32_t valueId, int32_t* ok) {
    SetFlag(ok, 1);
    if (!m_engine) {
        SetFlag(ok, 0);
        // Without an engine there is no gain mode either.
        return NotAvailable(valueId == QUORIX_VALUE_GAIN_MODE ? -1 : 0);
    }
    switch (valueId) {
        case QUORIX_VALUE_BAYER_GAIN_RGB: {
            std::lock_guard lock(m_valuesLock);
            return PackBayerGains(m_image.bayerGainRed, m_image.bayerGainGreen,
                                  m_image.bayerGainBlue);
        }
        // The camera values are read from the camera head, which holds what it programmed.
        case QUORIX_VALUE_GLOBAL_GAIN:
            return m_engine->GetGain();
        case QUORIX_VALUE_COLOR_GAIN_RED:
            return m_engine->GetColorGainRed();
        case QUORIX_VALUE_COLOR_GAIN_GREEN1:
            return m_engine->GetColorGainGreen1();
        case QUORIX_VALUE_COLOR_GAIN_GREEN2:
            return m_engine->GetColorGainGreen2();
        case QUORIX_VALUE_COLOR_GAIN_BLUE:
            return m_engine->GetColorGainBlue();
        case QUORIX_VALUE_EXPOSURE_TIME:
            return m_engine->GetExposureTime();
        case QUORIX_VALUE_PELTIER:
        case QUORIX_VALUE_TEMPERATURE:
        case QUORIX_VALUE_GAIN_MODE:
        case QUORIX_VALUE_SHORT_EXPOSURE_MODE:
        case QUORIX_VALUE_BLACK_LEVEL:
            return GetOptionalCameraValue(valueId, ok);
        // The one-shot gray gain request is a command, not a value that can be read.
        case QUORIX_VALUE_GRAY_GAIN_AUTO_ONCE:
            break;
        default:
            if (const int32_t* stored = StoredImageValue(valueId)) {
                std::lock_guard lock(m_valuesLock);
                return *stored;
            }
            break;
    }
    SetFlag(ok, 0);
    SetError(kErrArgument);
    return 0;
}

int CQuorix::SetFilterValue(int32_t valueId, int32_t value) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    switch (valueId) {
        case QUORIX_VALUE_BAYER_GAIN_RGB: {
            // The three gains change together: a frame sees all old or all new ones.
            std::lock_guard lock(m_valuesLock);
            m_image.bayerGainRed = value & 0xFF;
            m_image.bayerGainGreen = (value >> 8) & 0xFF;
            m_image.bayerGainBlue = (value >> 16) & 0xFF;
            return 1;
        }
        case QUORIX_VALUE_BAYER_GAIN_AUTO: {
            std::lock_guard lock(m_valuesLock);
            m_image.bayerGainAuto = value != 0 ? 1 : 0;
            m_image.bayerGainAutoOnce = 0;
            return 1;
        }
        case QUORIX_VALUE_GLOBAL_GAIN:
        case QUORIX_VALUE_COLOR_GAIN_RED:
        case QUORIX_VALUE_COLOR_GAIN_GREEN1:
        case QUORIX_VALUE_COLOR_GAIN_GREEN2:
        case QUORIX_VALUE_COLOR_GAIN_BLUE:
        case QUORIX_VALUE_EXPOSURE_TIME:
            return SetCameraValue(valueId, value);
        case QUORIX_VALUE_PELTIER:
        case QUORIX_VALUE_GAIN_MODE:
        case QUORIX_VALUE_SHORT_EXPOSURE_MODE:
        case QUORIX_VALUE_BLACK_LEVEL:
            return SetOptionalCameraValue(valueId, value);
        default:
            break;
    }
    const ValueRange* range = StoredRange(valueId);
    int32_t* stored = StoredImageValue(valueId);
    if (range == nullptr || stored == nullptr || value < range->minimum || value > range->maximum) {
        SetError(kErrArgument);
        return 0;
    }
    std::lock_guard lock(m_valuesLock);
    *stored = value;
    return 1;
}

int CQuorix::SetCameraValue(int32_t valueId, int32_t value) {
    // The limits are the open head's, asked each time; without a head they are 0..0.
    int32_t minimum = 0;
    int32_t maximum = 0;
    if (valueId == QUORIX_VALUE_GLOBAL_GAIN) {
        minimum = m_engine->GetGainMin();
        maximum = m_engine->GetGainMax();
    } else if (valueId == QUORIX_VALUE_EXPOSURE_TIME) {
        minimum = m_engine->GetExposureTimeMin();
        maximum = m_engine->GetExposureTimeMax();
    } else {
        minimum = m_engine->GetColorGainMin();
        maximum = m_engine->GetColorGainMax();
    }
    if (value < minimum || value > maximum) {
        SetError(kErrArgument);
        return 0;
    }
    // The value counts from now on: the camera gets it at once when it can take it, and again
    // whenever a camera opens or acquisition starts.
    // The automatic exposure and gain change these values from the preview's thread.
    switch (valueId) {
        case QUORIX_VALUE_GLOBAL_GAIN: {
            std::unique_lock lock(m_valuesLock);
            m_camera.globalGain = value;
            m_camera.colorGainGreen1 = value;
            m_camera.colorGainRed = value;
            m_camera.colorGainBlue = value;
            m_camera.colorGainGreen2 = value;
            lock.unlock();
            m_engine->SetGain(value);
            break;
        }
        case QUORIX_VALUE_COLOR_GAIN_RED: {
            std::unique_lock lock(m_valuesLock);
            m_camera.colorGainRed = value;
            lock.unlock();
            m_engine->SetColorGainRed(value);
            break;
        }
        case QUORIX_VALUE_COLOR_GAIN_GREEN1: {
            std::unique_lock lock(m_valuesLock);
            m_camera.colorGainGreen1 = value;
            lock.unlock();
            m_engine->SetColorGainGreen1(value);
            break;
        }
        case QUORIX_VALUE_COLOR_GAIN_GREEN2: {
            std::unique_lock lock(m_valuesLock);
            m_camera.colorGainGreen2 = value;
            lock.unlock();
            m_engine->SetColorGainGreen2(value);
            break;
        }
        case QUORIX_VALUE_COLOR_GAIN_BLUE: {
            std::unique_lock lock(m_valuesLock);
            m_camera.colorGainBlue = value;
            lock.unlock();
            m_engine->SetColorGainBlue(value);
            break;
        }
        default:
            ApplyExposure(value);
            break;
    }
    return 1;
}

void CQuorix::ApplyExposure(int32_t exposure) {
    {
        std::lock_guard lock(m_valuesLock);
        m_camera.exposure = exposure;
    }
    m_engine->SetExposureTime(exposure);
    // A head with a seconds-based exposure reports what the new exposure came to.
    if (m_engine->IsExposureTimeExSupported()) {
        double seconds = 0.0;
        m_engine->GetExposureTimeEx(&seconds);
        std::lock_guard lock(m_valuesLock);
        m_camera.exposureSeconds = seconds;
    }
}

int32_t CQuorix::GetOptionalCameraValue(int32_t valueId, int32_t* ok) {
    switch (valueId) {
        case QUORIX_VALUE_PELTIER:
            if (m_engine->IsCoolerSupported()) {
                int32_t value = 0;
                m_engine->GetCooler(&value);
                return value;
            }
            break;
        case QUORIX_VALUE_GAIN_MODE: {
            // -1: the camera has no gain modes.
            const int32_t mode = m_engine->GetGainMode();
            if (mode == -1) {
                SetFlag(ok, 0);
            }
            return mode;
        }
        case QUORIX_VALUE_SHORT_EXPOSURE_MODE:
            if (m_engine->IsShortExposureModeSupported()) {
                int32_t value = 0;
                if (!m_engine->GetShortExposureMode(&value)) {
                    SetFlag(ok, 0);
                    SetError(kErrRegister);
                    return 0;
                }
                SetError(kErrNone);
                return value != 0 ? 1 : 0;
            }
            SetFlag(ok, 0);
            SetError(kErrUnsupported);
            return 0;
        case QUORIX_VALUE_BLACK_LEVEL:
            if (m_engine->IsBlackLevelSupported()) {
                m_camera.blackLevel = m_engine->GetBlackLevel();
                SetError(kErrNone);
                return m_camera.blackLevel;
            }
            SetFlag(ok, 0);
            SetError(kErrUnsupported);
            return 0;
        default:  // the temperature has its own call with a fractional value
            break;
    }
    SetFlag(ok, 0);
    SetError(kErrUnsupported);
    return -1;
}

int CQuorix::SetOptionalCameraValue(int32_t valueId, int32_t value) {
    switch (valueId) {
        case QUORIX_VALUE_PELTIER:
            if (m_engine->IsCoolerSupported()) {
                return m_engine->SetCooler(value);
            }
            break;
        case QUORIX_VALUE_GAIN_MODE: {
            // The camera's own answer; a camera without gain modes refuses every one.
            const int result = m_engine->SetGainMode(value);
            if (result != 0) {
                m_camera.gainMode = value;
            }
            return result;
        }
        case QUORIX_VALUE_SHORT_EXPOSURE_MODE:
            if (m_engine->IsShortExposureModeSupported()) {
                const int32_t on = value > 0 ? 1 : 0;
                if (!m_engine->SetShortExposureMode(on)) {
                    SetError(kErrRegister);
                    return 0;
                }
                m_camera.shortExposure = on;
                return 1;
            }
            break;
        case QUORIX_VALUE_BLACK_LEVEL:
            if (m_engine->IsBlackLevelSupported()) {
                if (!m_engine->SetBlackLevel(value)) {
                    SetError(kErrRegister);
                    return 0;
                }
                m_camera.blackLevel = value;
                SetError(kErrNone);
                return 1;
            }
            break;
        default:
            break;
    }
    SetError(kErrUnsupported);
    return 0;
}

// --- Exposure and mirroring ----------------------------------------------------------------------

int CQuorix::SetExposureTimeEx(double seconds) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (!m_engine->IsExposureTimeExSupported()) {
        SetError(kErrUnsupported);
        return 0;
    }
    // A value the camera refuses changes nothing; the camera's answer is the only news.
    if (!m_engine->SetExposureTimeEx(seconds)) {
        return 0;
    }
    m_camera.exposureSeconds = seconds;
    m_camera.exposure = ToExposureUnits(seconds);
    return 1;
}

double CQuorix::GetExposureTimeEx(int32_t* ok) {
    SetFlag(ok, 0);
    if (!m_engine) {
        return NotAvailable(-1.0);
    }
    if (!m_engine->IsExposureTimeExSupported()) {
        SetError(kErrUnsupported);
        return -1.0;
    }
    double seconds = 0.0;
    m_engine->GetExposureTimeEx(&seconds);
    m_camera.exposureSeconds = seconds;
    SetFlag(ok, 1);
    return seconds;
}

int CQuorix::SetRealExposureTime(uint32_t microseconds) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    // The camera's exposure unit is 100 us; finer parts are dropped.
    const int64_t exposure = microseconds / 100;
    if (exposure < m_engine->GetExposureTimeMin() || exposure > m_engine->GetExposureTimeMax()) {
        SetError(kErrArgument);
        return 0;
    }
    m_realExposureStep = static_cast<int32_t>(exposure);
    ApplyExposure(static_cast<int32_t>(exposure));
    return 1;
}

int CQuorix::SetMirrorH(int32_t on) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    const int32_t mirror = on != 0 ? 1 : 0;
    m_engine->SetMirrorH(mirror);
    std::lock_guard lock(m_valuesLock);
    m_camera.mirrorH = mirror;
    return 1;
}

int CQuorix::SetMirrorV(int32_t on) {
    if (!m_engine) {
        PostError(kErrNoEngine);
        return 0;
    }
    const int32_t mirror = on != 0 ? 1 : 0;
    m_engine->SetMirrorV(mirror);
    std::lock_guard lock(m_valuesLock);
    m_camera.mirrorV = mirror;
    return 1;
}

int32_t CQuorix::GetMirrorH() {
    if (!m_engine) {
        return NotAvailable(0);
    }
    std::lock_guard lock(m_valuesLock);
    return m_camera.mirrorH;
}

int32_t CQuorix::GetMirrorV() {
    if (!m_engine) {
        PostError(kErrNoEngine);
        return 0;
    }
    std::lock_guard lock(m_valuesLock);
    return m_camera.mirrorV;
}

// --- The camera's optional controls --------------------------------------------------------------

double CQuorix::GetTemperatureEx(int32_t* ok) {
    SetFlag(ok, 0);
    if (!m_engine) {
        return NotAvailable(0.0);
    }
    if (!m_engine->IsTemperatureSupported()) {
        SetError(kErrUnsupported);
        return 0.0;
    }
    double celsius = 0.0;
    if (!m_engine->GetTemperature(&celsius)) {
        SetError(kErrText);
        return 0.0;
    }
    SetFlag(ok, 1);
    SetError(kErrNone);
    return celsius;
}

int CQuorix::SetInternalCorrection(int32_t value) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (!m_engine->IsInternalCorrectionSupported()) {
        PostError(kErrUnsupported);
        return 0;
    }
    return m_engine->SetInternalCorrection(value);
}

int32_t CQuorix::GetInternalCorrection(int32_t* ok) {
    SetFlag(ok, 0);
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (!m_engine->IsInternalCorrectionSupported()) {
        PostError(kErrUnsupported);
        return 0;
    }
    int32_t value = 0;
    m_engine->GetInternalCorrection(&value);
    SetFlag(ok, 1);
    return value;
}

int CQuorix::SetSamplingRate(int32_t rate) {
    if (!m_engine) {
        return 0;
    }
    // The requested rate goes to the head both as its index and by address; a head with a
    // fixed sampling rate refuses both.
    return m_engine->SetSamplingRate(0, rate, &rate);
}

int CQuorix::SetIOPort(uint32_t value) {
    if (!m_engine) {
        PostError(kErrNoEngine);
        return 0;
    }
    return m_engine->WriteFpgaRegister(fpga::kIoPort, value & 0xFF) != 0 ? 1 : 0;
}

int CQuorix::GetIOPort(uint8_t* value) {
    if (!m_engine) {
        PostError(kErrNoEngine);
        return 0;
    }
    int32_t read = 0;
    const int32_t port = value != nullptr ? m_engine->ReadFpgaRegister(fpga::kIoPort, &read) : 0;
    if (read == 0) {
        PostError(kErrArgument);
        return 0;
    }
    *value = static_cast<uint8_t>(port);
    return 1;
}

// --- Registers and EEPROM ----------------------------------------------------------------------

uint32_t CQuorix::ReadRegister(uint32_t address, int32_t* ok) {
    SetFlag(ok, 0);
    if (!m_engine) {
        return NotAvailable(0u);
    }
    uint32_t value = 0;
    if (!m_engine->ReadRegisterRaw(0, address, &value)) {
        SetError(kErrRegister);
        return 0;
    }
    SetFlag(ok, 1);
    return value;
}

int CQuorix::WriteRegister(uint32_t address, uint32_t value) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (!m_engine->WriteRegisterRaw(0, address, value)) {
        SetError(kErrRegister);
        return 0;
    }
    return 1;
}

uint32_t CQuorix::ReadSromId(uint32_t address, int32_t* ok) {
    SetFlag(ok, 0);
    uint8_t byte = 0;
    if (!m_engine || !m_engine->ReadEepromByte(address & kSromReadMask, &byte)) {
        PostError(kErrNoEngine);
        return 0;
    }
    SetFlag(ok, 1);
    return byte;
}

int CQuorix::WriteSromId(uint32_t address, uint32_t value) {
    if (!m_engine) {
        PostError(kErrNoEngine);
        return 0;
    }
    const uint32_t cell = address & kSromWriteMask;
    const auto byte = static_cast<uint8_t>(value);
    if (!m_engine->WriteEepromByte(cell, byte)) {
        PostError(kErrNoEngine);
        return 0;
    }
    // An EEPROM cell can miss a write; it is read back after every write and written again while
    // it differs. A cell that never holds the byte is a failed write, not a success.
    for (int retry = 0;; ++retry) {
        uint8_t stored = 0;
        if (!m_engine->ReadEepromByte(cell, &stored)) {
            break;
        }
        if (stored == byte) {
            return 1;
        }
        if (retry == kSromWriteRetries || !m_engine->WriteEepromByte(cell, byte)) {
            break;
        }
    }
    PostError(kErrNoEngine);
    return 0;
}

}  // namespace quorix
