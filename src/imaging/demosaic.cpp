#include "imaging/demosaic.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "imaging/demosaic_rows.h"
#include "imaging/row_bands.h"

namespace quorix {
namespace {

// Rows per band below which a frame is not worth splitting among threads.
constexpr int32_t kMinRowsPerBand = 32;

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

// The interior of one output row from column `begin` (even) on, two pixels at a time: the sums
// of Kernel regrouped by colour, with the row's sources named as BayerRowSources explains. For
// the colour at even columns and its column sums v = 3 x near row + far row, the even pixel x
// takes 3 v[x] + v[x - 2] and the odd pixel x + 1 takes 3 v[x] + v[x + 2]; for the colour at odd
// columns the even pixel takes 3 v[x - 1] + v[x + 1] and the odd one 3 v[x + 1] + v[x - 1]. Each
// column sum serves two pairs, so it is carried to the next one. Returns the first column not
// done, at most width - 2.
template <typename Sample, int32_t PixelStep, bool RedAtEvenColumns>
int32_t PairRow(uint8_t* out, const BayerRowSources& rows, int32_t begin, int32_t width,
                const BayerRowGains& gains) {
    constexpr ptrdiff_t kPixelBytes = PixelStep * static_cast<ptrdiff_t>(sizeof(Sample));
    const auto columnSum = [](const uint8_t* near, const uint8_t* far, int32_t column) {
        return 3 * Load<Sample>(near, column) + Load<Sample>(far, column);
    };
    const auto scale = [](uint32_t sum, uint32_t gain) {
        return std::min<uint32_t>((sum * gain) >> 11, Kernel<Sample>::kMax);
    };
    const auto store = [out](int32_t x, uint32_t evenColour, uint32_t green, uint32_t oddColour) {
        uint8_t* pixel = out + x * kPixelBytes;
        Store<Sample>(pixel, 0, RedAtEvenColumns ? oddColour : evenColour);
        Store<Sample>(pixel, 1, green);
        Store<Sample>(pixel, 2, RedAtEvenColumns ? evenColour : oddColour);
    };
    const uint8_t* en = rows.evenColourNear;
    const uint8_t* ef = rows.evenColourFar;
    const uint8_t* on = rows.oddColourNear;
    const uint8_t* of = rows.oddColourFar;
    int32_t x = begin;
    if (x + 1 >= width - 2) {
        return x;
    }
    uint32_t evenBefore = columnSum(en, ef, x - 2);
    uint32_t evenHere = columnSum(en, ef, x);
    uint32_t oddBefore = columnSum(on, of, x - 1);
    for (; x + 1 < width - 2; x += 2) {
        const uint32_t evenAfter = columnSum(en, ef, x + 2);
        const uint32_t oddHere = columnSum(on, of, x + 1);
        const uint32_t greenNear = Load<Sample>(on, x);
        store(x, scale(3 * evenHere + evenBefore, gains.evenColour),
              (Load<Sample>(en, x - 1) + greenNear) >> 1,
              scale(3 * oddBefore + oddHere, gains.oddColour));
        store(x + 1, scale(3 * evenHere + evenAfter, gains.evenColour),
              (Load<Sample>(en, x + 1) + greenNear) >> 1,
              scale(3 * oddHere + oddBefore, gains.oddColour));
        evenBefore = evenHere;
        evenHere = evenAfter;
        oddBefore = oddHere;
    }
    return x;
}

template <typename Sample, int32_t PixelStep>
void Run(CImageBuffer& destination, const CImageBuffer& source, int32_t phase, uint32_t kRed,
         uint32_t kBlue, const DemosaicBand& band) {
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

    // The row kernels name a row's sources by the colour they hold rather than by position. The
    // vector kernel, when the processor has one, does most of each row's interior, the pair
    // kernel what it leaves (all of it without the vector kernel).
    const bool redAtEvenColumns = redColumnParity == 0;
    const BayerRowKernel vectorRow =
        VectorBayerRowKernel(static_cast<uint16_t>(8 * sizeof(Sample)),
                             static_cast<uint16_t>(8 * pixelBytes), redAtEvenColumns);
    const auto pairRow =
        redAtEvenColumns ? PairRow<Sample, PixelStep, true> : PairRow<Sample, PixelStep, false>;
    const BayerRowGains gains =
        redAtEvenColumns ? BayerRowGains{kRed, kBlue} : BayerRowGains{kBlue, kRed};
    const int32_t evenColourRowParity = redAtEvenColumns ? redRowParity : 1 - redRowParity;

    const auto borderPixel = [&](uint8_t* outRow, const uint8_t* const rows[4], int32_t redRow,
                                 int32_t x) {
        const int32_t* columns = &columnAt[static_cast<size_t>(x)];
        const int32_t redColumn = (x & 1) == redColumnParity ? 2 : 1;
        kernel.Pixel(outRow + static_cast<ptrdiff_t>(x) * pixelBytes, rows, columns, redRow,
                     redColumn);
    };

    // Rows beyond the edges are already folded in rowAt; only the first two and the last two
    // columns need folded neighbours.
    const int32_t leftEnd = std::min(2, width);
    const int32_t rightBegin = std::max(leftEnd, width - 2);
    const auto row = [&](int32_t y, uint8_t* out) {
        const uint8_t* const* rows = &rowAt[static_cast<size_t>(y)];
        const int32_t redRow = (y & 1) == redRowParity ? 2 : 1;
        uint8_t* outRow = out != nullptr ? out : destination.Row(y);
        for (int32_t x = 0; x < leftEnd; ++x) {
            borderPixel(outRow, rows, redRow, x);
        }
        int32_t x = leftEnd;
        if (leftEnd < rightBegin) {
            // rows[2] is row y, rows[0] y - 2, rows[1] y - 1, rows[3] y + 1.
            const BayerRowSources sources =
                (y & 1) == evenColourRowParity
                    ? BayerRowSources{rows[2], rows[0], rows[1], rows[3]}
                    : BayerRowSources{rows[1], rows[3], rows[2], rows[0]};
            if (vectorRow != nullptr) {
                x = vectorRow(outRow, sources, width, gains);
            }
            x = pairRow(outRow, sources, x, width, gains);
        }
        // A last odd interior column, then the border.
        for (; x < rightBegin; ++x) {
            const int32_t columns[4] = {x - 2, x - 1, x, x + 1};
            const int32_t redColumn = (x & 1) == redColumnParity ? 2 : 1;
            kernel.Pixel(outRow + static_cast<ptrdiff_t>(x) * pixelBytes, rows, columns, redRow,
                         redColumn);
        }
        for (x = rightBegin; x < width; ++x) {
            borderPixel(outRow, rows, redRow, x);
        }
    };
    // Rows are independent of each other: bands of them go to the processors.
    const DemosaicRow produce = row;
    ForEachRowBand(height, kMinRowsPerBand, [&](int32_t firstRow, int32_t endRow) {
        if (band) {
            band(firstRow, endRow, produce);
            return;
        }
        for (int32_t y = firstRow; y < endRow; ++y) {
            row(y, nullptr);
        }
    });
}

// The widest vector level the processor offers the row kernels.
BayerVectorLevel ProcessorBayerVectorLevel() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") != 0) {
        return BayerVectorLevel::kAvx2;
    }
    if (__builtin_cpu_supports("sse4.1") != 0) {
        return BayerVectorLevel::kSse41;
    }
#endif
    return BayerVectorLevel::kPlain;
}

}  // namespace

BayerVectorLevel ChosenBayerVectorLevel() {
    static const BayerVectorLevel level = [] {
        const BayerVectorLevel best = ProcessorBayerVectorLevel();
        const char* simd = std::getenv("QUORIX_SIMD");  // NOLINT(concurrency-mt-unsafe)
        if (simd != nullptr && std::strcmp(simd, "0") == 0) {
            return BayerVectorLevel::kPlain;
        }
        if (simd != nullptr && std::strcmp(simd, "sse") == 0) {
            return std::min(best, BayerVectorLevel::kSse41);
        }
        return best;
    }();
    return level;
}

BayerRowKernel PickBayerRowKernel(const BayerRowKernelSet& kernels, uint16_t inBits,
                                  uint16_t outBits, bool redAtEvenColumns) {
    const size_t redEven = redAtEvenColumns ? 1 : 0;
    if (inBits == 8 && outBits == 24) {
        return kernels.eightTo24[redEven];
    }
    if (inBits == 8 && outBits == 32) {
        return kernels.eightTo32[redEven];
    }
    if (inBits == 16 && outBits == 48) {
        return kernels.sixteenTo48[redEven];
    }
    if (inBits == 16 && outBits == 64) {
        return kernels.sixteenTo64[redEven];
    }
    return nullptr;
}

BayerRowKernel VectorBayerRowKernel(uint16_t inBits, uint16_t outBits, bool redAtEvenColumns) {
    switch (ChosenBayerVectorLevel()) {
        case BayerVectorLevel::kAvx2:
            return Avx2BayerRowKernel(inBits, outBits, redAtEvenColumns);
        case BayerVectorLevel::kSse41:
            return Sse41BayerRowKernel(inBits, outBits, redAtEvenColumns);
        case BayerVectorLevel::kPlain:
            break;
    }
    return nullptr;
}

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
    return DemosaicInBands(destination, source, phase, redGainPercent, blueGainPercent, {});
}

bool DemosaicInBands(CImageBuffer& destination, const CImageBuffer& source, int32_t phase,
                     int32_t redGainPercent, int32_t blueGainPercent, const DemosaicBand& band) {
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
        Run<uint8_t, 3>(destination, source, phase, kRed, kBlue, band);
    } else if (in == 8 && out == 32) {
        Run<uint8_t, 4>(destination, source, phase, kRed, kBlue, band);
    } else if (in == 16 && out == 48) {
        Run<uint16_t, 3>(destination, source, phase, kRed, kBlue, band);
    } else if (in == 16 && out == 64) {
        Run<uint16_t, 4>(destination, source, phase, kRed, kBlue, band);
    } else {
        return false;
    }
    return true;
}

}  // namespace quorix
