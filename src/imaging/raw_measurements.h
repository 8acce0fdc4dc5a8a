#pragma once

#include <array>
#include <cstdint>

#include "imaging/image_buffer.h"

// What the frame routine measures and changes on the raw mosaic (8 or 16 bits per sample) before
// it is demosaiced: the brightness of five regions for the automatic exposure, the colour means
// for the automatic Bayer gains and the one-shot gray gains, and the gray gains and offsets.
// Levels are compared on the 8-bit scale whatever the sample width: a 16-bit sample counts by its
// high byte (the sample of the same picture at 8 bits), so the same threshold means the same
// brightness in every colour type.
namespace quorix {

// The mean level of the five auto-iris regions A to E (8-bit scale; 0 for an empty region). With
// row 0 at the top of the picture, A and D lie at 80-90 % of the height, B and E at 10-20 %, C in
// the centre; A and B at 10-20 % of the width, D and E at 80-90 %, C at 45-55 %.
std::array<int32_t, 5> AutoIrisMeans(const CImageBuffer& raw);

// The exposure (or gain) factor the five means ask for: from region A 0.85 (mean 201 or more),
// 0.9 (161 or more), 1.0 (100 or more) or 1.05; then for each of B to E 0.15 less at 201 or more,
// 0.1 less above 160 and 0.05 more below 100. Factors strictly between 0.6 and 1.2 change nothing.
double AutoIrisFactor(const std::array<int32_t, 5>& means);
bool AutoIrisActs(double factor);

// The automatic Bayer gains [percent] for the mosaic in the effective phase (as Demosaic takes
// it): red = trunc(100 x green mean / red mean) and blue likewise, each at most 400. A colour
// whose mean is 0 gives no gain: its value is left as it is.
void MeasureBayerGains(const CImageBuffer& raw, int32_t phase, int32_t& redPercent,
                       int32_t& bluePercent);

// The four sites of the gray step, in the order of the gray gain and offset values.
enum GraySite : size_t { kGrayR, kGrayG1, kGrayG2, kGrayB };

// The site of a mosaic sample for the gray step: the Bayer mode's bit 0 flips the row parity, bit
// 1 the column parity; then row 0 column 0 is G1, row 0 column 1 R, row 1 column 0 B, row 1
// column 1 G2.
GraySite GraySiteAt(int32_t column, int32_t row, int32_t bayerMode);

// The one-shot gray gains: per site the mean of the samples strictly between 0 and 255 (8-bit
// scale); G1 is the reference and keeps 128, the others become trunc(G1 mean / site mean x 128),
// at most 255. A site without such samples keeps its gain; without G1 samples nothing changes.
void MeasureGrayGains(const CImageBuffer& raw, int32_t bayerMode, std::array<int32_t, 4>& gains);

// Whether the gray step changes anything: not while the gains and the offsets R, G1 and G2 are
// all 128.
bool GrayStepActive(const std::array<int32_t, 4>& gains, const std::array<int32_t, 4>& offsets);

// The gray step in place: every sample v becomes offset + v x gain / 128 of its site, limited to
// the sample's range.
void ApplyGrayGains(CImageBuffer& raw, int32_t bayerMode, const std::array<int32_t, 4>& gains,
                    const std::array<int32_t, 4>& offsets);

}  // namespace quorix
