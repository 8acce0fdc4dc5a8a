#pragma once

// Reading a delivered picture back into scene coordinates. The camera model (sim/emulator.h) says
// where each picture pixel comes from for a capture window, 2x2 sub-sampling and the mirrors; the
// public header says how the colour types lay the pixels out and which row comes first; the scene
// (sim/scene.h) says what should be there. The checks sample regions of the picture (patch
// centres, a few ramp rows and columns, the marker lane and the frame-number cells) rather than
// every pixel, so that the whole matrix of formats stays quick under the sanitizers.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/scene.h"

namespace quorix::test {

// A capture window as Quorix_SetCaptureWindowEx takes it [pixels].
struct CaptureWindow {
    int32_t hStart = 0;
    int32_t vStart = 0;
    int32_t width = sim::kSensorWidth;
    int32_t height = sim::kSensorHeight;
};

// Row length of a delivered picture: every row is padded to a multiple of 4 bytes [bytes].
inline size_t StrideOf(int32_t width, int32_t bitsPerPixel) {
    return (static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel / 8) + 3) &
           ~static_cast<size_t>(3);
}

// Where the pixels of a picture come from: the scene row of every picture row (top row first) and
// the scene column of every picture column (left column first).
struct PictureGeometry {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<int> sceneRow;
    std::vector<int> sceneColumn;

    // Whether the scene rectangle [row0, row1) x [column0, column1) lies within the part of the
    // scene the picture spans (a sub-sampled picture skips rows and columns inside that span).
    bool Spans(int row0, int row1, int column0, int column1) const {
        const auto [rowMin, rowMax] = std::minmax_element(sceneRow.begin(), sceneRow.end());
        const auto [colMin, colMax] = std::minmax_element(sceneColumn.begin(), sceneColumn.end());
        return !sceneRow.empty() && !sceneColumn.empty() && row0 >= *rowMin &&
               row1 - 1 <= *rowMax && column0 >= *colMin && column1 - 1 <= *colMax;
    }
    // Picture rows whose scene row lies in [row0, row1), top first.
    std::vector<int> RowsIn(int row0, int row1) const { return Within(sceneRow, row0, row1); }
    // Picture columns whose scene column lies in [column0, column1), left first.
    std::vector<int> ColumnsIn(int column0, int column1) const {
        return Within(sceneColumn, column0, column1);
    }

private:
    static std::vector<int> Within(const std::vector<int>& map, int first, int end) {
        std::vector<int> picked;
        for (size_t i = 0; i < map.size(); ++i) {
            if (map[i] >= first && map[i] < end) {
                picked.push_back(static_cast<int>(i));
            }
        }
        return picked;
    }
};

// The picture the camera delivers for a capture window, sub-sampling and mirrors.
//
// At full resolution the sensor crops the window itself, so the picture is the window, turned
// round by the mirrors.
//
// With 2x2 sub-sampling the sensor reads the whole sensor: rows 4k+1 and 4k+2, top first (bottom
// first with the vertical mirror), and columns 4k and 4k+1, each line right to left (left to
// right with the horizontal mirror). No register carries the window's position in this mode: the
// FPGA keeps the first lines and, of every line, the first pixels as the sensor sends them, and
// the host turns every line round. So a sub-sampled window shows the first rows and the last
// columns of what the camera sees: the scene's top rows and right end without mirrors, its
// bottom rows with the vertical mirror and its left end with the horizontal one.
inline PictureGeometry ExpectedGeometry(const CaptureWindow& window, bool subSampled, bool mirrorH,
                                        bool mirrorV) {
    PictureGeometry g;
    if (!subSampled) {
        g.width = window.width;
        g.height = window.height;
        for (int y = 0; y < g.height; ++y) {
            g.sceneRow.push_back(mirrorV ? window.vStart + window.height - 1 - y
                                         : window.vStart + y);
        }
        for (int x = 0; x < g.width; ++x) {
            g.sceneColumn.push_back(mirrorH ? window.hStart + window.width - 1 - x
                                            : window.hStart + x);
        }
        return g;
    }
    g.width = window.width / 2;
    g.height = window.height / 2;
    std::vector<int> lines;  // scene rows in the order the sensor sends them
    for (int base = 0; base + 1 < sim::kSensorHeight; base += 4) {
        lines.push_back(base + 1);
        if (base + 2 < sim::kSensorHeight) {
            lines.push_back(base + 2);
        }
    }
    if (mirrorV) {
        std::reverse(lines.begin(), lines.end());
    }
    std::vector<int> pixels;  // scene columns in the order the sensor sends them
    for (int base = 0; base < sim::kSensorWidth; base += 4) {
        pixels.push_back(base);
        pixels.push_back(base + 1);
    }
    if (!mirrorH) {
        std::reverse(pixels.begin(), pixels.end());
    }
    for (int y = 0; y < g.height; ++y) {
        g.sceneRow.push_back(lines.at(static_cast<size_t>(y)));
    }
    for (int x = 0; x < g.width; ++x) {
        g.sceneColumn.push_back(pixels.at(static_cast<size_t>(g.width - 1 - x)));
    }
    return g;
}

// The colour filter at a scene pixel: G R on even rows, B G on odd rows.
enum class Filter { kRed, kGreen, kBlue };
inline Filter FilterAt(int row, int column) {
    if (row % 2 == 0) {
        return column % 2 == 0 ? Filter::kGreen : Filter::kRed;
    }
    return column % 2 == 0 ? Filter::kBlue : Filter::kGreen;
}

// The brightness of the application's default exposure (17 ms) and gain: the camera reads the
// scene's nominal values (emulator.h), in every read-out mode.
inline constexpr double kDefaultBrightness = 1.0;

// The converter value the camera reads for a nominal scene value at the brightness its exposure
// and gain give (emulator.h): scaled, rounded and clipped to 12 bits.
inline int Captured12(int nominal, double brightness) {
    const double value = std::floor(nominal * brightness + 0.5);
    return static_cast<int>(std::clamp(value, 0.0, 4095.0));
}

// A 12-bit converter value as an 8-bit sample or channel (the top 8 bits) or a 16-bit one (full
// scale: the 12 bits in the high bits of the word).
inline int ToOutputScale(int value12, bool wide) {
    return wide ? value12 << 4 : value12 >> 4;
}

// Hue of a colour [degrees, 0..360).
inline double HueOf(double red, double green, double blue) {
    const double top = std::max({red, green, blue});
    const double span = top - std::min({red, green, blue});
    if (span <= 0.0) {
        return 0.0;
    }
    double hue;
    if (top == red) {
        hue = 60.0 * (green - blue) / span;
    } else if (top == green) {
        hue = 60.0 * (blue - red) / span + 120.0;
    } else {
        hue = 60.0 * (red - green) / span + 240.0;
    }
    return hue < 0.0 ? hue + 360.0 : hue;
}
inline double HueDistance(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, 360.0 - d);
}

// A delivered picture in the caller's buffer: pixels addressed by picture position (x from the
// left, y from the top) whatever the row order of the copy.
class PictureView {
public:
    PictureView(const uint8_t* bits, int32_t bitsPerPixel, int32_t width, int32_t height,
                int32_t orientation)
        : m_bits(bits),
          m_bitsPerPixel(bitsPerPixel),
          m_width(width),
          m_height(height),
          m_stride(StrideOf(width, bitsPerPixel)),
          m_topDown(orientation != 0) {}

    int32_t BitsPerPixel() const { return m_bitsPerPixel; }
    bool IsRaw() const { return m_bitsPerPixel <= 16; }
    // 16-bit samples or channels: the raw 16-bit type and the 48- and 64-bit colour types.
    bool IsWide() const { return m_bitsPerPixel == 16 || m_bitsPerPixel >= 48; }
    bool HasFourthChannel() const { return m_bitsPerPixel == 32 || m_bitsPerPixel == 64; }

    // Value `index` of a pixel as stored: the raw sample for index 0 of the raw types; blue,
    // green, red and the unused fourth channel for indices 0..3 of the colour types.
    int Value(int x, int y, int index) const {
        // Flag 0 copies the picture's bottom row first.
        const int memoryRow = m_topDown ? y : m_height - 1 - y;
        const uint8_t* p = m_bits + static_cast<size_t>(memoryRow) * m_stride +
                           static_cast<size_t>(x) * static_cast<size_t>(m_bitsPerPixel / 8);
        if (!IsWide()) {
            return p[index];
        }
        return p[2 * index] | (p[2 * index + 1] << 8);
    }
    int Raw(int x, int y) const { return Value(x, y, 0); }
    int Blue(int x, int y) const { return Value(x, y, 0); }
    int Green(int x, int y) const { return Value(x, y, 1); }
    int Red(int x, int y) const { return Value(x, y, 2); }

    // A stored sample or channel on the converter's 12-bit scale. An 8-bit value holds the top 8
    // of the 12 bits, so the middle of the values it stands for is taken.
    double To12(int value) const { return IsWide() ? value / 16.0 : value * 16.0 + 7.5; }
    // The pixel's level on the 12-bit scale: the raw sample, or the green channel.
    double Level12(int x, int y) const { return To12(IsRaw() ? Raw(x, y) : Green(x, y)); }

private:
    const uint8_t* m_bits;
    int32_t m_bitsPerPixel;
    int32_t m_width;
    int32_t m_height;
    size_t m_stride;
    bool m_topDown;
};

// Mismatches found by one check: counted, with the first few described for the failure message.
class Findings {
public:
    explicit Findings(std::string what) : m_what(std::move(what)) {}
    void Add(const std::string& description) {
        if (m_count < kKept) {
            m_described += "\n  " + description;
        }
        ++m_count;
    }
    void Checked(int n = 1) { m_checked += n; }
    int Count() const { return m_count; }
    int CheckedCount() const { return m_checked; }
    // Fails the test when anything was found.
    void Report() const {
        EXPECT_EQ(m_count, 0) << m_what << ": " << m_count << " mismatches in " << m_checked
                              << " checks; first ones:" << m_described;
    }

private:
    static constexpr int kKept = 6;
    std::string m_what;
    std::string m_described;
    int m_count = 0;
    int m_checked = 0;
};

inline std::string At(int x, int y, int row, int column) {
    return "picture (" + std::to_string(x) + "," + std::to_string(y) + ") = scene row " +
           std::to_string(row) + " column " + std::to_string(column);
}

// --- Colour patches ------------------------------------------------------------------------------

// Distance kept from every patch edge: the centre 64 x 64 of each 256 x 256 patch is sampled.
inline constexpr int kPatchMargin = 96;

// Checks the centre of every colour patch the picture spans: channel magnitudes (8-bit = 12-bit
// >> 4, 16-bit = 12-bit << 4, within `tolerance` counts of the output scale) and hue. A raw
// picture is read through its colour filter: each sample counts for the filter colour of the
// scene pixel it comes from. Returns how many patches were checked.
inline int CheckPatches(const PictureView& view, const PictureGeometry& g, double brightness,
                        Findings& findings) {
    const double tolerance = view.IsWide() ? 32.0 : 2.0;
    constexpr double kHueTolerance = 3.0;  // degrees
    int patches = 0;
    for (int i = 0; i < sim::kPatchRows; ++i) {
        for (int j = 0; j < sim::kPatchColumns; ++j) {
            const int row0 = sim::kPatchTop + sim::kPatchSize * i + kPatchMargin;
            const int column0 = sim::kPatchSize * j + kPatchMargin;
            const int row1 = row0 + sim::kPatchSize - 2 * kPatchMargin;
            const int column1 = column0 + sim::kPatchSize - 2 * kPatchMargin;
            if (!g.Spans(row0, row1, column0, column1)) {
                continue;
            }
            const std::vector<int> ys = g.RowsIn(row0, row1);
            const std::vector<int> xs = g.ColumnsIn(column0, column1);
            std::array<double, 3> sum{};  // red, green, blue
            std::array<int, 3> count{};
            int fourth = 0;
            for (const int y : ys) {
                for (const int x : xs) {
                    if (view.IsRaw()) {
                        const auto filter =
                            static_cast<size_t>(FilterAt(g.sceneRow[static_cast<size_t>(y)],
                                                         g.sceneColumn[static_cast<size_t>(x)]));
                        sum[filter] += view.Raw(x, y);
                        ++count[filter];
                        continue;
                    }
                    sum[0] += view.Red(x, y);
                    sum[1] += view.Green(x, y);
                    sum[2] += view.Blue(x, y);
                    count[0] = count[1] = ++count[2];
                    if (view.HasFourthChannel() && view.Value(x, y, 3) != 0) {
                        ++fourth;
                    }
                }
            }
            const size_t index = static_cast<size_t>(sim::kPatchColumns * i + j);
            const sim::SceneColour& nominal = sim::kPatchColours[index];
            const std::string where = "patch " + std::to_string(index) + " (scene rows " +
                                      std::to_string(row0) + ".., columns " +
                                      std::to_string(column0) + "..)";
            if (count[0] == 0 || count[1] == 0 || count[2] == 0) {
                findings.Add(where + ": no samples of every colour");
                continue;
            }
            ++patches;
            const std::array<int, 3> nominal12 = {nominal.red, nominal.green, nominal.blue};
            std::array<double, 3> mean{};
            static constexpr std::array<const char*, 3> kNames = {"red", "green", "blue"};
            for (size_t c = 0; c < 3; ++c) {
                mean[c] = sum[c] / count[c];
                const int expected =
                    ToOutputScale(Captured12(nominal12[c], brightness), view.IsWide());
                findings.Checked();
                if (std::fabs(mean[c] - expected) > tolerance) {
                    findings.Add(where + ": " + kNames[c] + " " + std::to_string(mean[c]) +
                                 ", expected " + std::to_string(expected));
                }
            }
            const bool gray = nominal.red == nominal.green && nominal.green == nominal.blue;
            if (!gray) {
                const double expectedHue = HueOf(nominal.red, nominal.green, nominal.blue);
                const double hue = HueOf(mean[0], mean[1], mean[2]);
                findings.Checked();
                if (HueDistance(hue, expectedHue) > kHueTolerance) {
                    findings.Add(where + ": hue " + std::to_string(hue) + ", expected " +
                                 std::to_string(expectedHue));
                }
            }
            if (fourth != 0) {
                findings.Add(where + ": " + std::to_string(fourth) +
                             " pixels with a non-zero fourth channel");
            }
        }
    }
    return patches;
}

// --- Gray ramps ----------------------------------------------------------------------------------

// The nominal gray of the two ramp bands at a scene pixel; -1 outside them.
inline int RampValue(int row, int column) {
    if (row >= sim::kHorizontalRampTop &&
        row < sim::kHorizontalRampTop + sim::kHorizontalRampHeight) {
        return sim::kHorizontalRampSlope * column;
    }
    if (row >= sim::kVerticalRampTop && row < sim::kVerticalRampTop + sim::kVerticalRampHeight) {
        return sim::kVerticalRampSlope * (row - sim::kVerticalRampTop);
    }
    return -1;
}

// Compares one picture pixel inside a ramp band with the ramp: every channel of a colour picture,
// the sample of a raw one. A raw sample is the ramp at its own scene pixel. A demosaiced pixel
// mixes its neighbours (and stands for a point half a pixel away), so its value may lie anywhere
// the ramp takes in its 3 x 3 picture neighbourhood.
inline void CheckRampPixel(const PictureView& view, const PictureGeometry& g, int x, int y,
                           double brightness, Findings& findings) {
    const int row = g.sceneRow[static_cast<size_t>(y)];
    const int column = g.sceneColumn[static_cast<size_t>(x)];
    const int centre = Captured12(RampValue(row, column), brightness);
    int low = centre;
    int high = centre;
    if (!view.IsRaw()) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = std::clamp(x + dx, 0, g.width - 1);
                const int ny = std::clamp(y + dy, 0, g.height - 1);
                const int value = Captured12(RampValue(g.sceneRow[static_cast<size_t>(ny)],
                                                       g.sceneColumn[static_cast<size_t>(nx)]),
                                             brightness);
                low = std::min(low, value);
                high = std::max(high, value);
            }
        }
    }
    // Rounding: half an 8-bit step beyond the middle taken by To12 and one step of the
    // interpolation; a few converter units at 16 bits.
    const double slack = view.IsWide() ? 3.0 : 24.0;
    const int channels = view.IsRaw() ? 1 : 3;
    for (int c = 0; c < channels; ++c) {
        const double value = view.To12(view.Value(x, y, c));
        findings.Checked();
        if (value < low - slack || value > high + slack) {
            findings.Add(At(x, y, row, column) + " channel " + std::to_string(c) + ": " +
                         std::to_string(value) + " on the 12-bit scale, expected " +
                         std::to_string(low) + ".." + std::to_string(high));
        }
    }
}

// Checks the horizontal ramp along up to two picture rows from the middle of its band, and the
// vertical ramp down three picture columns. The horizontal ramp runs left to right in the scene,
// right to left in a picture mirrored left to right; the vertical ramp likewise top to bottom.
// Returns the number of pixels compared.
inline int CheckRamps(const PictureView& view, const PictureGeometry& g, double brightness,
                      Findings& findings) {
    int compared = 0;
    const int stepX = std::max(1, g.width / 128);
    const std::vector<int> rampRows =
        g.RowsIn(sim::kHorizontalRampTop + 112, sim::kHorizontalRampTop + 144);
    if (!rampRows.empty()) {
        for (const int y : {rampRows.front(), rampRows.back()}) {
            for (int x = 2; x < g.width - 2; x += stepX) {
                CheckRampPixel(view, g, x, y, brightness, findings);
                ++compared;
            }
        }
    }
    // Rows well inside the vertical ramp, so that no neighbour falls into another band.
    const std::vector<int> verticalRows =
        g.RowsIn(sim::kVerticalRampTop + 8, sim::kVerticalRampTop + sim::kVerticalRampHeight - 8);
    if (!verticalRows.empty()) {
        for (const int x : {g.width / 4, g.width / 2, 3 * g.width / 4}) {
            for (size_t i = 0; i < verticalRows.size(); i += 2) {
                CheckRampPixel(view, g, x, verticalRows[i], brightness, findings);
                ++compared;
            }
        }
    }
    return compared;
}

// --- Frame number and marker ---------------------------------------------------------------------

// Half-way between the dark gray and the marker level, on the 12-bit scale.
inline double BrightThreshold(double brightness) {
    return (Captured12(sim::kDarkLevel, brightness) + Captured12(sim::kMarkerLevel, brightness)) /
           2.0;
}

// The frame-number cells the picture spans and what they hold.
struct FrameCode {
    uint32_t visible = 0;  // bit k set: cell k was read
    uint32_t value = 0;    // the bits read (0 where not visible)
};

// Reads the frame-number cells whose centre (32 x 32 pixels, 16 inside every edge) the picture
// spans. A cell whose mean is neither clearly dark nor clearly bright is a mismatch.
inline FrameCode ReadFrameCode(const PictureView& view, const PictureGeometry& g, double brightness,
                               Findings& findings) {
    constexpr int kInset = 16;
    const double dark = Captured12(sim::kDarkLevel, brightness);
    const double bright = Captured12(sim::kMarkerLevel, brightness);
    const double margin = (bright - dark) / 4.0;
    const int row0 = sim::kCodeCellTop + kInset;
    const int row1 = sim::kCodeCellTop + sim::kCodeCellHeight - kInset;
    FrameCode code;
    for (int k = 0; k < sim::kCodeBits; ++k) {
        const int column0 = sim::kCodeCellWidth * k + kInset;
        const int column1 = sim::kCodeCellWidth * (k + 1) - kInset;
        if (!g.Spans(row0, row1, column0, column1)) {
            continue;
        }
        double sum = 0.0;
        int count = 0;
        for (const int y : g.RowsIn(row0, row1)) {
            for (const int x : g.ColumnsIn(column0, column1)) {
                sum += view.Level12(x, y);
                ++count;
            }
        }
        if (count == 0) {
            continue;
        }
        const double mean = sum / count;
        findings.Checked();
        if (std::fabs(mean - dark) > margin && std::fabs(mean - bright) > margin) {
            findings.Add("code cell " + std::to_string(k) + " reads " + std::to_string(mean) +
                         ", neither dark " + std::to_string(dark) + " nor bright " +
                         std::to_string(bright));
        }
        code.visible |= 1u << k;
        if (mean > (dark + bright) / 2.0) {
            code.value |= 1u << k;
        }
    }
    return code;
}

// Compares the marker lane with a marker whose left edge is at scene column `markerColumn`:
// bright well inside the square, dark well beside it on the same rows, and dark above and below
// it across the whole lane. Edges are left alone: the demosaic blurs them and sub-sampling reads
// only every other pair of columns. Adds the mismatches to `findings` when it is given; returns
// how many there are.
inline int MarkerMismatches(const PictureView& view, const PictureGeometry& g, int markerColumn,
                            double brightness, Findings* findings) {
    constexpr int kEdge = 8;
    const double threshold = BrightThreshold(brightness);
    int mismatches = 0;
    const auto check = [&](int x, int y, bool expectBright) {
        const double level = view.Level12(x, y);
        if (findings != nullptr) {
            findings->Checked();
        }
        if ((level > threshold) != expectBright) {
            ++mismatches;
            if (findings != nullptr) {
                findings->Add(
                    At(x, y, g.sceneRow[static_cast<size_t>(y)],
                       g.sceneColumn[static_cast<size_t>(x)]) +
                    (expectBright ? ": dark, expected the marker" : ": bright, expected dark") +
                    " (marker at column " + std::to_string(markerColumn) + ")");
            }
        }
    };
    const std::vector<int> markerRows =
        g.RowsIn(sim::kMarkerTop + kEdge, sim::kMarkerTop + sim::kMarkerSize - kEdge);
    if (!markerRows.empty()) {
        for (const int y :
             {markerRows.front(), markerRows[markerRows.size() / 2], markerRows.back()}) {
            for (int x = 0; x < g.width; ++x) {
                const int column = g.sceneColumn[static_cast<size_t>(x)];
                if (column >= markerColumn + kEdge &&
                    column < markerColumn + sim::kMarkerSize - kEdge) {
                    check(x, y, true);
                } else if (column < markerColumn - kEdge ||
                           column >= markerColumn + sim::kMarkerSize + kEdge) {
                    check(x, y, false);
                }
            }
        }
    }
    // The lane above and below the marker.
    std::vector<int> clearRows = g.RowsIn(sim::kMarkerLaneTop + kEdge, sim::kMarkerTop - kEdge);
    const std::vector<int> below = g.RowsIn(sim::kMarkerTop + sim::kMarkerSize + kEdge,
                                            sim::kMarkerLaneTop + sim::kMarkerLaneHeight - kEdge);
    clearRows.insert(clearRows.end(), below.begin(), below.end());
    for (size_t i = 0; i < clearRows.size(); i += 4) {
        for (int x = 0; x < g.width; x += 2) {
            check(x, clearRows[i], false);
        }
    }
    return mismatches;
}

// What one picture showed.
struct PictureSummary {
    int patches = 0;                      // colour patches checked
    int rampPixels = 0;                   // ramp pixels compared
    FrameCode code;                       // frame-number cells read
    std::optional<uint32_t> frameNumber;  // when the cells pin it down
    bool markerChecked = false;
};

// Checks a picture against the scene: colour patches, ramps, the frame number and the marker.
// `framesProduced` is how many frames the camera had made when the picture was taken: the frame
// shown is one of them. When the cells of bits 0..15 are visible and fewer than 65536 frames were
// made, they give the whole frame number, and the marker is checked at its place; otherwise the
// lane must hold a marker at one of its 63 places, or none in view.
inline PictureSummary CheckPicture(const PictureView& view, const PictureGeometry& g,
                                   double brightness, uint32_t framesProduced) {
    PictureSummary summary;
    Findings patches("colour patches");
    summary.patches = CheckPatches(view, g, brightness, patches);
    patches.Report();

    Findings ramps("gray ramps");
    summary.rampPixels = CheckRamps(view, g, brightness, ramps);
    ramps.Report();

    Findings code("frame-number code");
    summary.code = ReadFrameCode(view, g, brightness, code);
    code.Report();
    constexpr uint32_t kLowBits = 0xFFFF;
    if (framesProduced < 0x10000u) {
        // Fewer frames than 2^16: the upper cells must be dark wherever they are seen.
        EXPECT_EQ(summary.code.value & ~kLowBits, 0u) << "frame number bits 16..31";
        if ((summary.code.visible & kLowBits) == kLowBits) {
            summary.frameNumber = summary.code.value;
        }
    } else if (summary.code.visible == 0xFFFFFFFFu) {
        summary.frameNumber = summary.code.value;
    }
    if (summary.frameNumber) {
        EXPECT_GE(*summary.frameNumber, 1u);
        EXPECT_LE(*summary.frameNumber, framesProduced);
    }

    const bool laneInView =
        !g.RowsIn(sim::kMarkerLaneTop, sim::kMarkerLaneTop + sim::kMarkerLaneHeight).empty();
    if (laneInView) {
        summary.markerChecked = true;
        if (summary.frameNumber) {
            Findings marker("marker");
            MarkerMismatches(
                view, g,
                sim::kMarkerStep * static_cast<int>(*summary.frameNumber % sim::kMarkerPositions),
                brightness, &marker);
            marker.Report();
        } else {
            bool found = false;
            for (int place = 0; place < sim::kMarkerPositions && !found; ++place) {
                found =
                    MarkerMismatches(view, g, sim::kMarkerStep * place, brightness, nullptr) == 0;
            }
            EXPECT_TRUE(found) << "the marker lane shows no marker at any of its places";
        }
    }
    return summary;
}

// Counts the rows of `second` that are not row `height - 1 - y` of `first` (padding excluded):
// the same picture copied in the other row order gives 0.
inline int RowsNotReversed(const uint8_t* first, const uint8_t* second, int32_t width,
                           int32_t height, int32_t bitsPerPixel) {
    const size_t stride = StrideOf(width, bitsPerPixel);
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel / 8);
    int differing = 0;
    for (int y = 0; y < height; ++y) {
        if (std::memcmp(first + static_cast<size_t>(y) * stride,
                        second + static_cast<size_t>(height - 1 - y) * stride, rowBytes) != 0) {
            ++differing;
        }
    }
    return differing;
}

}  // namespace quorix::test
