#include "sensors/sensor_base.h"

#include <cstring>

#include "camera/fpga_registers.h"
#include "platform/clock.h"
#include "transport/controller_base.h"

namespace quorix {

namespace {

// Writes `value` through a getter's out-parameter when the caller gave one.
template <typename T, typename V>
void Put(T* out, V value) {
    if (out != nullptr) {
        *out = static_cast<T>(value);
    }
}

constexpr int kVerifyAttempts = 10;
constexpr uint32_t kVerifyPauseMs = 5;
constexpr uint32_t kBridgeResetPauseMs = 50;
constexpr uint32_t kReconfigurePauseMs = 100;
constexpr uint32_t kReconfigureTimeoutMs = 5000;
constexpr int kFpgaVersionAttempts = 10;
constexpr uint32_t kFpgaVersionPauseMs = 100;
constexpr uint32_t kTriggerTimingPauseMs = 100;

}  // namespace

CSensorBase::CSensorBase() {
    std::memset(&m_state, 0, sizeof m_state);
}

CSensorBase::~CSensorBase() = default;

void CSensorBase::Attach(CControllerBase* controller, uint8_t busAddress) {
    m_controller = controller;
    m_busAddress = busAddress;
}

// --- Opening, window, trigger ---------------------------------------------------------------

int CSensorBase::IsReady() {
    return 0;
}
int CSensorBase::Initialize() {
    return 0;
}
int CSensorBase::SetCaptureWindow(int32_t, int32_t, int32_t, int32_t, int32_t) {
    return 0;
}
int CSensorBase::GetCaptureWindow(int32_t*, int32_t*, int32_t*, int32_t*, int32_t*) {
    return 0;
}
int CSensorBase::SetTriggerMode(int32_t) {
    return 0;
}
int CSensorBase::GetTriggerMode(int32_t*) {
    return 0;
}
// --- Data width, exposure lines, gains ------------------------------------------------------

int CSensorBase::SetDataWidth(int32_t) {
    return 0;
}
int CSensorBase::SetExposureLines(int32_t) {
    return 0;
}
int CSensorBase::GetExposureLines(int32_t*) {
    return 0;
}
int CSensorBase::SetGain(int32_t) {
    return 0;
}
int CSensorBase::GetGain(int32_t*) {
    return 0;
}
int CSensorBase::SetColorGainRed(int32_t) {
    return 0;
}
int CSensorBase::GetColorGainRed(int32_t*) {
    return 0;
}
int CSensorBase::SetColorGainGreen1(int32_t) {
    return 0;
}
int CSensorBase::GetColorGainGreen1(int32_t*) {
    return 0;
}
int CSensorBase::SetColorGainGreen2(int32_t) {
    return 0;
}
int CSensorBase::GetColorGainGreen2(int32_t*) {
    return 0;
}
int CSensorBase::SetColorGainBlue(int32_t) {
    return 0;
}
int CSensorBase::GetColorGainBlue(int32_t*) {
    return 0;
}
int CSensorBase::GetExposureLinesMin(int32_t*) {
    return 0;
}
int CSensorBase::GetExposureLinesMax(int32_t*) {
    return 0;
}
int CSensorBase::GetExposureLinesDefault(int32_t*) {
    return 0;
}
int CSensorBase::GetGainMin(int32_t*) {
    return 0;
}
int CSensorBase::GetGainMax(int32_t*) {
    return 0;
}
int CSensorBase::GetGainDefault(int32_t*) {
    return 0;
}
int CSensorBase::GetColorGainMin(int32_t*) {
    return 0;
}
int CSensorBase::GetColorGainMax(int32_t*) {
    return 0;
}
int CSensorBase::GetColorGainDefault(int32_t*) {
    return 0;
}

// --- Black level and auxiliary value ----------------------------------------------------------

// The optional features answer with their supported word and always report the stored value.
int CSensorBase::IsBlackLevelSupported() {
    return static_cast<int>(m_state.m_bBlackLevelSupported);
}
int CSensorBase::SetBlackLevel(int32_t) {
    return 0;
}
int CSensorBase::GetBlackLevel(int32_t* value) {
    Put(value, m_state.m_nBlackLevel);
    return IsBlackLevelSupported();
}
int CSensorBase::GetBlackLevelMin(int32_t* value) {
    Put(value, m_state.m_nBlackLevelMin);
    return IsBlackLevelSupported();
}
int CSensorBase::GetBlackLevelMax(int32_t* value) {
    Put(value, m_state.m_nBlackLevelMax);
    return IsBlackLevelSupported();
}
int CSensorBase::GetBlackLevelDefault(int32_t* value) {
    Put(value, m_state.m_nBlackLevelDefault);
    return IsBlackLevelSupported();
}
int CSensorBase::IsAuxValueSupported() {
    return static_cast<int>(m_state.m_bAuxValueSupported);
}
int CSensorBase::SetAuxValue(int32_t) {
    return 0;
}
int CSensorBase::GetAuxValue(int32_t* value) {
    Put(value, m_state.m_nAuxValue);
    return IsAuxValueSupported();
}
// --- Exposure time, mirroring, sampling rate, registers ---------------------------------------

int CSensorBase::SetExposureTime(int32_t) {
    return 0;
}
int CSensorBase::GetExposureTime(int32_t*) {
    return 0;
}
int CSensorBase::GetExposureTimeMin(int32_t*) {
    return 0;
}
int CSensorBase::GetExposureTimeMax(int32_t*) {
    return 0;
}
int CSensorBase::GetExposureTimeDefault(int32_t*) {
    return 0;
}
int CSensorBase::SetMirrorV(int32_t) {
    return 0;
}
int CSensorBase::GetMirrorV(int32_t*) {
    return 0;
}
int CSensorBase::SetMirrorH(int32_t) {
    return 0;
}
int CSensorBase::GetMirrorH(int32_t*) {
    return 0;
}
int CSensorBase::GetMirrorVDefault() {
    return static_cast<int>(m_state.m_bMirrorVDefault);
}
int CSensorBase::GetMirrorHDefault() {
    return static_cast<int>(m_state.m_bMirrorHDefault);
}
int CSensorBase::IsMirrorVSupported() {
    return static_cast<int>(m_state.m_bMirrorVSupported);
}
int CSensorBase::IsMirrorHSupported() {
    return static_cast<int>(m_state.m_bMirrorHSupported);
}
int CSensorBase::SetSamplingRate(int32_t, int32_t*) {
    return 0;
}
int CSensorBase::WriteRegisterRaw(uint32_t, uint32_t) {
    return 0;
}
int CSensorBase::ReadRegisterRaw(uint32_t, uint32_t*) {
    return 0;
}
int CSensorBase::WriteSensorRegister(uint32_t, uint32_t) {
    return 0;
}
int CSensorBase::ReadSensorRegister(uint32_t, uint32_t*) {
    return 0;
}
int CSensorBase::SetSamplingRateValue(int32_t) {
    return 0;
}

// --- Speed, state block, notifications, optional features -------------------------------------

int CSensorBase::SetSpeedMode(int32_t) {
    return 0;
}
int CSensorBase::CopyStateBlock(void* buffer) {
    if (buffer == nullptr) {
        return 0;
    }
    std::memcpy(buffer, &m_state, sizeof m_state);
    return 1;
}

void CSensorBase::OnSettingsApplied() {}
int CSensorBase::IsInternalCorrectionSupported() {
    return 0;
}
int CSensorBase::SetInternalCorrection(int32_t) {
    return 0;
}
int CSensorBase::GetInternalCorrection(int32_t*) {
    return 0;
}
int CSensorBase::IsCoolerSupported() {
    return 0;
}
int CSensorBase::GetCooler(int32_t*) {
    return 0;
}
int CSensorBase::SetCooler(int32_t) {
    return 0;
}
int CSensorBase::IsTemperatureSupported() {
    return 0;
}
int CSensorBase::GetTemperature(double*) {
    return 0;
}
void CSensorBase::OnCaptureStop(int32_t) {}

// --- Seconds-based exposure, short exposure, gain mode, output formats ------------------------

int CSensorBase::IsExposureTimeExSupported() {
    return static_cast<int>(m_state.m_bExposureTimeExSupported);
}
double CSensorBase::GetExposureTimeExMin(double* seconds) {
    Put(seconds, m_state.m_dExposureTimeExMin);
    return static_cast<double>(m_state.m_bExposureTimeExSupported);
}
double CSensorBase::GetExposureTimeExMax(double* seconds) {
    Put(seconds, m_state.m_dExposureTimeExMax);
    return static_cast<double>(m_state.m_bExposureTimeExSupported);
}
double CSensorBase::GetExposureTimeExDefault(double* seconds) {
    Put(seconds, m_state.m_dExposureTimeExDefault);
    return static_cast<double>(m_state.m_bExposureTimeExSupported);
}
int CSensorBase::GetExposureTimeEx(double* seconds) {
    Put(seconds, m_state.m_dExposureTimeEx);
    return IsExposureTimeExSupported();
}
int CSensorBase::SetExposureTimeEx(double) {
    return 0;
}
int CSensorBase::IsShortExposureModeSupported() {
    return 0;
}
int CSensorBase::GetShortExposureMode(int32_t*) {
    return 0;
}
int CSensorBase::SetShortExposureMode(int32_t) {
    return 0;
}
int CSensorBase::IsGainModeSupported() {
    return 0;
}
int32_t CSensorBase::GetGainMode() {
    return -1;
}
int CSensorBase::SetGainMode(int32_t) {
    return 0;
}
int32_t CSensorBase::GetRawWidthMode() {
    return -1;
}
int CSensorBase::SupportsOutput8() {
    return 1;
}
int CSensorBase::SupportsOutput16() {
    return 1;
}
int CSensorBase::SupportsOutputColor() {
    return 1;
}
// --- Settings bursts -------------------------------------------------------------------------

CSensorBase::SettingsBurst::SettingsBurst(CSensorBase* head) : m_head(head) {
    if (m_head != nullptr) {
        m_head->m_burstDepth.fetch_add(1);
    }
}

CSensorBase::SettingsBurst::~SettingsBurst() {
    if (m_head != nullptr && m_head->m_burstDepth.fetch_sub(1) == 1) {
        m_head->m_burstFailed.store(false);
    }
}

bool CSensorBase::SettingsBurst::Failed() const {
    return m_head != nullptr && m_head->m_burstFailed.load();
}

void CSensorBase::NoteAccessGaveUp() {
    if (m_burstDepth.load() > 0) {
        m_burstFailed.store(true);
    }
}

// --- Common operations ----------------------------------------------------------------------

int CSensorBase::WriteFpgaRegisterVerified(uint8_t reg, uint32_t value) {
    if (m_controller == nullptr) {
        return 0;
    }
    // Values wider than a byte are compared by their low byte, which is all the register holds.
    const auto expected = static_cast<uint8_t>(value);
    for (int attempt = 0; attempt < kVerifyAttempts; ++attempt) {
        if (!m_controller->WriteFpgaRegister(reg, expected)) {
            continue;
        }
        platform::SleepMs(kVerifyPauseMs);
        uint8_t readBack = 0;
        if (m_controller->ReadFpgaRegister(reg, &readBack) && readBack == expected) {
            return 1;
        }
        platform::SleepMs(kVerifyPauseMs);
    }
    return 0;
}

int CSensorBase::WriteFpgaRegisterVerifiedPrecise(uint8_t reg, uint32_t value) {
    const platform::TimerResolutionGuard precise;
    return WriteFpgaRegisterVerified(reg, value);
}

void CSensorBase::ResetSensorBridge() {
    if (m_controller == nullptr) {
        return;
    }
    const platform::TimerResolutionGuard precise;
    uint8_t current = 0;
    if (!m_controller->ReadFpgaRegister(fpga::kBridgeReset, &current)) {
        current = 0;
    }
    const auto low = static_cast<uint8_t>(current & ~1U);
    m_controller->WriteFpgaRegister(fpga::kBridgeReset, low);
    platform::SleepMs(kBridgeResetPauseMs);
    m_controller->WriteFpgaRegister(fpga::kBridgeReset,
                                    static_cast<uint8_t>(low | fpga::kBridgeResetBit));
    platform::SleepMs(kBridgeResetPauseMs);
    m_controller->WriteFpgaRegister(fpga::kBridgeReset, low);
}

int CSensorBase::ReconfigureFpga() {
    if (m_controller == nullptr) {
        return 0;
    }
    uint8_t status = 0;
    if (m_controller->ReadFpgaRegister(fpga::kReconfigure, &status) &&
        (status & fpga::kReconfigureDone)) {
        return 1;
    }
    const platform::TimerResolutionGuard precise;
    m_controller->WriteFpgaRegister(fpga::kReconfigure, fpga::kReconfigureStart);
    platform::SleepMs(kReconfigurePauseMs);
    m_controller->WriteFpgaRegister(fpga::kReconfigure, 0);
    platform::SleepMs(kReconfigurePauseMs);
    const uint64_t start = platform::MonotonicMs();
    while (platform::MonotonicMs() - start < kReconfigureTimeoutMs) {
        if (m_controller->ReadFpgaRegister(fpga::kReconfigure, &status)) {
            if (status & fpga::kReconfigureDone) {
                return 1;
            }
        } else {
            platform::SleepMs(kReconfigurePauseMs);
        }
    }
    return 0;
}

int CSensorBase::GetFpgaVersion(uint16_t* version) {
    if (m_fpgaVersion == 0 && m_controller != nullptr) {
        for (int attempt = 0; attempt < kFpgaVersionAttempts; ++attempt) {
            uint16_t read = 0;
            if (m_controller->ReadFpgaVersion(&read)) {
                m_fpgaVersion = read;
                break;
            }
            platform::SleepMs(kFpgaVersionPauseMs);
        }
    }
    if (m_fpgaVersion == 0) {
        return 0;
    }
    Put(version, m_fpgaVersion);
    return 1;
}

void CSensorBase::ProgramTriggerTiming() {
    if (m_controller == nullptr) {
        return;
    }
    const uint32_t lines = m_state.m_nExposureLines;
    const auto height = static_cast<uint32_t>(m_state.m_nHeight);
    WriteFpgaRegisterVerified(fpga::kTriggerControl, 0);
    WriteFpgaRegisterVerified(fpga::kTriggerExposure0, lines & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    WriteFpgaRegisterVerified(fpga::kTriggerExposure1, (lines >> 8) & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    WriteFpgaRegisterVerified(fpga::kTriggerExposure2, (lines >> 16) & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    // The length of the FPGA's trigger lines [pixel clocks], in which it counts the exposure and
    // the frame period; the period covers the exposure, the read-out and 25 lines of margin.
    const uint32_t lineClocks = TriggerLineClocks(m_nTriggerVariant);
    WriteFpgaRegisterVerified(fpga::kTriggerLineClocksLow, lineClocks & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    WriteFpgaRegisterVerified(fpga::kTriggerLineClocksHigh, (lineClocks >> 8) & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    const uint32_t period = lines + height + 25;
    WriteFpgaRegisterVerified(fpga::kTriggerPeriodLow, period & 0xFF);
    WriteFpgaRegisterVerified(fpga::kTriggerPeriodHigh, (period >> 8) & 0xFF);
    WriteFpgaRegisterVerified(fpga::kTriggerControl, m_nTriggerVariant == 1 ? 1 : 2);
}

int CSensorBase::RestartTransfer() {
    if (m_controller == nullptr) {
        return 0;
    }
    const platform::TimerResolutionGuard precise;
    constexpr int32_t kHeadPulsingAlt = 103;
    constexpr int32_t kHeadPulsingAltExtra = 115;
    const uint8_t reg = m_headCode == kHeadPulsingAlt || m_headCode == kHeadPulsingAltExtra
                            ? fpga::kTransferResetAlt
                            : fpga::kTransferReset;
    m_controller->WriteFpgaRegister(reg, 1);
    platform::SleepMs(1);
    m_controller->WriteFpgaRegister(reg, 0);
    platform::SleepMs(1);
    return 1;
}

}  // namespace quorix
