// The engine's settings surface: capture window, data width, link speed, trigger mode, the head's
// limits and features, sensor-bus registers and the EEPROM's user identification byte. Most of it
// carries a setting to the sensor head unchanged; the operations that also touch the engine's
// capture state, the FPGA or the bus are spelled out here.
#include <cstdint>

#include "camera/fpga_registers.h"
#include "engine/quorix_u3r5_base.h"
#include "platform/clock.h"
#include "sensors/sensor_base.h"
#include "transport/vol_cy3_cam.h"

namespace quorix {

namespace {

// The trigger mode the engine does not know: after construction, and after a head that failed
// to take a mode, so that the next request programs it whatever it is.
constexpr int32_t kTriggerModeUnknown = -1;
// Trigger modes after which the capture loop starts from the FPGA's frame count.
constexpr int32_t kTriggerModeFirstCounted = 1;
constexpr int32_t kTriggerModeLastCounted = 3;
// The driver's speed word of a SuperSpeed link.
constexpr uint32_t kSuperSpeed = 4;
// The speed mode that needs a SuperSpeed link, and the one slower links get instead.
constexpr int32_t kSpeedModeSuperSpeed = 2;
constexpr int32_t kSpeedModeDefault = 0;
// The FPGA's die temperature: a 16-bit reading where 65536 counts span 503.975 kelvin.
constexpr double kTemperatureSpanKelvin = 503.975;
constexpr double kTemperatureCounts = 65536.0;
constexpr double kZeroCelsiusKelvin = 273.15;

// A query of the head: its value through an out-parameter that starts at 0, so no head (or a
// head that does not fill it) answers 0.
template <typename Getter>
int32_t Query(CSensorBase* sensor, Getter getter) {
    int32_t value = 0;
    if (sensor != nullptr) {
        (sensor->*getter)(&value);
    }
    return value;
}

template <typename T>
void Put(T* out, T value) {
    if (out != nullptr) {
        *out = value;
    }
}

}  // namespace

// --- Data width, speed and capture window ----------------------------------------------------

int CQuorixU3R5Base::SetDataWidth(int32_t sixteenBit) {
    if (!m_controller || !m_sensor) {
        return 0;
    }
    // The head, the FPGA and the buffers must agree on the sample size, so every non-zero flag
    // means 16-bit data for all three.
    const int32_t wide = sixteenBit != 0 ? 1 : 0;
    m_sensor->SetDataWidth(wide);
    if (!WriteFpgaRegister(fpga::kDataWidth, wide != 0 ? fpga::kDataWidth16 : fpga::kDataWidth8)) {
        return 0;
    }
    if (m_dataWidth == wide) {
        return 1;
    }
    m_dataWidth = wide;
    // A frame of the other width no longer fits the buffers; they are sized again at once.
    return PrepareFrameBuffers();
}

int CQuorixU3R5Base::SetSpeedMode(int32_t mode) {
    if (!m_sensor) {
        return 0;
    }
    if (mode == kSpeedModeSuperSpeed && !UsesAuxEndpoint() && m_controller) {
        uint32_t speed = 0;
        if (m_controller->GetDeviceSpeed(&speed) && speed != kSuperSpeed) {
            mode = kSpeedModeDefault;
        }
    }
    return m_sensor->SetSpeedMode(mode);
}

int CQuorixU3R5Base::SetCaptureWindow(int32_t x, int32_t y, int32_t width, int32_t height,
                                      int32_t subSample) {
    if (!m_sensor) {
        return 0;
    }
    SensorStateBlock& state = m_sensor->State();
    const CSensorBase::SettingsBurst burst(m_sensor.get());
    // Programming the sensor's window costs a series of slow bus writes and makes the next
    // capture re-size its buffers, so an unchanged window is left alone. Line-sensor heads
    // re-program every time.
    if (!IsLineSensorHead() && x == state.m_nX && y == state.m_nY && width == state.m_nWidth &&
        height == state.m_nHeight && static_cast<uint32_t>(subSample) == state.m_nSubSample) {
        return 1;
    }
    const int result = m_sensor->SetCaptureWindow(x, width, y, height, subSample);
    if (result == 0 && !burst.Failed()) {
        // Refused before anything was written: the sensor keeps its window.
        return 0;
    }
    // The head may have rounded the window; what it accepted is what the frames will have. A
    // window whose writes failed part-way may have reached the sensor in part: the frame
    // geometry is programmed again at the next capture start either way.
    int32_t acceptedX = 0;
    int32_t acceptedWidth = 0;
    int32_t acceptedY = 0;
    int32_t acceptedHeight = 0;
    int32_t acceptedMode = 0;
    m_sensor->GetCaptureWindow(&acceptedX, &acceptedWidth, &acceptedY, &acceptedHeight,
                               &acceptedMode);
    state.m_nX = acceptedX;
    state.m_nY = acceptedY;
    state.m_nWidth = acceptedWidth;
    state.m_nHeight = acceptedHeight;
    state.m_nSubSample = static_cast<uint32_t>(acceptedMode);
    m_geometryPending = 1;
    return result;
}

int CQuorixU3R5Base::GetCaptureWindowValues(int32_t* x, int32_t* y, int32_t* width, int32_t* height,
                                            int32_t* subSample) {
    if (!m_sensor) {
        return 0;
    }
    const SensorStateBlock& state = m_sensor->State();
    Put(x, state.m_nX);
    Put(y, state.m_nY);
    Put(width, state.m_nWidth);
    Put(height, state.m_nHeight);
    Put(subSample, static_cast<int32_t>(state.m_nSubSample));
    return 1;
}

// --- Mirroring and trigger -------------------------------------------------------------------

int32_t CQuorixU3R5Base::GetMirrorH() {
    return Query(m_sensor.get(), &CSensorBase::GetMirrorH);
}
int32_t CQuorixU3R5Base::GetMirrorV() {
    return Query(m_sensor.get(), &CSensorBase::GetMirrorV);
}
int CQuorixU3R5Base::IsMirrorVSupported() {
    return m_sensor ? m_sensor->IsMirrorVSupported() : 0;
}
int CQuorixU3R5Base::IsMirrorHSupported() {
    return m_sensor ? m_sensor->IsMirrorHSupported() : 0;
}

int CQuorixU3R5Base::SetTriggerMode(int32_t mode, int32_t force) {
    if (!m_sensor) {
        return 0;
    }
    if (force == 0 && mode == m_triggerMode) {
        return 1;
    }
    // Frames of the old mode must not be mistaken for frames of the new one.
    StopCapture(0);
    CreateFrameEvent();
    if (!m_sensor->SetTriggerMode(mode)) {
        // The head may have taken part of the programming: the mode in force is unknown now, and
        // the next request programs it again even when it asks for this mode.
        m_triggerMode = kTriggerModeUnknown;
        return 0;
    }
    // The FPGA counts the frames it has been triggered for; from its count now on, the capture
    // loop waits for the next trigger instead of taking a frame that came before.
    if (mode >= kTriggerModeFirstCounted && mode <= kTriggerModeLastCounted) {
        ReadFrameCounter();
    }
    m_triggerMode = mode;
    return 1;
}

int CQuorixU3R5Base::GetTriggerMode(int32_t* mode) {
    return m_sensor ? m_sensor->GetTriggerMode(mode) : 0;
}

// --- The head's window limits ------------------------------------------------------------------

uint32_t CQuorixU3R5Base::IsWidthAdjustable() {
    return m_sensor ? m_sensor->State().m_bWidthAdjustable : 0;
}
uint32_t CQuorixU3R5Base::IsHeightAdjustable() {
    return m_sensor ? m_sensor->State().m_bHeightAdjustable : 0;
}
uint32_t CQuorixU3R5Base::GetMaxWidth() {
    return m_sensor ? m_sensor->State().m_nMaxWidth : 0;
}
uint32_t CQuorixU3R5Base::GetMaxHeight() {
    return m_sensor ? m_sensor->State().m_nMaxHeight : 0;
}
uint32_t CQuorixU3R5Base::GetDefaultWidth() {
    return m_sensor ? m_sensor->State().m_nDefaultWidth : 0;
}
uint32_t CQuorixU3R5Base::GetDefaultHeight() {
    return m_sensor ? m_sensor->State().m_nDefaultHeight : 0;
}
uint32_t CQuorixU3R5Base::GetDefaultX() {
    return m_sensor ? m_sensor->State().m_nDefaultX : 0;
}
uint32_t CQuorixU3R5Base::GetDefaultY() {
    return m_sensor ? m_sensor->State().m_nDefaultY : 0;
}

// --- Gain and exposure ---------------------------------------------------------------------------

int32_t CQuorixU3R5Base::GetGain() {
    return Query(m_sensor.get(), &CSensorBase::GetGain);
}
int32_t CQuorixU3R5Base::GetExposureTime() {
    return Query(m_sensor.get(), &CSensorBase::GetExposureTime);
}
int CQuorixU3R5Base::SetExposureLines(int32_t lines) {
    return m_sensor ? m_sensor->SetExposureLines(lines) : 0;
}
int32_t CQuorixU3R5Base::GetExposureLines() {
    return Query(m_sensor.get(), &CSensorBase::GetExposureLines);
}
int32_t CQuorixU3R5Base::GetExposureLinesMin() {
    return Query(m_sensor.get(), &CSensorBase::GetExposureLinesMin);
}
int32_t CQuorixU3R5Base::GetExposureLinesMax() {
    return Query(m_sensor.get(), &CSensorBase::GetExposureLinesMax);
}
int32_t CQuorixU3R5Base::GetExposureLinesDefault() {
    return Query(m_sensor.get(), &CSensorBase::GetExposureLinesDefault);
}
int CQuorixU3R5Base::GetExposureTimeEx(double* seconds) {
    return m_sensor ? m_sensor->GetExposureTimeEx(seconds) : 0;
}

// --- Colour gains, black level, auxiliary value ----------------------------------------------

int32_t CQuorixU3R5Base::GetColorGainRed() {
    return Query(m_sensor.get(), &CSensorBase::GetColorGainRed);
}
int32_t CQuorixU3R5Base::GetColorGainGreen1() {
    return Query(m_sensor.get(), &CSensorBase::GetColorGainGreen1);
}
int32_t CQuorixU3R5Base::GetColorGainGreen2() {
    return Query(m_sensor.get(), &CSensorBase::GetColorGainGreen2);
}
int32_t CQuorixU3R5Base::GetColorGainBlue() {
    return Query(m_sensor.get(), &CSensorBase::GetColorGainBlue);
}
int32_t CQuorixU3R5Base::GetBlackLevel() {
    return Query(m_sensor.get(), &CSensorBase::GetBlackLevel);
}
int32_t CQuorixU3R5Base::GetBlackLevelMin() {
    return Query(m_sensor.get(), &CSensorBase::GetBlackLevelMin);
}
int32_t CQuorixU3R5Base::GetBlackLevelMax() {
    return Query(m_sensor.get(), &CSensorBase::GetBlackLevelMax);
}
int CQuorixU3R5Base::IsAuxValueSupported() {
    return m_sensor ? m_sensor->IsAuxValueSupported() : 0;
}
int CQuorixU3R5Base::SetAuxValue(int32_t value) {
    return m_sensor ? m_sensor->SetAuxValue(value) : 0;
}
int CQuorixU3R5Base::GetAuxValue(int32_t* value) {
    return m_sensor ? m_sensor->GetAuxValue(value) : 0;
}

// --- Registers -----------------------------------------------------------------------------------

// The sensor bridge takes a transfer only once the one before it has ended, which the FPGA's bus
// status tells: the application's register accesses wait for it as the head's own do.
int CQuorixU3R5Base::WriteRegisterRaw(int32_t sensor, uint32_t address, uint32_t value) {
    if (sensor != 0 || !m_sensor || !WaitBusIdle(kBusIdleLimitMs)) {
        return 0;
    }
    return m_sensor->WriteRegisterRaw(address, value);
}

int CQuorixU3R5Base::ReadRegisterRaw(int32_t sensor, uint32_t address, uint32_t* value) {
    if (sensor != 0 || !m_sensor || !WaitBusIdle(kBusIdleLimitMs)) {
        return 0;
    }
    return m_sensor->ReadRegisterRaw(address, value);
}

int CQuorixU3R5Base::WaitBusIdle(uint32_t limitMs) {
    const uint64_t start = platform::MonotonicMs();
    // The bridge ends a transfer while its status is read, so a busy answer is asked again at
    // once before the wait.
    for (int reads = 1;; ++reads) {
        int32_t read = 0;
        const int32_t status = ReadFpgaRegister(fpga::kStatus, &read);
        if (read == 0) {
            return 0;
        }
        if ((status & fpga::kStatusBusBusy) == 0) {
            return 1;
        }
        if (reads == 1) {
            continue;
        }
        if (platform::MonotonicMs() - start >= limitMs) {
            return 0;
        }
        platform::SleepMs(1);
    }
}

// The bus devices take a 7-bit address; on the bus it is shifted up, bit 0 telling reads from
// writes. Register numbers and values go high byte first.
int CQuorixU3R5Base::WriteBusRegister16(uint8_t device, uint16_t reg, uint16_t value) {
    if (!m_controller || !WaitBusIdle(kBusIdleLimitMs)) {
        return 0;
    }
    const uint8_t bytes[4] = {static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    const auto address = static_cast<uint8_t>(device << 1);
    return m_controller->BusWrite(address, bytes, sizeof bytes, kBusIdleLimitMs) ? 1 : 0;
}

int CQuorixU3R5Base::ReadBusRegister16(uint8_t device, uint16_t reg, uint16_t* value) {
    if (!m_controller || !WaitBusIdle(kBusIdleLimitMs)) {
        return 0;
    }
    const uint8_t pointer[2] = {static_cast<uint8_t>(reg >> 8), static_cast<uint8_t>(reg)};
    const auto address = static_cast<uint8_t>(device << 1);
    if (!m_controller->BusWrite(address, pointer, sizeof pointer, kBusIdleLimitMs)) {
        return 0;
    }
    {
        // The device needs a moment to fetch the register before it is read.
        const platform::TimerResolutionGuard precise;
        platform::SleepMs(1);
    }
    uint8_t bytes[2] = {};
    if (!m_controller->BusRead(static_cast<uint8_t>(address | 1), bytes, sizeof bytes,
                               kBusIdleLimitMs)) {
        return 0;
    }
    Put(value, static_cast<uint16_t>(bytes[0] << 8 | bytes[1]));
    return 1;
}

void CQuorixU3R5Base::OnSettingsApplied() {
    if (m_sensor) {
        m_sensor->OnSettingsApplied();
    }
}

int CQuorixU3R5Base::SetSamplingRate(int32_t sensor, int32_t index, int32_t* rate) {
    return sensor == 0 && m_sensor ? m_sensor->SetSamplingRate(index, rate) : 0;
}

int32_t CQuorixU3R5Base::GetGainMode() {
    return m_sensor ? m_sensor->GetGainMode() : -1;
}

// --- EEPROM user identification byte -------------------------------------------------------

int CQuorixU3R5Base::WriteSromId(uint8_t value) {
    return WriteEepromByte(kSromIdAddress, value);
}
int CQuorixU3R5Base::ReadSromId(uint8_t* value) {
    return ReadEepromByte(kSromIdAddress, value);
}

// --- Head features ---------------------------------------------------------------------------

int CQuorixU3R5Base::IsInternalCorrectionSupported() {
    return m_sensor ? m_sensor->IsInternalCorrectionSupported() : 0;
}
int CQuorixU3R5Base::GetInternalCorrection(int32_t* value) {
    return m_sensor ? m_sensor->GetInternalCorrection(value) : 0;
}
int CQuorixU3R5Base::SetInternalCorrection(int32_t value) {
    return m_sensor ? m_sensor->SetInternalCorrection(value) : 0;
}

int CQuorixU3R5Base::GetCooler(int32_t* value) {
    return m_sensor ? m_sensor->GetCooler(value) : 0;
}
int CQuorixU3R5Base::IsTemperatureSupported() {
    return m_sensor ? m_sensor->IsTemperatureSupported() : 0;
}
int CQuorixU3R5Base::GetTemperature(double* celsius) {
    return m_sensor ? m_sensor->GetTemperature(celsius) : 0;
}

int CQuorixU3R5Base::GetFpgaTemperature(double* celsius) {
    // Only the line-sensor heads' FPGA has a thermometer.
    if (!IsLineSensorHead()) {
        return 0;
    }
    int32_t lowRead = 0;
    const int32_t low = ReadFpgaRegister(fpga::kTemperatureLow, &lowRead);
    if (lowRead == 0) {
        return 0;
    }
    int32_t highRead = 0;
    const int32_t high = ReadFpgaRegister(fpga::kTemperatureHigh, &highRead);
    if (highRead == 0) {
        return 0;
    }
    const double counts = static_cast<double>(low) + 256.0 * static_cast<double>(high);
    Put(celsius, counts * kTemperatureSpanKelvin / kTemperatureCounts - kZeroCelsiusKelvin);
    return 1;
}

int CQuorixU3R5Base::GetShortExposureMode(int32_t* value) {
    return m_sensor ? m_sensor->GetShortExposureMode(value) : 0;
}

// Without a head nothing restricts the output format yet; the head decides once it exists.
int CQuorixU3R5Base::SupportsOutput8() {
    return m_sensor ? m_sensor->SupportsOutput8() : 1;
}
int CQuorixU3R5Base::SupportsOutput16() {
    return m_sensor ? m_sensor->SupportsOutput16() : 1;
}
int CQuorixU3R5Base::SupportsOutputColor() {
    return m_sensor ? m_sensor->SupportsOutputColor() : 1;
}

}  // namespace quorix
