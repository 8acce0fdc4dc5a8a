#include "imaging/mask_correction.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "imaging/demosaic_rows.h"
#include "imaging/mask_correction_rows.h"
#include "imaging/row_bands.h"

namespace quorix {
namespace {

// Rows per band below which a frame is not worth splitting among threads.
constexpr int32_t kMinRowsPerBand = 32;

// The vector row kernels run where the processor has AVX2 and QUORIX_SIMD allows them.
bool UseAvx2() {
    return ChosenBayerVectorLevel() == BayerVectorLevel::kAvx2;
}

// Samples of 8- or 16-bit images (16-bit little-endian); the maps use the depth of their planes.
template <typename Sample>
int32_t Get(const uint8_t* row, int32_t x) {
    if constexpr (sizeof(Sample) == 1) {
        return row[x];
    } else {
        const uint8_t* p = row + static_cast<ptrdiff_t>(x) * 2;
        return p[0] | (p[1] << 8);
    }
}

template <typename Sample>
void Put(uint8_t* row, int32_t x, int32_t value) {
    if constexpr (sizeof(Sample) == 1) {
        row[x] = static_cast<uint8_t>(value);
    } else {
        uint8_t* p = row + static_cast<ptrdiff_t>(x) * 2;
        p[0] = static_cast<uint8_t>(value & 0xFF);
        p[1] = static_cast<uint8_t>(value >> 8);
    }
}

// ((v - d) x 256) / (w - d), rounded toward zero and limited to 0..255; left alone where w = d.
void FlatFieldRow8(uint8_t* samples, const uint8_t* dark, const uint8_t* white, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const int32_t d = dark[i];
        const int32_t span = white[i] - d;
        if (span != 0) {
            samples[i] = static_cast<uint8_t>(std::clamp((samples[i] - d) * 256 / span, 0, 255));
        }
    }
}

// ((v - d) x 65536) / (w - d) where w > d, limited to 0..65535. Below full scale the rise is
// smaller than the span, so the quotient is below 2^16 and at least 1 / span (> 2^-16) from the
// next integer; a double carries it within 2^-37, so truncating the double gives the integer
// quotient exactly.
void FlatFieldRow16(uint8_t* samples, const uint8_t* dark, const uint8_t* white, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const int32_t d = Get<uint16_t>(dark, i);
        const int32_t span = Get<uint16_t>(white, i) - d;
        if (span <= 0) {
            continue;
        }
        const int32_t rise = Get<uint16_t>(samples, i) - d;
        int32_t value = 0;
        if (rise >= span) {
            value = 65535;
        } else if (rise > 0) {
            value = static_cast<int32_t>(static_cast<double>(rise) * 65536.0 /
                                         static_cast<double>(span));
        }
        Put<uint16_t>(samples, i, value);
    }
}

template <typename Sample>
void DetectDots(const CImageBuffer& frame, const CImageBuffer& hotMap, const CImageBuffer& deadMap,
                CImageBuffer& dotMap, int32_t x0, int32_t y0, std::vector<uint8_t>& rowMarked) {
    const int32_t width = frame.Width();
    const int32_t height = frame.Height();
    const int32_t threshold = sizeof(Sample) == 1 ? kDotThreshold8 : kDotThreshold16;
    // Frame columns below this have a defect-map entry at their sensor position.
    const int32_t mapColumns = std::clamp(hotMap.Width() - x0, 0, width);
    const bool avx2 = UseAvx2();
    ForEachRowBand(height, kMinRowsPerBand, [&](int32_t firstRow, int32_t endRow) {
        for (int32_t y = firstRow; y < endRow; ++y) {
            uint8_t* marks = dotMap.Row(y);
            Put<Sample>(marks, 0, 0);
            Put<Sample>(marks, width - 1, 0);
            if (y == 0 || y == height - 1) {
                std::memset(marks, 0, static_cast<size_t>(width) * sizeof(Sample));
                continue;
            }
            const uint8_t* up = frame.Row(y - 1);
            const uint8_t* row = frame.Row(y);
            const uint8_t* down = frame.Row(y + 1);
            const bool mapRow = y0 + y < hotMap.Height();
            const uint8_t* hot = mapRow ? hotMap.Row(y0 + y) : nullptr;
            const uint8_t* dead = mapRow ? deadMap.Row(y0 + y) : nullptr;
            int32_t any = 0;
            int32_t x = 1;
            if (avx2 && mapRow && mapColumns > 1) {
                const auto at = [](const uint8_t* p, int32_t column) {
                    return p +
                           static_cast<ptrdiff_t>(column) * static_cast<ptrdiff_t>(sizeof(Sample));
                };
                const auto kernel = sizeof(Sample) == 1 ? DetectDotsRow8Avx2 : DetectDotsRow16Avx2;
                x += kernel(
                    marks + static_cast<ptrdiff_t>(x) * static_cast<ptrdiff_t>(sizeof(Sample)),
                    at(up, x), at(row, x), at(down, x), at(hot, x0 + x), at(dead, x0 + x),
                    std::min(width - 1, mapColumns) - x, &any);
            }
            for (; x < width - 1; ++x) {
                const int32_t p = Get<Sample>(row, x);
                const int32_t mean = (Get<Sample>(row, x - 1) + Get<Sample>(row, x + 1) +
                                      Get<Sample>(up, x) + Get<Sample>(down, x)) >>
                                     2;
                int32_t mark = std::abs(p - mean) >= threshold ? 1 : 0;
                if (mapRow && x < mapColumns) {
                    mark |= (Get<Sample>(hot, x0 + x) | Get<Sample>(dead, x0 + x)) != 0 ? 1 : 0;
                }
                Put<Sample>(marks, x, mark);
                any |= mark;
            }
            rowMarked[static_cast<size_t>(y)] = static_cast<uint8_t>(any);
        }
    });
}

template <typename Sample>
void ReplaceDots(CImageBuffer& frame, CImageBuffer& dotMap, const std::vector<uint8_t>& rowMarked) {
    const int32_t width = frame.Width();
    const int32_t height = frame.Height();
    const auto columns = static_cast<size_t>(width);
    // Every pixel before the current one in scan order is unmarked by the time the scan reaches
    // it: it either never was marked or has been replaced. So the searches to the left and up
    // end at once, at the direct neighbours, with their current (possibly new) values. The
    // searches to the right and down meet only pixels not reached yet, whose marks are still
    // those of detection, and detection never marks the frame's edges, so both always find a
    // pixel. To the right, the position found stays valid until the scan passes it. Down, the
    // rows found are worked out beforehand for every row with marks, bottom up in one pass over
    // those rows: long vertical runs of marks then cost no walk down a column.
    thread_local std::vector<uint16_t> belowRows;
    std::vector<int32_t> slotOfRow(static_cast<size_t>(height), -1);
    int32_t slots = 0;
    for (int32_t y = 1; y < height - 1; ++y) {
        if (rowMarked[static_cast<size_t>(y)] != 0) {
            slotOfRow[static_cast<size_t>(y)] = slots++;
        }
    }
    if (belowRows.size() < static_cast<size_t>(slots) * columns) {
        belowRows.resize(static_cast<size_t>(slots) * columns);
    }
    // next[x]: the first unmarked row below the row last handled; all equal to `nextRow` while
    // that row has no marks.
    std::vector<uint16_t> next(columns);
    bool nextUniform = true;
    int32_t nextRow = height - 1;
    for (int32_t y = height - 2; y >= 1; --y) {
        const int32_t slot = slotOfRow[static_cast<size_t>(y)];
        if (slot < 0) {
            nextUniform = true;
            nextRow = y;
            continue;
        }
        uint16_t* below = belowRows.data() + static_cast<size_t>(slot) * columns;
        if (nextUniform) {
            std::fill_n(below, columns, static_cast<uint16_t>(nextRow));
        } else {
            std::copy_n(next.data(), columns, below);
        }
        const uint8_t* marks = dotMap.Row(y);
        const auto self = static_cast<uint16_t>(y);
        for (int32_t x = 0; x < width; ++x) {
            // Without a branch: the marks of a colour mosaic alternate too often to predict.
            const auto keep =
                static_cast<uint16_t>(-static_cast<int32_t>(Get<Sample>(marks, x) != 0));
            next[static_cast<size_t>(x)] =
                static_cast<uint16_t>((below[x] & keep) | (self & ~keep));
        }
        nextUniform = false;
    }

    uint8_t* const bits = frame.Bits();
    const auto stride = static_cast<size_t>(frame.Stride());
    for (int32_t y = 1; y < height - 1; ++y) {
        const int32_t slot = slotOfRow[static_cast<size_t>(y)];
        if (slot < 0) {
            continue;
        }
        const uint16_t* below = belowRows.data() + static_cast<size_t>(slot) * columns;
        uint8_t* marks = dotMap.Row(y);
        uint8_t* row = bits + static_cast<size_t>(y) * stride;
        const uint8_t* up = row - stride;
        int32_t rightFound = 0;
        for (int32_t x = 1; x < width - 1; ++x) {
            if (Get<Sample>(marks, x) == 0) {
                continue;
            }
            if (rightFound <= x) {
                rightFound = x + 1;
                while (rightFound < width - 1 && Get<Sample>(marks, rightFound) != 0) {
                    ++rightFound;
                }
            }
            const int32_t sum = Get<Sample>(row, x - 1) + Get<Sample>(row, rightFound) +
                                Get<Sample>(up, x) + Get<Sample>(bits + below[x] * stride, x);
            Put<Sample>(row, x, sum / 4);
            Put<Sample>(marks, x, 0);
        }
    }
}

template <typename Sample>
void DotFilter(CImageBuffer& frame, const CImageBuffer& hotMap, const CImageBuffer& deadMap,
               CImageBuffer& dotMap, int32_t x0, int32_t y0) {
    std::vector<uint8_t> rowMarked(static_cast<size_t>(frame.Height()), 0);
    DetectDots<Sample>(frame, hotMap, deadMap, dotMap, x0, y0, rowMarked);
    if (std::any_of(rowMarked.begin(), rowMarked.end(), [](uint8_t m) { return m != 0; })) {
        ReplaceDots<Sample>(frame, dotMap, rowMarked);
    }
}

}  // namespace

void ApplyFlatField(CImageBuffer& frame, const CImageBuffer& dark, const CImageBuffer& white,
                    int32_t x0, int32_t y0, int32_t margin) {
    const uint16_t bits = frame.BitsPerPixel();
    if ((bits != 8 && bits != 16) || dark.BitsPerPixel() != bits || white.BitsPerPixel() != bits ||
        dark.Width() != white.Width() || dark.Height() != white.Height() ||
        frame.Bits() == nullptr || dark.Bits() == nullptr || white.Bits() == nullptr || x0 < 0 ||
        y0 < 0) {
        return;
    }
    const int32_t firstRow = margin;
    const int32_t endRow = std::min(frame.Height() - margin, dark.Height() - y0);
    const int32_t firstColumn = margin;
    const int32_t endColumn = std::min(frame.Width() - margin, dark.Width() - x0);
    if (endRow <= firstRow || endColumn <= firstColumn) {
        return;
    }
    const int32_t count = endColumn - firstColumn;
    const size_t offset = static_cast<size_t>(firstColumn) * (bits / 8);
    const size_t planeOffset = static_cast<size_t>(x0 + firstColumn) * (bits / 8);
    const bool avx2 = UseAvx2();
    ForEachRowBand(endRow - firstRow, kMinRowsPerBand, [&](int32_t bandFirst, int32_t bandEnd) {
        for (int32_t k = firstRow + bandFirst; k < firstRow + bandEnd; ++k) {
            uint8_t* samples = frame.Row(k) + offset;
            const uint8_t* d = dark.Row(y0 + k) + planeOffset;
            const uint8_t* w = white.Row(y0 + k) + planeOffset;
            if (bits == 8) {
                const int32_t done = avx2 ? FlatFieldRow8Avx2(samples, d, w, count) : 0;
                FlatFieldRow8(samples + done, d + done, w + done, count - done);
            } else {
                const int32_t done = avx2 ? FlatFieldRow16Avx2(samples, d, w, count) : 0;
                const ptrdiff_t at = static_cast<ptrdiff_t>(done) * 2;
                FlatFieldRow16(samples + at, d + at, w + at, count - done);
            }
        }
    });
}

void ApplyDotFilter(CImageBuffer& frame, const CImageBuffer& hotMap, const CImageBuffer& deadMap,
                    CImageBuffer& dotMap, int32_t x0, int32_t y0) {
    const uint16_t bits = frame.BitsPerPixel();
    if ((bits != 8 && bits != 16) || hotMap.BitsPerPixel() != bits ||
        deadMap.BitsPerPixel() != bits || dotMap.BitsPerPixel() != bits ||
        hotMap.Width() != deadMap.Width() || hotMap.Height() != deadMap.Height() ||
        dotMap.Width() < frame.Width() || dotMap.Height() < frame.Height() ||
        frame.Bits() == nullptr || hotMap.Bits() == nullptr || deadMap.Bits() == nullptr ||
        dotMap.Bits() == nullptr || x0 < 0 || y0 < 0 ||
        frame.Height() > std::numeric_limits<uint16_t>::max()) {  // rows are kept in 16 bits
        return;
    }
    if (bits == 8) {
        DotFilter<uint8_t>(frame, hotMap, deadMap, dotMap, x0, y0);
    } else {
        DotFilter<uint16_t>(frame, hotMap, deadMap, dotMap, x0, y0);
    }
}

void DeriveDefectMap(CImageBuffer& map, const CImageBuffer& plane, bool hot) {
    const uint16_t bits = plane.BitsPerPixel();
    if ((bits != 8 && bits != 16) || map.BitsPerPixel() != bits || map.Width() != plane.Width() ||
        map.Height() != plane.Height() || map.Bits() == nullptr) {
        return;
    }
    std::memset(map.Bits(), 0, map.SizeBytes());
    const int32_t level =
        bits == 8 ? (hot ? kHotLevel8 : kDeadLevel8) : (hot ? kHotLevel16 : kDeadLevel16);
    const int32_t endRow = plane.Height() - kDefectMapBorder;
    const int32_t endColumn = plane.Width() - kDefectMapBorder;
    for (int32_t y = kDefectMapBorder; y < endRow; ++y) {
        const uint8_t* samples = plane.Row(y);
        uint8_t* marks = map.Row(y);
        for (int32_t x = kDefectMapBorder; x < endColumn; ++x) {
            const int32_t v = bits == 8 ? Get<uint8_t>(samples, x) : Get<uint16_t>(samples, x);
            const int32_t mark = (hot ? v > level : v < level) ? 1 : 0;
            if (bits == 8) {
                Put<uint8_t>(marks, x, mark);
            } else {
                Put<uint16_t>(marks, x, mark);
            }
        }
    }
}

}  // namespace quorix
