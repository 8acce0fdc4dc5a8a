#include "sim/eeprom.h"

#include <algorithm>

#include "sim/camera_registers.h"

namespace quorix::sim {

Eeprom::Eeprom(const std::string& serialNumber, uint8_t userId) : m_cells(kSize, 0xFF) {
    // The serial number must leave room for its 0xFF end mark before the user ID cell.
    const size_t length = std::min(serialNumber.size(), reg::kEepromSerialMaxChars);
    for (size_t i = 0; i < length; ++i)
        m_cells[reg::kEepromSerialNumber + i] = static_cast<uint8_t>(serialNumber[i]);
    m_cells[reg::kEepromUserId] = userId;
}

void Eeprom::ReadSequential(uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i)
        out[i] = m_cells[m_pointer++];
}

}  // namespace quorix::sim
