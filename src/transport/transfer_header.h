#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/byte_order.h"

namespace quorix {

// The 38-byte header that starts every transfer request to the camera's USB driver. Control
// and buffered requests carry their data right behind it in the same buffer (buffer offset 38);
// direct bulk requests carry only the endpoint and receive the data in a buffer of their own.
// The driver writes its own status and the bus status back into the header.
#pragma pack(push, 1)
struct TransferHeader {
    uint8_t requestType = 0;  // 0xC0 vendor in, 0x40 vendor out (device), 0x42 (endpoint); 0 bulk
    uint8_t requestCode = 0;  // vendor request code; 0 for bulk
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;   // size of the whole control request buffer (102); 0 for bulk
    uint32_t timeout = 0;  // [s] for control requests; 0 for bulk
    uint8_t reserved = 0;
    uint8_t endpoint = 0;  // 0 for control requests; 0x81, 0x01 or 0x83 for bulk
    uint32_t driverStatus = 0;
    uint32_t busStatus = 0;
    uint32_t isoPacketOffset = 0;
    uint32_t isoPacketLength = 0;
    uint32_t bufferOffset = 0;  // where the data starts in the request buffer
    uint32_t bufferLength = 0;  // [bytes] of data behind the header
};
#pragma pack(pop)
static_assert(sizeof(TransferHeader) == 38);
static_assert(offsetof(TransferHeader, endpoint) == 13);
static_assert(offsetof(TransferHeader, driverStatus) == 14);
static_assert(offsetof(TransferHeader, busStatus) == 18);
static_assert(offsetof(TransferHeader, bufferOffset) == 30);
static_assert(offsetof(TransferHeader, bufferLength) == 34);

inline constexpr uint32_t kTransferHeaderSize = sizeof(TransferHeader);

// Vendor request types: direction (bit 7), type vendor (bits 5-6), recipient (bits 0-4).
inline constexpr uint8_t kRequestTypeVendorIn = 0xC0;
inline constexpr uint8_t kRequestTypeVendorOut = 0x40;
inline constexpr uint8_t kRequestTypeVendorOutEndpoint = 0x42;

// Control requests always travel in a 102-byte buffer: header plus a 64-byte data stage.
inline constexpr uint32_t kControlDataSize = 64;
inline constexpr uint32_t kControlBufferSize = kTransferHeaderSize + kControlDataSize;
inline constexpr uint32_t kControlTimeoutSeconds = 3;

// Bulk endpoints of the camera.
inline constexpr uint8_t kEndpointBulkIn = 0x81;
inline constexpr uint8_t kEndpointBulkOut = 0x01;
inline constexpr uint8_t kEndpointAuxIn = 0x83;

inline void EncodeTransferHeader(const TransferHeader& header, uint8_t* out) {
    out[offsetof(TransferHeader, requestType)] = header.requestType;
    out[offsetof(TransferHeader, requestCode)] = header.requestCode;
    WriteLe16(out + offsetof(TransferHeader, value), header.value);
    WriteLe16(out + offsetof(TransferHeader, index), header.index);
    WriteLe16(out + offsetof(TransferHeader, length), header.length);
    WriteLe32(out + offsetof(TransferHeader, timeout), header.timeout);
    out[offsetof(TransferHeader, reserved)] = header.reserved;
    out[offsetof(TransferHeader, endpoint)] = header.endpoint;
    WriteLe32(out + offsetof(TransferHeader, driverStatus), header.driverStatus);
    WriteLe32(out + offsetof(TransferHeader, busStatus), header.busStatus);
    WriteLe32(out + offsetof(TransferHeader, isoPacketOffset), header.isoPacketOffset);
    WriteLe32(out + offsetof(TransferHeader, isoPacketLength), header.isoPacketLength);
    WriteLe32(out + offsetof(TransferHeader, bufferOffset), header.bufferOffset);
    WriteLe32(out + offsetof(TransferHeader, bufferLength), header.bufferLength);
}

inline TransferHeader DecodeTransferHeader(const uint8_t* in) {
    TransferHeader header;
    header.requestType = in[offsetof(TransferHeader, requestType)];
    header.requestCode = in[offsetof(TransferHeader, requestCode)];
    header.value = ReadLe16(in + offsetof(TransferHeader, value));
    header.index = ReadLe16(in + offsetof(TransferHeader, index));
    header.length = ReadLe16(in + offsetof(TransferHeader, length));
    header.timeout = ReadLe32(in + offsetof(TransferHeader, timeout));
    header.reserved = in[offsetof(TransferHeader, reserved)];
    header.endpoint = in[offsetof(TransferHeader, endpoint)];
    header.driverStatus = ReadLe32(in + offsetof(TransferHeader, driverStatus));
    header.busStatus = ReadLe32(in + offsetof(TransferHeader, busStatus));
    header.isoPacketOffset = ReadLe32(in + offsetof(TransferHeader, isoPacketOffset));
    header.isoPacketLength = ReadLe32(in + offsetof(TransferHeader, isoPacketLength));
    header.bufferOffset = ReadLe32(in + offsetof(TransferHeader, bufferOffset));
    header.bufferLength = ReadLe32(in + offsetof(TransferHeader, bufferLength));
    return header;
}

}  // namespace quorix
