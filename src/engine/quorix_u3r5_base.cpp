#include "engine/quorix_u3r5_base.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "camera/camera_model.h"
#include "camera/fpga_registers.h"
#include "engine/sensor_factory.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "sensors/sensor_base.h"
#include "sensors/sensor_imx252.h"
#include "transport/vol_cy3_cam.h"

namespace quorix {

namespace {

constexpr int32_t kImx252CameraId = camera::kCameraId;
constexpr int32_t kAuxEndpointCameraId = 12354;
constexpr uint16_t kFirstFirmwareWithReadiness = 0x1100;
constexpr size_t kFirmwareVersionOffset = 24;
constexpr size_t kGpio25FlagOffset = 52;
constexpr int kReadinessPolls = 400;
constexpr uint32_t kReadinessPauseMs = 500;
constexpr uint64_t kBridgeResetIntervalMs = 24999;
constexpr uint32_t kFrameBufferPadding = 128;
constexpr uint32_t kFrameBufferBlock = 8192;
constexpr uint32_t kEmptyHeaderWord = 0xFFFF;

}  // namespace

CQuorixU3R5Base::CQuorixU3R5Base() {
    ClearRing();
}

CQuorixU3R5Base::~CQuorixU3R5Base() {
    CloseCamera();
}

CQuorixUSB3R5SimpleSdk::~CQuorixUSB3R5SimpleSdk() = default;

void CQuorixU3R5Base::Trace(const char* fmt, ...) {
    if (!platform::LogEnabled()) {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    platform::Log("Engine", "%s", line);
}

void CQuorixU3R5Base::ClearRing() {
    for (int32_t slot = 0; slot < static_cast<int32_t>(m_ring.size()); ++slot) {
        m_ring[slot].clear();
        m_ring[slot].shrink_to_fit();
        EmptySlot(slot);
    }
}

void CQuorixU3R5Base::EmptySlot(int32_t slot) {
    m_ringFrameNumber[slot] = -1;
    m_ringSequence[slot] = kNoSequence;
    for (std::atomic<uint32_t>& word : m_ringHeaderWords[slot]) {
        word = kEmptyHeaderWord;
    }
}

// --- Controller and devices ------------------------------------------------------------------

int CQuorixU3R5Base::CreateController(platform::WindowHandle /*window*/,
                                      const platform::Guid* interfaceGuid) {
    CloseCamera();
    m_controller = std::make_unique<CVolCy3Cam>(
        interfaceGuid != nullptr ? *interfaceGuid : platform::kCameraInterfaceGuid);
    return 1;
}

int32_t CQuorixU3R5Base::CountDevices(int32_t cameraId) {
    if (!m_controller) {
        return 0;
    }
    const int32_t entries = m_controller->EnumerateDevices();
    if (cameraId == 0) {
        return entries;
    }
    int32_t count = 0;
    for (int32_t index = 0; index < entries && index < kMaxDevices; ++index) {
        DeviceTableEntry entry;
        if (CFx3Api::GetDeviceEntry(index, &entry) && entry.productId != 0 &&
            entry.productId == static_cast<uint16_t>(cameraId) &&
            m_controller->DeviceExists(index)) {
            ++count;
        }
    }
    return count;
}

int CQuorixU3R5Base::IsDeviceAvailable(int32_t instance) {
    if (!m_controller || m_cameraId == kNoCameraId) {
        return 0;
    }
    for (int32_t index = 0; index < kMaxDevices; ++index) {
        DeviceTableEntry entry;
        if (CFx3Api::GetDeviceEntry(index, &entry) &&
            entry.productId == static_cast<uint16_t>(m_cameraId) && entry.instance == instance &&
            m_controller->DeviceExists(index)) {
            return 1;
        }
    }
    return 0;
}

int CQuorixU3R5Base::OpenCamera(int32_t instance) {
    StopCapture(1);
    return CreateSensor(instance) ? 0 : -1;
}

int CQuorixU3R5Base::CreateSensor(int32_t instance) {
    if (!m_controller || m_cameraId == kNoCameraId || m_controller->EnumerateDevices() == 0 ||
        !IsDeviceAvailable(instance)) {
        return 0;
    }
    int32_t position = -1;
    for (int32_t index = 0; index < kMaxDevices && position < 0; ++index) {
        DeviceTableEntry entry;
        if (CFx3Api::GetDeviceEntry(index, &entry) && entry.instance == instance &&
            entry.productId == static_cast<uint16_t>(m_cameraId)) {
            position = index;
        }
    }
    if (position < 0) {
        return 0;
    }
    // A capture thread still running uses the stream of the selected device and the sensor
    // being replaced: it ends first.
    JoinCaptureThread();
    if (!m_controller->SelectDevice(position)) {
        return 0;
    }
    m_sensor.reset();
    m_sensor = CreateSensorHead(m_cameraId, m_controller.get());
    if (!m_sensor) {
        return 0;
    }
    m_deviceIndex = instance;
    m_geometryPending = 1;
    return InitializeCamera();
}

int CQuorixU3R5Base::InitializeCamera() {
    if (!m_controller || !m_controller->AllocateTransferBuffer()) {
        return 0;
    }
    m_controller->ReadDeviceInfo(m_deviceInfo.data());
    if (!m_sensor) {
        return 0;
    }
    std::array<uint8_t, kDeviceInfoSize> info{};
    const bool read = m_controller->ReadDeviceInfo(info.data()) != 0;
    const auto firmware = static_cast<uint16_t>(info[kFirmwareVersionOffset] |
                                                (info[kFirmwareVersionOffset + 1] << 8));
    const uint8_t gpio25 = info[kGpio25FlagOffset];
    const bool firmwareOk = read && firmware > kFirstFirmwareWithReadiness;
    const bool gpio25Ok = read && gpio25 == 1;
    if (firmwareOk && gpio25Ok) {
        // Newer firmware raises the readiness line once the FPGA has loaded; a sensor bridge that
        // hangs is reset every 25 seconds while waiting.
        uint64_t noted = platform::MonotonicMs();
        bool ready = false;
        for (int poll = 0; poll < kReadinessPolls && !ready; ++poll) {
            uint8_t state = 0;
            if (m_controller->ReadGpio25State(&state) && state == 1) {
                ready = true;
                break;
            }
            platform::SleepMs(kReadinessPauseMs);
            if (platform::MonotonicMs() - noted > kBridgeResetIntervalMs) {
                m_sensor->ResetSensorBridge();
                noted = platform::MonotonicMs();
            }
        }
        if (!ready) {
            return 0;
        }
    } else {
        Trace("Cypress=0x%X(%s), GPIO25 flag=%d(%s)", firmware, firmwareOk ? "OK" : "NG", gpio25,
              gpio25Ok ? "OK" : "NG");
    }
    if (!m_sensor->IsReady()) {
        return 0;
    }
    return m_sensor->Initialize();
}

int CQuorixU3R5Base::PrepareFrameBuffers() {
    // The capture thread receives into these buffers: it ends before they are replaced, and the
    // camera's stream is cleared of a frame it was interrupted in.
    if (JoinCaptureThread()) {
        ResetTransfer();
    }
    m_rawBuffer.clear();
    m_rawBuffer.shrink_to_fit();
    if (!m_sensor) {
        return 0;
    }
    const SensorStateBlock& state = m_sensor->State();
    // A window without pixels gives no frame to size the buffers by or to send.
    m_frameSize = 0;
    if (state.m_nWidth <= 0 || state.m_nHeight <= 0) {
        return 0;
    }
    auto width = static_cast<uint32_t>(state.m_nWidth);
    const auto height = static_cast<uint32_t>(state.m_nHeight);
    if (m_sensor->GetRawWidthMode() == 2) {
        width *= 2;
    }
    const uint32_t bytesPerPixel = m_dataWidth == 1 || m_dataWidth == 2 ? 2 : 1;
    // The padded frame rounded up to whole 8192-byte blocks: room for what the camera sends
    // beyond the frame itself. Capacity and frame size are 32-bit byte counts.
    const uint64_t padded = (uint64_t{height} + kFrameBufferPadding) *
                            (uint64_t{width} + kFrameBufferPadding) * bytesPerPixel;
    const uint64_t size = (padded + kFrameBufferBlock - 1) / kFrameBufferBlock * kFrameBufferBlock;
    if (size > UINT32_MAX) {
        return 0;
    }
    try {
        m_rawBuffer.assign(size, 0);
        m_frameSize = width * height * bytesPerPixel;
        // A slot holds only the frame itself; the slots beyond the ring's depth hold nothing.
        for (int32_t slot = 0; slot < static_cast<int32_t>(m_ring.size()); ++slot) {
            if (slot < m_ringSlots) {
                m_ring[slot].assign(m_frameSize, 0);
            } else {
                m_ring[slot].clear();
                m_ring[slot].shrink_to_fit();
            }
            EmptySlot(slot);
        }
        // A shallower ring than before: the indices start again inside it.
        if (m_writeIndex.load() >= m_ringSlots || m_readMark.load() >= m_ringSlots) {
            m_writeIndex.store(0);
            m_readMark.store(0);
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (!m_controller) {
        return 0;
    }
    // The FPGA cuts the frames by these registers; one write that did not arrive would give
    // frames of another geometry than the buffers', so the buffers are not used then.
    bool programmed =
        m_controller->WriteFpgaRegister(fpga::kWidthLow, static_cast<uint8_t>(width)) &&
        m_controller->WriteFpgaRegister(fpga::kWidthHigh, static_cast<uint8_t>(width >> 8)) &&
        m_controller->WriteFpgaRegister(fpga::kHeightLow, static_cast<uint8_t>(height)) &&
        m_controller->WriteFpgaRegister(fpga::kHeightHigh, static_cast<uint8_t>(height >> 8));
    if (programmed && m_cameraId == kImx252CameraId) {
        // Without 2x2 sub-sampling the FPGA takes the window's columns from the far edge.
        const bool full = state.m_nSubSample != 1;
        const uint32_t offset =
            full ? state.m_nMaxWidth - static_cast<uint32_t>(state.m_nX) - width : 0;
        programmed =
            m_controller->WriteFpgaRegister(fpga::kReadoutLow,
                                            full ? fpga::kReadoutFull : fpga::kReadoutSubSampled) &&
            m_controller->WriteFpgaRegister(fpga::kReadoutHigh, 0) &&
            m_controller->WriteFpgaRegister(fpga::kOffsetLow, static_cast<uint8_t>(offset)) &&
            m_controller->WriteFpgaRegister(fpga::kOffsetHigh, static_cast<uint8_t>(offset >> 8));
    }
    if (!programmed) {
        Trace("PrepareFrameBuffers: the FPGA did not take the frame geometry");
        m_frameSize = 0;
        return 0;
    }
    m_geometryPending = 0;
    return 1;
}

int CQuorixU3R5Base::CloseCamera() {
    // Joins the capture thread: nothing below is freed while it could still use it.
    StopCapture(1);
    if (m_controller) {
        m_controller->CloseStreamHandle();
        m_controller.reset();
    }
    m_deviceInfo.fill(0);
    m_rawBuffer.clear();
    m_rawBuffer.shrink_to_fit();
    m_captureMode = 0;
    ClearRing();
    m_frameSize = 0;
    m_sensor.reset();
    m_errorFlag = 0;
    return 1;
}

int CQuorixU3R5Base::GetDeviceInfo(uint8_t* info) {
    return info != nullptr && m_controller ? m_controller->ReadDeviceInfo(info) : 0;
}

int CQuorixU3R5Base::GetDeviceInfo2(uint8_t* info) {
    return info != nullptr && m_controller ? m_controller->ReadDeviceInfo2(info) : 0;
}

int CQuorixU3R5Base::CopyStateBlock(void* buffer) {
    return buffer != nullptr && m_sensor ? m_sensor->CopyStateBlock(buffer) : 0;
}

int CQuorixU3R5Base::SetCameraId(int32_t cameraId) {
    m_cameraId = cameraId;
    return 1;
}

int32_t CQuorixU3R5Base::GetCameraId() {
    return m_cameraId;
}

uint32_t CQuorixU3R5Base::GetVendorId(int32_t index) {
    DeviceTableEntry entry;
    return m_controller && index >= 0 && index < kMaxDevices &&
                   CFx3Api::GetDeviceEntry(index, &entry)
               ? entry.vendorId
               : 0;
}

uint32_t CQuorixU3R5Base::GetProductId(int32_t index) {
    DeviceTableEntry entry;
    return m_controller && index >= 0 && index < kMaxDevices &&
                   CFx3Api::GetDeviceEntry(index, &entry)
               ? entry.productId
               : 0;
}

int32_t CQuorixU3R5Base::GetInstanceNumber(int32_t index) {
    DeviceTableEntry entry;
    if (!m_controller || index < 0 || index >= kMaxDevices ||
        !CFx3Api::GetDeviceEntry(index, &entry)) {
        return -1;
    }
    return entry.instance;
}

int CQuorixU3R5Base::UsesAuxEndpoint() {
    return m_cameraId == kAuxEndpointCameraId ? 1 : 0;
}

int CQuorixU3R5Base::IsLineSensorHead() {
    return m_cameraId == 13072 || m_cameraId == 13088 || m_cameraId == 13104 || m_cameraId == 13120
               ? 1
               : 0;
}

int32_t CQuorixU3R5Base::GetDeviceIndex() {
    return m_deviceIndex;
}

int32_t CQuorixU3R5Base::GetMaxDevices() {
    return kMaxDevices;
}

// --- Settings forwarded to the head ----------------------------------------------------------

int CQuorixU3R5Base::SetMirrorH(int32_t on) {
    return m_sensor ? m_sensor->SetMirrorH(on) : 0;
}
int CQuorixU3R5Base::SetMirrorV(int32_t on) {
    return m_sensor ? m_sensor->SetMirrorV(on) : 0;
}

int CQuorixU3R5Base::GetMirrorVDefault() {
    return m_sensor ? m_sensor->GetMirrorVDefault() : 0;
}
int CQuorixU3R5Base::GetMirrorHDefault() {
    return m_sensor ? m_sensor->GetMirrorHDefault() : 0;
}

namespace {

// A query of the head: its value through an out-parameter that starts at 0.
template <typename Getter>
int32_t Query(CSensorBase* sensor, Getter getter) {
    int32_t value = 0;
    if (sensor != nullptr) {
        (sensor->*getter)(&value);
    }
    return value;
}

}  // namespace

int32_t CQuorixU3R5Base::GetGainDefault() {
    return Query(m_sensor.get(), &CSensorBase::GetGainDefault);
}
int32_t CQuorixU3R5Base::GetExposureTimeDefault() {
    return Query(m_sensor.get(), &CSensorBase::GetExposureTimeDefault);
}
int32_t CQuorixU3R5Base::GetColorGainDefault() {
    return Query(m_sensor.get(), &CSensorBase::GetColorGainDefault);
}
int32_t CQuorixU3R5Base::GetBlackLevelDefault() {
    return Query(m_sensor.get(), &CSensorBase::GetBlackLevelDefault);
}
int CQuorixU3R5Base::GetExposureTimeExDefault(double* seconds) {
    return m_sensor && seconds != nullptr
               ? static_cast<int>(m_sensor->GetExposureTimeExDefault(seconds))
               : 0;
}

int32_t CQuorixU3R5Base::GetGainMin() {
    return Query(m_sensor.get(), &CSensorBase::GetGainMin);
}
int32_t CQuorixU3R5Base::GetGainMax() {
    return Query(m_sensor.get(), &CSensorBase::GetGainMax);
}
int32_t CQuorixU3R5Base::GetExposureTimeMin() {
    return Query(m_sensor.get(), &CSensorBase::GetExposureTimeMin);
}
int32_t CQuorixU3R5Base::GetExposureTimeMax() {
    return Query(m_sensor.get(), &CSensorBase::GetExposureTimeMax);
}
int CQuorixU3R5Base::GetExposureTimeExMin(double* seconds) {
    return m_sensor && seconds != nullptr
               ? static_cast<int>(m_sensor->GetExposureTimeExMin(seconds))
               : 0;
}
int CQuorixU3R5Base::GetExposureTimeExMax(double* seconds) {
    return m_sensor && seconds != nullptr
               ? static_cast<int>(m_sensor->GetExposureTimeExMax(seconds))
               : 0;
}
int32_t CQuorixU3R5Base::GetColorGainMin() {
    return Query(m_sensor.get(), &CSensorBase::GetColorGainMin);
}
int32_t CQuorixU3R5Base::GetColorGainMax() {
    return Query(m_sensor.get(), &CSensorBase::GetColorGainMax);
}

int CQuorixU3R5Base::WriteEepromByte(uint32_t address, uint8_t value) {
    return m_controller ? m_controller->WriteEepromByte(static_cast<uint16_t>(address), value) : 0;
}

int CQuorixU3R5Base::ReadEepromByte(uint32_t address, uint8_t* value) {
    return m_controller && value != nullptr
               ? m_controller->ReadEepromByte(static_cast<uint16_t>(address), value)
               : 0;
}

int CQuorixU3R5Base::SetGain(int32_t value) {
    return m_sensor ? m_sensor->SetGain(value) : 0;
}

int CQuorixU3R5Base::SetExposureTime(int32_t value) {
    if (!m_sensor) {
        return 0;
    }
    // Long exposures need a longer wait for the frame data than the default five seconds.
    constexpr int32_t kLongExposure = 50000;
    m_dataTimeoutMs =
        value <= kLongExposure ? kDefaultDataTimeoutMs : static_cast<uint32_t>(value) / 5;
    return m_sensor->SetExposureTime(value);
}

int CQuorixU3R5Base::IsExposureTimeExSupported() {
    return m_sensor ? m_sensor->IsExposureTimeExSupported() : 0;
}

int CQuorixU3R5Base::SetExposureTimeEx(double seconds) {
    if (!m_sensor) {
        return 0;
    }
    // Exposures beyond two seconds need the frame data wait to cover them plus a second.
    if (seconds > 2.0) {
        const double waitMs = (seconds + 1.0) * 1000.0;
        m_dataTimeoutMs = static_cast<uint32_t>(std::min(waitMs, double{UINT32_MAX}));
    }
    return m_sensor->SetExposureTimeEx(seconds);
}

int CQuorixU3R5Base::SetColorGainRed(int32_t value) {
    return m_sensor ? m_sensor->SetColorGainRed(value) : 0;
}
int CQuorixU3R5Base::SetColorGainGreen1(int32_t value) {
    return m_sensor ? m_sensor->SetColorGainGreen1(value) : 0;
}
int CQuorixU3R5Base::SetColorGainGreen2(int32_t value) {
    return m_sensor ? m_sensor->SetColorGainGreen2(value) : 0;
}
int CQuorixU3R5Base::SetColorGainBlue(int32_t value) {
    return m_sensor ? m_sensor->SetColorGainBlue(value) : 0;
}
int CQuorixU3R5Base::IsBlackLevelSupported() {
    return m_sensor ? m_sensor->IsBlackLevelSupported() : 0;
}
int CQuorixU3R5Base::SetBlackLevel(int32_t value) {
    return m_sensor ? m_sensor->SetBlackLevel(value) : 0;
}
int CQuorixU3R5Base::IsGainModeSupported() {
    return m_sensor ? m_sensor->IsGainModeSupported() : 0;
}
int CQuorixU3R5Base::SetGainMode(int32_t mode) {
    return m_sensor ? m_sensor->SetGainMode(mode) : 0;
}
int CQuorixU3R5Base::IsCoolerSupported() {
    return m_sensor ? m_sensor->IsCoolerSupported() : 0;
}
int CQuorixU3R5Base::SetCooler(int32_t value) {
    return m_sensor ? m_sensor->SetCooler(value) : 0;
}
int CQuorixU3R5Base::IsShortExposureModeSupported() {
    return m_sensor ? m_sensor->IsShortExposureModeSupported() : 0;
}
int CQuorixU3R5Base::SetShortExposureMode(int32_t on) {
    return m_sensor ? m_sensor->SetShortExposureMode(on) : 0;
}

// --- FPGA registers --------------------------------------------------------------------------

// Heads read through the auxiliary endpoint have no FPGA register file on the sensor bus.
int CQuorixU3R5Base::WriteFpgaRegister(uint32_t reg, uint32_t value) {
    if (!m_controller || UsesAuxEndpoint()) {
        return 0;
    }
    return m_controller->WriteFpgaRegister(static_cast<uint8_t>(reg), static_cast<uint8_t>(value));
}

int32_t CQuorixU3R5Base::ReadFpgaRegister(uint32_t reg, int32_t* ok) {
    uint8_t value = 0;
    const bool read = m_controller && !UsesAuxEndpoint() &&
                      m_controller->ReadFpgaRegister(static_cast<uint8_t>(reg), &value) != 0;
    if (ok != nullptr) {
        *ok = read ? 1 : 0;
    }
    return read ? value : 0;
}

}  // namespace quorix
