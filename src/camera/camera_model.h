#pragma once

#include <cstdint>

// What identifies this camera model and its sensor, in one place for the SDK and the emulator.
namespace quorix::camera {

// USB identity. The SDK's camera ID of the model is its USB product ID.
inline constexpr uint16_t kVendorId = 0x04B4;
inline constexpr uint16_t kProductId = 0x31C0;
inline constexpr int32_t kCameraId = kProductId;  // 12736

// The IMX252's active pixels [pixels].
inline constexpr int32_t kSensorWidth = 2048;
inline constexpr int32_t kSensorHeight = 1536;

}  // namespace quorix::camera
