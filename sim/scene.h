#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "camera/camera_model.h"

namespace quorix::sim {

// The scene the emulated camera looks at, in sensor coordinates: row 0 is the top of the scene as
// a viewer sees it, column 0 its left edge; 2048 x 1536 pixels, one per sensor pixel. Values are
// nominal 12-bit converter values: what the sensor reads at the nominal exposure and gain (the
// host's defaults, see emulator.h); other settings scale them.
//
// Bands from top to bottom:
//   rows    0.. 767  colour patches: 3 rows of 8 patches, 256 x 256 pixels, kPatchColours
//   rows  768..1023  horizontal gray ramp: value = 2 x column (0..4094) in all three colours
//   rows 1024..1279  vertical gray ramp: value = 16 x (row - 1024) (0..4080) in all colours
//   rows 1280..1407  marker lane: gray kDarkLevel with a square marker of kMarkerLevel that moves
//                    with the frame number
//   rows 1408..1535  frame-number code: kDarkLevel with 32 cells of kMarkerLevel / kDarkLevel
//                    holding the frame number's bits
// Outside the 2048 x 1536 pixels (the sensor's margins) the scene is black (0).
//
// The colour filter, counted from the scene's top-left pixel: G R on even rows, B G on odd rows.
// Windows start on even rows and columns, so every window has the same phase.

inline constexpr int kSensorWidth = camera::kSensorWidth;
inline constexpr int kSensorHeight = camera::kSensorHeight;
// Largest value of the sensor's 12-bit analogue-to-digital converter.
inline constexpr int kConverterMax = 4095;

enum class CfaColour { kRed, kGreen, kBlue };

// A nominal colour of the scene, 12-bit per channel.
struct SceneColour {
    uint16_t red;
    uint16_t green;
    uint16_t blue;
    friend bool operator==(const SceneColour&, const SceneColour&) = default;
};

// Colour patches: patch (i, j), i = 0..2 from the top, j = 0..7 from the left, covers rows
// [256 i, 256 i + 256) and columns [256 j, 256 j + 256); its colour is kPatchColours[8 i + j].
inline constexpr int kPatchSize = 256;
inline constexpr int kPatchColumns = 8;
inline constexpr int kPatchRows = 3;
inline constexpr int kPatchTop = 0;
inline constexpr size_t kPatchCount = static_cast<size_t>(kPatchRows) * kPatchColumns;
inline constexpr std::array<SceneColour, kPatchCount> kPatchColours = {{
    // Gray steps, then the primaries.
    {3600, 3600, 3600},
    {2700, 2700, 2700},
    {1800, 1800, 1800},
    {900, 900, 900},
    {100, 100, 100},
    {3200, 400, 400},
    {400, 3200, 400},
    {400, 400, 3200},
    // Secondaries and mixtures.
    {400, 3200, 3200},
    {3200, 400, 3200},
    {3200, 3200, 400},
    {3200, 1800, 400},
    {1800, 400, 3200},
    {400, 1800, 1800},
    {1800, 1000, 400},
    {3200, 1800, 2400},
    // Every channel different, so a swapped pair of channels shows.
    {2000, 1200, 400},
    {400, 2000, 1200},
    {1200, 400, 2000},
    {3000, 2200, 1400},
    {1400, 3000, 2200},
    {2200, 1400, 3000},
    {600, 1000, 1400},
    {2600, 2300, 2000},
}};

// Horizontal gray ramp: rows [768, 1024), value = kHorizontalRampSlope x column.
inline constexpr int kHorizontalRampTop = 768;
inline constexpr int kHorizontalRampHeight = 256;
inline constexpr int kHorizontalRampSlope = 2;

// Vertical gray ramp: rows [1024, 1280), value = kVerticalRampSlope x (row - 1024).
inline constexpr int kVerticalRampTop = 1024;
inline constexpr int kVerticalRampHeight = 256;
inline constexpr int kVerticalRampSlope = 16;

// Gray of the marker lane and the code band outside the marker and the set bits.
inline constexpr uint16_t kDarkLevel = 256;
// Gray of the marker and of set code bits.
inline constexpr uint16_t kMarkerLevel = 3600;

// Marker lane: rows [1280, 1408). The marker is a kMarkerSize square at rows
// [kMarkerTop, kMarkerTop + kMarkerSize) and columns [x, x + kMarkerSize) with
// x = kMarkerStep x (frame number mod kMarkerPositions).
inline constexpr int kMarkerLaneTop = 1280;
inline constexpr int kMarkerLaneHeight = 128;
inline constexpr int kMarkerTop = 1312;
inline constexpr int kMarkerSize = 64;
inline constexpr int kMarkerStep = 32;
inline constexpr int kMarkerPositions = (kSensorWidth - kMarkerSize) / kMarkerStep + 1;  // 63

// Frame-number code: rows [1408, 1536). Bit k of the 32-bit frame number (k = 0 is the least
// significant) is the cell at rows [kCodeCellTop, kCodeCellTop + kCodeCellHeight) and columns
// [kCodeCellWidth x k, kCodeCellWidth x (k + 1)): kMarkerLevel when set, kDarkLevel when clear.
inline constexpr int kCodeBandTop = 1408;
inline constexpr int kCodeBandHeight = 128;
inline constexpr int kCodeCellTop = 1440;
inline constexpr int kCodeCellHeight = 64;
inline constexpr int kCodeCellWidth = 64;
inline constexpr int kCodeBits = 32;

// The scene as functions of sensor coordinates. A static class: the scene is the same for every
// emulated camera. Thread-safe.
class Scene {
public:
    // Colour filter at a sensor pixel: G R on even rows, B G on odd rows.
    static CfaColour ColourAt(int row, int column);
    // Nominal colour of the scene at a sensor pixel in the given frame; black outside the sensor.
    static SceneColour ColourOf(int row, int column, uint32_t frameNumber);
    // What the pixel's photosite sees: the channel of ColourOf picked by the colour filter.
    static uint16_t NominalSample(int row, int column, uint32_t frameNumber);
    // Column of the marker's left edge in the given frame.
    static int MarkerColumn(uint32_t frameNumber);

    // Fills `out` with the nominal samples of sensor row `row`, all kSensorWidth columns, for the
    // given frame. Rows outside the sensor are black. Fast: static rows are copied from a cache.
    static void NominalRow(int row, uint32_t frameNumber, uint16_t* out);
    // Whether sensor row `row` can differ from one frame to another (the marker's rows and the
    // frame-number code's cells); every other row is the same in every frame.
    static bool RowChangesWithFrame(int row);
};

}  // namespace quorix::sim
