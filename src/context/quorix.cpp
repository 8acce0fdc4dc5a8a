#include "context/quorix.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <utility>

#include "platform/charset.h"
#include "platform/clock.h"
#include "platform/device_notification.h"
#include "platform/file_io.h"
#include "platform/settings_store.h"
#include "sensors/sensor_base.h"

namespace quorix {

namespace {

constexpr char kDeviceNameStem[] = "Quorix252DIV-USB3-R5";

}  // namespace

CQuorix::CQuorix(EngineFactory engineFactory)
    : m_engineFactory(std::move(engineFactory)), m_frameRate(platform::GetTickCount()) {}

CQuorix::EngineFactory CQuorix::DefaultEngineFactory() {
    return
        [] { return std::unique_ptr<CQuorixU3R5Base>(std::make_unique<CQuorixUSB3R5SimpleSdk>()); };
}

CQuorix::~CQuorix() {
    m_deviceNumber = -1;
    if (m_engine) {
        try {
            // Nobody is left to take an error code: a save that fails is reported on stderr.
            SaveCameraValues(m_engine->GetDeviceIndex());
        } catch (const std::exception&) {
            // Without memory for the text the stored values stay as they were.
        }
    }
    Close();
    if (m_engine) {
        m_engine->CloseCamera();
        m_engine.reset();
    }
    for (auto& image : m_images) {
        image.reset();
    }
}

int CQuorix::Initialize(platform::WindowHandle notifyWindow) {
    m_engine.reset();
    {
        std::lock_guard lock(m_maskLock);
        for (auto& image : m_images) {
            image.reset();
        }
        // The correction planes are made when a correction first needs them (EnsureMaskPlanes).
        m_maskPlanesReady = false;
    }
    bool allocated = true;
    try {
        m_engine = m_engineFactory ? m_engineFactory() : nullptr;
        for (auto& image : m_images) {
            image = std::make_unique<CImageBuffer>();
        }
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    m_notifyWindow = notifyWindow;

    // Arrivals and removals of cameras go straight to the application's window; the context only
    // asks for them and never acts on them itself.
    if (notifyWindow != 0 && !platform::RegisterDeviceInterfaceNotification(
                                 notifyWindow, platform::kCameraInterfaceGuid)) {
        return 0;
    }
    if (!allocated) {
        SetError(kErrBuffer);
        return 0;
    }
    // The capture window of the stored size preset; the device number is still -1, so on first
    // use this writes the defaults under "Camera_-1".
    LoadSizeSettings();
    if (m_engine) {
        m_engine->SetCameraId(kCameraId);
        m_engine->CreateController(notifyWindow, &platform::kCameraInterfaceGuid);
        // With exactly one camera attached it opens at once, whatever its device number: an
        // unplugged camera may still hold a lower one.
        if (m_engine->CountDevices(kCameraId) == 1) {
            for (int32_t number = 0; number < m_engine->GetMaxDevices(); ++number) {
                if (m_engine->IsDeviceAvailable(number)) {
                    SetDeviceNumber(number);
                    break;
                }
            }
        }
    }
    // The opened camera's values were loaded as it opened; the filters of a context without a
    // camera are those of camera 0.
    const platform::SettingsTree stored = platform::SettingsStore::CurrentUser().Read();
    LoadAnalogValues(stored, m_engine ? m_engine->GetDeviceIndex() : 0);
    const int32_t filterNumber = m_deviceNumber >= 0 ? m_deviceNumber : 0;
    LoadFilterValues(stored, filterNumber);
    LoadGrayValues(stored, filterNumber);
    LoadSettings();
    return 1;
}

bool CQuorix::EnsureMaskPlanes() {
    std::lock_guard lock(m_maskLock);
    if (m_maskPlanesReady) {
        return true;
    }
    const std::array<std::pair<ImageSlot, uint16_t>, 10> planes = {{{kDarkPlane8, 8},
                                                                    {kWhitePlane8, 8},
                                                                    {kDarkPlane16, 16},
                                                                    {kWhitePlane16, 16},
                                                                    {kHotMap8, 8},
                                                                    {kDeadMap8, 8},
                                                                    {kDotMap8, 8},
                                                                    {kHotMap16, 16},
                                                                    {kDeadMap16, 16},
                                                                    {kDotMap16, 16}}};
    for (const auto& [slot, bits] : planes) {
        if (m_images[slot] == nullptr ||
            !m_images[slot]->Create(kSensorWidth, kSensorHeight, bits)) {
            // Half a set is no set: what was made goes again, and the next call tries afresh.
            for (const auto& [made, unused] : planes) {
                if (m_images[made] != nullptr) {
                    m_images[made]->Release();
                }
            }
            SetError(kErrBuffer);
            return false;
        }
    }
    // A white plane at full scale and a dark plane at zero make the flat-field mapping neutral.
    for (const ImageSlot white : {kWhitePlane8, kWhitePlane16}) {
        CImageBuffer& plane = *m_images[white];
        std::memset(plane.Bits(), 0xFF, plane.SizeBytes());
    }
    m_maskPlanesReady = true;
    return true;
}

bool CQuorix::SendGainsAndExposure() {
    const bool gain = m_engine->SetGain(m_camera.globalGain) != 0;
    m_engine->SetColorGainGreen1(m_camera.colorGainGreen1);
    m_engine->SetColorGainRed(m_camera.colorGainRed);
    m_engine->SetColorGainBlue(m_camera.colorGainBlue);
    m_engine->SetColorGainGreen2(m_camera.colorGainGreen2);
    // A head that takes exposures in seconds gets the exact value; the others the stored
    // integer exposure, which the engine's range kept within 16 bits.
    const bool exposure = m_engine->IsExposureTimeExSupported()
                              ? m_engine->SetExposureTimeEx(m_camera.exposureSeconds) != 0
                              : m_engine->SetExposureTime(m_camera.exposure) != 0;
    return gain && exposure;
}

void CQuorix::ApplyCameraValues() {
    // One burst: a camera whose sensor bus stays busy costs the open one wait, not one per value.
    const CSensorBase::SettingsBurst burst(m_engine->Sensor());
    SendGainsAndExposure();
    m_engine->SetMirrorV(m_camera.mirrorV);
    m_engine->SetMirrorH(m_camera.mirrorH);
    if (m_engine->IsBlackLevelSupported()) {
        m_engine->SetBlackLevel(m_camera.blackLevel);
    }
    if (m_engine->IsCoolerSupported()) {
        m_engine->SetCooler(1);
        m_camera.coolerOn = 1;
    }
    if (m_engine->IsShortExposureModeSupported()) {
        m_engine->SetShortExposureMode(0);
        m_camera.shortExposure = 0;
    }
    if (m_engine->IsGainModeSupported()) {
        m_engine->SetGainMode(m_camera.gainMode);
    }
}

// --- Errors ------------------------------------------------------------------------------------

void CQuorix::SetError(uint32_t code) {
    platform::WindowHandle window = 0;
    {
        std::lock_guard lock(m_errorLock);
        std::copy_backward(m_errorHistory.begin(), m_errorHistory.end() - 1, m_errorHistory.end());
        m_errorHistory[0] = code;
        window = m_notifyWindow;
    }
    if (window != 0) {
        platform::PostMessage(window, kMsgError, 0, static_cast<intptr_t>(code));
    }
}

void CQuorix::PostError(uint32_t code) {
    // A null window sends the notice to the calling thread's own queue.
    platform::PostMessage(m_notifyWindow, kMsgError, 0, static_cast<intptr_t>(code));
}

uint32_t CQuorix::GetLastError() {
    std::lock_guard lock(m_errorLock);
    const uint32_t code = m_errorHistory[0];
    std::copy(m_errorHistory.begin() + 1, m_errorHistory.end(), m_errorHistory.begin());
    m_errorHistory.back() = 0;
    return code;
}

// --- Devices -----------------------------------------------------------------------------------

void CQuorix::FormatDeviceName(int32_t number, char* buffer, size_t size) {
    std::snprintf(buffer, size, "%s_%02d", kDeviceNameStem, static_cast<int>(number));
}

int32_t CQuorix::EnumDevice(char (*names)[kDeviceNameBytes]) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (names == nullptr) {
        SetError(kErrArgument);
        return 0;
    }
    // Each present camera is named after its device number, the one Quorix_SetDeviceNumber
    // opens it with. Numbers stay with their cameras, so an unplugged camera leaves a gap until
    // its number is reclaimed; with more than ten, the caller's buffer holds the first ten.
    const int32_t count = m_engine->CountDevices(kCameraId);
    int32_t found = 0;
    for (int32_t number = 0;
         number < m_engine->GetMaxDevices() && found < count && found < kEnumEntries; ++number) {
        if (m_engine->IsDeviceAvailable(number)) {
            FormatDeviceName(number + 1, names[found], kDeviceNameBytes);
            ++found;
        }
    }
    for (int32_t entry = found; entry < kEnumEntries; ++entry) {
        names[entry][0] = '\0';
    }
    return found;
}

int32_t CQuorix::EnumDeviceW(char16_t (*names)[kDeviceNameBytes]) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (names == nullptr) {
        SetError(kErrArgument);
        return 0;
    }
    char narrow[kEnumEntries][kDeviceNameBytes];
    const int32_t found = EnumDevice(narrow);
    for (int32_t entry = 0; entry < kEnumEntries; ++entry) {
        std::u16string wide;
        if (entry >= found || !platform::AnsiToWide(narrow[entry], wide, kDeviceNameBytes)) {
            wide.clear();
        }
        std::copy(wide.begin(), wide.end(), names[entry]);
        names[entry][wide.size()] = u'\0';
    }
    return found;
}

int CQuorix::GetDeviceName(int32_t index, char* buffer, int32_t size) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    // The name needs 24 bytes with its terminator; anything smaller would be cut.
    if (buffer == nullptr || size < kMinDeviceNameBytes) {
        SetError(kErrArgument);
        return 0;
    }
    if (index < 0 || index >= m_engine->GetMaxDevices() || !m_engine->IsDeviceAvailable(index)) {
        SetError(kErrNoCamera);
        return 0;
    }
    FormatDeviceName(index + 1, buffer, static_cast<size_t>(size));
    return 1;
}

int CQuorix::GetDeviceNameW(int32_t index, char16_t* buffer, int32_t size) {
    char narrow[kDeviceNameBytes];
    if (!GetDeviceName(index, narrow, sizeof narrow)) {
        return 0;
    }
    return CopyAsWide(narrow, buffer, size);
}

int CQuorix::CopyAsWide(const char* text, char16_t* buffer, int32_t units) {
    constexpr size_t kMaxWideUnits = 1024;
    std::u16string wide;
    if (buffer == nullptr || units <= 0 || !platform::AnsiToWide(text, wide, kMaxWideUnits) ||
        wide.size() + 1 > static_cast<size_t>(units)) {
        SetError(kErrText);
        return 0;
    }
    std::copy(wide.begin(), wide.end(), buffer);
    buffer[wide.size()] = u'\0';
    return 1;
}

int CQuorix::SetDeviceNumber(int32_t index) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    // The values of the camera open so far are saved under its number, also when the same camera
    // is selected again. A store that cannot be written does not keep the next camera from
    // opening; code 12 tells the caller that the values were not kept.
    if (m_deviceSelected != 0 && !SaveCameraValues(m_engine->GetDeviceIndex())) {
        SetError(kErrText);
    }
    m_deviceSelected = 1;
    if (!m_engine->IsDeviceAvailable(index)) {
        SetError(kErrNoCamera);
        return 0;
    }
    if (index == m_deviceNumber) {
        return 1;
    }
    // The sensor object is replaced below: no worker or transfer of the old camera may still
    // use it, and no acquisition may start meanwhile. A preview learns it from its frame
    // notification.
    std::lock_guard acquisitionLock(m_acquisitionLock);
    if (m_acquisitionState.load() != 0) {
        EndAcquisition(kErrTransferStopped, false);
    }
    if (!m_engine->CreateSensor(index)) {
        SetError(kErrNoCamera);
        return 0;
    }
    const platform::SettingsTree stored = platform::SettingsStore::CurrentUser().Read();
    LoadAnalogValues(stored, index);
    LoadFilterValues(stored, index);
    LoadGrayValues(stored, index);
    ApplyCameraValues();
    m_deviceNumber = index;
    return 1;
}

int CQuorix::Close() {
    // The preview window goes first; the worker then draws nothing more.
    DestroyPreviewWindow();
    if (m_engine) {
        StopPreview();
        m_engine->StopCapture(0);
    }
    m_frameAvailable.store(0);
    return 1;
}

int CQuorix::ReadSerialNumber(char* buffer, int32_t size) {
    if (buffer == nullptr || size < kMinSerialBytes) {
        SetError(kErrArgument);
        return 0;
    }
    if (!m_engine) {
        return NotAvailable(0);
    }
    // The serial number is a text of at most 32 bytes in the camera's EEPROM, ended by the first
    // erased byte (0xFF) or by the end of the field. The EEPROM needs a pause after each read.
    char bytes[kMinSerialBytes] = {};
    int32_t stored = 0;
    bool firstErased = false;
    for (uint32_t offset = 0; offset < static_cast<uint32_t>(kMinSerialBytes); ++offset) {
        uint8_t value = 0;
        if (!m_engine->ReadEepromByte(kSerialNumberAddress + offset, &value)) {
            break;
        }
        if (value == 0xFF) {
            firstErased = offset == 0;
            break;
        }
        bytes[stored++] = static_cast<char>(value);
        platform::SleepMs(kSerialNumberPauseMs);
    }
    if (stored > 0 && bytes[0] != '\0') {
        // A field filled to the end has no terminator of its own: keep 31 characters.
        const size_t length = strnlen(bytes, static_cast<size_t>(kMinSerialBytes - 1));
        std::memcpy(buffer, bytes, length);
        buffer[length] = '\0';
        return 1;
    }
    return stored > 0 || firstErased ? 1 : 0;
}

int CQuorix::ReadSerialNumberW(char16_t* buffer, int32_t size) {
    // A stored empty serial number succeeds without writing the text; the caller then gets an
    // empty one.
    char narrow[1024] = {};
    if (!ReadSerialNumber(narrow, sizeof narrow)) {
        return 0;
    }
    return CopyAsWide(narrow, buffer, size);
}

// --- Configuration file ------------------------------------------------------------------------

int CQuorix::LoadConfigFile(const char* fileName) {
    if (fileName == nullptr) {
        return 0;
    }
    // Read whole, of any length; anything but a regular file (a FIFO would wait for a writer
    // without end) cannot be opened.
    std::vector<uint8_t> bytes;
    if (platform::ReadFileContents(fileName, SIZE_MAX, bytes) != platform::ReadResult::kRead) {
        return 0;
    }
    std::vector<ConfigRecord> records = ParseConfigRecords(bytes.data(), bytes.size());
    std::lock_guard lock(m_frameLock);
    m_configRecords = std::move(records);
    return 1;
}

// --- Stored values -----------------------------------------------------------------------------

int32_t CQuorix::GetColorMode() const {
    return kBitsPerColourType.at(static_cast<size_t>(m_colourType));
}

int CQuorix::SetWaitTime(int32_t milliseconds) {
    if (milliseconds < 0) {
        return 0;
    }
    // Beyond a minute a pause is no preview any more, and INT32_MAX would be read as a wait
    // without end by the clock.
    if (milliseconds > kMaxWaitTimeMs) {
        SetError(kErrArgument);
        return 0;
    }
    m_waitTime = milliseconds;
    return 1;
}

int CQuorix::GetCaptureWindowEx(int32_t* totalWidth, int32_t* hStart, int32_t* width,
                                int32_t* totalHeight, int32_t* vStart, int32_t* height) const {
    const auto put = [](int32_t* target, uint32_t value) {
        if (target != nullptr) {
            *target = static_cast<int32_t>(value);
        }
    };
    put(totalWidth, m_totalWidth);
    put(hStart, m_hStart);
    put(width, m_captureWidth);
    put(totalHeight, m_totalHeight);
    put(vStart, m_vStart);
    put(height, m_captureHeight);
    return 1;
}

int CQuorix::SetAutoIris(int32_t mode) {
    if (static_cast<uint32_t>(mode) > static_cast<uint32_t>(kMaxAutoIrisMode)) {
        PostError(kErrArgument);
        return 0;
    }
    std::lock_guard lock(m_valuesLock);
    m_camera.autoIris = mode;
    return 1;
}

int32_t CQuorix::GetAutoIris(int32_t* ok) const {
    if (ok != nullptr) {
        *ok = 1;
    }
    std::lock_guard lock(m_valuesLock);
    return m_camera.autoIris;
}

uint32_t CQuorix::GetRealExposureTime(int32_t* ok) {
    {
        // The automatic exposure changes the exposure from the preview's thread.
        std::lock_guard lock(m_valuesLock);
        m_lastRealExposure = static_cast<uint32_t>(m_camera.exposure) * 100U;
    }
    if (ok != nullptr) {
        *ok = 1;
    }
    return m_lastRealExposure;
}

}  // namespace quorix
