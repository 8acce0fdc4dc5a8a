#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

// The 38-byte transfer request header that starts every control and bulk request the camera's
// transport sends to the driver. The driver reads the setup fields and the endpoint from it and
// writes its two status words back into it. Little-endian and packed on the wire; fields are
// moved with ReadTransferHeader/WriteTransferHeader, never by casting a buffer.
struct [[gnu::packed]] TransferHeader {
    uint8_t requestType = 0;      // control: bit 7 device-to-host, bits 5-6 type; 0 for bulk
    uint8_t request = 0;          // vendor request code; 0 for bulk
    uint16_t value = 0;           // control request value
    uint16_t index = 0;           // control request index
    uint16_t length = 0;          // the host sets the whole request buffer's size (102) here
    uint32_t timeout = 0;         // [s]; control requests only
    uint8_t reserved = 0;         //
    uint8_t endpointAddress = 0;  // 0 for control; bit 7 set: in
    uint32_t driverStatus = 0;    // written by the driver: 0 = success
    uint32_t busStatus = 0;       // written by the driver: 0 = success
    uint32_t isoPacketOffset = 0;
    uint32_t isoPacketLength = 0;
    uint32_t bufferOffset = 0;  // where the data starts in the request buffer [bytes]
    uint32_t bufferLength = 0;  // the data stage or transfer length [bytes]
};
inline constexpr size_t kTransferHeaderSize = 38;
static_assert(sizeof(TransferHeader) == kTransferHeaderSize);
static_assert(offsetof(TransferHeader, value) == 2 && offsetof(TransferHeader, index) == 4 &&
              offsetof(TransferHeader, length) == 6 && offsetof(TransferHeader, timeout) == 8 &&
              offsetof(TransferHeader, reserved) == 12 &&
              offsetof(TransferHeader, endpointAddress) == 13 &&
              offsetof(TransferHeader, driverStatus) == 14 &&
              offsetof(TransferHeader, busStatus) == 18 &&
              offsetof(TransferHeader, isoPacketOffset) == 22 &&
              offsetof(TransferHeader, isoPacketLength) == 26 &&
              offsetof(TransferHeader, bufferOffset) == 30 &&
              offsetof(TransferHeader, bufferLength) == 34);

// Decodes the header at `bytes` (kTransferHeaderSize bytes).
TransferHeader ReadTransferHeader(const uint8_t* bytes);
// Encodes `header` into `bytes` (kTransferHeaderSize bytes).
void WriteTransferHeader(const TransferHeader& header, uint8_t* bytes);
// Writes only the two status words into the header at `bytes`, leaving the caller's fields alone.
void WriteTransferStatus(uint8_t* bytes, uint32_t driverStatus, uint32_t busStatus);

// The status words of a finished transfer, in the kernel driver's numbering: a driver status
// (system status code) and a bus status (USB request block status). Both 0 on success.
struct TransferStatus {
    uint32_t driverStatus = 0;
    uint32_t busStatus = 0;
};
inline constexpr uint32_t kDriverStatusUnsuccessful = 0xC0000001;
inline constexpr uint32_t kDriverStatusDeviceNotConnected = 0xC000009D;
inline constexpr uint32_t kDriverStatusCancelled = 0xC0000120;
inline constexpr uint32_t kBusStatusStallPid = 0xC0000004;
inline constexpr uint32_t kBusStatusTransactionError = 0xC0000011;
inline constexpr uint32_t kBusStatusDeviceGone = 0xC0007000;
inline constexpr uint32_t kBusStatusCanceled = 0xC0010000;

TransferStatus StatusOf(TransferResult result);
// The error code a request with this outcome reports (kErrorSuccess when it completed).
uint32_t ErrorCodeOf(TransferResult result);

}  // namespace quorix::platform::usb
