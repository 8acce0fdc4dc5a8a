#include "imaging/demosaic.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace quorix {
namespace {

// Where a row or column index beyond the edge reads from: four steps inward keeps the Bayer
// colour. Images smaller than four pixels in that direction fall back to a same-parity index.
int32_t FoldIndex(int32_t index, int32_t count) {
    if (index < 0) {
        index += 4;
    } else if (index >= count) {
        index -= 4;
    }
    if (index < 0 || index >= count) {
        index = count >= 2 ? (index & 1) : 0;
    }
    return index;
}

template <typename Sample>
uint32_t Load(const uint8_t* row, int32_t column) {
    if constexpr (sizeof(Sample) == 1) {
        return row[column];
    } else {
        const uint8_t* p = row + static_cast<ptrdiff_t>(column) * 2;
        return static_cast<uint32_t>(p[0] | (p[1] << 8));
    }
}

template <typename Sample>
void Store(uint8_t* pixel, int32_t channel, uint32_t value) {
    if constexpr (sizeof(Sample) == 1) {
        pixel[channel] = static_cast<uint8_t>(value);
    } else {
        pixel[channel * 2] = static_cast<uint8_t>(value & 0xFF);
        pixel[channel * 2 + 1] = static_cast<uint8_t>(value >> 8);
    }
}

// The kernel for one output pixel. `rows` and `columns` hold the positions of the logical rows
// y-2..y+1 and columns x-2..x+1; redRow and redColumn say whether the cell's red sample lies in
// the pixel's own row and column (index 2) or the one before (index 1), blue takes the other
// ones. The largest 16-bit sum, 16 x 65535, times the largest gain, 512, still fits 32 bits.
template <typename Sample>
struct Kernel {
    static constexpr uint32_t kMax = sizeof(Sample) == 1 ? 255u : 65535u;

    uint32_t kRed;
    uint32_t kBlue;

    static uint32_t Interpolate(const uint8_t* const rows[4], const int32_t columns[4],
                                int32_t centreRow, int32_t centreColumn) {
        const int32_t otherRow = centreRow == 2 ? 0 : 3;
        const int32_t otherColumn = centreColumn == 2 ? 0 : 3;
        return 9 * Load<Sample>(rows[centreRow], columns[centreColumn]) +
               3 * Load<Sample>(rows[centreRow], columns[otherColumn]) +
               3 * Load<Sample>(rows[otherRow], columns[centreColumn]) +
               Load<Sample>(rows[otherRow], columns[otherColumn]);
    }

    void Pixel(uint8_t* out, const uint8_t* const rows[4], const int32_t columns[4], int32_t redRow,
               int32_t redColumn) const {
        const int32_t blueRow = 3 - redRow;
        const int32_t blueColumn = 3 - redColumn;
        const uint32_t green =
            std::min<uint32_t>((Load<Sample>(rows[blueRow], columns[redColumn]) +
                                Load<Sample>(rows[redRow], columns[blueColumn])) >>
                                   1,
                               kMax);
        const uint32_t red =
            std::min<uint32_t>((Interpolate(rows, columns, redRow, redColumn) * kRed) >> 11, kMax);
        const uint32_t blue = std::min<uint32_t>(
            (Interpolate(rows, columns, blueRow, blueColumn) * kBlue) >> 11, kMax);
        Store<Sample>(out, 0, blue);
        Store<Sample>(out, 1, green);
        Store<Sample>(out, 2, red);
    }
};

template <typename Sample, int32_t PixelStep>
void Run(CImageBuffer& destination, const CImageBuffer& source, int32_t phase, uint32_t kRed,
         uint32_t kBlue) {
    const Kernel<Sample> kernel{kRed, kBlue};
    const int32_t width = source.Width();
    const int32_t height = source.Height();
    const int32_t pixelBytes = PixelStep * static_cast<int32_t>(sizeof(Sample));
    // Red sits where row parity is 1 and column parity 0 after the phase's flips.
    const int32_t redRowParity = 1 ^ (phase & 1);
    const int32_t redColumnParity = phase >> 1;

    // Logical indices -2 .. n+1 mapped into the image once, so no kernel tests bounds.
    std::vector<int32_t> columnAt(static_cast<size_t>(width) + 4);
    for (int32_t i = -2; i < width + 2; ++i) {
        columnAt[static_cast<size_t>(i + 2)] = FoldIndex(i, width);
    }
    std::vector<const uint8_t*> rowAt(static_cast<size_t>(height) + 4);
    for (int32_t i = -2; i < height + 2; ++i) {
        rowAt[static_cast<size_t>(i + 2)] = source.Row(FoldIndex(i, height));
    }

    const auto borderPixel = [&](uint8_t* outRow, const uint8_t* const rows[4], int32_t redRow,
                                 int32_t x) {
        const int32_t* columns = &columnAt[static_cast<size_t>(x)];
        const int32_t redColumn = (x & 1) == redColumnParity ? 2 : 1;
        kernel.Pixel(outRow + static_cast<ptrdiff_t>(x) * pixelBytes, rows, columns, redRow,
                     redColumn);
    };

    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* const* rows = &rowAt[static_cast<size_t>(y)];
        const int32_t redRow = (y & 1) == redRowParity ? 2 : 1;
        uint8_t* outRow = destination.Row(y);
        const bool borderRow = y < 2 || y > height - 3;
        const int32_t interiorEnd = borderRow ? 0 : std::max(width - 2, 2);
        const int32_t leftEnd = std::min(2, width);
        for (int32_t x = 0; x < (borderRow ? width : leftEnd); ++x) {
            borderPixel(outRow, rows, redRow, x);
        }
        if (borderRow) {
            continue;
        }
        // Interior: every neighbour lies inside the image, read at fixed offsets.
        for (int32_t x = 2; x < interiorEnd; ++x) {
            const int32_t columns[4] = {x - 2, x - 1, x, x + 1};
            const int32_t redColumn = (x & 1) == redColumnParity ? 2 : 1;
            kernel.Pixel(outRow + static_cast<ptrdiff_t>(x) * pixelBytes, rows, columns, redRow,
                         redColumn);
        }
        for (int32_t x = std::max(leftEnd, width - 2); x < width; ++x) {
            borderPixel(outRow, rows, redRow, x);
        }
    }
}

}  // namespace

int32_t EffectiveBayerPhase(int32_t bayerMode, bool mirrorVertical, bool mirrorHorizontal,
                            bool subSampling) {
    int32_t phase = bayerMode & 3;
    if (mirrorVertical) {
        phase ^= 1;
    }
    if (mirrorHorizontal) {
        phase ^= 2;
    }
    if (subSampling) {
        phase ^= 1;
    }
    return phase;
}

uint32_t BayerGainFixed(int32_t percent) {
    return static_cast<uint32_t>(std::clamp(percent, 0, 400)) * 128u / 100u;
}

bool Demosaic(CImageBuffer& destination, const CImageBuffer& source, int32_t phase,
              int32_t redGainPercent, int32_t blueGainPercent) {
    if (destination.Bits() == nullptr || source.Bits() == nullptr ||
        destination.Width() != source.Width() || destination.Height() != source.Height()) {
        return false;
    }
    phase &= 3;
    const uint32_t kRed = BayerGainFixed(redGainPercent);
    const uint32_t kBlue = BayerGainFixed(blueGainPercent);
    const uint16_t in = source.BitsPerPixel();
    const uint16_t out = destination.BitsPerPixel();
    if (in == 8 && out == 24) {
        Run<uint8_t, 3>(destination, source, phase, kRed, kBlue);
    } else if (in == 8 && out == 32) {
        Run<uint8_t, 4>(destination, source, phase, kRed, kBlue);
    } else if (in == 16 && out == 48) {
        Run<uint16_t, 3>(destination, source, phase, kRed, kBlue);
    } else if (in == 16 && out == 64) {
        Run<uint16_t, 4>(destination, source, phase, kRed, kBlue);
    } else {
        return false;
    }
    return true;
}

}  // namespace quorix
