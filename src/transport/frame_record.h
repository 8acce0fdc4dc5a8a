#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"

namespace quorix {

// The 64-byte header the camera sends on endpoint 0x81 in answer to a frame request. Only these
// fields are interpreted; the header words are handed to the application with the frame.
#pragma pack(push, 1)
struct FrameHeader {
    uint8_t reserved0[16];
    uint32_t byteCount;  // [bytes] of frame data that follow on endpoint 0x81
    uint8_t reserved1[8];
    uint32_t wordA;
    uint32_t frameNumber;  // also header word B
    uint8_t reserved2[4];
    uint32_t wordC;
    uint32_t wordD;
    uint8_t reserved3[16];
};
#pragma pack(pop)
static_assert(sizeof(FrameHeader) == 64);
static_assert(offsetof(FrameHeader, byteCount) == 16);
static_assert(offsetof(FrameHeader, wordA) == 28);
static_assert(offsetof(FrameHeader, frameNumber) == 32);
static_assert(offsetof(FrameHeader, wordC) == 40);
static_assert(offsetof(FrameHeader, wordD) == 44);

inline constexpr uint32_t kFrameHeaderSize = sizeof(FrameHeader);

// How the engine and the controller exchange one frame: the controller fills the header and the
// frame number, and receives the data into the engine's destination, never beyond `capacity`.
struct FrameRecord {
    uint8_t header[kFrameHeaderSize] = {};  // as received
    uint32_t frameNumber = 0;               // copy of the header's frame number
    uint8_t* destination = nullptr;         // frame data goes here (not owned)
    uint32_t capacity = 0;                  // [bytes] writable at `destination`
    uint32_t requestedBytes = 0;            // [bytes] for ReadAuxEndpoint

    uint32_t ByteCount() const { return ReadLe32(header + offsetof(FrameHeader, byteCount)); }
    uint32_t WordA() const { return ReadLe32(header + offsetof(FrameHeader, wordA)); }
    uint32_t WordC() const { return ReadLe32(header + offsetof(FrameHeader, wordC)); }
    uint32_t WordD() const { return ReadLe32(header + offsetof(FrameHeader, wordD)); }
    uint32_t HeaderFrameNumber() const {
        return ReadLe32(header + offsetof(FrameHeader, frameNumber));
    }
    void Clear() { *this = FrameRecord{}; }
};

}  // namespace quorix
