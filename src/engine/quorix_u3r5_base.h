#pragma once

#include <cstdint>

namespace quorix {

// The capture engine as the camera context sees it: it finds and opens cameras of one camera ID,
// streams their frames and carries every camera setting to the sensor head. The context owns
// exactly one engine; the engine owns the controller and the sensor.
//
// The operations listed here are the ones the context drives today; each answers 0 ("failed" or
// "not available") until a concrete engine overrides it, which is also how the engine behaves
// without a controller or a sensor.
class CQuorixU3R5Base {
public:
    CQuorixU3R5Base() = default;
    CQuorixU3R5Base(const CQuorixU3R5Base&) = delete;
    CQuorixU3R5Base& operator=(const CQuorixU3R5Base&) = delete;
    virtual ~CQuorixU3R5Base() = default;

    // Opens the camera with this instance number and initialises its sensor: 1/0.
    virtual int CreateSensor(int32_t /*instance*/) { return 0; }
    virtual int CloseCamera() { return 0; }
    // 1 when the camera with this instance number is present and opens.
    virtual int IsDeviceAvailable(int32_t /*instance*/) { return 0; }
    // Number of present cameras of this camera ID (0: every entry of the device table).
    virtual int32_t CountDevices(int32_t /*cameraId*/) { return 0; }
    // Instance number of the opened camera.
    virtual int32_t GetDeviceIndex() { return 0; }
    // Size of the device table: the highest instance number is one less.
    virtual int32_t GetMaxDevices() { return 32; }
    virtual int StopCapture(int32_t /*wait*/) { return 0; }
    // One byte of the camera's EEPROM: 1/0.
    virtual int ReadEepromByte(uint32_t /*address*/, uint8_t* /*value*/) { return 0; }
};

}  // namespace quorix
