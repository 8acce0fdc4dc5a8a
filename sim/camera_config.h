#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "camera/camera_model.h"

namespace quorix::sim {

// A pixel of the sensor, in sensor coordinates: row 0 is the top of the scene as a viewer sees
// it, column 0 its left edge (the same coordinates as the scene constants in scene.h).
struct SensorPixel {
    uint16_t row = 0;
    uint16_t column = 0;
};

// The documented defect list used when Imperfections::defectPixels is on. Hot pixels read the
// converter's full scale (4095) whatever the light; dead pixels read 0. Both ignore exposure,
// gain, offsets and noise. Spread over the scene's bands so that windows and sub-sampled
// read-outs meet some of them (sub-sampling reads columns 4k and 4k+1, rows 4k+1 and 4k+2).
inline constexpr std::array<SensorPixel, 6> kHotPixels = {
    {{100, 100}, {101, 1025}, {513, 1800}, {800, 640}, {1102, 33}, {1400, 2045}}};
inline constexpr std::array<SensorPixel, 6> kDeadPixels = {
    {{200, 300}, {402, 1201}, {650, 1950}, {901, 256}, {1201, 1537}, {1500, 4}}};

// Optional sensor imperfections; every one is off by default, so the frames carry exactly the
// nominal scene scaled by exposure x gain (see emulator.h for the brightness model).
struct Imperfections {
    // Added to every sample after exposure and gain [converter units, 12-bit].
    uint16_t darkOffset = 0;
    // Fraction of light lost in the sensor's corners; the loss grows with the square of the
    // distance from the sensor's centre: factor = 1 - vignetting x (d / dCorner)^2. 0..1.
    double vignetting = 0.0;
    // Puts the defects of kHotPixels and kDeadPixels into the read-out.
    bool defectPixels = false;
    // Standard deviation of an added Gaussian noise [converter units]. The noise is a pure
    // function of (noiseSeed, frame number, row, column), so a frame is reproducible.
    double noiseSigma = 0.0;
    uint32_t noiseSeed = 1;
    // Colour cast: the light reaching red, green and blue pixels is multiplied by these.
    double castRed = 1.0;
    double castGreen = 1.0;
    double castBlue = 1.0;
    // An even target in front of the lens in place of the scene: every pixel sees this nominal
    // value (12-bit; 0 is a capped lens), as when flat-field frames are recorded. Negative: the
    // scene.
    int32_t flatTarget = -1;

    friend bool operator==(const Imperfections&, const Imperfections&) = default;
};

// Everything that distinguishes one emulated camera at power-up. Values are those of a
// production camera unless the comment says otherwise.
struct CameraConfig {
    uint16_t vendorId = camera::kVendorId;
    uint16_t productId = camera::kProductId;
    // USB controller firmware version, in the device info block at offset 24. The host waits for
    // the readiness line only above 0x1100.
    uint16_t firmwareVersion = 0x1201;
    // Device info block offset 52: 1 = the readiness line (GPIO25) is wired.
    uint8_t gpio25Flag = 1;
    // FPGA version in registers 0x10 (low) and 0x11 (high). Below 309 the host reconfigures the
    // FPGA at open.
    uint16_t fpgaVersion = 0x0140;
    // Serial number text in the EEPROM at 0x1040, followed by 0xFF. At most 63 characters are
    // stored (the user ID byte follows at 0x1080); longer text is cut.
    std::string serialNumber = "QX252-000001";
    // User identification byte in the EEPROM at 0x1080.
    uint8_t userId = 0;
    // Frame pacing. 0 = the sensor's own timing (line length x frame length, see emulator.h);
    // above 0 = this many frames per second whatever the registers say.
    double framesPerSecond = 0.0;
    // Every frame request is answered at once, with no frame timing (throughput measurement).
    bool asFastAsPossible = false;
    // Milliseconds of SDK time after each plug-in until the camera reports ready (readiness line,
    // readiness device 0x5E, FPGA status bits 0x90). Negative: never ready.
    int32_t readyDelayMs = 0;
    // In trigger mode the trigger input receives pulses by itself at the trigger period (see
    // emulator.h). Off: frames come only from EmulatedCamera::FireTrigger.
    bool autoTrigger = true;
    // The driver's speed word: 4 = SuperSpeed, 3 = high speed, 2 = full speed.
    uint32_t deviceSpeed = 4;
    // Sensor imperfections, all off by default.
    Imperfections imperfections;
    // Entries kept per kind in the camera's log; the oldest go first. 0 = keep nothing. The
    // default bounds the log to roughly 20 MB however long a camera streams.
    size_t logCapacity = 100000;
};

}  // namespace quorix::sim
