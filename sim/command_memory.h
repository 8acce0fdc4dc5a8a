#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace quorix::sim {

// The memory that command-mode transfers ("QU3R"/"QU3W") read and write: 64-bit addressed,
// sparse, blank bytes 0. Only written pages take room, and at most kMaxPages of them; writes
// beyond that are dropped so that a host streaming garbage cannot exhaust the process. Owned by
// the emulated camera and used under its lock (not thread-safe by itself).
class CommandMemory {
public:
    static constexpr size_t kPageSize = 4096;
    static constexpr size_t kMaxPages = 65536;  // 256 MiB

    void Read(uint64_t address, uint8_t* out, size_t count) const;
    // Returns the number of bytes stored (less than `count` only when the page limit is hit).
    size_t Write(uint64_t address, const uint8_t* bytes, size_t count);
    uint8_t Byte(uint64_t address) const;

private:
    using Page = std::array<uint8_t, kPageSize>;
    std::map<uint64_t, std::unique_ptr<Page>> m_pages;  // by address / kPageSize
};

}  // namespace quorix::sim
