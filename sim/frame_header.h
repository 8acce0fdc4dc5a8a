#pragma once

#include <cstddef>
#include <cstdint>

namespace quorix::sim {

// The 64-byte header the camera sends on endpoint 0x81 ahead of each frame's data, all fields
// little-endian. The host reads the byte count (offset 16), the frame number (offset 32) and
// passes words A (28), C (40) and D (44) on with the frame; the other fields describe the frame
// for tests and tools. Filled and read with the helpers of byte_order.h, never by casting.
#pragma pack(push, 1)
struct FrameHeader {
    uint8_t magic[4];         // 0: "QXFH"
    uint16_t headerSize;      // 4: 64
    uint16_t version;         // 6: 1
    uint16_t width;           // 8: pixels per line (FPGA registers 0x44/0x45)
    uint16_t height;          // 10: lines (FPGA registers 0x40/0x41)
    uint8_t bytesPerPixel;    // 12: 1 or 2 (FPGA register 0x3C)
    uint8_t readoutMode;      // 13: FPGA register 0x48
    uint16_t flags;           // 14: kHeaderFlag* below
    uint32_t byteCount;       // 16: bytes of frame data that follow = width x height x bpp
    uint32_t exposureLines;   // 20: exposure in line periods the frame was taken with
    uint32_t gain;            // 24: sensor gain register value
    uint32_t timestampMs;     // 28: word A, camera time of the frame [ms since power-up]
    uint32_t frameNumber;     // 32: word B, frames the sensor has produced, counting from 1
    uint32_t fpgaCounter;     // 36: FPGA frame counter (register 8) when the frame was sent
    uint32_t exposureClocks;  // 40: word C, exposure in pixel clocks of 54.545 MHz
    uint32_t frameLines;      // 44: word D, frame length in line periods
    uint8_t reserved[16];     // 48: 0
};
#pragma pack(pop)
static_assert(sizeof(FrameHeader) == 64);

inline constexpr size_t kFrameHeaderBytes = 64;
inline constexpr size_t kHeaderByteCountOffset = offsetof(FrameHeader, byteCount);
inline constexpr size_t kHeaderFrameNumberOffset = offsetof(FrameHeader, frameNumber);
static_assert(kHeaderByteCountOffset == 16 && kHeaderFrameNumberOffset == 32);

inline constexpr uint16_t kHeaderFlagTriggered = 0x0001;   // taken on a trigger pulse
inline constexpr uint16_t kHeaderFlagMirrorV = 0x0002;     // lines sent bottom to top
inline constexpr uint16_t kHeaderFlagMirrorH = 0x0004;     // lines sent left to right
inline constexpr uint16_t kHeaderFlagSubSampled = 0x0008;  // 2x2 sub-sampled read-out

}  // namespace quorix::sim
