#pragma once

#include <cstdint>

// The register map of the camera board's FPGA, in one place for the SDK and the emulator. The
// FPGA sits on the sensor bus at kBusAddress and keeps one byte per register; multi-byte values
// are split over consecutive registers, low byte first.
namespace quorix::fpga {

// The FPGA's device on the sensor bus, write form (the read form has bit 0 set).
inline constexpr uint8_t kBusAddress = 0x40;

// Status: bit 1 while a sensor-bus transfer is under way; 0x90 while the FPGA starts up.
inline constexpr uint8_t kStatus = 0x02;
inline constexpr uint8_t kStatusBusBusy = 0x02;
inline constexpr uint8_t kStatusStarting = 0x90;
// The camera's general-purpose I/O port.
inline constexpr uint8_t kIoPort = 0x07;
// 8-bit count of the frames the sensor has read out.
inline constexpr uint8_t kFrameCounter = 0x08;
// The FPGA's configuration version, four bytes, lowest first.
inline constexpr uint8_t kVersion0 = 0x10;
inline constexpr uint8_t kVersion1 = 0x11;
inline constexpr uint8_t kVersion2 = 0x12;
inline constexpr uint8_t kVersion3 = 0x13;
// Pixel data width: kDataWidth8 or kDataWidth16.
inline constexpr uint8_t kDataWidth = 0x3C;
inline constexpr uint8_t kDataWidth8 = 1;
inline constexpr uint8_t kDataWidth16 = 2;

// Frame geometry: output height and width [pixels], the read-out mode and the column offset of
// the window in a whole sensor line.
inline constexpr uint8_t kHeightLow = 0x40;
inline constexpr uint8_t kHeightHigh = 0x41;
inline constexpr uint8_t kWidthLow = 0x44;
inline constexpr uint8_t kWidthHigh = 0x45;
inline constexpr uint8_t kReadoutLow = 0x48;
inline constexpr uint8_t kReadoutHigh = 0x49;
inline constexpr uint8_t kOffsetLow = 0x4C;
inline constexpr uint8_t kOffsetHigh = 0x4D;
// Read-out modes: every pixel, or 2x2 sub-sampling.
inline constexpr uint16_t kReadoutFull = 12;
inline constexpr uint16_t kReadoutSubSampled = 11;

// Trigger timing: the frame period [trigger lines], the length of a trigger line [pixel clocks],
// the control word (0 off, 1 or 2 by the trigger programming) and the exposure [trigger lines],
// a 24-bit value over three registers.
inline constexpr uint8_t kTriggerPeriodLow = 0x50;
inline constexpr uint8_t kTriggerPeriodHigh = 0x51;
inline constexpr uint8_t kTriggerLineClocksLow = 0x54;
inline constexpr uint8_t kTriggerLineClocksHigh = 0x55;
inline constexpr uint8_t kTriggerControl = 0x58;
inline constexpr uint8_t kTriggerExposure0 = 0x85;  // bits 0-7
inline constexpr uint8_t kTriggerExposure1 = 0x86;  // bits 8-15
inline constexpr uint8_t kTriggerExposure2 = 0x9B;  // bits 16-23

// Set to 1 once the sensor bus is ready for the sensor's start-up.
inline constexpr uint8_t kSensorBusReady = 0x60;
// Pulsed (1, then 0) to make the camera send frames again after a failed one.
inline constexpr uint8_t kTransferReset = 0x6C;
// The same pulse on the FPGA of some other heads.
inline constexpr uint8_t kTransferResetAlt = 0x96;
// Configuration: write kReconfigureStart to load it again; kReconfigureDone reads back once
// loaded.
inline constexpr uint8_t kReconfigure = 0x81;
inline constexpr uint8_t kReconfigureStart = 0x01;
inline constexpr uint8_t kReconfigureDone = 0x02;
// Bit 0 holds the bridge to the sensor in reset.
inline constexpr uint8_t kBridgeReset = 0x82;
inline constexpr uint8_t kBridgeResetBit = 0x01;
// Die temperature of the line-sensor heads' FPGA, 16 bits.
inline constexpr uint8_t kTemperatureLow = 0x8E;
inline constexpr uint8_t kTemperatureHigh = 0x8F;

}  // namespace quorix::fpga
