#pragma once

#include <cstddef>
#include <cstdint>

namespace quorix {

// The 88 words every sensor head keeps about itself: its limits, defaults and current settings.
// The engine reads them directly and CopyStateBlock hands them out whole, so the layout is part of
// the interface: word w sits at byte 4 x w. Words of features other heads have are kept (and
// stay 0 here) so that every head shares this layout.
struct SensorStateBlock {
    uint32_t m_nMaxWidth;                 // w0: sensor width [pixels], bound of x + width
    uint32_t m_nMaxHeight;                // w1: sensor height [lines], bound of y + height
    uint32_t m_nDefaultX;                 // w2
    uint32_t m_nDefaultY;                 // w3
    uint32_t m_nDefaultWidth;             // w4
    uint32_t m_nDefaultHeight;            // w5
    uint32_t m_bWidthAdjustable;          // w6: a width below the full width is allowed
    uint32_t m_bHeightAdjustable;         // w7
    int32_t m_nX;                         // w8: window x offset
    int32_t m_nY;                         // w9: window y offset
    int32_t m_nWidth;                     // w10: output width [pixels]
    int32_t m_nHeight;                    // w11: output height [lines]
    uint32_t m_nLineLength;               // w12: line length as programmed [head units]
    uint32_t m_nFrameLines;               // w13: frame length as programmed [line periods]
    uint32_t m_nSubSample;                // w14: 0 none, 1 2x2
    uint32_t m_reserved15;                // w15
    uint32_t m_reserved16;                // w16
    uint32_t m_nGainMin;                  // w17
    uint32_t m_nGainMax;                  // w18
    uint32_t m_nGain;                     // w19
    uint32_t m_nGainDefault;              // w20
    uint32_t m_reserved21;                // w21
    int32_t m_nExposureLinesMin;          // w22 [line periods]
    int32_t m_nExposureLinesMax;          // w23
    uint32_t m_nExposureLines;            // w24
    uint32_t m_nExposureLinesDefault;     // w25
    uint32_t m_reserved26;                // w26
    uint32_t m_nColorGainMin;             // w27
    uint32_t m_nColorGainMax;             // w28
    uint32_t m_reserved29;                // w29
    uint32_t m_nColorGainDefault;         // w30
    uint32_t m_reservedChannel[16];       // w31-w46: per-channel values of other heads
    uint32_t m_nExposureTimeMin;          // w47 [100 us]
    uint32_t m_nExposureTimeMax;          // w48
    uint32_t m_nExposureTime;             // w49
    uint32_t m_nExposureTimeDefault;      // w50
    uint32_t m_reserved51;                // w51
    uint32_t m_nAuxLevelMin;              // w52
    uint32_t m_nAuxLevelMax;              // w53
    uint32_t m_nAuxLevelDefault;          // w54
    uint32_t m_nAuxLevel;                 // w55
    uint32_t m_bAuxLevelSupported;        // w56
    int32_t m_nBlackLevelMin;             // w57
    int32_t m_nBlackLevelMax;             // w58
    int32_t m_nBlackLevel;                // w59
    int32_t m_nBlackLevelDefault;         // w60
    uint32_t m_bBlackLevelSupported;      // w61
    uint32_t m_bAuxValueSupported;        // w62
    uint32_t m_nAuxValue;                 // w63
    double m_dExposureTimeExMin;          // w64-65 [s]
    double m_dExposureTimeExMax;          // w66-67
    double m_dExposureTimeEx;             // w68-69
    double m_dExposureTimeExDefault;      // w70-71
    uint32_t m_bExposureTimeExSupported;  // w72
    uint32_t m_reserved73[5];             // w73-w77
    uint32_t m_bMirrorV;                  // w78
    uint32_t m_bMirrorVDefault;           // w79
    uint32_t m_bMirrorVSupported;         // w80
    uint32_t m_bMirrorH;                  // w81
    uint32_t m_bMirrorHDefault;           // w82
    uint32_t m_bMirrorHSupported;         // w83
    uint32_t m_nDataBits;                 // w84: 8 or 16, 0 until the data width is set
    int32_t m_nPixelClockKHz;             // w85
    uint32_t m_nRawOrientation;           // w86: orientation code of the raw frame
    uint32_t m_reserved87;                // w87
};

static_assert(sizeof(SensorStateBlock) == 88 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_nX) == 8 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_nSubSample) == 14 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_nGain) == 19 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_nExposureLines) == 24 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_nColorGainDefault) == 30 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_nExposureTimeMin) == 47 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_bBlackLevelSupported) == 61 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_dExposureTimeExMin) == 64 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_bExposureTimeExSupported) == 72 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_bMirrorV) == 78 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_nDataBits) == 84 * size_t{4});
static_assert(offsetof(SensorStateBlock, m_nRawOrientation) == 86 * size_t{4});

}  // namespace quorix
