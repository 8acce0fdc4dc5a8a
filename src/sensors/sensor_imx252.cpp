#include "sensors/sensor_imx252.h"

#include <mutex>

#include "camera/camera_model.h"
#include "camera/fpga_registers.h"
#include "platform/clock.h"
#include "transport/controller_base.h"

namespace quorix {

namespace {

constexpr uint32_t kBusTimeoutMs = 3000;
constexpr int kPolledAttempts = 100;
constexpr int kStatusReads = 3;
constexpr uint32_t kPolledWritePauseMs = 10;
constexpr uint32_t kPolledReadPauseMs = 3;
constexpr int kReadyAttempts = 300;
constexpr uint32_t kReadyPauseMs = 10;
constexpr uint32_t kReadinessTimeoutMs = 100;
constexpr uint8_t kBusBusyBits = 0x90;
constexpr uint32_t kTriggerPauseMs = 100;
constexpr int kFpgaVersionAttempts = 10;
constexpr uint32_t kFpgaVersionPauseMs = 100;
// FPGA designs before this version need their configuration reloaded once after power-up.
constexpr uint16_t kFirstSelfConfiguringFpga = 309;

// Frame and line lengths of the sensor's two read-out modes.
constexpr uint32_t kSubSampledFrameLines = 810;
constexpr uint32_t kSubSampledLineLength = 396;
constexpr uint32_t kLineLength8 = 444;
constexpr uint32_t kLineLength16 = 888;
constexpr uint32_t kFrameBlankingLines = 38;
// Lines between the end of the exposure and the end of the frame; the shutter starts this far
// into a stretched frame.
constexpr uint32_t kShutterMarginLines = 10;

template <typename T, typename V>
int Put(T* out, V value) {
    if (out != nullptr) {
        *out = static_cast<T>(value);
    }
    return 1;
}

// The pause between the frame-length writes of a long exposure: the exposure time in
// milliseconds over a million, 0 for every exposure this head accepts.
void Yield(uint32_t exposureTime) {
    platform::SleepMs(exposureTime / 1000000U);
}

}  // namespace

CSensorIMX252::CSensorIMX252(CControllerBase* controller, uint8_t busAddress) {
    Attach(controller, busAddress);
    SensorStateBlock& s = m_state;
    s = SensorStateBlock{};
    s.m_nMaxWidth = camera::kSensorWidth;
    s.m_nMaxHeight = camera::kSensorHeight;
    s.m_nDefaultWidth = camera::kSensorWidth;
    s.m_nDefaultHeight = camera::kSensorHeight;
    s.m_bWidthAdjustable = 1;
    s.m_bHeightAdjustable = 1;
    s.m_nWidth = camera::kSensorWidth;
    s.m_nHeight = camera::kSensorHeight;
    s.m_nLineLength = 2256;
    s.m_nFrameLines = 1576;
    s.m_reserved16 = 1;
    s.m_nGainMax = 480;
    s.m_nGain = 64;
    s.m_nGainDefault = 64;
    s.m_reserved21 = 1;
    s.m_nExposureLinesMin = 1;
    s.m_nExposureLinesMax = 0xFFFFF;
    s.m_nExposureLines = 10;
    s.m_nExposureLinesDefault = 10;
    s.m_reserved26 = 1;
    s.m_nExposureTimeMin = 1;
    s.m_nExposureTimeMax = 20000;
    s.m_nExposureTime = 170;
    s.m_nExposureTimeDefault = 170;
    s.m_bMirrorVSupported = 1;
    s.m_bMirrorHSupported = 1;
    s.m_nPixelClockKHz = kPixelClockKHz;
    s.m_nRawOrientation = 4;
    m_headCode = kHeadCode;
    m_nTriggerVariant = 1;
}

// The sensor keeps its last settings; the controller may already be gone here.
CSensorIMX252::~CSensorIMX252() = default;

int CSensorIMX252::IsReady() {
    return 1;
}

// --- Register access ------------------------------------------------------------------------

int CSensorIMX252::WriteRegisterRaw(uint32_t address, uint32_t value) {
    std::lock_guard lock(m_registerLock);
    if (m_controller == nullptr) {
        return 0;
    }
    // Register addresses go high byte first on the sensor bus.
    const uint8_t bytes[3] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                              static_cast<uint8_t>(value)};
    return m_controller->BusWrite(m_busAddress, bytes, 3, kBusTimeoutMs) ? 1 : 0;
}

int CSensorIMX252::ReadRegisterRaw(uint32_t address, uint32_t* value) {
    std::lock_guard lock(m_registerLock);
    if (m_controller == nullptr) {
        return 0;
    }
    const uint8_t bytes[2] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    if (!m_controller->BusWrite(m_busAddress, bytes, 2, kBusTimeoutMs)) {
        return 0;
    }
    uint8_t data = 0;
    if (!m_controller->BusRead(m_busAddress, &data, 1, kBusTimeoutMs)) {
        return 0;
    }
    return Put(value, data);
}

// The sensor bridge stays busy for a moment after each transfer and takes the next one only once
// the FPGA reports the bus idle. The bridge is done by the time its status has been read, so the
// status is read again at once a few times before the head pauses.
bool CSensorIMX252::BusIdle() {
    for (int read = 0; read < kStatusReads; ++read) {
        uint8_t status = 0xFF;
        if (!m_controller->ReadFpgaRegister(fpga::kStatus, &status)) {
            return false;
        }
        if (status == 0) {
            return true;
        }
    }
    return false;
}

// An access that gives up fails the settings burst it belongs to, and an access in a failed burst
// is not attempted.
int CSensorIMX252::WriteSensorRegister(uint32_t address, uint32_t value) {
    if (m_controller == nullptr || BurstFailed()) {
        return 0;
    }
    for (int attempt = 0; attempt < kPolledAttempts; ++attempt) {
        if (BusIdle() && WriteRegisterRaw(address, value)) {
            return 1;
        }
        const platform::TimerResolutionGuard precise;
        platform::SleepMs(kPolledWritePauseMs);
    }
    NoteAccessGaveUp();
    return 0;
}

int CSensorIMX252::ReadSensorRegister(uint32_t address, uint32_t* value) {
    if (m_controller == nullptr || BurstFailed()) {
        return 0;
    }
    for (int attempt = 0; attempt < kPolledAttempts; ++attempt) {
        if (BusIdle() && ReadRegisterRaw(address, value)) {
            return 1;
        }
        platform::SleepMs(kPolledReadPauseMs);
    }
    NoteAccessGaveUp();
    return 0;
}

// --- Initialisation -------------------------------------------------------------------------

int CSensorIMX252::Initialize() {
    if (m_controller != nullptr) {
        // The readiness device answers 0 in its first byte once the sensor is powered up.
        bool ready = false;
        for (int attempt = 0; attempt < kReadyAttempts && !ready; ++attempt) {
            uint8_t reply[2] = {0xFF, 0xFF};
            ready = m_controller->BusRead(kReadinessDevice, reply, 2, kReadinessTimeoutMs) &&
                    reply[0] == 0;
            if (!ready) {
                platform::SleepMs(kReadyPauseMs);
            }
        }
        if (!ready) {
            return 0;
        }
        ready = false;
        for (int attempt = 0; attempt < kReadyAttempts && !ready; ++attempt) {
            uint8_t status = 0xFF;
            ready = m_controller->ReadFpgaRegister(fpga::kStatus, &status) &&
                    (status & kBusBusyBits) == 0;
            if (!ready) {
                platform::SleepMs(kReadyPauseMs);
            }
        }
        if (!ready) {
            return 0;
        }
        m_controller->WriteFpgaRegister(fpga::kSensorBusReady, 1);
    }

    // A sensor that does not take its start-up programming (the bridge never idle, the sensor
    // not answering) is not usable, so the first write that cannot be made ends the start-up.
    // Without a controller nothing can be written and the start-up only sets up the state.
    const bool programmed =
        WriteSensorRegister(kRegInit412, 8) && WriteSensorRegister(kRegBlackLevel, 0x50) &&
        SetGain(static_cast<int32_t>(m_state.m_nGainDefault)) &&
        SetExposureLines(static_cast<int32_t>(m_state.m_nExposureLinesDefault)) &&
        SetMirrorH(static_cast<int32_t>(m_state.m_bMirrorHDefault)) &&
        SetMirrorV(static_cast<int32_t>(m_state.m_bMirrorVDefault));
    if (!programmed && m_controller != nullptr) {
        return 0;
    }
    SetCaptureWindow(0, camera::kSensorWidth, 0, camera::kSensorHeight, 0);

    if (m_fpgaVersion == 0) {
        if (m_controller == nullptr) {
            return 1;
        }
        for (int attempt = 0; attempt < kFpgaVersionAttempts && m_fpgaVersion == 0; ++attempt) {
            uint16_t version = 0;
            if (m_controller->ReadFpgaVersion(&version)) {
                m_fpgaVersion = version;
            } else {
                platform::SleepMs(kFpgaVersionPauseMs);
            }
        }
        if (m_fpgaVersion == 0) {
            return 1;
        }
    }
    if (m_fpgaVersion < kFirstSelfConfiguringFpga) {
        ReconfigureFpga();
    }
    return 1;
}

// --- Window and data width ------------------------------------------------------------------

int CSensorIMX252::SetCaptureWindow(int32_t x, int32_t width, int32_t y, int32_t height,
                                    int32_t mode) {
    const WindowAlignment align = AlignmentFor(mode);
    if (x % align.x != 0 || y % align.y != 0 || width % align.width != 0 ||
        height % align.height != 0) {
        return 0;
    }
    if (static_cast<int64_t>(x) + width > static_cast<int64_t>(m_state.m_nMaxWidth) ||
        static_cast<int64_t>(y) + height > static_cast<int64_t>(m_state.m_nMaxHeight)) {
        return 0;
    }
    const int32_t divisor = mode == 1 ? 2 : 1;
    const int32_t outputWidth = width / divisor / 4 * 4;
    const int32_t outputHeight = height / divisor / 4 * 4;
    // A window must deliver pixels: a negative size would land in the sensor's window registers
    // as a huge one, and an empty frame cannot be sized or sent.
    if (outputWidth <= 0 || outputHeight <= 0) {
        return 0;
    }

    // The window's writes are one burst: a bus that stays busy costs one wait, and a window that
    // did not reach the sensor leaves the head's window as it was, so that the next request
    // programs it again instead of finding it already set.
    const SettingsBurst burst(this);
    uint32_t frameLines = 0;
    uint32_t lineLength = 0;
    uint32_t subSample = m_state.m_nSubSample;
    if (mode == 1) {
        WriteSensorRegister(kRegReadoutMode, 0x11);
        WriteSensorRegister(kRegWindowCrop, 0);
        subSample = 1;
        frameLines = kSubSampledFrameLines;
        lineLength = kSubSampledLineLength;
    } else {
        // The window registers count from the sensor's far corner.
        const auto h =
            static_cast<uint32_t>(static_cast<int32_t>(m_state.m_nMaxWidth) - x - width + 8);
        const auto v =
            static_cast<uint32_t>(static_cast<int32_t>(m_state.m_nMaxHeight) - y - height + 8);
        const auto w = static_cast<uint32_t>(outputWidth);
        const auto hr = static_cast<uint32_t>(outputHeight + 4);
        WriteSensorRegister(kRegReadoutMode, 0);
        WriteSensorRegister(kRegWindowH0, h & 0xFF);
        WriteSensorRegister(kRegWindowH1, (h >> 8) & 0x1F);
        WriteSensorRegister(kRegWindowV0, v & 0xFF);
        WriteSensorRegister(kRegWindowV1, (v >> 8) & 0x0F);
        WriteSensorRegister(kRegWindowWidth0, w & 0xFF);
        WriteSensorRegister(kRegWindowWidth1, (w >> 8) & 0x1F);
        WriteSensorRegister(kRegWindowHeight0, hr & 0xFF);
        WriteSensorRegister(kRegWindowHeight1, (hr >> 8) & 0x0F);
        WriteSensorRegister(kRegWindowCrop, 3);
        lineLength = m_state.m_nDataBits == 16 ? kLineLength16 : kLineLength8;
        frameLines = static_cast<uint32_t>(height) + kFrameBlankingLines;
        subSample = 0;
    }
    WriteSensorRegister(kRegFrameLength0, frameLines & 0xFF);
    WriteSensorRegister(kRegFrameLength1, (frameLines >> 8) & 0xFF);
    WriteSensorRegister(kRegFrameLength2, (frameLines >> 16) & 0xFF);
    WriteSensorRegister(kRegLineLength0, lineLength & 0xFF);
    WriteSensorRegister(kRegLineLength1, (lineLength >> 8) & 0xFF);
    if (burst.Failed()) {
        return 0;
    }

    m_state.m_nSubSample = subSample;
    m_state.m_nLineLength = lineLength;
    m_state.m_nFrameLines = frameLines;
    m_state.m_nX = x;
    m_state.m_nY = y;
    m_state.m_nWidth = outputWidth;
    m_state.m_nHeight = outputHeight;
    // The exposure in line periods follows the new line and frame length. It cannot be set while
    // the data width is still unknown (at the start-up), which is no failure of the window.
    SetExposureTime(static_cast<int32_t>(m_state.m_nExposureTime));
    return burst.Failed() ? 0 : 1;
}

int CSensorIMX252::GetCaptureWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height,
                                    int32_t* mode) {
    Put(x, m_state.m_nX);
    Put(width, m_state.m_nWidth);
    Put(y, m_state.m_nY);
    Put(height, m_state.m_nHeight);
    return Put(mode, m_state.m_nSubSample);
}

int CSensorIMX252::SetDataWidth(int32_t wide) {
    m_state.m_nDataBits = wide != 0 ? 16 : 8;
    // The line length depends on the data width, so the window is programmed again.
    return SetCaptureWindow(m_state.m_nX, m_state.m_nWidth, m_state.m_nY, m_state.m_nHeight,
                            static_cast<int32_t>(m_state.m_nSubSample));
}

// --- Exposure -------------------------------------------------------------------------------

double CSensorIMX252::LinePeriod() const {
    const bool trigger = m_nTriggerMode == 1 && m_nTriggerVariant == 1;
    double period = 0.0;
    uint32_t lineLength = 0;
    switch (m_state.m_nDataBits) {
        case 8:
            period = kLinePeriodFree8;
            lineLength = kLineLength8;
            break;
        case 16:
            period = kLinePeriodFree16;
            lineLength = kLineLength16;
            break;
        default:
            return 0.0;
    }
    if (trigger) {
        // The FPGA counts a triggered exposure in lines of the length it is given, the same at
        // either data width: counting 16-bit exposures in the sensor's twice as long lines would
        // give them half the time asked for.
        return TriggerLineClocks(m_nTriggerVariant) * 10.0 / kPixelClockKHz;
    }
    // The free-run periods above are those of the sensor's full-resolution lines. 2x2
    // sub-sampling reads shorter lines (396 units at either data width), and the sensor counts
    // its exposure in those: without the scaling a sub-sampled exposure would last 396/444
    // (8 bits) or 396/888 (16 bits) of the time asked for. Under trigger operation the FPGA times
    // the exposure with lines of its own, whatever the sensor reads.
    if (!trigger && m_state.m_nSubSample == 1) {
        period = period * kSubSampledLineLength / lineLength;
    }
    return period;
}

int CSensorIMX252::SetExposureTime(int32_t time) {
    auto t = static_cast<uint32_t>(time);
    if (t < m_state.m_nExposureTimeMin) {
        t = m_state.m_nExposureTimeMin;
    }
    if (t > m_state.m_nExposureTimeMax) {
        t = m_state.m_nExposureTimeMax;
    }
    const double period = LinePeriod();
    if (period == 0.0) {
        return 0;
    }
    auto lines = static_cast<int64_t>(static_cast<double>(t) / period);
    if (lines < m_state.m_nExposureLinesMin) {
        lines = m_state.m_nExposureLinesMin;
        t = static_cast<uint32_t>(static_cast<double>(lines) * period);
    }
    if (lines > m_state.m_nExposureLinesMax) {
        lines = m_state.m_nExposureLinesMax;
        t = static_cast<uint32_t>(static_cast<double>(lines) * period);
    }
    if (!SetExposureLines(static_cast<int32_t>(lines))) {
        return 0;
    }
    m_state.m_nExposureTime = t;
    return 1;
}

void CSensorIMX252::WriteFrameLength(uint32_t lines) {
    WriteSensorRegister(kRegFrameLength2, (lines >> 16) & 0x0F);
    WriteSensorRegister(kRegFrameLength1, (lines >> 8) & 0xFF);
    WriteSensorRegister(kRegFrameLength0, lines & 0xFF);
}

int CSensorIMX252::SetExposureLines(int32_t requested) {
    auto n = static_cast<uint32_t>(requested);
    if (n > static_cast<uint32_t>(m_state.m_nExposureLinesMax)) {
        n = static_cast<uint32_t>(m_state.m_nExposureLinesMax);
    }
    const uint32_t frame = m_state.m_nFrameLines;
    // The frame length, the shutter and the hold around them are one setting: they take effect
    // together, and only when all of them reached the sensor.
    const SettingsBurst burst(this);
    int result = 0;
    if (frame - kShutterMarginLines < n) {
        // Longer than the frame allows: stretch the frame to the exposure plus the margin and
        // start the shutter at the margin line.
        const uint32_t stretched = n + kShutterMarginLines;
        const uint32_t pause = m_state.m_nExposureTime;
        WriteSensorRegister(kRegHold, 1);
        if (((stretched >> 16) & 0x0F) != 0) {
            WriteSensorRegister(kRegFrameLength2, (stretched >> 16) & 0x0F);
            Yield(pause);
            WriteSensorRegister(kRegFrameLength0, stretched & 0xFF);
            Yield(pause);
            WriteSensorRegister(kRegFrameLength1, (stretched >> 8) & 0xFF);
            Yield(pause);
        } else if (((stretched >> 8) & 0xFF) < ((frame >> 8) & 0xFF)) {
            WriteSensorRegister(kRegFrameLength1, (stretched >> 8) & 0xFF);
            Yield(pause);
            WriteSensorRegister(kRegFrameLength2, 0);
            WriteSensorRegister(kRegFrameLength0, stretched & 0xFF);
        } else {
            WriteSensorRegister(kRegFrameLength2, 0);
            WriteSensorRegister(kRegFrameLength1, (stretched >> 8) & 0xFF);
            WriteSensorRegister(kRegFrameLength0, stretched & 0xFF);
        }
        WriteSensorRegister(kRegHold, 0);
        WriteSensorRegister(kRegHold, 1);
        WriteSensorRegister(kRegShutter0, kShutterMarginLines);
        WriteSensorRegister(kRegShutter1, 0);
        WriteSensorRegister(kRegShutter2, 0);
        WriteSensorRegister(kRegHold, 0);
        result = 1;
    } else {
        // Within the frame: the frame keeps its length and the shutter opens n lines before
        // its end.
        const uint32_t start = frame - n;
        WriteFrameLength(frame);
        WriteSensorRegister(kRegHold, 1);
        if (WriteSensorRegister(kRegShutter0, start & 0xFF)) {
            WriteSensorRegister(kRegShutter1, (start >> 8) & 0x0F);
            WriteSensorRegister(kRegShutter2, 0);
            result = 1;
        }
        WriteSensorRegister(kRegHold, 0);
    }
    if (burst.Failed()) {
        result = 0;
    }
    if (result != 0) {
        m_state.m_nExposureLines = n;
    }
    if (m_nTriggerMode == 1) {
        ProgramTriggerTiming();
    }
    return result;
}

// --- Gain, mirroring, trigger ---------------------------------------------------------------

int CSensorIMX252::SetGain(int32_t value) {
    auto gain = static_cast<uint32_t>(value);
    if (gain > m_state.m_nGainMax) {
        gain = m_state.m_nGainMax;
    }
    const SettingsBurst burst(this);
    if (!WriteSensorRegister(kRegGain0, gain & 0xFF) ||
        !WriteSensorRegister(kRegGain1, (gain >> 8) & 0x01)) {
        return 0;
    }
    m_state.m_nGain = gain;
    return 1;
}

int CSensorIMX252::SetMirrorV(int32_t on) {
    const uint32_t bits = (on != 0 ? 1U : 0U) + (m_state.m_bMirrorH != 0 ? 2U : 0U);
    if (!WriteSensorRegister(kRegMirror, bits)) {
        return 0;
    }
    m_state.m_bMirrorV = static_cast<uint32_t>(on);
    return 1;
}

int CSensorIMX252::SetMirrorH(int32_t on) {
    const uint32_t bits = (on != 0 ? 2U : 0U) + (m_state.m_bMirrorV != 0 ? 1U : 0U);
    if (!WriteSensorRegister(kRegMirror, bits)) {
        return 0;
    }
    m_state.m_bMirrorH = static_cast<uint32_t>(on);
    return 1;
}

int CSensorIMX252::SetTriggerMode(int32_t mode) {
    if (m_controller == nullptr) {
        return 0;
    }
    m_nTriggerMode = mode;
    // The mode's writes are one burst; once one has failed, the pauses that let the sensor take
    // each write are no longer needed.
    const SettingsBurst burst(this);
    const auto pause = [&burst] {
        if (!burst.Failed()) {
            platform::SleepMs(kTriggerPauseMs);
        }
    };
    // The line period differs between trigger operation and free-run.
    SetExposureTime(static_cast<int32_t>(m_state.m_nExposureTime));
    int result = 0;
    if (mode == 1) {
        ProgramTriggerTiming();
        WriteSensorRegister(kRegHold, 1);
        WriteSensorRegister(kRegTriggerEnable0, 1);
        pause();
        WriteSensorRegister(kRegTriggerEnable1, 1);
        pause();
        WriteSensorRegister(kRegTriggerSetup236, 0xF0);
        pause();
        WriteSensorRegister(kRegTriggerSetup2AE, 0);
        pause();
        result = WriteSensorRegister(kRegTriggerSetup2AA, 1);
        pause();
        WriteSensorRegister(kRegHold, 0);
    } else {
        WriteFpgaRegisterVerified(fpga::kTriggerControl, 0);
        WriteSensorRegister(kRegHold, 1);
        WriteSensorRegister(kRegTriggerEnable0, 0);
        pause();
        result = WriteSensorRegister(kRegTriggerEnable1, 0);
        pause();
        WriteSensorRegister(kRegHold, 0);
    }
    return burst.Failed() ? 0 : result;
}

int CSensorIMX252::SetSamplingRate(int32_t index, int32_t* rate) {
    if (index != 0 || rate == nullptr) {
        return 0;
    }
    return SetSamplingRateValue(*rate);
}

// --- Getters --------------------------------------------------------------------------------

int CSensorIMX252::GetTriggerMode(int32_t* mode) {
    return Put(mode, m_nTriggerMode);
}
int CSensorIMX252::GetExposureLines(int32_t* lines) {
    return Put(lines, m_state.m_nExposureLines);
}
int CSensorIMX252::GetGain(int32_t* value) {
    return Put(value, m_state.m_nGain);
}
int CSensorIMX252::GetExposureLinesMin(int32_t* value) {
    return Put(value, m_state.m_nExposureLinesMin);
}
int CSensorIMX252::GetExposureLinesMax(int32_t* value) {
    return Put(value, m_state.m_nExposureLinesMax);
}
int CSensorIMX252::GetExposureLinesDefault(int32_t* value) {
    return Put(value, m_state.m_nExposureLinesDefault);
}
int CSensorIMX252::GetGainMin(int32_t* value) {
    return Put(value, m_state.m_nGainMin);
}
int CSensorIMX252::GetGainMax(int32_t* value) {
    return Put(value, m_state.m_nGainMax);
}
int CSensorIMX252::GetGainDefault(int32_t* value) {
    return Put(value, m_state.m_nGainDefault);
}
int CSensorIMX252::GetColorGainMin(int32_t* value) {
    return Put(value, m_state.m_nColorGainMin);
}
int CSensorIMX252::GetColorGainMax(int32_t* value) {
    return Put(value, m_state.m_nColorGainMax);
}
int CSensorIMX252::GetColorGainDefault(int32_t* value) {
    return Put(value, m_state.m_nColorGainDefault);
}
int CSensorIMX252::GetExposureTime(int32_t* time) {
    return Put(time, m_state.m_nExposureTime);
}
int CSensorIMX252::GetExposureTimeMin(int32_t* value) {
    return Put(value, m_state.m_nExposureTimeMin);
}
int CSensorIMX252::GetExposureTimeMax(int32_t* value) {
    return Put(value, m_state.m_nExposureTimeMax);
}
int CSensorIMX252::GetExposureTimeDefault(int32_t* value) {
    return Put(value, m_state.m_nExposureTimeDefault);
}
int CSensorIMX252::GetMirrorV(int32_t* on) {
    return Put(on, m_state.m_bMirrorV);
}
int CSensorIMX252::GetMirrorH(int32_t* on) {
    return Put(on, m_state.m_bMirrorH);
}

}  // namespace quorix
