// The exported functions. Each looks its handle up in the registry and hands the call to the
// camera context; an unknown handle gets the function's no-context result and records nothing.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <iterator>
#include <memory>
#include <new>
#include <string>

#include <quorix/quorix.h>

#include "api/export_guard.h"
#include "dialogs/dialog_window.h"
#include "platform/byte_order.h"
#include "platform/charset.h"
#include "platform/device_notification.h"

using quorix::CQuorix;
using quorix::CQuorixU3R5Base;
using quorix::SdkRegistry;
using quorix::WithContext;

// The device-change notices are posted from the platform layer in the public header's terms.
static_assert(quorix::platform::kMsgDeviceChange == QUORIX_MSG_DEVICE_CHANGE);
static_assert(quorix::platform::kDeviceArrival == QUORIX_DEVICE_ARRIVAL);
static_assert(quorix::platform::kDeviceRemoveComplete == QUORIX_DEVICE_REMOVE_COMPLETE);
static_assert(quorix::platform::kDeviceTypeInterface == QUORIX_DEVICE_TYPE_INTERFACE);
static_assert(sizeof(quorix::platform::DeviceInterfaceRecord) == sizeof(QuorixDeviceInterface));
static_assert(offsetof(quorix::platform::DeviceInterfaceRecord, name) ==
              offsetof(QuorixDeviceInterface, name));

namespace {

quorix::platform::WindowHandle ToHandle(QuorixWindow window) {
    return reinterpret_cast<quorix::platform::WindowHandle>(window);
}

void SetFlag(int32_t* ok, int32_t value) {
    if (ok != nullptr) {
        *ok = value;
    }
}

// UTF-16 file names are converted to the file system's encoding before the narrow operation
// runs; a name that does not convert or needs more than 1023 bytes is refused with code 12.
bool ConvertName(CQuorix& context, const QuorixWChar* wide, std::string& narrow) {
    if (!quorix::platform::WideToFileName(wide, narrow)) {
        context.SetError(quorix::kErrText);
        return false;
    }
    return true;
}

// The camera info record as the caller laid it out: `size` at offset 0 says how much of it
// exists, so it is written field by field at the documented offsets and never beyond.
constexpr uint32_t kCameraInfoMinSize = offsetof(QuorixCameraInfo, reserved);  // 36
constexpr uint32_t kCameraInfoFullSize = sizeof(QuorixCameraInfo);             // 56

void PutInt(uint8_t* record, size_t offset, int32_t value) {
    quorix::WriteLe32(record + offset, static_cast<uint32_t>(value));
}
void PutDouble(uint8_t* record, size_t offset, double value) {
    quorix::WriteLe64(record + offset, std::bit_cast<uint64_t>(value));
}

// The largest address and value each register space takes. The sensor has 16-bit register
// addresses (the short calls reach its first 256) and 8-bit registers; the camera board's FPGA
// has 256 8-bit registers; the EEPROM has 16-bit byte addresses. Bits beyond them would be
// dropped on the way to the camera and reach another register, so they are refused.
constexpr uint32_t kSensorAddressMax = 0xFFFF;
constexpr uint32_t kShortAddressMax = 0xFF;
constexpr uint32_t kFpgaAddressMax = 0xFF;
constexpr uint32_t kEepromAddressMax = 0xFFFF;
constexpr uint32_t kByteMax = 0xFF;

// False, with code 9 recorded and the caller's flag cleared, when the address or the value lies
// beyond its register space.
bool InRegisterRange(CQuorix& c, uint32_t address, uint32_t addressMax, uint32_t value,
                     uint32_t valueMax, int32_t* ok = nullptr) {
    if (address <= addressMax && value <= valueMax) {
        return true;
    }
    SetFlag(ok, 0);
    c.SetError(quorix::kErrArgument);
    return false;
}

}  // namespace

extern "C" {

// --- Library and handles -----------------------------------------------------------------------

QUORIX_API uint32_t Quorix_GetDllVersion(void) {
    return QUORIX_DLL_VERSION;
}

QUORIX_API QuorixHandle Quorix_Initialize(QuorixWindow notifyWindow) {
    try {
        const uint32_t handle = SdkRegistry().Register(std::make_unique<CQuorix>());
        // The handle is the application's even when the context could not initialise fully; the
        // context has recorded why.
        WithContext(handle, 0, [&](CQuorix& c) { return c.Initialize(ToHandle(notifyWindow)); });
        return handle;
    } catch (...) {
        return 0;
    }
}

QUORIX_API int Quorix_Release(QuorixHandle handle) {
    try {
        return SdkRegistry().Release(handle) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

QUORIX_API uint32_t Quorix_GetLastError(QuorixHandle handle) {
    return WithContext(handle, 0u, [](CQuorix& c) { return c.GetLastError(); });
}

// --- Devices and camera ------------------------------------------------------------------------

QUORIX_API int32_t Quorix_EnumDevice(QuorixHandle handle, char names[10][256]) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.EnumDevice(names); });
}

QUORIX_API int32_t Quorix_EnumDeviceW(QuorixHandle handle, QuorixWChar names[10][256]) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.EnumDeviceW(names); });
}

QUORIX_API int Quorix_GetDeviceName(QuorixHandle handle, int32_t index, char* buffer,
                                    int32_t bufferSize) {
    return WithContext(handle, 0,
                       [&](CQuorix& c) { return c.GetDeviceName(index, buffer, bufferSize); });
}

QUORIX_API int Quorix_GetDeviceNameW(QuorixHandle handle, int32_t index, QuorixWChar* buffer,
                                     int32_t bufferSize) {
    return WithContext(handle, 0,
                       [&](CQuorix& c) { return c.GetDeviceNameW(index, buffer, bufferSize); });
}

QUORIX_API int Quorix_SetDeviceNumber(QuorixHandle handle, int32_t index) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetDeviceNumber(index); });
}

QUORIX_API int Quorix_Close(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.Close(); });
}

QUORIX_API int Quorix_GetStatus(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix&) { return 0; });
}

QUORIX_API int Quorix_GetCameraInfo(QuorixHandle handle, QuorixCameraInfo* info) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        if (info == nullptr) {
            c.SetError(quorix::kErrArgument);
            return 0;
        }
        auto* record = reinterpret_cast<uint8_t*>(info);
        const uint32_t size = quorix::ReadLe32(record + offsetof(QuorixCameraInfo, size));
        if (size < kCameraInfoMinSize) {
            c.SetError(quorix::kErrBuffer);
            return 0;
        }
        CQuorixU3R5Base* engine = c.Engine();
        if (engine == nullptr) {
            return c.NotAvailable(0);
        }
        // The limits are the open sensor head's; without one the engine answers 0.
        PutInt(record, offsetof(QuorixCameraInfo, maxWidth), CQuorix::kSensorWidth);
        PutInt(record, offsetof(QuorixCameraInfo, maxHeight), CQuorix::kSensorHeight);
        PutInt(record, offsetof(QuorixCameraInfo, gainMin), engine->GetGainMin());
        PutInt(record, offsetof(QuorixCameraInfo, gainMax), engine->GetGainMax());
        PutInt(record, offsetof(QuorixCameraInfo, colorGainMin), engine->GetColorGainMin());
        PutInt(record, offsetof(QuorixCameraInfo, colorGainMax), engine->GetColorGainMax());
        PutInt(record, offsetof(QuorixCameraInfo, exposureMin), engine->GetExposureTimeMin());
        PutInt(record, offsetof(QuorixCameraInfo, exposureMax), engine->GetExposureTimeMax());
        // Offset 36 only aligns the doubles and stays as the caller left it.
        if (size >= kCameraInfoFullSize) {
            double minimum = 0.0;
            double maximum = 0.0;
            engine->GetExposureTimeExMin(&minimum);
            engine->GetExposureTimeExMax(&maximum);
            PutDouble(record, offsetof(QuorixCameraInfo, exposureExMin), minimum);
            PutDouble(record, offsetof(QuorixCameraInfo, exposureExMax), maximum);
        }
        return 1;
    });
}

// Linux addition: the open camera's device information block, as its USB controller reports it.
QUORIX_API int Quorix_GetDeviceInfo(QuorixHandle handle, uint8_t* info, uint32_t size) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        if (info == nullptr) {
            c.SetError(quorix::kErrArgument);
            return 0;
        }
        if (size < QUORIX_DEVICE_INFO_SIZE) {
            c.SetError(quorix::kErrBuffer);
            return 0;
        }
        CQuorixU3R5Base* engine = c.Engine();
        if (engine == nullptr) {
            return c.NotAvailable(0);
        }
        // Before a camera is opened the controller would still answer for the first camera of
        // the device table, which need not be this model; only an open camera is asked.
        uint8_t block[QUORIX_DEVICE_INFO_SIZE] = {};
        if (c.DeviceNumber() < 0 || !engine->GetDeviceInfo(block)) {
            c.SetError(quorix::kErrRegister);
            return 0;
        }
        std::copy(std::begin(block), std::end(block), info);
        return 1;
    });
}

QUORIX_API int Quorix_SetDeliveryMode(QuorixHandle handle, int32_t mode) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetDeliveryMode(mode); });
}

QUORIX_API int Quorix_SetFrameRingDepth(QuorixHandle handle, int32_t depth) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetFrameRingDepth(depth); });
}

QUORIX_API int Quorix_GetFrameStatistics(QuorixHandle handle, QuorixFrameStatistics* statistics) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        if (statistics == nullptr) {
            c.SetError(quorix::kErrArgument);
            return 0;
        }
        if (statistics->size < sizeof(QuorixFrameStatistics)) {
            c.SetError(quorix::kErrBuffer);
            return 0;
        }
        if (c.Engine() == nullptr) {
            return c.NotAvailable(0);
        }
        c.GetFrameStatistics(statistics);
        return 1;
    });
}

QUORIX_API int Quorix_ReadSerialNumberA(QuorixHandle handle, char* buffer, int32_t bufferSize) {
    return WithContext(handle, 0,
                       [&](CQuorix& c) { return c.ReadSerialNumber(buffer, bufferSize); });
}

QUORIX_API int Quorix_ReadSerialNumberW(QuorixHandle handle, QuorixWChar* buffer,
                                        int32_t bufferSize) {
    return WithContext(handle, 0,
                       [&](CQuorix& c) { return c.ReadSerialNumberW(buffer, bufferSize); });
}

// --- Acquisition, window, format and files -----------------------------------------------------

QUORIX_API int Quorix_Preview(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.Preview(); });
}

QUORIX_API int Quorix_CallBackPreview(QuorixHandle handle, QuorixWindow window, void* buffer,
                                      uint32_t bufferSize, int32_t orientation) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return c.CallBackPreview(ToHandle(window), buffer, bufferSize, orientation);
    });
}

QUORIX_API int Quorix_StartPreview(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.StartPreview(); });
}

QUORIX_API int Quorix_StopPreview(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.StopPreview(); });
}

QUORIX_API int Quorix_Capture(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.Capture(); });
}

QUORIX_API int Quorix_SnapShot(QuorixHandle handle, void* buffer, uint32_t bufferSize,
                               int32_t orientation) {
    return WithContext(handle, 0,
                       [&](CQuorix& c) { return c.SnapShot(buffer, bufferSize, orientation); });
}

QUORIX_API int Quorix_GetImage(QuorixHandle handle, void* buffer, uint32_t bufferSize,
                               int32_t orientation) {
    return WithContext(handle, 0,
                       [&](CQuorix& c) { return c.GetImage(buffer, bufferSize, orientation); });
}

QUORIX_API int Quorix_GetImageEx(QuorixHandle handle, void* buffer, uint32_t bufferSize,
                                 int32_t orientation, QuorixImageInfo* info) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return c.GetImageEx(buffer, bufferSize, orientation, info);
    });
}

QUORIX_API int Quorix_SetPreviewWindow(QuorixHandle handle, QuorixWindow parent, int32_t left,
                                       int32_t top, int32_t width, int32_t height) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return c.SetPreviewWindow(ToHandle(parent), left, top, width, height);
    });
}

QUORIX_API int Quorix_SetCaptureWindow(QuorixHandle handle, int32_t width, int32_t height) {
    return WithContext(handle, 0,
                       [&](CQuorix& c) { return c.SetCaptureWindowBySize(width, height); });
}

QUORIX_API int Quorix_SetCaptureWindowEx(QuorixHandle handle, int32_t totalWidth, int32_t hStart,
                                         int32_t width, int32_t totalHeight, int32_t vStart,
                                         int32_t height) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return c.SetCaptureWindowEx(totalWidth, hStart, width, totalHeight, vStart, height);
    });
}

QUORIX_API int Quorix_GetCaptureWindowEx(QuorixHandle handle, int32_t* totalWidth, int32_t* hStart,
                                         int32_t* width, int32_t* totalHeight, int32_t* vStart,
                                         int32_t* height) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return c.GetCaptureWindowEx(totalWidth, hStart, width, totalHeight, vStart, height);
    });
}

QUORIX_API int32_t Quorix_Width(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.Width(); });
}

QUORIX_API int32_t Quorix_Height(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.Height(); });
}

QUORIX_API int Quorix_SetColorMode(QuorixHandle handle, int32_t bitsPerPixel) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetColorMode(bitsPerPixel); });
}

QUORIX_API int32_t Quorix_GetColorMode(QuorixHandle handle) {
    return WithContext(handle, -1, [](CQuorix& c) { return c.GetColorMode(); });
}

QUORIX_API int Quorix_SetSubSample(QuorixHandle handle, int32_t subSample) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetSubSample(subSample); });
}

QUORIX_API int32_t Quorix_GetSubSample(QuorixHandle handle) {
    return WithContext(handle, -1, [](CQuorix& c) { return c.GetSubSample(); });
}

QUORIX_API int Quorix_SetWaitTime(QuorixHandle handle, int32_t waitTimeMs) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetWaitTime(waitTimeMs); });
}

QUORIX_API int32_t Quorix_GetWaitTime(QuorixHandle handle) {
    return WithContext(handle, -1, [](CQuorix& c) { return c.GetWaitTime(); });
}

QUORIX_API int Quorix_Record(QuorixHandle handle, const char* fileName, uint32_t durationMs,
                             int32_t showWindow) {
    return WithContext(handle, 0,
                       [&](CQuorix& c) { return c.Record(fileName, durationMs, showWindow); });
}

QUORIX_API int Quorix_RecordW(QuorixHandle handle, const QuorixWChar* fileName, uint32_t durationMs,
                              int32_t showWindow) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        std::string narrow;
        if (!ConvertName(c, fileName, narrow)) {
            return 0;
        }
        return c.Record(narrow.c_str(), durationMs, showWindow);
    });
}

QUORIX_API int Quorix_GetRecordStatus(QuorixHandle handle, QuorixRecordStatus* status) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        if (status == nullptr) {
            c.SetError(quorix::kErrArgument);
            return 0;
        }
        if (status->size < sizeof(QuorixRecordStatus)) {
            c.SetError(quorix::kErrBuffer);
            return 0;
        }
        if (c.Engine() == nullptr) {
            return c.NotAvailable(0);
        }
        const quorix::AviRecorder::Status recording = c.GetRecordStatus();
        status->version = QUORIX_RECORD_STATUS_VERSION;
        status->state = static_cast<uint32_t>(recording.state);
        status->endReason = static_cast<uint32_t>(recording.endReason);
        status->framesWritten = recording.framesWritten;
        status->framesDropped = recording.framesDropped;
        status->fileBytes = recording.fileBytes;
        status->width = static_cast<uint32_t>(recording.width);
        status->height = static_cast<uint32_t>(recording.height);
        status->rate = recording.rate;
        status->elapsedMs = recording.elapsedMs;
        return 1;
    });
}

QUORIX_API int Quorix_SaveImage(QuorixHandle handle, const char* fileName, int32_t format) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SaveImage(fileName, format); });
}

QUORIX_API int Quorix_SaveImageW(QuorixHandle handle, const QuorixWChar* fileName, int32_t format) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        std::string narrow;
        if (!ConvertName(c, fileName, narrow)) {
            return 0;
        }
        return c.SaveImage(narrow.c_str(), format);
    });
}

QUORIX_API int Quorix_LoadMaskFile(QuorixHandle handle, const char* fileName) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.LoadMaskFile(fileName); });
}

QUORIX_API int Quorix_LoadMaskFileW(QuorixHandle handle, const QuorixWChar* fileName) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        std::string narrow;
        return ConvertName(c, fileName, narrow) ? c.LoadMaskFile(narrow.c_str()) : 0;
    });
}

QUORIX_API int Quorix_SaveMaskFile(QuorixHandle handle, const char* fileName) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SaveMaskFile(fileName); });
}

QUORIX_API int Quorix_SaveMaskFileW(QuorixHandle handle, const QuorixWChar* fileName) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        std::string narrow;
        return ConvertName(c, fileName, narrow) ? c.SaveMaskFile(narrow.c_str()) : 0;
    });
}

QUORIX_API int Quorix_UpdateMaskData(QuorixHandle handle, int32_t which) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.UpdateMaskData(which); });
}

QUORIX_API int Quorix_LoadConfigFileA(QuorixHandle handle, const char* fileName) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.LoadConfigFile(fileName); });
}

QUORIX_API int Quorix_LoadConfigFileW(QuorixHandle handle, const QuorixWChar* fileName) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        std::string narrow;
        return ConvertName(c, fileName, narrow) ? c.LoadConfigFile(narrow.c_str()) : 0;
    });
}

QUORIX_API int Quorix_SetCameraDlg(QuorixHandle handle, QuorixWindow owner) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return quorix::dialogs::ShowDialog(quorix::dialogs::DialogKind::kCamera, c, owner);
    });
}

QUORIX_API int Quorix_SetImageDlg(QuorixHandle handle, QuorixWindow owner) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return quorix::dialogs::ShowDialog(quorix::dialogs::DialogKind::kImage, c, owner);
    });
}

QUORIX_API int Quorix_SetAnalogDlg(QuorixHandle handle, QuorixWindow owner) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return quorix::dialogs::ShowDialog(quorix::dialogs::DialogKind::kAnalog, c, owner);
    });
}

// --- Filter values -----------------------------------------------------------------------------

QUORIX_API int32_t Quorix_GetFilterValue(QuorixHandle handle, int32_t valueId, int32_t* ok) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.GetFilterValue(valueId, ok); });
}

QUORIX_API int Quorix_SetFilterValue(QuorixHandle handle, int32_t valueId, int32_t value) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetFilterValue(valueId, value); });
}

#define QUORIX_FILTER_VALUE_GETTER(Name, id)                                \
    QUORIX_API int32_t Quorix_Get##Name(QuorixHandle handle, int32_t* ok) { \
        return Quorix_GetFilterValue(handle, id, ok);                       \
    }
#define QUORIX_FILTER_VALUE_SETTER(Name, id)                              \
    QUORIX_API int Quorix_Set##Name(QuorixHandle handle, int32_t value) { \
        return Quorix_SetFilterValue(handle, id, value);                  \
    }
#define QUORIX_FILTER_VALUE(Name, id)    \
    QUORIX_FILTER_VALUE_GETTER(Name, id) \
    QUORIX_FILTER_VALUE_SETTER(Name, id)

QUORIX_FILTER_VALUE(Brightness, QUORIX_VALUE_BRIGHTNESS)
QUORIX_FILTER_VALUE(Contrast, QUORIX_VALUE_CONTRAST)
QUORIX_FILTER_VALUE(Hue, QUORIX_VALUE_HUE)
QUORIX_FILTER_VALUE(Saturation, QUORIX_VALUE_SATURATION)
QUORIX_FILTER_VALUE(Sharpness, QUORIX_VALUE_SHARPNESS)
QUORIX_FILTER_VALUE(BayerGainRGB, QUORIX_VALUE_BAYER_GAIN_RGB)
QUORIX_FILTER_VALUE(BayerGainRed, QUORIX_VALUE_BAYER_GAIN_RED)
QUORIX_FILTER_VALUE(BayerGainGreen, QUORIX_VALUE_BAYER_GAIN_GREEN)
QUORIX_FILTER_VALUE(BayerGainBlue, QUORIX_VALUE_BAYER_GAIN_BLUE)
QUORIX_FILTER_VALUE(BayerGainAuto, QUORIX_VALUE_BAYER_GAIN_AUTO)
QUORIX_FILTER_VALUE(Gamma, QUORIX_VALUE_GAMMA)
QUORIX_FILTER_VALUE(BayerMode, QUORIX_VALUE_BAYER_MODE)
QUORIX_FILTER_VALUE(GlobalGain, QUORIX_VALUE_GLOBAL_GAIN)
QUORIX_FILTER_VALUE(ColorGainRed, QUORIX_VALUE_COLOR_GAIN_RED)
QUORIX_FILTER_VALUE(ColorGainGreen1, QUORIX_VALUE_COLOR_GAIN_GREEN1)
QUORIX_FILTER_VALUE(ColorGainGreen2, QUORIX_VALUE_COLOR_GAIN_GREEN2)
QUORIX_FILTER_VALUE(ColorGainBlue, QUORIX_VALUE_COLOR_GAIN_BLUE)
QUORIX_FILTER_VALUE(ExposureTime, QUORIX_VALUE_EXPOSURE_TIME)
QUORIX_FILTER_VALUE(GrayMode, QUORIX_VALUE_GRAY_MODE)
QUORIX_FILTER_VALUE(GrayGainR, QUORIX_VALUE_GRAY_GAIN_R)
QUORIX_FILTER_VALUE(GrayGainG1, QUORIX_VALUE_GRAY_GAIN_G1)
QUORIX_FILTER_VALUE(GrayGainG2, QUORIX_VALUE_GRAY_GAIN_G2)
QUORIX_FILTER_VALUE(GrayGainB, QUORIX_VALUE_GRAY_GAIN_B)
QUORIX_FILTER_VALUE(GrayOffsetR, QUORIX_VALUE_GRAY_OFFSET_R)
QUORIX_FILTER_VALUE(GrayOffsetG1, QUORIX_VALUE_GRAY_OFFSET_G1)
QUORIX_FILTER_VALUE(GrayOffsetG2, QUORIX_VALUE_GRAY_OFFSET_G2)
QUORIX_FILTER_VALUE(GrayOffsetB, QUORIX_VALUE_GRAY_OFFSET_B)
QUORIX_FILTER_VALUE(Peltier, QUORIX_VALUE_PELTIER)
QUORIX_FILTER_VALUE_GETTER(Temperature, QUORIX_VALUE_TEMPERATURE)
QUORIX_FILTER_VALUE(DotFilter, QUORIX_VALUE_DOT_FILTER)
QUORIX_FILTER_VALUE(MaskFilter, QUORIX_VALUE_MASK_FILTER)

#undef QUORIX_FILTER_VALUE
#undef QUORIX_FILTER_VALUE_SETTER
#undef QUORIX_FILTER_VALUE_GETTER

// Channels 1-4 map onto value IDs 29-32 (gains) and 33-36 (offsets); any other channel is
// answered with 0 and no code.
QUORIX_API int32_t Quorix_GetChannelGain(QuorixHandle handle, int32_t channel, int32_t* ok) {
    if (channel < 1 || channel > 4) {
        return 0;
    }
    return Quorix_GetFilterValue(handle, QUORIX_VALUE_CHANNEL_GAIN_BASE + channel, ok);
}

QUORIX_API int Quorix_SetChannelGain(QuorixHandle handle, int32_t channel, int32_t value) {
    if (channel < 1 || channel > 4) {
        return 0;
    }
    return Quorix_SetFilterValue(handle, QUORIX_VALUE_CHANNEL_GAIN_BASE + channel, value);
}

QUORIX_API int32_t Quorix_GetChannelOffset(QuorixHandle handle, int32_t channel, int32_t* ok) {
    if (channel < 1 || channel > 4) {
        return 0;
    }
    return Quorix_GetFilterValue(handle, QUORIX_VALUE_CHANNEL_OFFSET_BASE + channel, ok);
}

QUORIX_API int Quorix_SetChannelOffset(QuorixHandle handle, int32_t channel, int32_t value) {
    if (channel < 1 || channel > 4) {
        return 0;
    }
    return Quorix_SetFilterValue(handle, QUORIX_VALUE_CHANNEL_OFFSET_BASE + channel, value);
}

// --- Exposure, mirror and camera controls ------------------------------------------------------

QUORIX_API int Quorix_SetExposureTimeEx(QuorixHandle handle, double seconds) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetExposureTimeEx(seconds); });
}

QUORIX_API double Quorix_GetExposureTimeEx(QuorixHandle handle, int32_t* ok) {
    return WithContext(handle, 0.0, [&](CQuorix& c) { return c.GetExposureTimeEx(ok); });
}

QUORIX_API int Quorix_SetRealExposureTime(QuorixHandle handle, uint32_t microseconds) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetRealExposureTime(microseconds); });
}

QUORIX_API uint32_t Quorix_GetRealExposureTime(QuorixHandle handle, int32_t* ok) {
    return WithContext(handle, 0u, [&](CQuorix& c) { return c.GetRealExposureTime(ok); });
}

QUORIX_API int Quorix_SetMirrorH(QuorixHandle handle, int32_t on) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetMirrorH(on); });
}

QUORIX_API int Quorix_SetMirrorV(QuorixHandle handle, int32_t on) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetMirrorV(on); });
}

QUORIX_API int32_t Quorix_GetMirrorH(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.GetMirrorH(); });
}

QUORIX_API int32_t Quorix_GetMirrorV(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) { return c.GetMirrorV(); });
}

QUORIX_API int Quorix_SetAutoIris(QuorixHandle handle, int32_t mode) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetAutoIris(mode); });
}

QUORIX_API int32_t Quorix_GetAutoIris(QuorixHandle handle, int32_t* ok) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.GetAutoIris(ok); });
}

QUORIX_API double Quorix_GetTemperatureEx(QuorixHandle handle, int32_t* ok) {
    return WithContext(handle, 0.0, [&](CQuorix& c) { return c.GetTemperatureEx(ok); });
}

QUORIX_API int Quorix_SetInternalCorrection(QuorixHandle handle, int32_t value) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetInternalCorrection(value); });
}

QUORIX_API int32_t Quorix_GetInternalCorrection(QuorixHandle handle, int32_t* ok) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.GetInternalCorrection(ok); });
}

QUORIX_API int Quorix_SetSamplingRate(QuorixHandle handle, int32_t rate) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetSamplingRate(rate); });
}

// This camera has no sampling-rate or video-format choice: both report 0.
QUORIX_API int32_t Quorix_GetSamplingRate(QuorixHandle handle, int32_t* value) {
    return WithContext(handle, 0, [&](CQuorix&) {
        SetFlag(value, 0);
        return 0;
    });
}

QUORIX_API int32_t Quorix_GetVideoFormat(QuorixHandle handle, int32_t* value) {
    return Quorix_GetSamplingRate(handle, value);
}

QUORIX_API int Quorix_SetIOPort(QuorixHandle handle, uint32_t value) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.SetIOPort(value); });
}

QUORIX_API int Quorix_GetIOPort(QuorixHandle handle, uint8_t* value, int32_t, int32_t) {
    return WithContext(handle, 0, [&](CQuorix& c) { return c.GetIOPort(value); });
}

// --- Registers and camera memory ---------------------------------------------------------------

// The short forms reach the sensor's first 256 registers, the Ex forms all of them; a read takes
// no value, so its value is 0 for the range check.
QUORIX_API uint32_t Quorix_ReadRegister(QuorixHandle handle, uint32_t address, int32_t* ok) {
    return WithContext(handle, 0u, [&](CQuorix& c) {
        return InRegisterRange(c, address, kShortAddressMax, 0, 0, ok) ? c.ReadRegister(address, ok)
                                                                       : 0u;
    });
}

QUORIX_API uint32_t Quorix_ReadRegisterEx(QuorixHandle handle, uint32_t address, int32_t* ok) {
    return WithContext(handle, 0u, [&](CQuorix& c) {
        return InRegisterRange(c, address, kSensorAddressMax, 0, 0, ok)
                   ? c.ReadRegister(address, ok)
                   : 0u;
    });
}

QUORIX_API int Quorix_WriteRegister(QuorixHandle handle, uint32_t address, uint32_t value) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return InRegisterRange(c, address, kShortAddressMax, value, kByteMax)
                   ? c.WriteRegister(address, value)
                   : 0;
    });
}

QUORIX_API int Quorix_WriteRegisterEx(QuorixHandle handle, uint32_t address, uint32_t value) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return InRegisterRange(c, address, kSensorAddressMax, value, kByteMax)
                   ? c.WriteRegister(address, value)
                   : 0;
    });
}

// The caller's flag is only ever cleared: a caller that sets it to 1 first reads a sequence of
// registers and checks once at the end.
QUORIX_API uint32_t Quorix_Fpga_ReadRegister(QuorixHandle handle, uint32_t address, int32_t* ok) {
    return WithContext(handle, 0u, [&](CQuorix& c) {
        CQuorixU3R5Base* engine = c.Engine();
        if (engine == nullptr) {
            SetFlag(ok, 0);
            return c.NotAvailable(0u);
        }
        if (!InRegisterRange(c, address, kFpgaAddressMax, 0, 0, ok)) {
            return 0u;
        }
        int32_t read = 0;
        const int32_t value = engine->ReadFpgaRegister(address, &read);
        if (read == 0) {
            SetFlag(ok, 0);
            c.SetError(quorix::kErrRegister);
            return 0u;
        }
        return static_cast<uint32_t>(static_cast<uint16_t>(value));
    });
}

QUORIX_API int Quorix_Fpga_WriteRegister(QuorixHandle handle, uint32_t address, uint32_t value) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        CQuorixU3R5Base* engine = c.Engine();
        if (engine == nullptr) {
            return c.NotAvailable(0);
        }
        if (!InRegisterRange(c, address, kFpgaAddressMax, value, kByteMax)) {
            return 0;
        }
        if (!engine->WriteFpgaRegister(address, value)) {
            c.SetError(quorix::kErrRegister);
            return 0;
        }
        return 1;
    });
}

QUORIX_API uint32_t Quorix_ReadSromID(QuorixHandle handle, uint32_t address, int32_t* ok) {
    return WithContext(handle, 0u, [&](CQuorix& c) {
        return InRegisterRange(c, address, kEepromAddressMax, 0, 0, ok) ? c.ReadSromId(address, ok)
                                                                        : 0u;
    });
}

QUORIX_API int Quorix_WriteSromID(QuorixHandle handle, uint32_t address, uint32_t value) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        return InRegisterRange(c, address, kEepromAddressMax, value, kByteMax)
                   ? c.WriteSromId(address, value)
                   : 0;
    });
}

// --- Functions of other camera models ----------------------------------------------------------

namespace {

int32_t PostUnsupported(QuorixHandle handle) {
    return WithContext(handle, 0, [](CQuorix& c) {
        c.PostError(quorix::kErrUnsupported);
        return 0;
    });
}

int32_t RecordUnsupported(QuorixHandle handle, int32_t result) {
    return WithContext(handle, 0, [&](CQuorix& c) {
        c.SetError(quorix::kErrUnsupported);
        return result;
    });
}

}  // namespace

QUORIX_API int32_t Quorix_Fps(QuorixHandle handle) {
    return PostUnsupported(handle);
}

QUORIX_API int32_t Quorix_GetHalfClock(QuorixHandle handle) {
    return PostUnsupported(handle);
}

QUORIX_API int Quorix_SetHalfClock(QuorixHandle handle, int32_t) {
    return PostUnsupported(handle);
}

QUORIX_API int Quorix_SetCrossbar(QuorixHandle handle, int32_t) {
    return PostUnsupported(handle);
}

QUORIX_API int Quorix_Trigger(QuorixHandle handle) {
    return PostUnsupported(handle);
}

QUORIX_API int Quorix_SendText(QuorixHandle handle, const char*, int32_t) {
    return RecordUnsupported(handle, 0);
}

QUORIX_API int Quorix_ReceiveText(QuorixHandle handle, char*, int32_t) {
    return RecordUnsupported(handle, 0);
}

QUORIX_API int32_t Quorix_GetConfigFilter(QuorixHandle handle) {
    return RecordUnsupported(handle, -1);
}

QUORIX_API int32_t Quorix_SetConfigFilter(QuorixHandle handle, int32_t) {
    return RecordUnsupported(handle, -1);
}

}  // extern "C"
