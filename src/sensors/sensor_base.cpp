#include "sensors/sensor_base.h"

#include <cstring>

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

// Registers of the FPGA's trigger timing.
constexpr uint8_t kFpgaTriggerControl = 0x58;
constexpr uint8_t kFpgaTriggerLines0 = 0x85;
constexpr uint8_t kFpgaTriggerLines1 = 0x86;
constexpr uint8_t kFpgaTriggerLines2 = 0x9B;
constexpr uint8_t kFpgaTriggerLineClocksLow = 0x54;
constexpr uint8_t kFpgaTriggerLineClocksHigh = 0x55;
constexpr uint8_t kFpgaTriggerPeriodLow = 0x50;
constexpr uint8_t kFpgaTriggerPeriodHigh = 0x51;
constexpr uint8_t kFpgaRestartPulseAlt = 0x96;

}  // namespace

CSensorBase::CSensorBase() {
    std::memset(m_reservedArea, 0, sizeof m_reservedArea);
    std::memset(&m_state, 0, sizeof m_state);
    std::memset(m_working, 0, sizeof m_working);
}

CSensorBase::~CSensorBase() = default;

void CSensorBase::Attach(CControllerBase* controller, uint8_t busAddress) {
    m_controller = controller;
    m_busAddress = busAddress;
}

// --- Slots 0-14 -----------------------------------------------------------------------------

void CSensorBase::SetHeadCode(int32_t code) {
    m_headCode = code;
}
void CSensorBase::SetTriggerModeRaw(int32_t word) {
    m_nTriggerMode = word;
}
int32_t CSensorBase::GetTriggerModeRaw() {
    return m_nTriggerMode;
}
int CSensorBase::IsReady() {
    return 0;
}
int CSensorBase::Initialize() {
    return 0;
}
int CSensorBase::StartUp() {
    return 0;
}
int CSensorBase::OnStartTimeout() {
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
int CSensorBase::SetHeadMode(int32_t) {
    return 0;
}
int CSensorBase::GetHeadMode(int32_t*) {
    return 0;
}
int CSensorBase::IsHeadModeSupported() {
    return 0;
}

// --- Slots 15-36 ----------------------------------------------------------------------------

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

// --- Slots 37-63 ----------------------------------------------------------------------------

int CSensorBase::SetChannelGain(int32_t, int32_t) {
    return 0;
}
int CSensorBase::GetChannelGain(int32_t, int32_t*) {
    return 0;
}
int CSensorBase::GetChannelGainMin(int32_t*) {
    return 0;
}
int CSensorBase::GetChannelGainMax(int32_t*) {
    return 0;
}
int CSensorBase::GetChannelGainDefault(int32_t*) {
    return 0;
}
int CSensorBase::SetChannelOffset(int32_t, int32_t) {
    return 0;
}
int CSensorBase::GetChannelOffset(int32_t, int32_t*) {
    return 0;
}
int CSensorBase::GetChannelOffsetMin(int32_t*) {
    return 0;
}
int CSensorBase::GetChannelOffsetMax(int32_t*) {
    return 0;
}
int CSensorBase::GetChannelOffsetDefault(int32_t*) {
    return 0;
}

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
int CSensorBase::IsAuxLevelSupported() {
    return static_cast<int>(m_state.m_bAuxLevelSupported);
}
int CSensorBase::GetAuxLevelMin(int32_t* value) {
    Put(value, m_state.m_nAuxLevelMin);
    return IsAuxLevelSupported();
}
int CSensorBase::GetAuxLevelMax(int32_t* value) {
    Put(value, m_state.m_nAuxLevelMax);
    return IsAuxLevelSupported();
}
int CSensorBase::GetAuxLevel(int32_t* value) {
    Put(value, m_state.m_nAuxLevel);
    return IsAuxLevelSupported();
}
int CSensorBase::GetAuxLevelDefault(int32_t* value) {
    Put(value, m_state.m_nAuxLevelDefault);
    return IsAuxLevelSupported();
}
int CSensorBase::SetAuxLevelMode(int32_t) {
    return 0;
}
int CSensorBase::SetAuxLevel(int32_t) {
    return 0;
}
int CSensorBase::GetAuxLevelMode(int32_t*) {
    return 0;
}

// --- Slots 64-82 ----------------------------------------------------------------------------

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

// --- Slots 83-104 ---------------------------------------------------------------------------

int CSensorBase::Reserved83() {
    return 0;
}
int CSensorBase::Reserved84() {
    return 0;
}
int CSensorBase::Reserved85() {
    return 0;
}
int CSensorBase::Reserved86() {
    return 0;
}
int CSensorBase::Reserved87() {
    return 0;
}
int CSensorBase::SetSpeedMode(int32_t) {
    return 0;
}
int CSensorBase::GetSpeedMode(int32_t*, int32_t, int32_t) {
    return 0;
}
int CSensorBase::Reserved90() {
    return 0;
}
int CSensorBase::Reserved91() {
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
void CSensorBase::OnReservedNotice94() {}
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
void CSensorBase::OnReservedNotice103() {}
void CSensorBase::OnCaptureStop(int32_t) {}

// --- Slots 105-140 --------------------------------------------------------------------------

int CSensorBase::Reserved105() {
    return 0;
}
int CSensorBase::Reserved106(int32_t) {
    return 0;
}
int CSensorBase::Reserved107(int32_t*) {
    return 0;
}
int CSensorBase::Reserved108() {
    return 0;
}
int CSensorBase::Reserved109() {
    return 0;
}
int CSensorBase::Reserved110() {
    return 0;
}
int CSensorBase::Reserved111(int32_t) {
    return 0;
}
int CSensorBase::Reserved112(int32_t*) {
    return 0;
}
int CSensorBase::Reserved113(int32_t) {
    return 0;
}
int CSensorBase::Reserved114(int32_t*) {
    return 0;
}
int CSensorBase::Reserved115(int32_t) {
    return 0;
}
int CSensorBase::Reserved116(int32_t*) {
    return 0;
}
int CSensorBase::Reserved117(int32_t) {
    return 0;
}
int CSensorBase::Reserved118(int32_t*) {
    return 0;
}
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
int CSensorBase::Reserved128(int32_t, int32_t, int32_t) {
    return 0;
}
int CSensorBase::Reserved129(int32_t*) {
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
int CSensorBase::Reserved133() {
    return 0;
}
int32_t CSensorBase::GetRawWidthMode() {
    return -1;
}
int CSensorBase::Reserved135() {
    return 0;
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
int CSensorBase::Reserved139() {
    return 0;
}
int CSensorBase::Reserved140() {
    return 0;
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
    if (!m_controller->ReadFpgaRegister(kFpgaBridgeReset, &current)) {
        current = 0;
    }
    const auto low = static_cast<uint8_t>(current & ~1U);
    m_controller->WriteFpgaRegister(kFpgaBridgeReset, low);
    platform::SleepMs(kBridgeResetPauseMs);
    m_controller->WriteFpgaRegister(kFpgaBridgeReset, static_cast<uint8_t>(low | 1U));
    platform::SleepMs(kBridgeResetPauseMs);
    m_controller->WriteFpgaRegister(kFpgaBridgeReset, low);
}

int CSensorBase::ReconfigureFpga() {
    if (m_controller == nullptr) {
        return 0;
    }
    constexpr uint8_t kConfiguredBit = 0x02;
    uint8_t status = 0;
    if (m_controller->ReadFpgaRegister(kFpgaReconfigure, &status) && (status & kConfiguredBit)) {
        return 1;
    }
    const platform::TimerResolutionGuard precise;
    m_controller->WriteFpgaRegister(kFpgaReconfigure, 1);
    platform::SleepMs(kReconfigurePauseMs);
    m_controller->WriteFpgaRegister(kFpgaReconfigure, 0);
    platform::SleepMs(kReconfigurePauseMs);
    const uint64_t start = platform::MonotonicMs();
    while (platform::MonotonicMs() - start < kReconfigureTimeoutMs) {
        if (m_controller->ReadFpgaRegister(kFpgaReconfigure, &status)) {
            if (status & kConfiguredBit) {
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
    WriteFpgaRegisterVerified(kFpgaTriggerControl, 0);
    WriteFpgaRegisterVerified(kFpgaTriggerLines0, lines & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    WriteFpgaRegisterVerified(kFpgaTriggerLines1, (lines >> 8) & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    WriteFpgaRegisterVerified(kFpgaTriggerLines2, (lines >> 16) & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    // The length of the FPGA's trigger lines [pixel clocks], in which it counts the exposure and
    // the frame period; the period covers the exposure, the read-out and 25 lines of margin.
    const uint32_t lineClocks = TriggerLineClocks(m_nTriggerVariant);
    WriteFpgaRegisterVerified(kFpgaTriggerLineClocksLow, lineClocks & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    WriteFpgaRegisterVerified(kFpgaTriggerLineClocksHigh, (lineClocks >> 8) & 0xFF);
    platform::SleepMs(kTriggerTimingPauseMs);
    const uint32_t period = lines + height + 25;
    WriteFpgaRegisterVerified(kFpgaTriggerPeriodLow, period & 0xFF);
    WriteFpgaRegisterVerified(kFpgaTriggerPeriodHigh, (period >> 8) & 0xFF);
    WriteFpgaRegisterVerified(kFpgaTriggerControl, m_nTriggerVariant == 1 ? 1 : 2);
}

int CSensorBase::RestartTransfer() {
    if (m_restartEnable == 0) {
        return 1;
    }
    if (m_controller == nullptr) {
        return 0;
    }
    const platform::TimerResolutionGuard precise;
    constexpr int32_t kHeadPulsingAlt = 103;
    constexpr int32_t kHeadPulsingAltExtra = 115;
    const uint8_t reg = m_headCode == kHeadPulsingAlt || m_headCode == kHeadPulsingAltExtra
                            ? kFpgaRestartPulseAlt
                            : kFpgaTransferReset;
    m_controller->WriteFpgaRegister(reg, 1);
    platform::SleepMs(1);
    m_controller->WriteFpgaRegister(reg, 0);
    platform::SleepMs(1);
    return 1;
}

}  // namespace quorix
