#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace quorix::sim {

// The IMX252 settings the emulated read-out depends on, decoded from the registers in effect.
struct SensorSettings {
    bool subSampleV = false;
    bool subSampleH = false;
    bool mirrorV = false;
    bool mirrorH = false;
    bool triggerMode = false;
    uint32_t frameLines = 0;   // frame length [line periods]
    uint32_t lineLength = 0;   // line length register
    uint32_t shutterLine = 0;  // line at which the exposure starts
    uint32_t gain = 0;         // 0.1 dB steps
    int blackLevel = 0;
    // The window the sensor reads, in sensor coordinates (may reach into the margins).
    int windowX = 0;
    int windowY = 0;
    int windowWidth = 0;
    int windowHeight = 0;
};

// The IMX252's register file as the sensor bridge reaches it: 16-bit addresses, 8-bit values.
// Writes made while the register hold (0x208) is set are collected and take effect together
// when the hold is released; reads always return the last value written. Owned by the emulated
// camera and used under its lock (not thread-safe by itself).
class Imx252Sensor {
public:
    // Power-up state: the sensor's reset values (whole sensor, not cropping, gain 0, frame length
    // 1600, line length 464, shutter line 16, black level 60, free-run), none of them what the host
    // programs.
    Imx252Sensor();

    uint8_t Read(uint16_t address) const;
    void Write(uint16_t address, uint8_t value);

    // The settings of the registers in effect (held writes not yet included).
    SensorSettings Settings() const;

private:
    uint32_t Active16(uint16_t low, uint8_t highMask) const;

    std::vector<uint8_t> m_visible;  // what reads return
    std::vector<uint8_t> m_active;   // what the sensor works with
    std::vector<std::pair<uint16_t, uint8_t>> m_held;
    bool m_hold = false;
};

}  // namespace quorix::sim
