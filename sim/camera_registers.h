#pragma once

#include <cstddef>
#include <cstdint>

#include "camera/fpga_registers.h"

// Numbers of the camera's interfaces: vendor requests of the USB controller's firmware,
// sensor-bus addresses and the IMX252 registers the camera interprets. The FPGA's registers come
// from the board's one register map (camera/fpga_registers.h), shared with the SDK.
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
inline constexpr uint8_t kBusFpga = fpga::kBusAddress;
inline constexpr uint8_t kBusSensorBridge = 72;  // 0x48
inline constexpr uint8_t kBusAux = 0x5A;
inline constexpr uint8_t kBusReadiness = 0x5E;
inline constexpr uint8_t kBusEeprom = 0xA2;
// Largest payload of one bus transfer [bytes].
inline constexpr uint16_t kMaxBusBytes = 64;

// FPGA registers: the board's register map, under the emulator's names.
inline constexpr uint8_t kFpgaStatus = fpga::kStatus;
inline constexpr uint8_t kFpgaIoPort = fpga::kIoPort;
inline constexpr uint8_t kFpgaFrameCounter = fpga::kFrameCounter;
inline constexpr uint8_t kFpgaVersion0 = fpga::kVersion0;
inline constexpr uint8_t kFpgaVersion1 = fpga::kVersion1;
inline constexpr uint8_t kFpgaVersion2 = fpga::kVersion2;
inline constexpr uint8_t kFpgaVersion3 = fpga::kVersion3;
inline constexpr uint8_t kFpgaDataWidth = fpga::kDataWidth;
inline constexpr uint8_t kFpgaHeightLow = fpga::kHeightLow;
inline constexpr uint8_t kFpgaHeightHigh = fpga::kHeightHigh;
inline constexpr uint8_t kFpgaWidthLow = fpga::kWidthLow;
inline constexpr uint8_t kFpgaWidthHigh = fpga::kWidthHigh;
inline constexpr uint8_t kFpgaReadoutLow = fpga::kReadoutLow;
inline constexpr uint8_t kFpgaReadoutHigh = fpga::kReadoutHigh;
inline constexpr uint8_t kFpgaOffsetLow = fpga::kOffsetLow;
inline constexpr uint8_t kFpgaOffsetHigh = fpga::kOffsetHigh;
inline constexpr uint8_t kFpgaTriggerPeriodLow = fpga::kTriggerPeriodLow;
inline constexpr uint8_t kFpgaTriggerPeriodHigh = fpga::kTriggerPeriodHigh;
inline constexpr uint8_t kFpgaTriggerLineLow = fpga::kTriggerLineClocksLow;
inline constexpr uint8_t kFpgaTriggerLineHigh = fpga::kTriggerLineClocksHigh;
inline constexpr uint8_t kFpgaTriggerControl = fpga::kTriggerControl;
inline constexpr uint8_t kFpgaSensorBusReady = fpga::kSensorBusReady;
inline constexpr uint8_t kFpgaTransferReset = fpga::kTransferReset;
inline constexpr uint8_t kFpgaReconfigure = fpga::kReconfigure;
inline constexpr uint8_t kFpgaBridgeReset = fpga::kBridgeReset;
inline constexpr uint8_t kFpgaTriggerExposure0 = fpga::kTriggerExposure0;
inline constexpr uint8_t kFpgaTriggerExposure1 = fpga::kTriggerExposure1;
inline constexpr uint8_t kFpgaTriggerExposure2 = fpga::kTriggerExposure2;

inline constexpr uint8_t kStatusBusBusy = fpga::kStatusBusBusy;
inline constexpr uint8_t kStatusStarting = fpga::kStatusStarting;
inline constexpr uint8_t kReconfigureStart = fpga::kReconfigureStart;
inline constexpr uint8_t kReconfigureDone = fpga::kReconfigureDone;
inline constexpr uint8_t kBridgeResetBit = fpga::kBridgeResetBit;
inline constexpr uint16_t kReadoutFull = fpga::kReadoutFull;
inline constexpr uint16_t kReadoutSubSampled = fpga::kReadoutSubSampled;

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
