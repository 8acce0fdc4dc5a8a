#pragma once

#include <atomic>
#include <cstdint>

#include "sensors/sensor_state_block.h"

namespace quorix {

class CControllerBase;

// The abstract sensor head. The engine owns exactly one head and makes every sensor setting
// through it; the head reaches the camera only through the controller interface it was given
// (never owned) at its bus device address. All heads share one interface of 141 operations in a
// fixed slot order (the order of the virtual functions below) and one state-block layout; an
// operation a head does not have answers 0 ("failed or not supported") and changes nothing.
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
    static constexpr uint8_t kFpgaBusStatus = 0x02;
    static constexpr uint8_t kFpgaTransferReset = 0x6C;
    static constexpr uint8_t kFpgaReconfigure = 0x81;
    static constexpr uint8_t kFpgaBridgeReset = 0x82;

    CSensorBase();
    CSensorBase(const CSensorBase&) = delete;
    CSensorBase& operator=(const CSensorBase&) = delete;

    // --- Slots 0-14: identity, opening, window, trigger ------------------------------------
    virtual ~CSensorBase();                        // 0
    virtual void SetHeadCode(int32_t code);        // 1
    virtual void SetTriggerModeRaw(int32_t word);  // 2
    virtual int32_t GetTriggerModeRaw();           // 3
    virtual int IsReady();                         // 4
    virtual int Initialize();                      // 5
    virtual int StartUp();                         // 6
    virtual int OnStartTimeout();                  // 7
    virtual int SetCaptureWindow(int32_t x, int32_t width, int32_t y, int32_t height,
                                 int32_t mode);  // 8
    virtual int GetCaptureWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height,
                                 int32_t* mode);  // 9
    virtual int SetTriggerMode(int32_t mode);     // 10
    virtual int GetTriggerMode(int32_t* mode);    // 11
    virtual int SetHeadMode(int32_t value);       // 12 (other heads)
    virtual int GetHeadMode(int32_t* value);      // 13 (other heads)
    virtual int IsHeadModeSupported();            // 14 (other heads)

    // --- Slots 15-36: data width, exposure lines, gains -------------------------------------
    virtual int SetDataWidth(int32_t wide);               // 15
    virtual int SetExposureLines(int32_t lines);          // 16
    virtual int GetExposureLines(int32_t* lines);         // 17
    virtual int SetGain(int32_t value);                   // 18
    virtual int GetGain(int32_t* value);                  // 19
    virtual int SetColorGainRed(int32_t value);           // 20
    virtual int GetColorGainRed(int32_t* value);          // 21
    virtual int SetColorGainGreen1(int32_t value);        // 22
    virtual int GetColorGainGreen1(int32_t* value);       // 23
    virtual int SetColorGainGreen2(int32_t value);        // 24
    virtual int GetColorGainGreen2(int32_t* value);       // 25
    virtual int SetColorGainBlue(int32_t value);          // 26
    virtual int GetColorGainBlue(int32_t* value);         // 27
    virtual int GetExposureLinesMin(int32_t* value);      // 28
    virtual int GetExposureLinesMax(int32_t* value);      // 29
    virtual int GetExposureLinesDefault(int32_t* value);  // 30
    virtual int GetGainMin(int32_t* value);               // 31
    virtual int GetGainMax(int32_t* value);               // 32
    virtual int GetGainDefault(int32_t* value);           // 33
    virtual int GetColorGainMin(int32_t* value);          // 34
    virtual int GetColorGainMax(int32_t* value);          // 35
    virtual int GetColorGainDefault(int32_t* value);      // 36

    // --- Slots 37-63: channel gains and offsets, black level, auxiliary values (other heads) -
    virtual int SetChannelGain(int32_t channel, int32_t value);     // 37
    virtual int GetChannelGain(int32_t channel, int32_t* value);    // 38
    virtual int GetChannelGainMin(int32_t* value);                  // 39
    virtual int GetChannelGainMax(int32_t* value);                  // 40
    virtual int GetChannelGainDefault(int32_t* value);              // 41
    virtual int SetChannelOffset(int32_t channel, int32_t value);   // 42
    virtual int GetChannelOffset(int32_t channel, int32_t* value);  // 43
    virtual int GetChannelOffsetMin(int32_t* value);                // 44
    virtual int GetChannelOffsetMax(int32_t* value);                // 45
    virtual int GetChannelOffsetDefault(int32_t* value);            // 46
    virtual int IsBlackLevelSupported();                            // 47
    virtual int SetBlackLevel(int32_t value);                       // 48
    virtual int GetBlackLevel(int32_t* value);                      // 49
    virtual int GetBlackLevelMin(int32_t* value);                   // 50
    virtual int GetBlackLevelMax(int32_t* value);                   // 51
    virtual int GetBlackLevelDefault(int32_t* value);               // 52
    virtual int IsAuxValueSupported();                              // 53
    virtual int SetAuxValue(int32_t value);                         // 54
    virtual int GetAuxValue(int32_t* value);                        // 55
    virtual int IsAuxLevelSupported();                              // 56
    virtual int GetAuxLevelMin(int32_t* value);                     // 57
    virtual int GetAuxLevelMax(int32_t* value);                     // 58
    virtual int GetAuxLevel(int32_t* value);                        // 59
    virtual int GetAuxLevelDefault(int32_t* value);                 // 60
    virtual int SetAuxLevelMode(int32_t value);                     // 61 (other heads)
    virtual int SetAuxLevel(int32_t value);                         // 62 (other heads)
    virtual int GetAuxLevelMode(int32_t* value);                    // 63 (other heads)

    // --- Slots 64-82: exposure time, mirroring, sampling rate, registers --------------------
    virtual int SetExposureTime(int32_t time);                          // 64 [100 us]
    virtual int GetExposureTime(int32_t* time);                         // 65
    virtual int GetExposureTimeMin(int32_t* value);                     // 66
    virtual int GetExposureTimeMax(int32_t* value);                     // 67
    virtual int GetExposureTimeDefault(int32_t* value);                 // 68
    virtual int SetMirrorV(int32_t on);                                 // 69
    virtual int GetMirrorV(int32_t* on);                                // 70
    virtual int SetMirrorH(int32_t on);                                 // 71
    virtual int GetMirrorH(int32_t* on);                                // 72
    virtual int GetMirrorVDefault();                                    // 73
    virtual int GetMirrorHDefault();                                    // 74
    virtual int IsMirrorVSupported();                                   // 75
    virtual int IsMirrorHSupported();                                   // 76
    virtual int SetSamplingRate(int32_t index, int32_t* rate);          // 77
    virtual int WriteRegisterRaw(uint32_t address, uint32_t value);     // 78
    virtual int ReadRegisterRaw(uint32_t address, uint32_t* value);     // 79
    virtual int WriteSensorRegister(uint32_t address, uint32_t value);  // 80
    virtual int ReadSensorRegister(uint32_t address, uint32_t* value);  // 81
    virtual int SetSamplingRateValue(int32_t rate);                     // 82

    // --- Slots 83-104: speed, state block, notifications, optional features -----------------
    virtual int Reserved83();                                             // 83
    virtual int Reserved84();                                             // 84
    virtual int Reserved85();                                             // 85
    virtual int Reserved86();                                             // 86
    virtual int Reserved87();                                             // 87
    virtual int SetSpeedMode(int32_t mode);                               // 88
    virtual int GetSpeedMode(int32_t* mode, int32_t arg1, int32_t arg2);  // 89
    virtual int Reserved90();                                             // 90
    virtual int Reserved91();                                             // 91
    virtual int CopyStateBlock(void* buffer);                             // 92
    virtual void OnSettingsApplied();                                     // 93
    virtual void OnReservedNotice94();                                    // 94
    virtual int IsInternalCorrectionSupported();                          // 95
    virtual int SetInternalCorrection(int32_t value);                     // 96
    virtual int GetInternalCorrection(int32_t* value);                    // 97
    virtual int IsCoolerSupported();                                      // 98
    virtual int GetCooler(int32_t* value);                                // 99
    virtual int SetCooler(int32_t value);                                 // 100
    virtual int IsTemperatureSupported();                                 // 101
    virtual int GetTemperature(double* celsius);                          // 102
    virtual void OnReservedNotice103();                                   // 103
    virtual void OnCaptureStop(int32_t wait);                             // 104

    // --- Slots 105-140: features of other heads, seconds-based exposure, output modes -------
    virtual int Reserved105();                                 // 105
    virtual int Reserved106(int32_t value);                    // 106
    virtual int Reserved107(int32_t* value);                   // 107
    virtual int Reserved108();                                 // 108
    virtual int Reserved109();                                 // 109
    virtual int Reserved110();                                 // 110
    virtual int Reserved111(int32_t value);                    // 111
    virtual int Reserved112(int32_t* value);                   // 112
    virtual int Reserved113(int32_t value);                    // 113
    virtual int Reserved114(int32_t* value);                   // 114
    virtual int Reserved115(int32_t value);                    // 115
    virtual int Reserved116(int32_t* value);                   // 116
    virtual int Reserved117(int32_t value);                    // 117
    virtual int Reserved118(int32_t* value);                   // 118
    virtual int IsExposureTimeExSupported();                   // 119
    virtual double GetExposureTimeExMin(double* seconds);      // 120
    virtual double GetExposureTimeExMax(double* seconds);      // 121
    virtual double GetExposureTimeExDefault(double* seconds);  // 122
    virtual int GetExposureTimeEx(double* seconds);            // 123
    virtual int SetExposureTimeEx(double seconds);             // 124
    virtual int IsShortExposureModeSupported();                // 125
    virtual int GetShortExposureMode(int32_t* value);          // 126
    virtual int SetShortExposureMode(int32_t on);              // 127
    virtual int Reserved128(int32_t a, int32_t b, int32_t c);  // 128
    virtual int Reserved129(int32_t* value);                   // 129
    virtual int IsGainModeSupported();                         // 130
    virtual int32_t GetGainMode();                             // 131 (-1: none)
    virtual int SetGainMode(int32_t mode);                     // 132
    virtual int Reserved133();                                 // 133
    virtual int32_t GetRawWidthMode();                         // 134 (-1: normal)
    virtual int Reserved135();                                 // 135
    virtual int SupportsOutput8();                             // 136
    virtual int SupportsOutput16();                            // 137
    virtual int SupportsOutputColor();                         // 138
    virtual int Reserved139();                                 // 139
    virtual int Reserved140();                                 // 140

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

    uint8_t m_reservedArea[1024];  // head-specific; not used by the heads built here
    SensorStateBlock m_state;
    uint64_t m_working[4];
    CControllerBase* m_controller = nullptr;  // not owned
    uint8_t m_busAddress = 0;
    int32_t m_nTriggerMode = kDefaultTriggerMode;
    uint16_t m_fpgaVersion = 0;
    int32_t m_headCode = 0;
    // Working fields of other heads; the restart-enable word lets RestartTransfer pulse the
    // FPGA's transfer reset (1 for every head built here).
    uint32_t m_restartEnable = 1;
    uint32_t m_startupPollLimit = 300;
    uint32_t m_startupPollEnable = 1;
    uint32_t m_headWorking[8] = {};
    int32_t m_nTriggerVariant = 0;
    uint32_t m_reservedWord = 0;

private:
    std::atomic<int32_t> m_burstDepth{0};
    std::atomic<bool> m_burstFailed{false};
};

}  // namespace quorix
