#include "imaging/pixel_operations.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace quorix {
namespace {

uint16_t LoadWord(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void StoreWord(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

// Walks the rectangle and hands each destination and source pixel to `pixel`. Flipped walks take
// destination row i from source row rect.bottom - 1 - i.
template <bool Flipped, typename Pixel>
void Walk(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
          int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
          Pixel pixel) {
    const int32_t rows = rect.bottom - rect.top;
    const int32_t columns = rect.right - rect.left;
    for (int32_t i = 0; i < rows; ++i) {
        const int32_t srcRow = Flipped ? rect.bottom - 1 - i : rect.top + i;
        const uint8_t* s = src + static_cast<ptrdiff_t>(srcRow) * srcStride +
                           static_cast<ptrdiff_t>(rect.left) * srcBytesPerPixel;
        uint8_t* d = dst + static_cast<ptrdiff_t>(dstY + i) * dstStride +
                     static_cast<ptrdiff_t>(dstX) * dstBytesPerPixel;
        for (int32_t j = 0; j < columns; ++j) {
            pixel(d, s);
            d += dstBytesPerPixel;
            s += srcBytesPerPixel;
        }
    }
}

bool IsColour8(int32_t bytesPerPixel) {
    return bytesPerPixel == 3 || bytesPerPixel == 4;
}
bool IsColour16(int32_t bytesPerPixel) {
    return bytesPerPixel == 6 || bytesPerPixel == 8;
}

template <int32_t Bytes>
int Repack(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstBytesPerPixel,
           int32_t srcBytesPerPixel, int32_t dstStride) {
    const int32_t packed = rect.right * Bytes;
    if (dstBytesPerPixel != Bytes || srcBytesPerPixel != Bytes || dstStride < packed) {
        return 0;
    }
    // Each sample moves to a position at or behind its own, so going backwards never overwrites
    // one that is still to be moved.
    for (int32_t row = rect.bottom - 1; row >= rect.top; --row) {
        for (int32_t x = rect.right - 1; x >= rect.left; --x) {
            const ptrdiff_t from = static_cast<ptrdiff_t>(row) * packed + x * Bytes;
            const ptrdiff_t to = static_cast<ptrdiff_t>(row) * dstStride + x * Bytes;
            for (int32_t b = Bytes - 1; b >= 0; --b) {
                dst[to + b] = src[from + b];
            }
        }
    }
    return 1;
}

template <bool Flipped, int Shift>
int Gray16To8(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
              int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
              int32_t srcStride) {
    if (dstBytesPerPixel != 1 || srcBytesPerPixel != 2) {
        return 0;
    }
    Walk<Flipped>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                  srcStride, [](uint8_t* d, const uint8_t* s) {
                      d[0] = static_cast<uint8_t>((LoadWord(s) >> Shift) & 0xFF);
                  });
    return 1;
}

template <int Shift>
int Scale16(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
            int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
            int32_t srcStride) {
    if (dstBytesPerPixel != 2 || srcBytesPerPixel != 2) {
        return 0;
    }
    Walk<false>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                srcStride, [](uint8_t* d, const uint8_t* s) {
                    StoreWord(d, static_cast<uint32_t>(LoadWord(s)) << Shift);
                });
    return 1;
}

// 48-bit colour to 48 or 64 bits; the 64-bit form writes 65535 into the fourth word.
template <int Shift, bool Swap, int32_t DstBytes>
int Scale48(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
            int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
            int32_t srcStride) {
    if (dstBytesPerPixel != DstBytes || srcBytesPerPixel != 6) {
        return 0;
    }
    Walk<false>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                srcStride, [](uint8_t* d, const uint8_t* s) {
                    const uint32_t blue = LoadWord(s);
                    const uint32_t green = LoadWord(s + 2);
                    const uint32_t red = LoadWord(s + 4);
                    StoreWord(d, (Swap ? red : blue) << Shift);
                    StoreWord(d + 2, green << Shift);
                    StoreWord(d + 4, (Swap ? blue : red) << Shift);
                    if constexpr (DstBytes == 8) {
                        StoreWord(d + 6, 0xFFFF);
                    }
                });
    return 1;
}

template <bool Flipped>
int Copy24Rows(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
               int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
               int32_t srcStride) {
    if (!IsColour8(dstBytesPerPixel) || !IsColour8(srcBytesPerPixel)) {
        return 0;
    }
    Walk<Flipped>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                  srcStride, [](uint8_t* d, const uint8_t* s) {
                      const uint8_t blue = s[0];
                      const uint8_t green = s[1];
                      const uint8_t red = s[2];
                      d[0] = blue;
                      d[1] = green;
                      d[2] = red;
                  });
    return 1;
}

template <bool Flipped>
int Colour16To24(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                 int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                 int32_t dstStride, int32_t srcStride) {
    if (dstBytesPerPixel != 3 || !IsColour16(srcBytesPerPixel)) {
        return 0;
    }
    // The 8-bit view of a 16-bit channel is its high byte, the second of the little-endian word.
    Walk<Flipped>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                  srcStride, [](uint8_t* d, const uint8_t* s) {
                      d[0] = s[1];
                      d[1] = s[3];
                      d[2] = s[5];
                  });
    return 1;
}

}  // namespace

int RowCopyFlipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                   int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                   int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    if (dstBytesPerPixel != srcBytesPerPixel || dstBytesPerPixel <= 0) {
        return 0;
    }
    const ptrdiff_t dstOffset = static_cast<ptrdiff_t>(dstX) * dstBytesPerPixel;
    const ptrdiff_t srcOffset = static_cast<ptrdiff_t>(rect.left) * srcBytesPerPixel;
    // Whole rows including their padding, as far as both rows reach.
    const ptrdiff_t bytes = std::min(dstStride - dstOffset, srcStride - srcOffset);
    const int32_t rows = rect.bottom - rect.top;
    for (int32_t i = 0; i < rows; ++i) {
        std::memmove(dst + static_cast<ptrdiff_t>(dstY + i) * dstStride + dstOffset,
                     src + static_cast<ptrdiff_t>(rect.bottom - 1 - i) * srcStride + srcOffset,
                     static_cast<size_t>(bytes));
    }
    return 1;
}

int Repack8(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t, int32_t,
            int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride, int32_t,
            intptr_t, intptr_t) {
    return Repack<1>(dst, src, rect, dstBytesPerPixel, srcBytesPerPixel, dstStride);
}

int Repack16(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t, int32_t,
             int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride, int32_t,
             intptr_t, intptr_t) {
    return Repack<2>(dst, src, rect, dstBytesPerPixel, srcBytesPerPixel, dstStride);
}

int Gray16To8HighByte(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                      int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                      int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Gray16To8<false, 8>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                               dstStride, srcStride);
}

int Gray16To8HighByteFlipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                             int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                             int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Gray16To8<true, 8>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                              dstStride, srcStride);
}

int Gray16To8TenBitFlipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                           int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                           int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Gray16To8<true, 2>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                              dstStride, srcStride);
}

int Gray16To8TwelveBitFlipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                              int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                              int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Gray16To8<true, 4>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                              dstStride, srcStride);
}

int Scale16From10Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                     int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                     int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Scale16<6>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                      srcStride);
}

int Scale16From12Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                     int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                     int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Scale16<4>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                      srcStride);
}

int Scale48From10Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                     int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                     int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Scale48<6, false, 6>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                                dstStride, srcStride);
}

int Scale48From12Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                     int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                     int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Scale48<4, false, 6>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                                dstStride, srcStride);
}

int Scale48From10BitSwap(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                         int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                         int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Scale48<6, true, 6>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                               dstStride, srcStride);
}

int Scale48From12BitSwap(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                         int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                         int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Scale48<4, true, 6>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                               dstStride, srcStride);
}

int Convert48To64From10Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                           int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                           int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Scale48<6, false, 8>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                                dstStride, srcStride);
}

int Convert48To64From12Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                           int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                           int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Scale48<4, false, 8>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                                dstStride, srcStride);
}

int Convert48To64From10BitSwap(uint8_t* dst, const uint8_t* src, const PixelRect& rect,
                               int32_t dstX, int32_t dstY, int32_t dstBytesPerPixel,
                               int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
                               intptr_t, intptr_t) {
    return Scale48<6, true, 8>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                               dstStride, srcStride);
}

int Convert48To64From12BitSwap(uint8_t* dst, const uint8_t* src, const PixelRect& rect,
                               int32_t dstX, int32_t dstY, int32_t dstBytesPerPixel,
                               int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
                               intptr_t, intptr_t) {
    return Scale48<4, true, 8>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                               dstStride, srcStride);
}

int Copy24(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
           int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
           intptr_t, intptr_t) {
    return Copy24Rows<false>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                             dstStride, srcStride);
}

int Copy24Flipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                  int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                  int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Copy24Rows<true>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                            dstStride, srcStride);
}

int Swap24(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
           int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
           intptr_t, intptr_t) {
    if (!IsColour8(dstBytesPerPixel) || !IsColour8(srcBytesPerPixel)) {
        return 0;
    }
    Walk<false>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                srcStride, [](uint8_t* d, const uint8_t* s) {
                    const uint8_t blue = s[0];
                    const uint8_t green = s[1];
                    const uint8_t red = s[2];
                    d[0] = red;
                    d[1] = green;
                    d[2] = blue;
                });
    return 1;
}

int Alpha32(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
            int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
            int32_t srcStride, intptr_t, intptr_t) {
    if (dstBytesPerPixel != 4 || srcBytesPerPixel != 4) {
        return 0;
    }
    Walk<false>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                srcStride, [](uint8_t* d, const uint8_t* s) {
                    const uint8_t alpha = static_cast<uint8_t>(255 - s[3]);
                    d[0] = s[0];
                    d[1] = s[1];
                    d[2] = s[2];
                    d[3] = alpha;
                });
    return 1;
}

int Convert48To24(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                  int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                  int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Colour16To24<false>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                               dstStride, srcStride);
}

int Convert48To24Flipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                         int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                         int32_t dstStride, int32_t srcStride, intptr_t, intptr_t) {
    return Colour16To24<true>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel,
                              dstStride, srcStride);
}

int Luminance(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
              int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
              int32_t srcStride, intptr_t, intptr_t) {
    if (dstBytesPerPixel != 1 || !IsColour8(srcBytesPerPixel)) {
        return 0;
    }
    Walk<false>(dst, src, rect, dstX, dstY, dstBytesPerPixel, srcBytesPerPixel, dstStride,
                srcStride, [](uint8_t* d, const uint8_t* s) {
                    d[0] = static_cast<uint8_t>((30 * s[2] + 59 * s[1] + 11 * s[0]) / 100);
                });
    return 1;
}

}  // namespace quorix
