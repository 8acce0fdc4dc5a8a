#pragma once

#include <cstdint>

namespace quorix::platform {

// A 128-bit interface class identifier, laid out as the USB driver and its device paths use it.
struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];

    friend bool operator==(const Guid&, const Guid&) = default;
};
static_assert(sizeof(Guid) == 16);

// The device-interface class of the camera's USB driver: {5D1B7C2E-4A90-4F6B-8E13-9C07A2F4D6B1}.
inline constexpr Guid kCameraInterfaceGuid = {
    0x5D1B7C2E, 0x4A90, 0x4F6B, {0x8E, 0x13, 0x9C, 0x07, 0xA2, 0xF4, 0xD6, 0xB1}};

}  // namespace quorix::platform
