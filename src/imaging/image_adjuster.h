#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/adjustment_rows.h"
#include "imaging/adjustments.h"
#include "imaging/demosaic.h"
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

    // Demosaics `raw` into `image` and applies the adjustments, the bytes of Demosaic followed by
    // Apply; for 8-bit samples each row is adjusted as soon as it is demosaiced, while it is still
    // in the cache. `finished`, when given, is called once for every row of `image` as soon as the
    // row holds its final bytes (from the processors' threads, for different rows at once), so a
    // caller can copy it out while it is in the cache. False, with nothing done, when Demosaic
    // refuses the images.
    bool DemosaicAndApply(CImageBuffer& image, CImageBuffer& scratch, const CImageBuffer& raw,
                          int32_t phase, int32_t redGainPercent, int32_t blueGainPercent,
                          const AdjustmentSettings& settings,
                          const std::function<void(int32_t row)>* finished = nullptr);

private:
    // One frame's 8-bit adjustment work: the image and its scratch copy, what is on, and the row
    // kernels. The first pass (hue and saturation, the table before sharpness) works on one row;
    // the second (unsharp mask and the table after it) needs the first pass's rows around it.
    struct Pass8 {
        CImageBuffer* image = nullptr;
        CImageBuffer* scratch = nullptr;
        int32_t samples = 0;
        int32_t width = 0;
        int32_t height = 0;
        int32_t sharpness = 0;
        bool hue = false;
        bool sharp = false;
        bool before = false;
        bool after = false;
        // The first pass's rows go to a few rows of each thread's own instead of the scratch
        // image (the rows around a band's edges made twice, once by each band).
        bool rolling = false;
        HueRowParams params;
        const AdjustmentRowKernels* kernels = nullptr;
        size_t rowBytes = 0;
        std::vector<uint8_t> sharpened;  // per row: the second pass is done
        const std::function<void(int32_t)>* finished = nullptr;  // told of each final row
    };
    // A thread's row buffers: the unsharp mask's column sums, and when rolling the first pass's
    // last rows and a row that the demosaic makes outside the band.
    struct BandBuffers {
        uint16_t* sums = nullptr;
        uint8_t* rolling = nullptr;
        uint8_t* own = nullptr;
    };
    // Fills `pass` for a frame; false when no step is on.
    bool Prepare8(CImageBuffer& image, CImageBuffer& scratch, const AdjustmentSettings& settings,
                  Pass8& pass);
    // The first pass of one row from `source` (the image's row, or a row of the thread's own,
    // which it may change) into `target` (the same row without sharpness).
    void FirstPass8(const Pass8& pass, uint8_t* source, uint8_t* target);
    // The second pass of row y into the image from the first pass's rows y-2 .. y+1 (only the
    // row itself at the two outer rows on each side).
    void SecondPass8(const Pass8& pass, int32_t y, const uint8_t* const around[4],
                     uint16_t* sums);
    // The first pass's row y, where the second pass reads it.
    uint8_t* FirstPassRow(const Pass8& pass, const BandBuffers& buffers, int32_t y);
    void Sharpen8(Pass8& pass, const BandBuffers& buffers, int32_t y);
    // Both passes over the rows [first, end) of one band, each row first made by `produce` when
    // given; with the scratch image the second pass leaves the rows whose neighbours lie in other
    // bands, rolling it makes those neighbours itself.
    void Band8(Pass8& pass, int32_t first, int32_t end, const DemosaicRow* produce,
               const BandBuffers& buffers);
    // The second pass of the rows the bands left, once all bands are done.
    void Finish8(Pass8& pass, const BandBuffers& buffers);

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
