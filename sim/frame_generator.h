#pragma once

#include <cstdint>
#include <memory>
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

// Renders the frames of one camera as FrameGenerator::Render does, byte for byte, at a fraction
// of the cost: the picture is rendered in full once per change of the settings (window,
// sub-sampling, mirroring, data width, exposure and gain, black level, imperfections: any field
// of the recipe but the frame number); for each later frame only the pixels of the kept picture
// that show a different frame number are redrawn, and a copy is handed out (the moving marker and
// the frame-number code). With noise on, every frame is rendered in full. Not thread-safe: one
// renderer serves one producer at a time.
class PixelRule;

class FrameRenderer {
public:
    FrameRenderer();
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    std::vector<uint8_t> Render(const FrameRecipe& recipe);
    // Renders the picture of `recipe`'s settings ahead of its frame, so that the frame itself
    // costs only what changes with its number. False when the kept picture already has those
    // settings (or noise makes every frame new).
    bool Warm(const FrameRecipe& recipe);

private:
    struct ChangingLine {
        size_t line;     // index of the line in the frame
        int row;         // its sensor row
        size_t keptRow;  // its scene values in the last frame: m_keptRows row
    };

    void Prepare(const FrameRecipe& recipe);

    bool m_valid = false;
    FrameRecipe m_base;                     // the settings and frame number of m_frame
    std::unique_ptr<PixelRule> m_rule;      // converter values under m_base's settings
    std::vector<uint8_t> m_frame;           // the last frame handed out: m_base's
    std::vector<int> m_lineOffsetOfColumn;  // sensor column -> pixel of a line, -1 if not sent
    std::vector<ChangingLine> m_changingLines;
    std::vector<uint16_t> m_keptRows;  // kSensorWidth scene values per changing sensor row
};

}  // namespace quorix::sim
