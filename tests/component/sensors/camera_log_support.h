#pragma once

// Reading what an emulated camera received: the sensor and FPGA register writes it took, the
// sensor-bus transfers behind them, and its registers as it holds them now.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "sim/camera_log.h"
#include "sim/emulated_camera.h"

namespace quorix::test {

// One register write: register address and the byte written.
using RegWrite = std::pair<uint16_t, uint8_t>;
using RegWrites = std::vector<RegWrite>;

// Sensor-bus devices as the camera board addresses them (write form; reads set bit 0).
inline constexpr uint8_t kBusFpga = 0x40;
inline constexpr uint8_t kBusReadiness = 0x5E;

// The register writes of one space that the camera took, oldest first.
inline RegWrites WritesTo(sim::EmulatedCamera& camera, sim::RegisterSpace space) {
    RegWrites writes;
    for (const sim::RegisterWriteRecord& record : camera.Log().RegisterWrites(space))
        writes.emplace_back(record.reg, record.value);
    return writes;
}

inline RegWrites SensorWrites(sim::EmulatedCamera& camera) {
    return WritesTo(camera, sim::RegisterSpace::kSensor);
}

inline RegWrites FpgaWrites(sim::EmulatedCamera& camera) {
    return WritesTo(camera, sim::RegisterSpace::kFpga);
}

// The values written to one FPGA register, oldest first.
inline std::vector<uint8_t> FpgaValues(sim::EmulatedCamera& camera, uint8_t reg) {
    return camera.Log().WrittenValues(sim::RegisterSpace::kFpga, reg);
}

// Bus transfers that addressed FPGA register `reg` for reading (the one-byte pointer write that
// precedes every register read); refused ones included.
inline size_t FpgaReadsOf(sim::EmulatedCamera& camera, uint8_t reg) {
    size_t count = 0;
    for (const sim::BusTransferRecord& record : camera.Log().BusTransfers()) {
        if (record.address == kBusFpga && !record.read && record.bytes.size() == 1 &&
            record.bytes[0] == reg)
            ++count;
    }
    return count;
}

// Reads of the readiness device.
inline std::vector<sim::BusTransferRecord> ReadinessReads(sim::EmulatedCamera& camera) {
    std::vector<sim::BusTransferRecord> reads;
    for (sim::BusTransferRecord& record : camera.Log().BusTransfers()) {
        if (record.read && (record.address & 0xFE) == kBusReadiness)
            reads.push_back(std::move(record));
    }
    return reads;
}

// A value spread over consecutive sensor registers, low byte first, as the camera holds it.
inline uint32_t SensorValue(const sim::EmulatedCamera& camera, uint16_t low, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | camera.SensorRegister(static_cast<uint16_t>(low + i));
    return value;
}

// The writes that put `value` into consecutive registers starting at `low`, low byte first.
inline RegWrites LowFirst(uint16_t low, uint32_t value, int bytes) {
    RegWrites writes;
    for (int i = 0; i < bytes; ++i)
        writes.emplace_back(static_cast<uint16_t>(low + i), static_cast<uint8_t>(value >> (8 * i)));
    return writes;
}

inline void Append(RegWrites& to, const RegWrites& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace quorix::test
