#pragma once

#include <atomic>
#include <cstdint>

#include "sensors/sensor_state_block.h"

namespace quorix {

class CControllerBase;

// The abstract sensor head. The engine owns exactly one head and makes every sensor setting
// through it; the head reaches the camera only through the controller interface it was given
// (never owned) at its bus device address. All heads share the operations below and one
// state-block layout; an operation a head does not have answers 0 ("failed or not supported")
// and changes nothing.
//
// Results are 1 for success and 0 for failure unless noted; getters write through their
// out-parameter and never touch the hardware.
class CSensorBase {
public:
    // A run of polled register accesses that belong together: one setting, or every setting of
    // an acquisition start. The first access in it that gives up (the sensor bus never became
    // idle, or the sensor never took the transfer) ends the run: the accesses after it fail at
    // once, without bus traffic, instead of each waiting the whole poll time again, so a stuck
    // bus costs one wait per run and the run reports that its settings did not reach the sensor.
    // Runs nest; the end of the outermost one clears the failure. Outside a run every access
    // waits on its own. Threads share the head's run: a thread that starts a setting while
    // another's run has failed on the same bus fails at once as well.
    class SettingsBurst {
    public:
        explicit SettingsBurst(CSensorBase* head);
        ~SettingsBurst();
        SettingsBurst(const SettingsBurst&) = delete;
        SettingsBurst& operator=(const SettingsBurst&) = delete;
        // Whether an access of this run, or of a run it is nested in, gave up.
        bool Failed() const;

    private:
        CSensorBase* m_head;  // not owned; null: an empty run that never fails
    };

    static constexpr int32_t kDefaultTriggerMode = 15;  // any value but 1 means free-run

    CSensorBase();
    CSensorBase(const CSensorBase&) = delete;
    CSensorBase& operator=(const CSensorBase&) = delete;

    // --- Opening, window, trigger ------------------------------------------------------------
    virtual ~CSensorBase();
    virtual int IsReady();
    virtual int Initialize();
    virtual int SetCaptureWindow(int32_t x, int32_t width, int32_t y, int32_t height, int32_t mode);
    virtual int GetCaptureWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height,
                                 int32_t* mode);
    virtual int SetTriggerMode(int32_t mode);
    virtual int GetTriggerMode(int32_t* mode);

    // --- Data width, exposure lines, gains -----------------------------------------------------
    virtual int SetDataWidth(int32_t wide);
    virtual int SetExposureLines(int32_t lines);
    virtual int GetExposureLines(int32_t* lines);
    virtual int SetGain(int32_t value);
    virtual int GetGain(int32_t* value);
    virtual int SetColorGainRed(int32_t value);
    virtual int GetColorGainRed(int32_t* value);
    virtual int SetColorGainGreen1(int32_t value);
    virtual int GetColorGainGreen1(int32_t* value);
    virtual int SetColorGainGreen2(int32_t value);
    virtual int GetColorGainGreen2(int32_t* value);
    virtual int SetColorGainBlue(int32_t value);
    virtual int GetColorGainBlue(int32_t* value);
    virtual int GetExposureLinesMin(int32_t* value);
    virtual int GetExposureLinesMax(int32_t* value);
    virtual int GetExposureLinesDefault(int32_t* value);
    virtual int GetGainMin(int32_t* value);
    virtual int GetGainMax(int32_t* value);
    virtual int GetGainDefault(int32_t* value);
    virtual int GetColorGainMin(int32_t* value);
    virtual int GetColorGainMax(int32_t* value);
    virtual int GetColorGainDefault(int32_t* value);

    // --- Black level and auxiliary value (other heads) -----------------------------------------
    virtual int IsBlackLevelSupported();
    virtual int SetBlackLevel(int32_t value);
    virtual int GetBlackLevel(int32_t* value);
    virtual int GetBlackLevelMin(int32_t* value);
    virtual int GetBlackLevelMax(int32_t* value);
    virtual int GetBlackLevelDefault(int32_t* value);
    virtual int IsAuxValueSupported();
    virtual int SetAuxValue(int32_t value);
    virtual int GetAuxValue(int32_t* value);

    // --- Exposure time, mirroring, sampling rate, registers ------------------------------------
    virtual int SetExposureTime(int32_t time);  // [100 us]
    virtual int GetExposureTime(int32_t* time);
    virtual int GetExposureTimeMin(int32_t* value);
    virtual int GetExposureTimeMax(int32_t* value);
    virtual int GetExposureTimeDefault(int32_t* value);
    virtual int SetMirrorV(int32_t on);
    virtual int GetMirrorV(int32_t* on);
    virtual int SetMirrorH(int32_t on);
    virtual int GetMirrorH(int32_t* on);
    virtual int GetMirrorVDefault();
    virtual int GetMirrorHDefault();
    virtual int IsMirrorVSupported();
    virtual int IsMirrorHSupported();
    virtual int SetSamplingRate(int32_t index, int32_t* rate);
    virtual int WriteRegisterRaw(uint32_t address, uint32_t value);
    virtual int ReadRegisterRaw(uint32_t address, uint32_t* value);
    virtual int WriteSensorRegister(uint32_t address, uint32_t value);
    virtual int ReadSensorRegister(uint32_t address, uint32_t* value);
    virtual int SetSamplingRateValue(int32_t rate);

    // --- Speed, state block, notifications, optional features ----------------------------------
    virtual int SetSpeedMode(int32_t mode);
    virtual int CopyStateBlock(void* buffer);
    virtual void OnSettingsApplied();
    virtual int IsInternalCorrectionSupported();
    virtual int SetInternalCorrection(int32_t value);
    virtual int GetInternalCorrection(int32_t* value);
    virtual int IsCoolerSupported();
    virtual int GetCooler(int32_t* value);
    virtual int SetCooler(int32_t value);
    virtual int IsTemperatureSupported();
    virtual int GetTemperature(double* celsius);
    virtual void OnCaptureStop(int32_t wait);

    // --- Seconds-based exposure, short exposure, gain mode, output formats ---------------------
    virtual int IsExposureTimeExSupported();
    virtual double GetExposureTimeExMin(double* seconds);
    virtual double GetExposureTimeExMax(double* seconds);
    virtual double GetExposureTimeExDefault(double* seconds);
    virtual int GetExposureTimeEx(double* seconds);
    virtual int SetExposureTimeEx(double seconds);
    virtual int IsShortExposureModeSupported();
    virtual int GetShortExposureMode(int32_t* value);
    virtual int SetShortExposureMode(int32_t on);
    virtual int IsGainModeSupported();
    virtual int32_t GetGainMode();  // -1: none
    virtual int SetGainMode(int32_t mode);
    // 2 when a frame row holds twice the window's width of samples; -1 for normal rows.
    virtual int32_t GetRawWidthMode();
    virtual int SupportsOutput8();
    virtual int SupportsOutput16();
    virtual int SupportsOutputColor();

    // --- Common operations ------------------------------------------------------------------

    // Writes an FPGA register and reads it back until the byte matches: up to 10 attempts, 5 ms
    // before each read-back and after a mismatch. The second form holds a 1 ms timer-resolution
    // request around the loop.
    int WriteFpgaRegisterVerified(uint8_t reg, uint32_t value);
    int WriteFpgaRegisterVerifiedPrecise(uint8_t reg, uint32_t value);
    // Pulses bit 0 of the FPGA's sensor-bridge reset register (off, on, off, 50 ms apart).
    void ResetSensorBridge();
    // Makes the FPGA load its configuration again unless it reports it loaded (0x81 bit 1).
    int ReconfigureFpga();
    // The FPGA version, read once (up to 10 attempts 100 ms apart) and cached.
    int GetFpgaVersion(uint16_t* version);
    // Copies the exposure lines and the output height into the FPGA's trigger timing.
    void ProgramTriggerTiming();
    // Pixel clocks per line of the FPGA's trigger timing, which ProgramTriggerTiming programs:
    // triggered exposures are counted in these lines.
    static constexpr uint32_t TriggerLineClocks(int32_t variant) {
        return variant == 1 ? 0x120 : 0x143;
    }
    // Pulses the FPGA's transfer reset after a failed frame, so the camera sends frames again.
    int RestartTransfer();

    const SensorStateBlock& State() const { return m_state; }
    SensorStateBlock& State() { return m_state; }
    int32_t HeadCode() const { return m_headCode; }
    uint16_t CachedFpgaVersion() const { return m_fpgaVersion; }

protected:
    // Stores the controller and bus address the factory hands every head.
    void Attach(CControllerBase* controller, uint8_t busAddress);
    // The polled accesses' side of a settings burst: whether the current run has failed, and
    // the note of an access that gave up (which fails the run, if one is open).
    bool BurstFailed() const { return m_burstFailed.load(); }
    void NoteAccessGaveUp();

    SensorStateBlock m_state;
    CControllerBase* m_controller = nullptr;  // not owned
    uint8_t m_busAddress = 0;
    int32_t m_nTriggerMode = kDefaultTriggerMode;
    uint16_t m_fpgaVersion = 0;
    int32_t m_headCode = 0;
    // Which trigger timing the head programs into the FPGA (see ProgramTriggerTiming); 1 on the
    // IMX252.
    int32_t m_nTriggerVariant = 0;

private:
    std::atomic<int32_t> m_burstDepth{0};
    std::atomic<bool> m_burstFailed{false};
};

}  // namespace quorix
