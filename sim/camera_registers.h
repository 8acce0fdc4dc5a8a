#pragma once

#include <cstddef>
#include <cstdint>

// Numbers of the camera's interfaces, in one place: vendor requests of the USB controller's
// firmware, sensor-bus addresses, FPGA registers and the IMX252 registers the camera interprets.
namespace quorix::sim::reg {

// Vendor requests on endpoint 0.
inline constexpr uint8_t kRequestBusWrite = 0x30;
inline constexpr uint8_t kRequestBusRead = 0x31;
inline constexpr uint8_t kRequestWriteByte = 0x3C;
inline constexpr uint8_t kRequestReadByte = 0x3D;
inline constexpr uint8_t kRequestWriteWordPair = 0x3E;
inline constexpr uint8_t kRequestReadWord = 0x3F;
inline constexpr uint8_t kRequestDeviceInfo = 0xB0;
inline constexpr uint8_t kRequestDeviceInfo2 = 0xB1;
inline constexpr uint8_t kRequestResetStream = 0xC0;
inline constexpr uint8_t kRequestFrame = 0xC2;
inline constexpr uint8_t kRequestReadiness = 0xC3;
inline constexpr uint8_t kRequestCC = 0xCC;
inline constexpr uint8_t kRequestWriteRegister32 = 0xD0;
inline constexpr uint8_t kRequestReadRegister32 = 0xD1;

// Bulk endpoints.
inline constexpr uint8_t kEndpointStreamIn = 0x81;
inline constexpr uint8_t kEndpointCommandOut = 0x01;
inline constexpr uint8_t kEndpointAuxIn = 0x83;

// Sensor-bus devices, write form (the read form has bit 0 set).
inline constexpr uint8_t kBusFpga = 0x40;
inline constexpr uint8_t kBusSensorBridge = 72;  // 0x48
inline constexpr uint8_t kBusAux = 0x5A;
inline constexpr uint8_t kBusReadiness = 0x5E;
inline constexpr uint8_t kBusEeprom = 0xA2;
// Largest payload of one bus transfer [bytes].
inline constexpr uint16_t kMaxBusBytes = 64;

// FPGA registers.
inline constexpr uint8_t kFpgaStatus = 0x02;  // bit 1 bus busy, 0x90 starting
inline constexpr uint8_t kFpgaIoPort = 0x07;
inline constexpr uint8_t kFpgaFrameCounter = 0x08;
inline constexpr uint8_t kFpgaVersion0 = 0x10;  // low byte
inline constexpr uint8_t kFpgaVersion1 = 0x11;  // high byte
inline constexpr uint8_t kFpgaVersion2 = 0x12;
inline constexpr uint8_t kFpgaVersion3 = 0x13;
inline constexpr uint8_t kFpgaDataWidth = 0x3C;  // 1 = 8-bit, 2 = 16-bit
inline constexpr uint8_t kFpgaHeightLow = 0x40;
inline constexpr uint8_t kFpgaHeightHigh = 0x41;
inline constexpr uint8_t kFpgaWidthLow = 0x44;
inline constexpr uint8_t kFpgaWidthHigh = 0x45;
inline constexpr uint8_t kFpgaReadoutLow = 0x48;
inline constexpr uint8_t kFpgaReadoutHigh = 0x49;
inline constexpr uint8_t kFpgaOffsetLow = 0x4C;
inline constexpr uint8_t kFpgaOffsetHigh = 0x4D;
inline constexpr uint8_t kFpgaTriggerPeriodLow = 0x50;
inline constexpr uint8_t kFpgaTriggerPeriodHigh = 0x51;
inline constexpr uint8_t kFpgaTriggerLineLow = 0x54;
inline constexpr uint8_t kFpgaTriggerLineHigh = 0x55;
inline constexpr uint8_t kFpgaTriggerControl = 0x58;
inline constexpr uint8_t kFpgaSensorBusReady = 0x60;
inline constexpr uint8_t kFpgaTransferReset = 0x6C;
inline constexpr uint8_t kFpgaReconfigure = 0x81;
inline constexpr uint8_t kFpgaBridgeReset = 0x82;
inline constexpr uint8_t kFpgaTriggerExposure0 = 0x85;  // bits 0-7
inline constexpr uint8_t kFpgaTriggerExposure1 = 0x86;  // bits 8-15
inline constexpr uint8_t kFpgaTriggerExposure2 = 0x9B;  // bits 16-23

inline constexpr uint8_t kStatusBusBusy = 0x02;
inline constexpr uint8_t kStatusStarting = 0x90;
inline constexpr uint8_t kReconfigureStart = 0x01;
inline constexpr uint8_t kReconfigureDone = 0x02;
inline constexpr uint8_t kBridgeResetBit = 0x01;
inline constexpr uint16_t kReadoutFull = 12;
inline constexpr uint16_t kReadoutSubSampled = 11;

// IMX252 registers.
inline constexpr uint16_t kSensorHold = 0x208;
inline constexpr uint16_t kSensorTrigger0 = 0x20A;
inline constexpr uint16_t kSensorTrigger1 = 0x20B;
inline constexpr uint16_t kSensorReadoutMode = 0x20D;  // bit 0 vertical, bit 4 horizontal 2x2
inline constexpr uint16_t kSensorMirror = 0x20E;       // bit 0 vertical, bit 1 horizontal
inline constexpr uint16_t kSensorFrameLength0 = 0x210;
inline constexpr uint16_t kSensorFrameLength1 = 0x211;
inline constexpr uint16_t kSensorFrameLength2 = 0x212;
inline constexpr uint16_t kSensorLineLength0 = 0x214;
inline constexpr uint16_t kSensorLineLength1 = 0x215;
inline constexpr uint16_t kSensorShutter0 = 0x28D;
inline constexpr uint16_t kSensorShutter1 = 0x28E;
inline constexpr uint16_t kSensorShutter2 = 0x28F;
inline constexpr uint16_t kSensorGain0 = 0x404;
inline constexpr uint16_t kSensorGain1 = 0x405;
inline constexpr uint16_t kSensorBlackLevel0 = 0x454;
inline constexpr uint16_t kSensorBlackLevel1 = 0x455;
inline constexpr uint16_t kSensorCrop = 0x500;  // bit 0 columns, bit 1 lines
inline constexpr uint16_t kSensorWindowH0 = 0x510;
inline constexpr uint16_t kSensorWindowH1 = 0x511;
inline constexpr uint16_t kSensorWindowV0 = 0x512;
inline constexpr uint16_t kSensorWindowV1 = 0x513;
inline constexpr uint16_t kSensorWindowWidth0 = 0x514;
inline constexpr uint16_t kSensorWindowWidth1 = 0x515;
inline constexpr uint16_t kSensorWindowHeight0 = 0x516;
inline constexpr uint16_t kSensorWindowHeight1 = 0x517;

inline constexpr uint8_t kSubSampleV = 0x01;
inline constexpr uint8_t kSubSampleH = 0x10;
inline constexpr uint8_t kMirrorV = 0x01;
inline constexpr uint8_t kMirrorH = 0x02;
inline constexpr uint8_t kCropColumns = 0x01;
inline constexpr uint8_t kCropLines = 0x02;

// The sensor's window registers count from the far edge past an 8-pixel margin, and its height
// register counts 4 lines more than it sends.
inline constexpr int kWindowMargin = 8;
inline constexpr int kWindowExtraLines = 4;
// The black level at which the scene has its nominal values.
inline constexpr int kNominalBlackLevel = 80;

// The IMX252's reset values of the registers the camera interprets.
inline constexpr uint32_t kResetFrameLength = 1600;
inline constexpr uint32_t kResetLineLength = 464;
inline constexpr uint32_t kResetShutterLine = 16;
inline constexpr uint32_t kResetGain = 0;
inline constexpr uint32_t kResetBlackLevel = 60;

// Timing limits of the sensor's read-out. A frame lasts at least the lines sent plus this much
// vertical blanking; the shutter line lies between the first line the sensor can start an
// exposure on and the frame's last line; a line is at least long enough to carry its pixels at the
// data width (444 at 8 bits and 888 at 16 bits at full resolution, 396 in 2x2 sub-sampling).
inline constexpr uint32_t kMinBlankingLines = 34;
inline constexpr uint32_t kMinShutterLine = 10;
inline constexpr uint32_t kMinLineLength8 = 444;
inline constexpr uint32_t kMinLineLength16 = 888;
inline constexpr uint32_t kMinLineLengthSubSampled = 396;

// EEPROM cells.
inline constexpr uint16_t kEepromSerialNumber = 0x1040;
inline constexpr uint16_t kEepromUserId = 0x1080;
inline constexpr size_t kEepromSerialMaxChars = kEepromUserId - kEepromSerialNumber - 1;

}  // namespace quorix::sim::reg
