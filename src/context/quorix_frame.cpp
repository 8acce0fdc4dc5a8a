// The per-frame routine of the camera context: the raw frame of the colour type's raw slot
// becomes the image the application receives.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>

#include "context/quorix.h"
#include "imaging/demosaic.h"
#include "imaging/pixel_operations.h"
#include "imaging/raw_frame.h"
#include "imaging/raw_measurements.h"

namespace quorix {

namespace {

constexpr int32_t kGrayModeGains = 1;
constexpr int32_t kGrayModeLuminance = 2;
constexpr int32_t kAutoIrisExposure = 1;
constexpr int32_t kAutoIrisGain = 2;
// The gain the automatic gain works from and the least it raises it to [engine units].
constexpr int32_t kAutoIrisGainFloor = 4;
constexpr int32_t kAutoIrisGainStep = 5;

}  // namespace

void CQuorix::AutoIris(const CImageBuffer& raw, int32_t mode) {
    // The factor is in hundredths, and so is the arithmetic with it: the value it scales is
    // truncated exactly as the product with the factor would be.
    const int64_t factor = AutoIrisFactor(AutoIrisMeans(raw));
    if (!AutoIrisActs(static_cast<int32_t>(factor))) {
        return;
    }
    if (mode == kAutoIrisGain) {
        const int64_t wanted = std::max(m_engine->GetGain(), kAutoIrisGainFloor) * factor / 100;
        auto gain = static_cast<int32_t>(wanted);
        if (factor > 100 && gain < kAutoIrisGainStep) {
            gain = kAutoIrisGainFloor;
        }
        gain = std::min(std::max(gain, m_engine->GetGainMin()), m_engine->GetGainMax());
        m_engine->SetGain(gain);
        std::lock_guard lock(m_valuesLock);
        m_camera.globalGain = gain;
        m_camera.colorGainGreen1 = gain;
        m_camera.colorGainRed = gain;
        m_camera.colorGainBlue = gain;
        m_camera.colorGainGreen2 = gain;
        ++m_frameValueChanges;
        return;
    }
    // The exposure register is 16 bits wide; an exposure that rounds to nothing becomes 1.
    int32_t exposure = static_cast<uint16_t>(m_engine->GetExposureTime() * factor / 100);
    if (exposure == 0) {
        exposure = 1;
    }
    exposure = std::min(std::max(exposure, m_engine->GetExposureTimeMin()),
                        m_engine->GetExposureTimeMax());
    m_engine->SetExposureTime(exposure);
    double seconds = 0.0;
    const bool inSeconds = m_engine->IsExposureTimeExSupported() != 0;
    if (inSeconds) {
        m_engine->GetExposureTimeEx(&seconds);
    }
    std::lock_guard lock(m_valuesLock);
    m_camera.exposure = exposure;
    if (inSeconds) {
        m_camera.exposureSeconds = seconds;
    }
    ++m_frameValueChanges;
}

bool CQuorix::ProcessFrame(const std::function<void(int32_t row)>* finished) {
    CImageBuffer& raw = *m_images[RawSlot()];
    const int32_t type = m_preparedType;
    // One consistent set of values for the whole frame, however the application changes them
    // meanwhile.
    bool mirrorH = false;
    bool mirrorV = false;
    int32_t autoIris = 0;
    ImageValues values;
    {
        std::lock_guard lock(m_valuesLock);
        mirrorH = m_camera.mirrorH != 0;
        mirrorV = m_camera.mirrorV != 0;
        autoIris = m_camera.autoIris;
        values = m_image;
        // The one-shot gray gains are taken from this frame, so the request is used up; the
        // gray-filter dialog's -1 asks for them from every frame.
        if (values.grayGainAutoOnce == 1 && (type == 0 || type == 1) &&
            values.grayMode == kGrayModeGains) {
            m_image.grayGainAutoOnce = 0;
        }
    }
    // The mosaic's phase follows the picture's own flips, whether the camera made them or the
    // software mirror below does, and 2x2 sub-sampling starts its lines one row further down. The
    // sub-sampling is the one the frames were taken with; a new setting waits for the next
    // acquisition.
    const int32_t phase =
        EffectiveBayerPhase(values.bayerMode, mirrorV, mirrorH, m_preparedSubSample != 0);

    // Automatic exposure or gain: the camera's next frames answer what this one measured.
    if (autoIris == kAutoIrisExposure || autoIris == kAutoIrisGain) {
        AutoIris(raw, autoIris);
    }

    CorrectRawFrame(raw);

    // Automatic Bayer gains are measured on the mosaic each demosaic reads, in its phase, and
    // kept as the Bayer gain values (a colour without light keeps its gain).
    const auto measureBayerGains = [&](const CImageBuffer& source) {
        if (values.bayerGainAuto != 0) {
            MeasureBayerGains(source, phase, values.bayerGainRed, values.bayerGainBlue);
            values.bayerGainGreen = 100;
            std::lock_guard lock(m_valuesLock);
            const bool changed = m_image.bayerGainRed != values.bayerGainRed ||
                                 m_image.bayerGainGreen != values.bayerGainGreen ||
                                 m_image.bayerGainBlue != values.bayerGainBlue ||
                                 values.bayerGainAutoOnce != 0;
            m_image.bayerGainRed = values.bayerGainRed;
            m_image.bayerGainGreen = values.bayerGainGreen;
            m_image.bayerGainBlue = values.bayerGainBlue;
            if (values.bayerGainAutoOnce != 0) {
                m_image.bayerGainAuto = 0;
                m_image.bayerGainAutoOnce = 0;
            }
            if (changed) {
                ++m_frameValueChanges;
            }
        }
    };

    // The software mirror covers only the directions the camera cannot mirror itself.
    const bool softwareH = mirrorH && m_engine->IsMirrorHSupported() == 0;
    const bool softwareV = mirrorV && m_engine->IsMirrorVSupported() == 0;

    // Gray processing of the raw types. Mode 1 scales and offsets each mosaic site by its true
    // colour, with gains measured from this frame when the application asked for them once. The
    // sites are those the demosaic reads, except for the flips the software mirror makes only
    // after this step. Mode 2 turns the 8-bit mosaic into the luminance of its demosaiced
    // colours; a 16-bit frame has no such view and stays as it is.
    if ((type == 0 || type == 1) && values.grayMode == kGrayModeGains) {
        const int32_t grayPhase =
            EffectiveBayerPhase(values.bayerMode, mirrorV && !softwareV, mirrorH && !softwareH,
                                m_preparedSubSample != 0);
        if (values.grayGainAutoOnce != 0) {
            MeasureGrayGains(raw, grayPhase, values.grayGain);
            std::lock_guard lock(m_valuesLock);
            if (m_image.grayGain != values.grayGain || values.grayGainAutoOnce == 1) {
                ++m_frameValueChanges;
            }
            m_image.grayGain = values.grayGain;
        }
        if (GrayStepActive(values.grayGain, values.grayOffset)) {
            ApplyGrayGains(raw, grayPhase, values.grayGain, values.grayOffset);
        }
    }
    if (type == 0 && values.grayMode == kGrayModeLuminance) {
        CImageBuffer& work = *m_images[kRgb24];
        measureBayerGains(raw);
        if (Demosaic(work, raw, phase, values.bayerGainRed, values.bayerGainBlue)) {
            CImageBuffer::ApplyPixelOperation(raw, Luminance, work, nullptr, 0, 0, 0, 0);
        }
    }

    if (softwareH || softwareV) {
        MirrorImage(raw, softwareH, softwareV);
    }

    // Hue and saturation (colour types only), gamma, contrast, sharpness and brightness, in that
    // order, each skipped while neutral; a colour frame is adjusted row by row as the demosaic
    // makes it.
    AdjustmentSettings adjustments;
    adjustments.hue = values.hue;
    adjustments.saturation = values.saturation;
    adjustments.gamma = values.gamma;
    adjustments.contrast = values.contrast;
    adjustments.sharpness = values.sharpness;
    adjustments.brightness = values.brightness;
    CImageBuffer& output = *m_images[OutputSlot()];
    if (type >= 2) {
        measureBayerGains(raw);
        return m_adjuster.DemosaicAndApply(output, *m_images[kScratch], raw, phase,
                                           values.bayerGainRed, values.bayerGainBlue, adjustments,
                                           finished) &&
               finished != nullptr;
    }
    m_adjuster.Apply(output, *m_images[kScratch], adjustments);
    return false;
}

int CQuorix::ProcessFrameToCaller(void* buffer, uint32_t size, int32_t orientation) {
    const CImageBuffer& image = *m_images[OutputSlot()];
    const auto stride = static_cast<size_t>(image.Stride());
    const int32_t height = image.Height();
    if (buffer == nullptr || size == 0 || image.Bits() == nullptr ||
        size < stride * static_cast<size_t>(height)) {
        ProcessFrame();
        return buffer == nullptr || size == 0 ? 1
                                              : CopyToCaller(OutputSlot(), orientation, buffer, size);
    }
    auto* out = static_cast<uint8_t*>(buffer);
    // Bottom row first for orientation 0, as device-independent bitmaps store their rows.
    const std::function<void(int32_t)> copyRow = [&](int32_t y) {
        const auto target = static_cast<size_t>(orientation != 0 ? y : height - 1 - y);
        std::memcpy(out + target * stride, image.Row(y), stride);
    };
    if (ProcessFrame(&copyRow)) {
        return 1;
    }
    return CopyToCaller(OutputSlot(), orientation, buffer, size);
}

}  // namespace quorix
