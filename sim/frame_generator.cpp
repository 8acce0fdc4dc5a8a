#include "sim/frame_generator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

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

// How a sensor pixel's nominal scene value becomes a converter value under one recipe: exposure,
// gain, colour cast, dark offset and black level, vignetting and noise. Without per-pixel effects
// the value depends only on the nominal value and the filter colour, through a table.
class PixelRule {
public:
    explicit PixelRule(const FrameRecipe& recipe)
        : m_recipe(recipe),
          m_offset(static_cast<double>(recipe.imperfections.darkOffset) + recipe.blackShift),
          m_perPixel(recipe.imperfections.vignetting != 0.0 ||
                     recipe.imperfections.noiseSigma != 0.0) {
        if (m_perPixel)
            return;
        for (CfaColour colour : {CfaColour::kRed, CfaColour::kGreen, CfaColour::kBlue}) {
            auto& table = m_lut[ColourIndex(colour)];
            table.resize(kConverterMax + 1);
            const double scale = recipe.readout.brightness * CastOf(recipe.imperfections, colour);
            for (int v = 0; v <= kConverterMax; ++v)
                table[static_cast<size_t>(v)] =
                    static_cast<uint16_t>(ClipToConverter(v * scale + m_offset));
        }
    }

    int Value(int row, int column, CfaColour colour, uint16_t nominal, uint32_t frameNumber) const {
        if (!m_perPixel)
            return m_lut[ColourIndex(colour)][nominal];
        const Imperfections& imp = m_recipe.imperfections;
        double light = nominal * m_recipe.readout.brightness * CastOf(imp, colour);
        if (imp.vignetting != 0.0) {
            const double dr = row - kCentreRow;
            const double dc = column - kCentreColumn;
            light *= 1.0 - imp.vignetting * (dr * dr + dc * dc) / kCornerSquared;
        }
        double v = light + m_offset;
        if (imp.noiseSigma != 0.0)
            v += imp.noiseSigma * UnitNoise(imp.noiseSeed, frameNumber, row, column);
        return ClipToConverter(v);
    }

private:
    static constexpr double kCentreRow = (kSensorHeight - 1) / 2.0;
    static constexpr double kCentreColumn = (kSensorWidth - 1) / 2.0;
    static constexpr double kCornerSquared =
        kCentreRow * kCentreRow + kCentreColumn * kCentreColumn;

    const FrameRecipe& m_recipe;
    double m_offset;
    bool m_perPixel;
    std::array<std::vector<uint16_t>, 3> m_lut;
};

namespace {

bool IsDefect(int row, int column) {
    const auto at = [&](const SensorPixel& p) { return p.row == row && p.column == column; };
    return std::any_of(kHotPixels.begin(), kHotPixels.end(), at) ||
           std::any_of(kDeadPixels.begin(), kDeadPixels.end(), at);
}

// Puts the defect list into a rendered frame: hot pixels at full scale, dead pixels at 0.
void PlaceDefects(std::vector<uint8_t>& frame, const std::vector<int>& rows,
                  const std::vector<int>& columns, int bpp) {
    const size_t width = columns.size();
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

}  // namespace

std::vector<uint8_t> FrameGenerator::Render(const FrameRecipe& recipe) {
    const ReadoutSettings& r = recipe.readout;
    const int bpp = r.bytesPerPixel == 2 ? 2 : 1;
    const std::vector<int> rows = LineRows(r);
    const std::vector<int> columns = PixelColumns(r);
    const size_t width = columns.size();
    std::vector<uint8_t> frame(rows.size() * width * static_cast<size_t>(bpp), 0);
    const PixelRule rule(recipe);

    std::vector<uint16_t> sceneRow(kSensorWidth);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int row = rows[i];
        if (row == kFiller)
            continue;  // a line the sensor did not deliver stays 0
        if (recipe.imperfections.flatTarget >= 0)
            std::fill(
                sceneRow.begin(), sceneRow.end(),
                static_cast<uint16_t>(std::min(recipe.imperfections.flatTarget, kConverterMax)));
        else
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
            StoreSample(line + k * static_cast<size_t>(bpp), bpp,
                        rule.Value(row, column, colour, nominal, recipe.frameNumber));
        }
    }
    if (recipe.imperfections.defectPixels)
        PlaceDefects(frame, rows, columns, bpp);
    return frame;
}

namespace {

// Whether two recipes make the same picture apart from what the frame number shows. Every
// register-derived setting counts, so that no setting the picture depends on can be missed.
bool SamePicture(const FrameRecipe& a, const FrameRecipe& b) {
    return a.readout == b.readout && a.blackShift == b.blackShift &&
           a.imperfections == b.imperfections;
}

}  // namespace

FrameRenderer::FrameRenderer() = default;
FrameRenderer::~FrameRenderer() = default;

std::vector<uint8_t> FrameRenderer::Render(const FrameRecipe& recipe) {
    // Noise changes every pixel of every frame: nothing to keep.
    if (recipe.imperfections.noiseSigma != 0.0) {
        m_valid = false;
        return FrameGenerator::Render(recipe);
    }
    if (!m_valid || !SamePicture(recipe, m_base)) {
        m_valid = false;
        Prepare(recipe);
        m_valid = true;
        return m_frame;
    }

    const int bpp = m_base.readout.bytesPerPixel == 2 ? 2 : 1;
    const size_t width = static_cast<size_t>(std::max(m_base.readout.frameWidth, 0));
    const bool defects = m_base.imperfections.defectPixels;
    std::vector<uint16_t> sceneRow(kSensorWidth);
    // Only the lines showing the marker and the frame-number code change from frame to frame,
    // and of those only the pixels whose scene value differs from the kept frame's (the previous
    // frame's: a marker step and the code bits that flipped); they are found a block of columns
    // at a time. The kept frame becomes this frame.
    constexpr int kBlock = 64;
    static_assert(kSensorWidth % kBlock == 0);
    for (const ChangingLine& changing : m_changingLines) {
        const int row = changing.row;
        Scene::NominalRow(row, recipe.frameNumber, sceneRow.data());
        uint16_t* kept = m_keptRows.data() + changing.keptRow * kSensorWidth;
        uint8_t* line = m_frame.data() + changing.line * width * static_cast<size_t>(bpp);
        for (int block = 0; block < kSensorWidth; block += kBlock) {
            if (std::memcmp(sceneRow.data() + block, kept + block, kBlock * sizeof(uint16_t)) == 0)
                continue;
            for (int column = block; column < block + kBlock; ++column) {
                const uint16_t nominal = sceneRow[static_cast<size_t>(column)];
                const int k = m_lineOffsetOfColumn[static_cast<size_t>(column)];
                if (nominal == kept[column] || k < 0 || (defects && IsDefect(row, column)))
                    continue;
                StoreSample(line + static_cast<size_t>(k) * static_cast<size_t>(bpp), bpp,
                            m_rule->Value(row, column, Scene::ColourAt(row, column), nominal,
                                          recipe.frameNumber));
            }
            std::copy_n(sceneRow.data() + block, kBlock, kept + block);
        }
    }
    m_base.frameNumber = recipe.frameNumber;
    return m_frame;
}

bool FrameRenderer::Warm(const FrameRecipe& recipe) {
    if (recipe.imperfections.noiseSigma != 0.0 || (m_valid && SamePicture(recipe, m_base)))
        return false;
    m_valid = false;
    Prepare(recipe);
    m_valid = true;
    return true;
}

void FrameRenderer::Prepare(const FrameRecipe& recipe) {
    m_base = recipe;
    m_rule = std::make_unique<PixelRule>(m_base);
    m_frame = FrameGenerator::Render(recipe);
    const std::vector<int> rows = FrameGenerator::LineRows(recipe.readout);
    const std::vector<int> columns = FrameGenerator::PixelColumns(recipe.readout);
    m_lineOffsetOfColumn.assign(kSensorWidth, -1);
    for (size_t k = 0; k < columns.size(); ++k) {
        if (columns[k] >= 0 && columns[k] < kSensorWidth)
            m_lineOffsetOfColumn[static_cast<size_t>(columns[k])] = static_cast<int>(k);
    }
    m_changingLines.clear();
    for (size_t i = 0; i < rows.size(); ++i) {
        // An even target shows no frame number.
        if (rows[i] != FrameGenerator::kFiller && recipe.imperfections.flatTarget < 0 &&
            Scene::RowChangesWithFrame(rows[i]))
            m_changingLines.push_back({i, rows[i], m_changingLines.size()});
    }
    m_keptRows.assign(m_changingLines.size() * kSensorWidth, 0);
    for (const ChangingLine& changing : m_changingLines)
        Scene::NominalRow(changing.row, recipe.frameNumber,
                          m_keptRows.data() + changing.keptRow * kSensorWidth);
}

}  // namespace quorix::sim
