#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"

namespace quorix {

// The 32-byte block sent on bulk endpoint 0x01 ahead of a command-mode transfer: it tells the
// camera which memory to read or write and how many bytes follow on the bulk endpoints.
#pragma pack(push, 1)
struct CommandBlock {
    char magic[4];       // "QU3R" read, "QU3W" write
    uint32_t version;    // always 2
    uint64_t address;    // device address; 0 for frame reads
    uint32_t byteCount;  // [bytes] of the transfer that follows
    uint8_t reserved[12];
};
#pragma pack(pop)
static_assert(sizeof(CommandBlock) == 32);
static_assert(offsetof(CommandBlock, version) == 4);
static_assert(offsetof(CommandBlock, address) == 8);
static_assert(offsetof(CommandBlock, byteCount) == 16);
static_assert(offsetof(CommandBlock, reserved) == 20);

inline constexpr uint32_t kCommandBlockVersion = 2;

enum class CommandDirection { kRead, kWrite };

inline std::array<uint8_t, sizeof(CommandBlock)> EncodeCommandBlock(CommandDirection direction,
                                                                    uint64_t address,
                                                                    uint32_t byteCount) {
    std::array<uint8_t, sizeof(CommandBlock)> bytes = {};
    const char* magic = direction == CommandDirection::kRead ? "QU3R" : "QU3W";
    for (size_t i = 0; i < 4; ++i)
        bytes[offsetof(CommandBlock, magic) + i] = static_cast<uint8_t>(magic[i]);
    WriteLe32(bytes.data() + offsetof(CommandBlock, version), kCommandBlockVersion);
    WriteLe64(bytes.data() + offsetof(CommandBlock, address), address);
    WriteLe32(bytes.data() + offsetof(CommandBlock, byteCount), byteCount);
    return bytes;
}

// Command-mode memory transfers move whole 4096-byte blocks and always one block more than the
// whole blocks of the count: 4096 bytes ask for 8192, 100 bytes for 4096. [bytes]
inline constexpr uint32_t kCommandBlockGranule = 4096;
inline constexpr uint64_t CommandTransferSize(uint32_t count) {
    return static_cast<uint64_t>(count & ~(kCommandBlockGranule - 1)) + kCommandBlockGranule;
}

// Command-mode frame reads move whole 16384-byte units, again one more than the count's whole
// units: 16384 bytes ask for 32768. [bytes]
inline constexpr uint32_t kFrameCommandGranule = 16384;
inline constexpr uint64_t FrameCommandTransferSize(uint32_t count) {
    return (static_cast<uint64_t>(count / kFrameCommandGranule) + 1) * kFrameCommandGranule;
}

}  // namespace quorix
