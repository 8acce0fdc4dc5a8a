#include "sim/imx252_sensor.h"

#include <algorithm>

#include "sim/camera_registers.h"
#include "sim/scene.h"

namespace quorix::sim {

namespace {

constexpr size_t kRegisterCount = 0x10000;

void Store16(std::vector<uint8_t>& regs, uint16_t low, uint32_t value) {
    regs[low] = static_cast<uint8_t>(value);
    regs[static_cast<uint16_t>(low + 1)] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

Imx252Sensor::Imx252Sensor() : m_visible(kRegisterCount, 0) {
    using namespace reg;
    // The sensor's own reset values, none of them what the host programs: a setting the host
    // forgets shows as a darker picture (gain 0, a shorter exposure on a longer line), a black
    // level 20 steps low, or a camera that refuses to stream (the line too short for 16-bit data).
    Store16(m_visible, kSensorFrameLength0, kResetFrameLength);
    m_visible[kSensorFrameLength2] = 0;
    Store16(m_visible, kSensorLineLength0, kResetLineLength);
    Store16(m_visible, kSensorShutter0, kResetShutterLine);
    m_visible[kSensorShutter2] = 0;
    Store16(m_visible, kSensorGain0, kResetGain);
    Store16(m_visible, kSensorBlackLevel0, kResetBlackLevel);
    // The window registers describe the whole sensor; cropping is off.
    Store16(m_visible, kSensorWindowH0, kWindowMargin);
    Store16(m_visible, kSensorWindowV0, kWindowMargin);
    Store16(m_visible, kSensorWindowWidth0, kSensorWidth);
    Store16(m_visible, kSensorWindowHeight0, kSensorHeight + kWindowExtraLines);
    m_active = m_visible;
}

uint8_t Imx252Sensor::Read(uint16_t address) const {
    return m_visible[address];
}

void Imx252Sensor::Write(uint16_t address, uint8_t value) {
    m_visible[address] = value;
    if (address == reg::kSensorHold) {
        m_active[address] = value;
        const bool hold = (value & 1) != 0;
        if (m_hold && !hold) {
            // Releasing the hold applies the collected writes at once, in the order written.
            for (const auto& [held, heldValue] : m_held)
                m_active[held] = heldValue;
            m_held.clear();
        }
        m_hold = hold;
        return;
    }
    if (m_hold)
        m_held.emplace_back(address, value);
    else
        m_active[address] = value;
}

uint32_t Imx252Sensor::Active16(uint16_t low, uint8_t highMask) const {
    return m_active[low] | (static_cast<uint32_t>(m_active[low + 1] & highMask) << 8);
}

SensorSettings Imx252Sensor::Settings() const {
    using namespace reg;
    SensorSettings s;
    const uint8_t mode = m_active[kSensorReadoutMode];
    s.subSampleV = (mode & kSubSampleV) != 0;
    s.subSampleH = (mode & kSubSampleH) != 0;
    const uint8_t mirror = m_active[kSensorMirror];
    s.mirrorV = (mirror & kMirrorV) != 0;
    s.mirrorH = (mirror & kMirrorH) != 0;
    s.triggerMode = (m_active[kSensorTrigger0] & 1) != 0 && (m_active[kSensorTrigger1] & 1) != 0;
    s.frameLines = Active16(kSensorFrameLength0, 0xFF) |
                   (static_cast<uint32_t>(m_active[kSensorFrameLength2] & 0x0F) << 16);
    s.lineLength = Active16(kSensorLineLength0, 0xFF);
    s.shutterLine = Active16(kSensorShutter0, 0x0F) |
                    (static_cast<uint32_t>(m_active[kSensorShutter2] & 0x0F) << 16);
    s.gain = Active16(kSensorGain0, 0x01);
    s.blackLevel = static_cast<int>(Active16(kSensorBlackLevel0, 0x0F));

    const uint8_t crop = m_active[kSensorCrop];
    if ((crop & kCropColumns) != 0) {
        // The horizontal registers count from the far (right) edge, past the margin.
        const int h = static_cast<int>(Active16(kSensorWindowH0, 0x1F));
        const int w = static_cast<int>(Active16(kSensorWindowWidth0, 0x1F));
        s.windowWidth = w;
        s.windowX = kSensorWidth + kWindowMargin - h - w;
    } else {
        s.windowX = 0;
        s.windowWidth = kSensorWidth;
    }
    if ((crop & kCropLines) != 0) {
        // The vertical registers count from the bottom edge; the height register includes four
        // lines that the sensor does not send.
        const int v = static_cast<int>(Active16(kSensorWindowV0, 0x0F));
        const int hr = static_cast<int>(Active16(kSensorWindowHeight0, 0x0F));
        s.windowHeight = std::max(hr - kWindowExtraLines, 0);
        s.windowY = kSensorHeight + kWindowMargin - v - s.windowHeight;
    } else {
        s.windowY = 0;
        s.windowHeight = kSensorHeight;
    }
    return s;
}

}  // namespace quorix::sim
