#pragma once

#include <cstdint>

#include "platform/lock.h"
#include "sensors/sensor_base.h"

namespace quorix {

// The head of the Sony IMX252 (2048 x 1536) behind the camera board's FPGA. It programs the
// sensor's registers over the sensor bus at bus address 72: window and 2x2 sub-sampling, data
// width, exposure (as a time and in line periods), gain, mirroring and trigger mode, and keeps the
// results in the state block. Created by the engine's factory for camera ID 0x31C0.
class CSensorIMX252 : public CSensorBase {
public:
    static constexpr uint8_t kBusAddress = 72;
    static constexpr int32_t kHeadCode = 56;
    static constexpr int32_t kPixelClockKHz = 54545;

    // The steps a capture window's start and size keep in a read-out mode (0 full resolution,
    // 1 2x2 sub-sampling, anything else the coarse steps of the binning modes) [sensor pixels].
    // The context checks windows by the same table before the head is asked.
    struct WindowAlignment {
        int32_t x;
        int32_t y;
        int32_t width;
        int32_t height;
    };
    static constexpr WindowAlignment AlignmentFor(int32_t mode) {
        if (mode == 0) {
            return {2, 2, 16, 4};
        }
        if (mode == 1) {
            return {4, 4, 32, 4};
        }
        return {8, 8, 64, 8};
    }

    // Sensor registers: 16-bit addresses holding 8-bit values.
    static constexpr uint32_t kRegHold = 0x208;
    static constexpr uint32_t kRegTriggerEnable0 = 0x20A;
    static constexpr uint32_t kRegTriggerEnable1 = 0x20B;
    static constexpr uint32_t kRegReadoutMode = 0x20D;
    static constexpr uint32_t kRegMirror = 0x20E;
    static constexpr uint32_t kRegFrameLength0 = 0x210;
    static constexpr uint32_t kRegFrameLength1 = 0x211;
    static constexpr uint32_t kRegFrameLength2 = 0x212;
    static constexpr uint32_t kRegLineLength0 = 0x214;
    static constexpr uint32_t kRegLineLength1 = 0x215;
    static constexpr uint32_t kRegTriggerSetup236 = 0x236;
    static constexpr uint32_t kRegShutter0 = 0x28D;
    static constexpr uint32_t kRegShutter1 = 0x28E;
    static constexpr uint32_t kRegShutter2 = 0x28F;
    static constexpr uint32_t kRegTriggerSetup2AA = 0x2AA;
    static constexpr uint32_t kRegTriggerSetup2AE = 0x2AE;
    static constexpr uint32_t kRegGain0 = 0x404;
    static constexpr uint32_t kRegGain1 = 0x405;
    static constexpr uint32_t kRegInit412 = 0x412;
    static constexpr uint32_t kRegBlackLevel = 0x454;
    static constexpr uint32_t kRegWindowCrop = 0x500;
    static constexpr uint32_t kRegWindowH0 = 0x510;
    static constexpr uint32_t kRegWindowH1 = 0x511;
    static constexpr uint32_t kRegWindowV0 = 0x512;
    static constexpr uint32_t kRegWindowV1 = 0x513;
    static constexpr uint32_t kRegWindowWidth0 = 0x514;
    static constexpr uint32_t kRegWindowWidth1 = 0x515;
    static constexpr uint32_t kRegWindowHeight0 = 0x516;
    static constexpr uint32_t kRegWindowHeight1 = 0x517;

    // The sensor bus device that answers whether the sensor has started.
    static constexpr uint8_t kReadinessDevice = 0x5E;

    // One free-run line period in exposure units (100 us) by data width: the line length in pixel
    // clocks over the 54.545 MHz pixel clock. Under trigger operation the FPGA times the exposure
    // in lines of its own (TriggerLineClocks), whatever the data width.
    static constexpr double kLinePeriodFree8 = 3230.0 / 54545.0;
    static constexpr double kLinePeriodFree16 = 6460.0 / 54545.0;

    CSensorIMX252(CControllerBase* controller, uint8_t busAddress);
    ~CSensorIMX252() override;

    int IsReady() override;
    int Initialize() override;
    int SetCaptureWindow(int32_t x, int32_t width, int32_t y, int32_t height,
                         int32_t mode) override;
    int GetCaptureWindow(int32_t* x, int32_t* width, int32_t* y, int32_t* height,
                         int32_t* mode) override;
    int SetTriggerMode(int32_t mode) override;
    int GetTriggerMode(int32_t* mode) override;
    int SetDataWidth(int32_t wide) override;
    int SetExposureLines(int32_t lines) override;
    int GetExposureLines(int32_t* lines) override;
    int SetGain(int32_t value) override;
    int GetGain(int32_t* value) override;
    int GetExposureLinesMin(int32_t* value) override;
    int GetExposureLinesMax(int32_t* value) override;
    int GetExposureLinesDefault(int32_t* value) override;
    int GetGainMin(int32_t* value) override;
    int GetGainMax(int32_t* value) override;
    int GetGainDefault(int32_t* value) override;
    int GetColorGainMin(int32_t* value) override;
    int GetColorGainMax(int32_t* value) override;
    int GetColorGainDefault(int32_t* value) override;
    int SetExposureTime(int32_t time) override;
    int GetExposureTime(int32_t* time) override;
    int GetExposureTimeMin(int32_t* value) override;
    int GetExposureTimeMax(int32_t* value) override;
    int GetExposureTimeDefault(int32_t* value) override;
    int SetMirrorV(int32_t on) override;
    int GetMirrorV(int32_t* on) override;
    int SetMirrorH(int32_t on) override;
    int GetMirrorH(int32_t* on) override;
    int SetSamplingRate(int32_t index, int32_t* rate) override;
    int WriteRegisterRaw(uint32_t address, uint32_t value) override;
    int ReadRegisterRaw(uint32_t address, uint32_t* value) override;
    int WriteSensorRegister(uint32_t address, uint32_t value) override;
    int ReadSensorRegister(uint32_t address, uint32_t* value) override;

    // The line period in force [100 us], or 0 while the data width is unknown.
    double LinePeriod() const;

private:
    // Reads the FPGA's bus status (up to a few times) until it reports the sensor bus idle.
    bool BusIdle();
    // Writes a 20-bit frame length into the three frame-length registers, high part first.
    void WriteFrameLength(uint32_t lines);

    platform::CriticalSection m_registerLock;  // one sensor-register transfer at a time
};

}  // namespace quorix
