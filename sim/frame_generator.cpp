#include "sim/frame_generator.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "sim/camera_registers.h"
#include "sim/scene.h"

namespace quorix::sim {

namespace {

// The window positions a sensor read-out visits along one axis, in the order of the sensor's own
// scan (top to bottom, left to right). Sub-sampling keeps two neighbouring positions of every
// four, starting `phase` positions into the window, so the colour filter pattern survives.
std::vector<int> ScanPositions(int start, int size, bool subSampled, int phase) {
    std::vector<int> positions;
    if (size <= 0)
        return positions;
    if (!subSampled) {
        positions.resize(static_cast<size_t>(size));
        for (int i = 0; i < size; ++i)
            positions[static_cast<size_t>(i)] = start + i;
        return positions;
    }
    positions.reserve(static_cast<size_t>(size) / 2 + 2);
    for (int base = 0; base + phase < size; base += 4) {
        for (int k = 0; k < 2; ++k) {
            const int offset = base + phase + k;
            if (offset < size)
                positions.push_back(start + offset);
        }
    }
    return positions;
}

// Where the FPGA starts taking pixels in each line it receives.
int FpgaSkip(const ReadoutSettings& r) {
    if (r.readoutMode == reg::kReadoutFull) {
        // At full resolution the sensor has already cut the window out of its lines; the offset
        // register (2048 - x - width) only tells the FPGA where that window sits in a whole line.
        return 0;
    }
    // Sub-sampled read-out sends whole lines: the FPGA skips the offset's pixels of each line
    // as sent (the host programs 0, so the frame starts at the line's first pixel).
    return std::max(0, r.horizontalOffset);
}

uint64_t Mix(uint64_t x) {
    // A 64-bit finaliser: every input bit affects every output bit.
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return x;
}

// Gaussian noise of unit deviation, a pure function of its arguments: the sum of four uniform
// variables (variance 1/3 in all) scaled to unit variance.
double UnitNoise(uint32_t seed, uint32_t frame, int row, int column) {
    uint64_t h = Mix((static_cast<uint64_t>(seed) << 32) ^ frame);
    h = Mix(h ^ (static_cast<uint64_t>(static_cast<uint32_t>(row)) << 32) ^
            static_cast<uint32_t>(column));
    double sum = 0.0;
    for (int i = 0; i < 4; ++i)
        sum += static_cast<double>((h >> (16 * i)) & 0xFFFF) / 65535.0;
    return (sum - 2.0) * std::sqrt(3.0);
}

int ClipToConverter(double value) {
    const double rounded = std::floor(value + 0.5);
    if (rounded <= 0.0)
        return 0;
    if (rounded >= kConverterMax)
        return kConverterMax;
    return static_cast<int>(rounded);
}

double CastOf(const Imperfections& imp, CfaColour colour) {
    switch (colour) {
        case CfaColour::kRed:
            return imp.castRed;
        case CfaColour::kBlue:
            return imp.castBlue;
        case CfaColour::kGreen:
            break;
    }
    return imp.castGreen;
}

size_t ColourIndex(CfaColour colour) {
    return static_cast<size_t>(colour);
}

void StoreSample(uint8_t* out, int bytesPerPixel, int value12) {
    if (bytesPerPixel == 2) {
        // Full scale: the converter's 12 bits in the high bits of the little-endian word.
        const auto sample = static_cast<uint16_t>(value12 << 4);
        out[0] = static_cast<uint8_t>(sample);
        out[1] = static_cast<uint8_t>(sample >> 8);
    } else {
        out[0] = static_cast<uint8_t>(value12 >> 4);
    }
}

}  // namespace

std::vector<int> FrameGenerator::LineRows(const ReadoutSettings& r) {
    // The sub-sampled read-out starts one line into the window, on a blue-green line.
    std::vector<int> sent = ScanPositions(r.windowY, r.windowHeight, r.subSampleV, 1);
    if (r.mirrorV)
        std::reverse(sent.begin(), sent.end());
    std::vector<int> rows(static_cast<size_t>(std::max(r.frameHeight, 0)), kFiller);
    const size_t count = std::min(rows.size(), sent.size());
    std::copy(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(count), rows.begin());
    return rows;
}

std::vector<int> FrameGenerator::PixelColumns(const ReadoutSettings& r) {
    std::vector<int> sent = ScanPositions(r.windowX, r.windowWidth, r.subSampleH, 0);
    // Lines leave the sensor right to left; the horizontal mirror turns that round.
    if (!r.mirrorH)
        std::reverse(sent.begin(), sent.end());
    std::vector<int> columns(static_cast<size_t>(std::max(r.frameWidth, 0)), kFiller);
    const size_t skip = static_cast<size_t>(FpgaSkip(r));
    for (size_t k = 0; k < columns.size() && skip + k < sent.size(); ++k)
        columns[k] = sent[skip + k];
    return columns;
}

std::vector<uint8_t> FrameGenerator::Render(const FrameRecipe& recipe) {
    const ReadoutSettings& r = recipe.readout;
    const Imperfections& imp = recipe.imperfections;
    const int bpp = r.bytesPerPixel == 2 ? 2 : 1;
    const std::vector<int> rows = LineRows(r);
    const std::vector<int> columns = PixelColumns(r);
    const size_t width = columns.size();
    std::vector<uint8_t> frame(rows.size() * width * static_cast<size_t>(bpp), 0);

    const double offset = static_cast<double>(imp.darkOffset) + recipe.blackShift;
    const bool perPixel = imp.vignetting != 0.0 || imp.noiseSigma != 0.0;
    // Without per-pixel effects a sample depends only on its nominal value and filter colour.
    std::array<std::vector<uint16_t>, 3> lut;
    if (!perPixel) {
        for (CfaColour colour : {CfaColour::kRed, CfaColour::kGreen, CfaColour::kBlue}) {
            auto& table = lut[ColourIndex(colour)];
            table.resize(kConverterMax + 1);
            const double scale = r.brightness * CastOf(imp, colour);
            for (int v = 0; v <= kConverterMax; ++v)
                table[static_cast<size_t>(v)] =
                    static_cast<uint16_t>(ClipToConverter(v * scale + offset));
        }
    }
    const double centreRow = (kSensorHeight - 1) / 2.0;
    const double centreColumn = (kSensorWidth - 1) / 2.0;
    const double cornerSquared = centreRow * centreRow + centreColumn * centreColumn;

    std::vector<uint16_t> sceneRow(kSensorWidth);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int row = rows[i];
        if (row == kFiller)
            continue;  // a line the sensor did not deliver stays 0
        Scene::NominalRow(row, recipe.frameNumber, sceneRow.data());
        // The filter colour alternates along a row; look up the two colours once per line.
        const CfaColour evenColour = Scene::ColourAt(row, 0);
        const CfaColour oddColour = Scene::ColourAt(row, 1);
        uint8_t* line = frame.data() + i * width * static_cast<size_t>(bpp);
        for (size_t k = 0; k < width; ++k) {
            const int column = columns[k];
            if (column == kFiller)
                continue;
            const bool inside = column >= 0 && column < kSensorWidth;
            const uint16_t nominal = inside ? sceneRow[static_cast<size_t>(column)] : 0;
            const CfaColour colour = (column & 1) != 0 ? oddColour : evenColour;
            int value;
            if (!perPixel) {
                value = lut[ColourIndex(colour)][nominal];
            } else {
                double light = nominal * r.brightness * CastOf(imp, colour);
                if (imp.vignetting != 0.0) {
                    const double dr = row - centreRow;
                    const double dc = column - centreColumn;
                    light *= 1.0 - imp.vignetting * (dr * dr + dc * dc) / cornerSquared;
                }
                double v = light + offset;
                if (imp.noiseSigma != 0.0)
                    v += imp.noiseSigma * UnitNoise(imp.noiseSeed, recipe.frameNumber, row, column);
                value = ClipToConverter(v);
            }
            StoreSample(line + k * static_cast<size_t>(bpp), bpp, value);
        }
    }

    if (imp.defectPixels) {
        const auto place = [&](const SensorPixel& pixel, int value) {
            for (size_t i = 0; i < rows.size(); ++i) {
                if (rows[i] != pixel.row)
                    continue;
                for (size_t k = 0; k < width; ++k) {
                    if (columns[k] == pixel.column)
                        StoreSample(frame.data() + (i * width + k) * static_cast<size_t>(bpp), bpp,
                                    value);
                }
            }
        };
        for (const SensorPixel& pixel : kHotPixels)
            place(pixel, kConverterMax);
        for (const SensorPixel& pixel : kDeadPixels)
            place(pixel, 0);
    }
    return frame;
}

}  // namespace quorix::sim
