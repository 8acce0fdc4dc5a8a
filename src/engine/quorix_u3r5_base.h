#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/guid.h"
#include "platform/message_window.h"

namespace quorix {

class CSensorBase;
class CVolCy3Cam;

// The capture engine: it finds and opens the cameras of one camera ID, owns the controller
// (CVolCy3Cam) and the sensor head, sizes the frame buffers and programs the FPGA's frame
// geometry, and carries every camera setting to the head. The camera context owns one engine
// and drives it only through these virtual operations; their order is the engine's slot order.
//
// Results are nonzero for success unless said otherwise; without a controller or a sensor an
// operation fails (0).
class CQuorixU3R5Base {
public:
    static constexpr int32_t kNoCameraId = -1;
    static constexpr int32_t kMaxDevices = 32;
    static constexpr int32_t kRingSlots = 4;
    static constexpr uint32_t kDefaultDataTimeoutMs = 5000;
    static constexpr size_t kDeviceInfoSize = 64;

    // FPGA registers of the frame geometry and read-out.
    static constexpr uint8_t kFpgaHeightLow = 0x40;
    static constexpr uint8_t kFpgaHeightHigh = 0x41;
    static constexpr uint8_t kFpgaWidthLow = 0x44;
    static constexpr uint8_t kFpgaWidthHigh = 0x45;
    static constexpr uint8_t kFpgaReadoutMode = 0x48;
    static constexpr uint8_t kFpgaReadoutModeHigh = 0x49;
    static constexpr uint8_t kFpgaOffsetLow = 0x4C;
    static constexpr uint8_t kFpgaOffsetHigh = 0x4D;

    CQuorixU3R5Base();
    CQuorixU3R5Base(const CQuorixU3R5Base&) = delete;
    CQuorixU3R5Base& operator=(const CQuorixU3R5Base&) = delete;

    // --- Opening and closing (slots 0-20, 29, 30) -------------------------------------------
    virtual ~CQuorixU3R5Base();  // 0
    // Closes any open camera and creates the controller for an interface class (the camera's
    // default class when `interfaceGuid` is null). The window is not used.
    virtual int CreateController(platform::WindowHandle window,
                                 const platform::Guid* interfaceGuid);     // 1
    virtual int InitializeCamera();                                        // 2
    virtual int CloseCamera();                                             // 3
    virtual int GetDeviceInfo(uint8_t* info);                              // 4 (64 bytes)
    virtual int CopyStateBlock(void* buffer);                              // 5
    virtual int GetDeviceInfo2(uint8_t* info);                             // 6 (64 bytes)
    virtual int OpenCamera(int32_t instance);                              // 7 (0 / -1)
    virtual int CreateSensor(int32_t instance);                            // 8
    virtual int Reserved9();                                               // 9
    virtual int IsDeviceAvailable(int32_t instance);                       // 10
    virtual int32_t CountDevices(int32_t cameraId);                        // 11
    virtual int GetDeviceName(int32_t index, char* buffer, int32_t size);  // 12
    virtual int SetCameraId(int32_t cameraId);                             // 13
    virtual int32_t GetCameraId();                                         // 14
    virtual uint32_t GetVendorId(int32_t index);                           // 15
    virtual uint32_t GetProductId(int32_t index);                          // 16
    virtual int32_t GetInstanceNumber(int32_t index);                      // 17
    virtual int UsesAuxEndpoint();                                         // 18
    virtual int IsLineSensorHead();                                        // 19
    virtual int32_t GetDeviceIndex();                                      // 20
    // Capture (slots 21-28) joins here with the capture thread.
    virtual int StopCapture(int32_t wait);  // 22
    virtual int PrepareFrameBuffers();      // 29
    virtual int32_t GetMaxDevices();        // 30

    // --- Settings, limits and registers (slots 46-169) --------------------------------------
    // Queries answer the head's value, 0 without a head. The FPGA register operations take the
    // low 8 bits of register and value and fail without a controller and for heads read through
    // the auxiliary endpoint; ReadFpgaRegister returns the byte and sets `ok` (may be null) to 1,
    // or returns 0 and sets it to 0.
    virtual int SetMirrorH(int32_t on);                            // 46
    virtual int SetMirrorV(int32_t on);                            // 47
    virtual int GetMirrorVDefault();                               // 50
    virtual int GetMirrorHDefault();                               // 51
    virtual int WriteEepromByte(uint32_t address, uint8_t value);  // 56
    virtual int ReadEepromByte(uint32_t address, uint8_t* value);  // 57
    virtual int SetGain(int32_t value);                            // 66
    virtual int32_t GetGainMin();                                  // 68
    virtual int32_t GetGainMax();                                  // 69
    virtual int32_t GetGainDefault();                              // 70
    virtual int SetExposureTime(int32_t value);                    // 71
    virtual int32_t GetExposureTimeMin();                          // 73 [100 us]
    virtual int32_t GetExposureTimeMax();                          // 74 [100 us]
    virtual int32_t GetExposureTimeDefault();                      // 75
    virtual int IsExposureTimeExSupported();                       // 81
    virtual int SetExposureTimeEx(double seconds);                 // 82
    virtual int GetExposureTimeExMin(double* seconds);             // 84
    virtual int GetExposureTimeExMax(double* seconds);             // 85
    virtual int GetExposureTimeExDefault(double* seconds);         // 86
    virtual int SetColorGainRed(int32_t value);                    // 97
    virtual int SetColorGainGreen1(int32_t value);                 // 99
    virtual int SetColorGainGreen2(int32_t value);                 // 101
    virtual int SetColorGainBlue(int32_t value);                   // 103
    virtual int32_t GetColorGainMin();                             // 105
    virtual int32_t GetColorGainMax();                             // 106
    virtual int32_t GetColorGainDefault();                         // 107
    virtual int IsBlackLevelSupported();                           // 108
    virtual int SetBlackLevel(int32_t value);                      // 109
    virtual int32_t GetBlackLevelDefault();                        // 113
    virtual int WriteFpgaRegister(uint32_t reg, uint32_t value);   // 119
    virtual int32_t ReadFpgaRegister(uint32_t reg, int32_t* ok);   // 120
    virtual int IsGainModeSupported();                             // 129
    virtual int SetGainMode(int32_t mode);                         // 130
    virtual int IsCoolerSupported();                               // 144
    virtual int SetCooler(int32_t value);                          // 146
    virtual int IsShortExposureModeSupported();                    // 167
    virtual int SetShortExposureMode(int32_t on);                  // 169

    // Test and diagnostic access.
    CVolCy3Cam* Controller() const { return m_controller.get(); }
    CSensorBase* Sensor() const { return m_sensor.get(); }
    const std::array<uint8_t, kDeviceInfoSize>& DeviceInfo() const { return m_deviceInfo; }
    uint32_t RawBufferCapacity() const { return static_cast<uint32_t>(m_rawBuffer.size()); }
    uint32_t FrameSize() const { return m_frameSize; }
    bool GeometryPending() const { return m_geometryPending != 0; }
    uint32_t DataTimeoutMs() const { return m_dataTimeoutMs; }

protected:
    // The engine's printf-style trace lines; silent unless the SDK's log is on.
    static void Trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    std::unique_ptr<CVolCy3Cam> m_controller;
    std::array<uint8_t, kDeviceInfoSize> m_deviceInfo{};
    std::vector<uint8_t> m_rawBuffer;  // destination of frame transfers
    int32_t m_captureMode = 0;
    int32_t m_cameraId = kNoCameraId;
    int32_t m_dataWidth = 0;  // 0: 8-bit pixel data, 1: 16-bit
    int32_t m_triggerMode = -1;
    std::array<std::vector<uint8_t>, 8> m_ring;
    std::array<int32_t, 8> m_ringFrameNumber{};
    std::array<std::array<uint32_t, 4>, 8> m_ringHeaderWords{};
    int32_t m_ringSlots = kRingSlots;
    int32_t m_writeIndex = 0;
    uint32_t m_frameSize = 0;
    int32_t m_errorFlag = 0;
    int32_t m_deviceIndex = 0;
    uint32_t m_dataTimeoutMs = kDefaultDataTimeoutMs;
    int32_t m_geometryPending = 1;
    std::unique_ptr<CSensorBase> m_sensor;

private:
    void ClearRing();
};

// The engine the camera context creates; it differs from its base only in its destructor.
class CQuorixUSB3R5SimpleSdk : public CQuorixU3R5Base {
public:
    CQuorixUSB3R5SimpleSdk() = default;
    ~CQuorixUSB3R5SimpleSdk() override;
};

}  // namespace quorix
