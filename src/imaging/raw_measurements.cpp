#include "imaging/raw_measurements.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace quorix {
namespace {

bool Wide(const CImageBuffer& raw) {
    return raw.BitsPerPixel() == 16;
}

bool IsRaw(const CImageBuffer& raw) {
    return raw.Bits() != nullptr && (raw.BitsPerPixel() == 8 || raw.BitsPerPixel() == 16);
}

uint32_t SampleAt(const uint8_t* row, int32_t x, bool wide) {
    if (!wide) {
        return row[x];
    }
    const uint8_t* p = row + static_cast<ptrdiff_t>(x) * 2;
    return static_cast<uint32_t>(p[0] | (p[1] << 8));
}

// Region (left, top, right, bottom) in fractions of the width and height, counted as bitmaps
// count rows: from the bottom of the image.
struct Fractions {
    double left;
    double top;
    double right;
    double bottom;
};
constexpr Fractions kRegions[5] = {
    {0.1, 0.1, 0.2, 0.2},      // A
    {0.1, 0.8, 0.2, 0.9},      // B
    {0.45, 0.45, 0.55, 0.55},  // C
    {0.8, 0.1, 0.9, 0.2},      // D
    {0.8, 0.8, 0.9, 0.9},      // E
};

}  // namespace

std::array<int32_t, 5> AutoIrisMeans(const CImageBuffer& raw) {
    std::array<int32_t, 5> means{};
    if (!IsRaw(raw)) {
        return means;
    }
    const bool wide = Wide(raw);
    const int32_t width = raw.Width();
    const int32_t height = raw.Height();
    for (size_t i = 0; i < means.size(); ++i) {
        const Fractions& f = kRegions[i];
        const auto left = static_cast<int32_t>(f.left * width);
        const auto right = static_cast<int32_t>(f.right * width);
        const auto top = static_cast<int32_t>(f.top * height);
        const auto bottom = static_cast<int32_t>(f.bottom * height);
        // Rows counted from the bottom: the region covers memory rows height - bottom to
        // height - top - 1.
        const int32_t firstRow = height - bottom;
        const int32_t endRow = height - top;
        uint64_t sum = 0;
        uint64_t count = 0;
        for (int32_t y = firstRow; y < endRow; ++y) {
            const uint8_t* row = raw.Row(y);
            // A 16-bit sample counts by its high byte: the 8-bit picture's sample.
            for (int32_t x = left; x < right; ++x) {
                sum += wide ? SampleAt(row, x, true) >> 8 : row[x];
            }
            count += static_cast<uint64_t>(std::max(right - left, 0));
        }
        means[i] = static_cast<int32_t>(count != 0 ? sum / count : 0);
    }
    return means;
}

int32_t AutoIrisFactor(const std::array<int32_t, 5>& means) {
    int32_t factor = 105;
    if (means[0] >= 201) {
        factor = 85;
    } else if (means[0] >= 161) {
        factor = 90;
    } else if (means[0] >= 100) {
        factor = 100;
    }
    for (size_t i = 1; i < means.size(); ++i) {
        if (means[i] >= 201) {
            factor -= 15;
        } else if (means[i] > 160) {
            factor -= 10;
        } else if (means[i] < 100) {
            factor += 5;
        }
    }
    return factor;
}

bool AutoIrisActs(int32_t factorHundredths) {
    return !(factorHundredths > 60 && factorHundredths < 120);
}

void MeasureBayerGains(const CImageBuffer& raw, int32_t phase, int32_t& redPercent,
                       int32_t& bluePercent) {
    if (!IsRaw(raw)) {
        return;
    }
    const bool wide = Wide(raw);
    // Sums of the even and the odd columns of the even and the odd rows.
    uint64_t sums[2][2] = {};
    uint64_t counts[2][2] = {};
    for (int32_t y = 0; y < raw.Height(); ++y) {
        const uint8_t* row = raw.Row(y);
        uint64_t even = 0;
        uint64_t odd = 0;
        int32_t x = 0;
        for (; x + 1 < raw.Width(); x += 2) {
            even += SampleAt(row, x, wide);
            odd += SampleAt(row, x + 1, wide);
        }
        if (x < raw.Width()) {
            even += SampleAt(row, x, wide);
        }
        sums[y & 1][0] += even;
        sums[y & 1][1] += odd;
        counts[y & 1][0] += static_cast<uint64_t>((raw.Width() + 1) / 2);
        counts[y & 1][1] += static_cast<uint64_t>(raw.Width() / 2);
    }
    // In phase p row parity r ^ (p & 1) and column parity c ^ (p >> 1): both equal is green,
    // row 1 column 0 red, row 0 column 1 blue.
    uint64_t green = 0;
    uint64_t greenCount = 0;
    uint64_t red = 0;
    uint64_t redCount = 0;
    uint64_t blue = 0;
    uint64_t blueCount = 0;
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            const int rp = r ^ (phase & 1);
            const int cp = c ^ ((phase >> 1) & 1);
            if (rp == cp) {
                green += sums[r][c];
                greenCount += counts[r][c];
            } else if (rp == 1) {
                red += sums[r][c];
                redCount += counts[r][c];
            } else {
                blue += sums[r][c];
                blueCount += counts[r][c];
            }
        }
    }
    if (greenCount == 0) {
        return;
    }
    const double greenMean = static_cast<double>(green) / static_cast<double>(greenCount);
    const auto gain = [greenMean](uint64_t sum, uint64_t count, int32_t& percent) {
        if (count == 0 || sum == 0) {
            return;  // no light in that colour: the gain stays as it was
        }
        const double mean = static_cast<double>(sum) / static_cast<double>(count);
        percent = static_cast<int32_t>(std::min(std::trunc(100.0 * greenMean / mean), 400.0));
    };
    gain(red, redCount, redPercent);
    gain(blue, blueCount, bluePercent);
}

GraySite GraySiteAt(int32_t column, int32_t row, int32_t phase) {
    const int32_t rp = (row & 1) ^ (phase & 1);
    const int32_t cp = (column & 1) ^ ((phase >> 1) & 1);
    if (rp == 1) {
        return cp == 0 ? kGrayR : kGrayG1;
    }
    return cp == 0 ? kGrayG2 : kGrayB;
}

void MeasureGrayGains(const CImageBuffer& raw, int32_t phase, std::array<int32_t, 4>& gains) {
    if (!IsRaw(raw)) {
        return;
    }
    const bool wide = Wide(raw);
    std::array<uint64_t, 4> sums{};
    std::array<uint64_t, 4> counts{};
    for (int32_t y = 0; y < raw.Height(); ++y) {
        const uint8_t* row = raw.Row(y);
        for (int32_t x = 0; x < raw.Width(); ++x) {
            const uint32_t level = wide ? SampleAt(row, x, true) >> 8 : row[x];
            if (level > 0 && level < 255) {
                const GraySite site = GraySiteAt(x, y, phase);
                sums[site] += level;
                ++counts[site];
            }
        }
    }
    if (counts[kGrayG1] == 0) {
        return;
    }
    const auto mean = [&](size_t site) {
        return static_cast<double>(sums[site]) / static_cast<double>(counts[site]);
    };
    const double reference = mean(kGrayG1);
    gains[kGrayG1] = 128;
    for (const size_t site : {kGrayR, kGrayG2, kGrayB}) {
        if (counts[site] != 0) {
            gains[site] =
                static_cast<int32_t>(std::min(std::trunc(reference / mean(site) * 128.0), 255.0));
        }
    }
}

bool GrayStepActive(const std::array<int32_t, 4>& gains, const std::array<int32_t, 4>& offsets) {
    return !(gains[kGrayR] == 128 && gains[kGrayG1] == 128 && gains[kGrayG2] == 128 &&
             gains[kGrayB] == 128 && offsets[kGrayR] == 128 && offsets[kGrayG1] == 128 &&
             offsets[kGrayG2] == 128);
}

void ApplyGrayGains(CImageBuffer& raw, int32_t phase, const std::array<int32_t, 4>& gains,
                    const std::array<int32_t, 4>& offsets) {
    if (!IsRaw(raw)) {
        return;
    }
    const bool wide = Wide(raw);
    const int32_t top = wide ? 65535 : 255;
    for (int32_t y = 0; y < raw.Height(); ++y) {
        uint8_t* row = raw.Row(y);
        // The two sites of this row, at even and at odd columns.
        const GraySite sites[2] = {GraySiteAt(0, y, phase), GraySiteAt(1, y, phase)};
        for (int32_t x = 0; x < raw.Width(); ++x) {
            const GraySite site = sites[x & 1];
            const auto v = static_cast<int32_t>(SampleAt(row, x, wide));
            const int32_t value = std::clamp(offsets[site] + v * gains[site] / 128, 0, top);
            if (wide) {
                row[2 * x] = static_cast<uint8_t>(value & 0xFF);
                row[2 * x + 1] = static_cast<uint8_t>(value >> 8);
            } else {
                row[x] = static_cast<uint8_t>(value);
            }
        }
    }
}

}  // namespace quorix
