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

// The exposure (or gain) factor the five means ask for [hundredths]: from region A 85 (mean 201
// or more), 90 (161 or more), 100 (100 or more) or 105; then for each of B to E 15 less at 201 or
// more, 10 less above 160 and 5 more below 100. Counted in whole hundredths, so that a sum that
// lands on one of the limits is exactly that limit. Factors strictly between 60 and 120 change
// nothing.
int32_t AutoIrisFactor(const std::array<int32_t, 5>& means);
bool AutoIrisActs(int32_t factorHundredths);

// The automatic Bayer gains [percent] for the mosaic in the effective phase (as Demosaic takes
// it): red = trunc(100 x green mean / red mean) and blue likewise, each at most 400. A colour
// whose mean is 0 gives no gain: its value is left as it is.
void MeasureBayerGains(const CImageBuffer& raw, int32_t phase, int32_t& redPercent,
                       int32_t& bluePercent);

// The four sites of the gray step, in the order of the gray gain and offset values.
enum GraySite : size_t { kGrayR, kGrayG1, kGrayG2, kGrayB };

// The colour of a mosaic sample for the gray step, in the mosaic's phase as the demosaic reads it
// (the Bayer mode with the flips of the picture, see EffectiveBayerPhase): row parity
// r ^ (phase & 1) and column parity c ^ (phase >> 1); row 1 column 0 is red, row 0 column 1 blue,
// the green beside the red (row 1 column 1) G1 and the green beside the blue (row 0 column 0) G2.
GraySite GraySiteAt(int32_t column, int32_t row, int32_t phase);

// The one-shot gray gains: per site the mean of the samples strictly between 0 and 255 (8-bit
// scale); G1 is the reference and keeps 128, the others become trunc(G1 mean / site mean x 128),
// at most 255. A site without such samples keeps its gain; without G1 samples nothing changes.
void MeasureGrayGains(const CImageBuffer& raw, int32_t phase, std::array<int32_t, 4>& gains);

// Whether the gray step changes anything: not while the gains and the offsets R, G1 and G2 are
// all 128.
bool GrayStepActive(const std::array<int32_t, 4>& gains, const std::array<int32_t, 4>& offsets);

// The gray step in place: every sample v becomes offset + v x gain / 128 of its site, limited to
// the sample's range.
void ApplyGrayGains(CImageBuffer& raw, int32_t phase, const std::array<int32_t, 4>& gains,
                    const std::array<int32_t, 4>& offsets);

}  // namespace quorix
