#include "imaging/image_adjuster.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

#include "imaging/adjustment_rows.h"
#include "imaging/demosaic.h"
#include "imaging/demosaic_rows.h"
#include "imaging/row_bands.h"

// 16-bit samples are handled as native words: this code runs on little-endian processors only.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);

namespace quorix {
namespace {

// Rows per band below which an image is not worth splitting among threads.
constexpr int32_t kMinRowsPerBand = 32;
// The first pass's rows a thread keeps when the unsharp mask reads them from its own rows: it
// needs four at a time.
constexpr int32_t kRollingRows = 8;

void PlainHueSaturationRow(uint8_t* row, int32_t width, int32_t pixelSamples,
                           const HueRowParams& params) {
    const auto& saturationTable =
        *reinterpret_cast<const std::array<uint32_t, 256>*>(params.saturationTable);
    for (int32_t x = 0; x < width; ++x) {
        uint8_t* p = row + static_cast<ptrdiff_t>(x) * pixelSamples;
        const uint32_t packed = HueSaturationPixel(p[0], p[1], p[2], params.shift, saturationTable);
        for (int c = 0; c < 3; ++c) {
            const uint32_t value = (packed >> (8 * c)) & 0xFF;
            p[c] = static_cast<uint8_t>(value);
        }
        if (pixelSamples == 4) {
            p[3] = 0;
        }
    }
}

void PlainTable8(uint8_t* out, const uint8_t* in, int32_t width, int32_t pixelSamples,
                 const uint8_t* table) {
    TableRow<uint8_t>(out, in, width, pixelSamples, table);
}

void PlainSharpen8(uint8_t* out, const uint8_t* const rows[4], int32_t width, int32_t pixelSamples,
                   int32_t sharpness, uint16_t* sums) {
    SharpenRow<uint8_t, uint16_t>(out, rows, width, pixelSamples, sharpness, nullptr, sums);
}

constexpr AdjustmentRowKernels kPlainKernels = {PlainHueSaturationRow, PlainTable8, PlainSharpen8,
                                                nullptr, nullptr};

// AVX-512 where the processor has it with byte permutes, unless QUORIX_SIMD=avx2 keeps the
// adjustments to AVX2 (to compare the kernels, or to test the AVX2 ones on any recent processor).
bool ProcessorHasVbmi() {
    const char* simd = std::getenv("QUORIX_SIMD");  // NOLINT(concurrency-mt-unsafe)
    if (simd != nullptr && std::strcmp(simd, "avx2") == 0) {
        return false;
    }
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") != 0 && __builtin_cpu_supports("avx512vbmi") != 0;
#else
    return false;
#endif
}

// The kernels of the level the demosaic runs at (QUORIX_SIMD caps both alike); where the
// processor also has AVX-512 with byte permutes, the tables and hue and saturation use it.
const AdjustmentRowKernels& ChosenKernels() {
    static const AdjustmentRowKernels kernels = [] {
        AdjustmentRowKernels chosen = kPlainKernels;
        if (ChosenBayerVectorLevel() == BayerVectorLevel::kAvx2) {
            if (const AdjustmentRowKernels* avx2 = Avx2AdjustmentRowKernels()) {
                chosen = *avx2;
                const TableRowKernel table = Avx512VbmiTableRowKernel();
                const HueRowKernel hue = Avx512VbmiHueRowKernel();
                if (table != nullptr && hue != nullptr && ProcessorHasVbmi()) {
                    chosen.table8 = table;
                    chosen.hueSaturation8 = hue;
                    chosen.hueTable8 = Avx512VbmiHueTableRowKernel();
                    chosen.sharpenTable8 = Avx512VbmiSharpenTableRowKernel();
                }
            }
        }
        return chosen;
    }();
    return kernels;
}

// Samples (bytes or words) per pixel of an image the adjustments take, or 0.
int32_t PixelSamples(uint16_t bitsPerPixel) {
    switch (bitsPerPixel) {
        case 8:
        case 16:
            return 1;
        case 24:
        case 48:
            return 3;
        case 32:
        case 64:
            return 4;
        default:
            return 0;
    }
}

// Row buffers, one per thread that runs bands (the unsharp mask's column sums, the high bytes of
// a 16-bit row), made before the bands start so that no band allocates.
template <typename Sum>
class BandRows {
public:
    explicit BandRows(size_t perBand)
        : m_perBand(perBand), m_sums(perBand * static_cast<size_t>(RowBandCount())) {}
    Sum* Take() { return m_sums.data() + static_cast<size_t>(CurrentBandThread()) * m_perBand; }

private:
    size_t m_perBand;
    std::vector<Sum> m_sums;
};

bool FitsScratch(const CImageBuffer& image, CImageBuffer& scratch) {
    if (scratch.Bits() != nullptr && scratch.Width() == image.Width() &&
        scratch.Height() == image.Height() && scratch.BitsPerPixel() == image.BitsPerPixel()) {
        return true;
    }
    return scratch.CopyFormat(image);
}

}  // namespace

const AdjustmentRowKernels& PlainAdjustmentRowKernels() {
    return kPlainKernels;
}

const std::vector<uint16_t>& CImageAdjuster::Kept(KeptTable& kept, int32_t value, bool wide,
                                                  std::vector<uint16_t> (*make)(int32_t, bool)) {
    if (!kept.valid || kept.value != value || kept.wide != wide) {
        kept.valid = false;
        kept.table = make(value, wide);
        kept.value = value;
        kept.wide = wide;
        kept.valid = true;
    }
    return kept.table;
}

bool CImageAdjuster::Compose(const AdjustmentSettings& settings, bool wide, bool gamma,
                             bool contrast, bool brightness, std::vector<uint16_t>& out) {
    if (!gamma && !contrast && !brightness) {
        return false;
    }
    const std::vector<uint16_t>* steps[3] = {
        gamma ? &Kept(m_gamma, settings.gamma, wide, GammaTable) : nullptr,
        contrast ? &Kept(m_contrast, settings.contrast, wide, ContrastTable) : nullptr,
        brightness ? &Kept(m_brightness, settings.brightness, wide, BrightnessTable) : nullptr};
    const size_t entries = wide ? 65536 : 256;
    out.resize(entries);
    for (size_t i = 0; i < entries; ++i) {
        uint16_t value = static_cast<uint16_t>(i);
        for (const std::vector<uint16_t>* step : steps) {
            if (step != nullptr) {
                value = (*step)[value];
            }
        }
        out[i] = value;
    }
    return true;
}

void CImageAdjuster::Apply(CImageBuffer& image, CImageBuffer& scratch,
                           const AdjustmentSettings& settings) {
    if (image.Bits() == nullptr || PixelSamples(image.BitsPerPixel()) == 0) {
        return;
    }
    try {
        if (image.BitsPerPixel() == 8 || image.BitsPerPixel() == 24 || image.BitsPerPixel() == 32) {
            Apply8(image, scratch, settings);
        } else {
            Apply16(image, scratch, settings);
        }
    } catch (const std::bad_alloc&) {
        // Without memory for its tables a frame goes out as far as it got; the next one tries
        // again.
        m_gamma.valid = m_contrast.valid = m_brightness.valid = false;
    }
}

bool CImageAdjuster::Prepare8(CImageBuffer& image, CImageBuffer& scratch,
                              const AdjustmentSettings& settings, Pass8& pass) {
    pass.image = &image;
    pass.scratch = &scratch;
    pass.samples = PixelSamples(image.BitsPerPixel());
    pass.width = image.Width();
    pass.height = image.Height();
    pass.sharpness = settings.sharpness;
    pass.hue = HueSaturationActive(settings) && pass.samples >= 3;
    pass.sharp = SharpnessActive(settings) && FitsScratch(image, scratch);
    pass.before = Compose(settings, false, GammaActive(settings), ContrastActive(settings),
                          BrightnessActive(settings) && !pass.sharp, m_before);
    pass.after =
        pass.sharp && Compose(settings, false, false, false, BrightnessActive(settings), m_after);
    if (!pass.hue && !pass.before && !pass.sharp) {
        return false;
    }
    for (size_t i = 0; i < 256; ++i) {
        m_before8[i] = static_cast<uint8_t>(pass.before ? m_before[i] : i);
        m_after8[i] = static_cast<uint8_t>(pass.after ? m_after[i] : i);
    }
    if (pass.hue && (!m_saturationValid || m_saturation != settings.saturation)) {
        m_saturationTable = SaturationTable(settings.saturation);
        m_saturation = settings.saturation;
        m_saturationValid = true;
    }
    pass.params.shift = HueShift(settings.hue);
    pass.params.saturationFactor = static_cast<uint32_t>((settings.saturation + 256) * 256);
    pass.params.saturationTable = m_saturationTable.data();
    pass.kernels = &ChosenKernels();
    pass.rowBytes = static_cast<size_t>(pass.width) * static_cast<size_t>(pass.samples);
    pass.sharpened.assign(static_cast<size_t>(pass.height), 0);
    return true;
}

void CImageAdjuster::FirstPass8(const Pass8& pass, uint8_t* source, uint8_t* target) {
    // Hue and saturation with the composed table, or the table alone; with sharpness the result
    // goes where the unsharp mask reads it.
    const AdjustmentRowKernels& kernels = *pass.kernels;
    if (pass.hue && kernels.hueTable8 != nullptr) {
        kernels.hueTable8(target, source, pass.width, pass.samples, pass.params,
                          pass.before ? m_before8.data() : nullptr);
        return;
    }
    if (pass.hue) {
        kernels.hueSaturation8(source, pass.width, pass.samples, pass.params);
    }
    if (pass.before) {
        kernels.table8(target, source, pass.width, pass.samples, m_before8.data());
    } else if (target != source) {
        std::memcpy(target, source, pass.rowBytes);
    }
}

void CImageAdjuster::SecondPass8(const Pass8& pass, int32_t y, const uint8_t* const around[4],
                                 uint16_t* sums) {
    // The unsharp mask back into the image, brightness as it writes; the two outer rows on each
    // side are only copied back.
    const AdjustmentRowKernels& kernels = *pass.kernels;
    uint8_t* out = pass.image->Row(y);
    if (y >= 2 && y <= pass.height - 3) {
        if (kernels.sharpenTable8 != nullptr) {
            kernels.sharpenTable8(out, around, pass.width, pass.samples, pass.sharpness, sums,
                                  pass.after ? m_after8.data() : nullptr);
        } else {
            kernels.sharpen8(out, around, pass.width, pass.samples, pass.sharpness, sums);
            if (pass.after) {
                kernels.table8(out, out, pass.width, pass.samples, m_after8.data());
            }
        }
    } else if (pass.after) {
        kernels.table8(out, around[2], pass.width, pass.samples, m_after8.data());
    } else {
        std::memcpy(out, around[2], pass.rowBytes);
    }
}

uint8_t* CImageAdjuster::FirstPassRow(const Pass8& pass, const BandBuffers& buffers, int32_t y) {
    if (!pass.rolling) {
        return pass.scratch->Row(y);
    }
    return buffers.rolling + static_cast<size_t>(y % kRollingRows) * pass.rowBytes;
}

void CImageAdjuster::Sharpen8(Pass8& pass, const BandBuffers& buffers, int32_t y) {
    const uint8_t* centre = FirstPassRow(pass, buffers, y);
    const bool interior = y >= 2 && y <= pass.height - 3;
    const uint8_t* const around[4] = {
        interior ? FirstPassRow(pass, buffers, y - 2) : centre,
        interior ? FirstPassRow(pass, buffers, y - 1) : centre, centre,
        interior ? FirstPassRow(pass, buffers, y + 1) : centre};
    SecondPass8(pass, y, around, buffers.sums);
    pass.sharpened[static_cast<size_t>(y)] = 1;
    if (pass.finished != nullptr) {
        (*pass.finished)(y);
    }
}

void CImageAdjuster::Band8(Pass8& pass, int32_t first, int32_t end, const DemosaicRow* produce,
                           const BandBuffers& buffers) {
    const auto firstPass = [&](int32_t y, uint8_t* source) {
        FirstPass8(pass, source, pass.sharp ? FirstPassRow(pass, buffers, y) : source);
    };
    // Rolling, the band makes the first pass of the two rows above it and the one below it in
    // its own rows (the demosaic writing them there too): the image's rows there are another
    // band's.
    if (pass.rolling) {
        for (int32_t y = std::max(first - 2, 0); y < first; ++y) {
            (*produce)(y, buffers.own);
            firstPass(y, buffers.own);
        }
    }
    // The unsharp mask of a row reads the first pass's rows two above to one below it (the
    // outer rows only their own), so it follows the first pass one row behind; with the scratch
    // image the rows at the band's edges are left for Finish8.
    const auto ready = [&](int32_t row, int32_t last) {
        if (pass.rolling) {
            return true;
        }
        const bool interior = row >= 2 && row <= pass.height - 3;
        return interior ? row - 2 >= first && row + 1 <= last : row >= first && row <= last;
    };
    for (int32_t y = first; y < end; ++y) {
        if (produce != nullptr) {
            (*produce)(y, nullptr);
        }
        firstPass(y, pass.image->Row(y));
        if (!pass.sharp) {
            if (pass.finished != nullptr) {
                (*pass.finished)(y);
            }
        } else if (y - 1 >= first && ready(y - 1, y)) {
            Sharpen8(pass, buffers, y - 1);
        }
    }
    if (!pass.sharp || end - 1 < first) {
        return;
    }
    if (pass.rolling && end < pass.height) {
        (*produce)(end, buffers.own);
        firstPass(end, buffers.own);
    }
    if (ready(end - 1, end - 1)) {
        Sharpen8(pass, buffers, end - 1);
    }
}

void CImageAdjuster::Finish8(Pass8& pass, const BandBuffers& buffers) {
    if (!pass.sharp || pass.rolling) {
        return;
    }
    for (int32_t y = 0; y < pass.height; ++y) {
        if (pass.sharpened[static_cast<size_t>(y)] == 0) {
            Sharpen8(pass, buffers, y);
        }
    }
}

void CImageAdjuster::Apply8(CImageBuffer& image, CImageBuffer& scratch,
                            const AdjustmentSettings& settings) {
    Pass8 pass;
    if (!Prepare8(image, scratch, settings, pass)) {
        return;
    }
    BandRows<uint16_t> sums(pass.rowBytes);
    ForEachRowBand(pass.height, kMinRowsPerBand, [&](int32_t first, int32_t end) {
        Band8(pass, first, end, nullptr, BandBuffers{sums.Take()});
    });
    Finish8(pass, BandBuffers{sums.Take()});
}

bool CImageAdjuster::DemosaicAndApply(CImageBuffer& image, CImageBuffer& scratch,
                                      const CImageBuffer& raw, int32_t phase,
                                      int32_t redGainPercent, int32_t blueGainPercent,
                                      const AdjustmentSettings& settings,
                                      const std::function<void(int32_t)>* finished) {
    const bool eightBit = image.BitsPerPixel() == 24 || image.BitsPerPixel() == 32;
    Pass8 pass;
    bool prepared = false;
    if (eightBit && raw.BitsPerPixel() == 8 && image.Width() == raw.Width() &&
        image.Height() == raw.Height()) {
        try {
            prepared = Prepare8(image, scratch, settings, pass);
        } catch (const std::bad_alloc&) {
            m_gamma.valid = m_contrast.valid = m_brightness.valid = false;
            prepared = false;
        }
    }
    if (!prepared) {
        if (!Demosaic(image, raw, phase, redGainPercent, blueGainPercent)) {
            return false;
        }
        Apply(image, scratch, settings);
        if (finished != nullptr) {
            ForEachRowBand(image.Height(), kMinRowsPerBand, [&](int32_t first, int32_t end) {
                for (int32_t y = first; y < end; ++y) {
                    (*finished)(y);
                }
            });
        }
        return true;
    }
    pass.finished = finished;
    // The unsharp mask reads the first pass's rows from a few rows of each thread's own, which
    // stay in the cache, instead of from a whole scratch image.
    pass.rolling = pass.sharp;
    BandRows<uint16_t> sums(pass.rowBytes);
    BandRows<uint8_t> rows(pass.rolling ? (kRollingRows + 1) * pass.rowBytes : 0);
    const bool done = DemosaicInBands(
        image, raw, phase, redGainPercent, blueGainPercent,
        [&](int32_t first, int32_t end, const DemosaicRow& produce) {
            BandBuffers buffers{sums.Take()};
            if (pass.rolling) {
                buffers.rolling = rows.Take();
                buffers.own = buffers.rolling + kRollingRows * pass.rowBytes;
            }
            Band8(pass, first, end, &produce, buffers);
        });
    if (done) {
        Finish8(pass, BandBuffers{sums.Take()});
    }
    return done;
}

void CImageAdjuster::Apply16(CImageBuffer& image, CImageBuffer& scratch,
                             const AdjustmentSettings& settings) {
    const int32_t samples = PixelSamples(image.BitsPerPixel());
    const int32_t width = image.Width();
    const int32_t height = image.Height();
    const bool hue = HueSaturationActive(settings) && samples >= 3;
    const bool sharp = SharpnessActive(settings) && FitsScratch(image, scratch);
    const bool before = Compose(settings, true, GammaActive(settings), ContrastActive(settings),
                                BrightnessActive(settings) && !sharp, m_before);
    const bool after =
        sharp && Compose(settings, true, false, false, BrightnessActive(settings), m_after);
    if (!hue && !before && !sharp) {
        return;
    }
    if (hue && (!m_saturationValid || m_saturation != settings.saturation)) {
        m_saturationTable = SaturationTable(settings.saturation);
        m_saturation = settings.saturation;
        m_saturationValid = true;
    }
    HueRowParams params;
    params.shift = HueShift(settings.hue);
    params.saturationFactor = static_cast<uint32_t>((settings.saturation + 256) * 256);
    params.saturationTable = m_saturationTable.data();
    const AdjustmentRowKernels& kernels = ChosenKernels();
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(samples) * 2;
    BandRows<uint8_t> rowBytes8(hue ? static_cast<size_t>(width) * 3 : 0);
    const auto words = [](CImageBuffer& buffer, int32_t y) {
        return reinterpret_cast<uint16_t*>(buffer.Row(y));
    };

    ForEachRowBand(height, kMinRowsPerBand, [&](int32_t first, int32_t end) {
        uint8_t* bytes = hue ? rowBytes8.Take() : nullptr;
        for (int32_t y = first; y < end; ++y) {
            uint16_t* row = words(image, y);
            if (hue) {
                // Hue and saturation see the high byte of each channel and leave the low one 0:
                // the row's high bytes go through the 8-bit row kernel and come back.
                for (int32_t x = 0; x < width; ++x) {
                    const uint16_t* p = row + static_cast<ptrdiff_t>(x) * samples;
                    for (int c = 0; c < 3; ++c) {
                        bytes[3 * x + c] = static_cast<uint8_t>(p[c] >> 8);
                    }
                }
                kernels.hueSaturation8(bytes, width, 3, params);
                for (int32_t x = 0; x < width; ++x) {
                    uint16_t* p = row + static_cast<ptrdiff_t>(x) * samples;
                    for (int c = 0; c < 3; ++c) {
                        p[c] = static_cast<uint16_t>(bytes[3 * x + c] << 8);
                    }
                    if (samples == 4) {
                        p[3] = 0;
                    }
                }
            }
            uint16_t* target = sharp ? words(scratch, y) : row;
            if (before) {
                TableRow<uint16_t>(target, row, width, samples, m_before.data());
            } else if (sharp) {
                std::memcpy(target, row, rowBytes);
            }
        }
    });
    if (!sharp) {
        return;
    }
    BandRows<uint32_t> sums(static_cast<size_t>(width) * static_cast<size_t>(samples));
    ForEachRowBand(height, kMinRowsPerBand, [&](int32_t first, int32_t end) {
        uint32_t* columnSums = sums.Take();
        for (int32_t y = first; y < end; ++y) {
            uint16_t* out = words(image, y);
            if (y >= 2 && y <= height - 3) {
                const uint16_t* rows[4] = {words(scratch, y - 2), words(scratch, y - 1),
                                           words(scratch, y), words(scratch, y + 1)};
                SharpenRow<uint16_t, uint32_t>(out, rows, width, samples, settings.sharpness,
                                               after ? m_after.data() : nullptr, columnSums);
            } else if (after) {
                TableRow<uint16_t>(out, words(scratch, y), width, samples, m_after.data());
            } else {
                std::memcpy(out, words(scratch, y), rowBytes);
            }
        }
    });
}

}  // namespace quorix
