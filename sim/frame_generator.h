#pragma once

#include <cstdint>
#include <vector>

#include "sim/camera_config.h"
#include "sim/emulated_camera.h"

namespace quorix::sim {

// Everything one frame's pixels depend on, taken from the camera under its lock.
struct FrameRecipe {
    ReadoutSettings readout;
    uint32_t frameNumber = 0;
    int blackShift = 0;  // sensor black level minus the nominal 80 [converter units]
    Imperfections imperfections;
};

// Renders frame data from a recipe: the scene seen through the colour filter, read out by the
// sensor (window, sub-sampling, mirroring, lines sent right to left) and cut to the frame
// geometry by the FPGA. Stateless; safe to run on any thread without the camera's lock.
class FrameGenerator {
public:
    // Marks a line or pixel position the sensor does not deliver; it is sent as 0.
    static constexpr int kFiller = -1000000;

    // The sensor row of each line the FPGA sends, in order (frameHeight entries).
    static std::vector<int> LineRows(const ReadoutSettings& readout);
    // The sensor column of each pixel of a line as the FPGA sends it (frameWidth entries).
    static std::vector<int> PixelColumns(const ReadoutSettings& readout);

    // The frame data: frameWidth x frameHeight samples of bytesPerPixel bytes (16-bit samples
    // little-endian, full scale).
    static std::vector<uint8_t> Render(const FrameRecipe& recipe);
};

}  // namespace quorix::sim
