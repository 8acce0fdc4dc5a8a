#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/adjustments.h"
#include "imaging/image_buffer.h"

namespace quorix {

// Runs the image adjustments of one camera context on its output image, frame after frame, with
// the bytes of AdjustImagePlain but fast enough for the sensor's frame rate: the channel tables
// are kept while their value stays, gamma, contrast and (without sharpness) brightness are
// composed into one table, hue and saturation apply that table in the same pass, sharpness
// applies brightness as it writes, rows are split among the processors and the widest vector
// kernels the processor has (QUORIX_SIMD, as for the demosaic) do the 8-bit rows. Each context
// owns one, so contexts running side by side never share a table that one of them rebuilds.
// Used by one thread at a time (the context's frame lock).
class CImageAdjuster {
public:
    // Applies every non-neutral adjustment to `image` (8 to 64 bits per pixel) in the frame
    // routine's order; `scratch` holds the copy sharpness reads (made in the image's format when
    // it is not). An image the adjustments cannot use is left as it is.
    void Apply(CImageBuffer& image, CImageBuffer& scratch, const AdjustmentSettings& settings);

private:
    // A channel table kept for the value and channel width it was made for.
    struct KeptTable {
        bool valid = false;
        int32_t value = 0;
        bool wide = false;
        std::vector<uint16_t> table;
    };
    const std::vector<uint16_t>& Kept(KeptTable& kept, int32_t value, bool wide,
                                      std::vector<uint16_t> (*make)(int32_t, bool));
    // Composes the active channel steps among gamma, contrast and brightness (in that order)
    // into `out`; false, leaving it alone, when none is active.
    bool Compose(const AdjustmentSettings& settings, bool wide, bool gamma, bool contrast,
                 bool brightness, std::vector<uint16_t>& out);

    void Apply8(CImageBuffer& image, CImageBuffer& scratch, const AdjustmentSettings& settings);
    void Apply16(CImageBuffer& image, CImageBuffer& scratch, const AdjustmentSettings& settings);

    KeptTable m_gamma;
    KeptTable m_contrast;
    KeptTable m_brightness;
    // The tables of the current frame: before sharpness (or all of them) and after it.
    std::vector<uint16_t> m_before;
    std::vector<uint16_t> m_after;
    std::array<uint8_t, 256> m_before8{};
    std::array<uint8_t, 256> m_after8{};
    // The saturation table and the saturation it was made for.
    bool m_saturationValid = false;
    int32_t m_saturation = 0;
    std::array<uint32_t, 256> m_saturationTable{};
};

}  // namespace quorix
