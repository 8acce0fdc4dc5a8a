// The per-frame routine of the camera context: the raw frame of the colour type's raw slot
// becomes the image the application receives.

#include <mutex>

#include "context/quorix.h"
#include "imaging/demosaic.h"
#include "imaging/pixel_operations.h"
#include "imaging/raw_frame.h"

namespace quorix {

namespace {

constexpr int32_t kGrayModeLuminance = 2;

}  // namespace

void CQuorix::ProcessFrame() {
    CImageBuffer& raw = *m_images[RawSlot()];
    const int32_t type = m_preparedType;
    // One consistent set of values for the whole frame, however the application changes them
    // meanwhile.
    bool mirrorH = false;
    bool mirrorV = false;
    ImageValues values;
    {
        std::lock_guard lock(m_valuesLock);
        mirrorH = m_camera.mirrorH != 0;
        mirrorV = m_camera.mirrorV != 0;
        values = m_image;
    }
    // The mosaic's phase follows the picture's own flips, whether the camera made them or the
    // software mirror below does, and 2x2 sub-sampling starts its lines one row further down. The
    // sub-sampling is the one the frames were taken with; a new setting waits for the next
    // acquisition.
    const int32_t phase =
        EffectiveBayerPhase(values.bayerMode, mirrorV, mirrorH, m_preparedSubSample != 0);

    // Automatic exposure or gain measures the raw frame here, once the image adjustments exist.

    CorrectRawFrame(raw);

    // Gray processing of the raw types. Mode 2 turns the 8-bit mosaic into the luminance of its
    // demosaiced colours; a 16-bit frame has no such view and stays as it is. Mode 1 (gray gains
    // and offsets) comes with the image adjustments.
    if (type == 0 && values.grayMode == kGrayModeLuminance) {
        CImageBuffer& work = *m_images[kRgb24];
        if (Demosaic(work, raw, phase, values.bayerGainRed, values.bayerGainBlue)) {
            CImageBuffer::ApplyPixelOperation(raw, Luminance, work, nullptr, 0, 0, 0, 0);
        }
    }

    // The software mirror covers only the directions the camera cannot mirror itself.
    const bool softwareH = mirrorH && m_engine->IsMirrorHSupported() == 0;
    const bool softwareV = mirrorV && m_engine->IsMirrorVSupported() == 0;
    if (softwareH || softwareV) {
        MirrorImage(raw, softwareH, softwareV);
    }

    if (type >= 2) {
        Demosaic(*m_images[OutputSlot()], raw, phase, values.bayerGainRed, values.bayerGainBlue);
    }

    // Hue and saturation (colour types only), gamma, contrast, sharpness and brightness adjust
    // the output image here, in that order, once the image adjustments exist.
}

}  // namespace quorix
