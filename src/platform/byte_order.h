#pragma once

#include <cstdint>

namespace quorix {

// Little-endian loads and stores on byte buffers of any alignment. Every layout that crosses a
// boundary — the driver's request headers, the emulator socket's messages, the shared device
// table, frame headers and command blocks — is little-endian, whatever the host's order, and is
// never read by casting a buffer.

inline uint16_t ReadLe16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline uint32_t ReadLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

inline uint64_t ReadLe64(const uint8_t* bytes) {
    return static_cast<uint64_t>(ReadLe32(bytes)) |
           (static_cast<uint64_t>(ReadLe32(bytes + 4)) << 32);
}

inline void WriteLe16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteLe32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline void WriteLe64(uint8_t* bytes, uint64_t value) {
    WriteLe32(bytes, static_cast<uint32_t>(value));
    WriteLe32(bytes + 4, static_cast<uint32_t>(value >> 32));
}

}  // namespace quorix
