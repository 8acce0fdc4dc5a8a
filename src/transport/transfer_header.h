#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/usb/transfer_header.h"

namespace quorix {

// The 38-byte header that starts every transfer request to the camera's USB driver is the
// driver's own layout (platform/usb/transfer_header.h). Control and buffered requests carry their
// data right behind it in the same buffer (buffer offset 38); direct bulk requests carry only the
// endpoint and receive the data in a buffer of their own. The driver writes its own status and
// the bus status back into the header.
using platform::usb::ReadTransferHeader;
using platform::usb::TransferHeader;
using platform::usb::WriteTransferHeader;
inline constexpr uint32_t kTransferHeaderSize =
    static_cast<uint32_t>(platform::usb::kTransferHeaderSize);

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

}  // namespace quorix
