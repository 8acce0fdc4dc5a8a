#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorix::sim {

// The camera board's 64 KiB serial EEPROM: 16-bit byte addresses, an address pointer that
// sequential reads and writes advance (wrapping at the end), blank cells 0xFF. Owned by the
// emulated camera and used under its lock (not thread-safe by itself).
class Eeprom {
public:
    static constexpr size_t kSize = 0x10000;

    // Blank, then the serial number text at 0x1040 (at most 63 characters, 0xFF after it) and
    // the user ID byte at 0x1080.
    Eeprom(const std::string& serialNumber, uint8_t userId);

    uint8_t Byte(uint16_t address) const { return m_cells[address]; }
    void SetByte(uint16_t address, uint8_t value) { m_cells[address] = value; }

    uint16_t Pointer() const { return m_pointer; }
    void SetPointer(uint16_t address) { m_pointer = address; }
    // Reads `count` bytes from the pointer on and advances it.
    void ReadSequential(uint8_t* out, size_t count);

private:
    std::vector<uint8_t> m_cells;
    uint16_t m_pointer = 0;
};

}  // namespace quorix::sim
