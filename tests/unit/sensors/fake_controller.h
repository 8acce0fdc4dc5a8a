#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "transport/controller_base.h"

namespace quorix::test {

// A camera board as the sensor head sees it: the sensor bridge at bus address 72 holding the
// sensor's 8-bit registers, the FPGA's registers and the readiness device. It records every
// sensor-register write in order.
class FakeController : public CControllerBase {
public:
    static constexpr uint8_t kSensorBridge = 72;

    std::map<uint32_t, uint8_t> sensor;                // sensor register file
    std::vector<std::pair<uint32_t, uint8_t>> writes;  // sensor-register writes in order
    std::map<uint8_t, uint8_t> fpga;                   // FPGA register file (absent = 0)
    std::vector<std::pair<uint8_t, uint8_t>> fpgaWrites;
    uint16_t fpgaVersion = 0x0140;
    bool busFails = false;  // every sensor-bus transfer fails
    bool readinessNeverZero = false;

    int BusWrite(uint8_t address, const uint8_t* data, uint32_t count, uint32_t) override {
        if (busFails || count > 64) {
            return 0;
        }
        if (address == kSensorBridge && count >= 2) {
            m_addressed = (static_cast<uint32_t>(data[0]) << 8) | data[1];
            if (count == 3) {
                sensor[m_addressed] = data[2];
                writes.emplace_back(m_addressed, data[2]);
            }
            return 1;
        }
        return 1;
    }
    int BusRead(uint8_t address, uint8_t* data, uint32_t count, uint32_t) override {
        if (busFails || count > 64) {
            return 0;
        }
        if (address == 0x5E) {
            for (uint32_t i = 0; i < count; ++i) {
                data[i] = readinessNeverZero ? 1 : 0;
            }
            return 1;
        }
        if (address == kSensorBridge && count == 1) {
            data[0] = sensor.count(m_addressed) ? sensor[m_addressed] : 0;
            return 1;
        }
        return 0;
    }
    int WriteFpgaRegister(uint8_t reg, uint8_t value) override {
        fpga[reg] = value;
        fpgaWrites.emplace_back(reg, value);
        return 1;
    }
    int ReadFpgaRegister(uint8_t reg, uint8_t* value) override {
        *value = fpga.count(reg) ? fpga[reg] : 0;
        return 1;
    }
    int ReadFpgaVersion(uint16_t* version) override {
        *version = fpgaVersion;
        return 1;
    }

    // The value last written to a sensor register, or -1 if none was.
    int Register(uint32_t address) const {
        const auto it = sensor.find(address);
        return it == sensor.end() ? -1 : it->second;
    }
    // A 20-bit value spread over three registers, low byte first.
    uint32_t Register20(uint32_t low) const {
        return static_cast<uint32_t>(Register(low)) |
               (static_cast<uint32_t>(Register(low + 1)) << 8) |
               (static_cast<uint32_t>(Register(low + 2)) << 16);
    }
    uint32_t Register16(uint32_t low) const {
        return static_cast<uint32_t>(Register(low)) |
               (static_cast<uint32_t>(Register(low + 1)) << 8);
    }

private:
    uint32_t m_addressed = 0;
};

}  // namespace quorix::test
