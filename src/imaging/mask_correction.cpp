#include "imaging/mask_correction.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/row_bands.h"

namespace quorix {
namespace {

// Rows per band below which a frame is not worth splitting among threads.
constexpr int32_t kMinRowsPerBand = 32;

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

// The 8-bit flat field as a table of quotients: entry (span << 8) + rise is rise x 256 / span
// for 0 <= rise < span <= 255; every larger rise limits to 255. Built once, 64 KiB.
const std::array<uint8_t, 256 * 256>& FlatQuotients8() {
    static const auto table = [] {
        std::array<uint8_t, 256 * 256> t{};
        for (int32_t span = 1; span < 256; ++span) {
            for (int32_t rise = 0; rise < span; ++rise) {
                t[static_cast<size_t>((span << 8) + rise)] =
                    static_cast<uint8_t>(rise * 256 / span);
            }
        }
        return t;
    }();
    return table;
}

// ((v - d) x 256) / (w - d), rounded toward zero and limited to 0..255. The quotient is positive
// only when v - d and w - d have the same sign; its size depends on their magnitudes alone.
void FlatFieldRow8(uint8_t* samples, const uint8_t* dark, const uint8_t* white, int32_t count,
                   const uint8_t* quotients) {
    for (int32_t i = 0; i < count; ++i) {
        const int32_t d = dark[i];
        const int32_t span = white[i] - d;
        if (span == 0) {
            continue;
        }
        const int32_t rise = samples[i] - d;
        int32_t value = 0;
        if (rise != 0 && (rise ^ span) >= 0) {
            const int32_t r = std::abs(rise);
            const int32_t s = std::abs(span);
            value = r >= s ? 255 : quotients[(s << 8) + r];
        }
        samples[i] = static_cast<uint8_t>(value);
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
            for (int32_t x = 1; x < width - 1; ++x) {
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
    const auto marked = [&](int32_t y, int32_t x) { return Get<Sample>(dotMap.Row(y), x) != 0; };
    const auto value = [&](int32_t y, int32_t x) { return Get<Sample>(frame.Row(y), x); };
    // The searches to the right and down meet only pixels not reached yet, whose marks have not
    // changed since detection, so the first unmarked one found stays valid until the scan passes
    // it: one position per row (right) and one per column (down) moves only forward, which keeps
    // long runs of marked pixels linear. The searches to the left and up meet pixels already
    // passed, which are all unmarked by then.
    std::vector<int32_t> downFound(static_cast<size_t>(width), 0);
    for (int32_t y = 1; y < height - 1; ++y) {
        if (rowMarked[static_cast<size_t>(y)] == 0) {
            continue;
        }
        uint8_t* marks = dotMap.Row(y);
        int32_t rightFound = 0;
        for (int32_t x = 1; x < width - 1; ++x) {
            if (Get<Sample>(marks, x) == 0) {
                continue;
            }
            int32_t sum = 0;
            int32_t n = 0;
            for (int32_t i = x - 1; i >= 0; --i) {
                if (!marked(y, i)) {
                    sum += value(y, i);
                    ++n;
                    break;
                }
            }
            if (rightFound <= x) {
                rightFound = x + 1;
                while (rightFound < width && marked(y, rightFound)) {
                    ++rightFound;
                }
            }
            if (rightFound < width) {
                sum += value(y, rightFound);
                ++n;
            }
            for (int32_t j = y - 1; j >= 0; --j) {
                if (!marked(j, x)) {
                    sum += value(j, x);
                    ++n;
                    break;
                }
            }
            int32_t& below = downFound[static_cast<size_t>(x)];
            if (below <= y) {
                below = y + 1;
                while (below < height && marked(below, x)) {
                    ++below;
                }
            }
            if (below < height) {
                sum += value(below, x);
                ++n;
            }
            if (n > 0) {
                Put<Sample>(frame.Row(y), x, sum / n);
            }
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
    const uint8_t* quotients = bits == 8 ? FlatQuotients8().data() : nullptr;
    ForEachRowBand(endRow - firstRow, kMinRowsPerBand, [&](int32_t bandFirst, int32_t bandEnd) {
        for (int32_t k = firstRow + bandFirst; k < firstRow + bandEnd; ++k) {
            uint8_t* samples = frame.Row(k) + offset;
            const uint8_t* d = dark.Row(y0 + k) + planeOffset;
            const uint8_t* w = white.Row(y0 + k) + planeOffset;
            if (bits == 8) {
                FlatFieldRow8(samples, d, w, count, quotients);
            } else {
                FlatFieldRow16(samples, d, w, count);
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
        dotMap.Bits() == nullptr || x0 < 0 || y0 < 0) {
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
