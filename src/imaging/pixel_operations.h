#pragma once

#include <cstdint>

#include "imaging/image_buffer.h"

// The small converters between pixel layouts used by the frame routine, the preview, the image
// files and AVI recording. Each one has the `PixelOperation` signature and is run through
// `CImageBuffer::ApplyPixelOperation`; it walks the rectangle it is given and writes from
// (dstX, dstY) on. "Flipped" operations take destination row i from source row
// rect.bottom - 1 - i; the others copy rows one to one. Each operation checks the bytes per pixel
// it is handed and returns 0 without writing when they do not fit its layouts, 1 otherwise. The
// parameters are unused unless stated.
namespace quorix {

// Any layout into the same layout: each row copies min(destination stride, source stride) bytes.
int RowCopyFlipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                   int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                   int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);

// Packed rows (rect.right samples each, back to back from row 0) moved in place to their stride
// positions, last row and last sample first so that nothing is overwritten before it is moved.
int Repack8(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
            int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
            int32_t srcStride, intptr_t param1, intptr_t param2);
int Repack16(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
             int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
             int32_t srcStride, intptr_t param1, intptr_t param2);

// 16-bit samples to their 8-bit view, the high byte (direct for the preview, flipped for JPEG).
int Gray16To8HighByte(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                      int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                      int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Gray16To8HighByteFlipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                             int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                             int32_t dstStride, int32_t srcStride, intptr_t param1,
                             intptr_t param2);
// 16-bit samples carrying 10 or 12 significant bits to 8 bits, flipped.
int Gray16To8TenBitFlipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                           int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                           int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Gray16To8TwelveBitFlipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                              int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                              int32_t dstStride, int32_t srcStride, intptr_t param1,
                              intptr_t param2);

// 10- or 12-bit data in 16-bit words raised to the full 16-bit scale (<< 6 or << 4).
int Scale16From10Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                     int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                     int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Scale16From12Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                     int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                     int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);

// 48-bit colour raised to the full scale; the Swap forms also exchange blue and red.
int Scale48From10Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                     int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                     int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Scale48From12Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                     int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                     int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Scale48From10BitSwap(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                         int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                         int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Scale48From12BitSwap(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                         int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                         int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);

// 48-bit colour to 64 bits on the full scale with the fourth word 65535; Swap exchanges B and R.
int Convert48To64From10Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                           int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                           int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Convert48To64From12Bit(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                           int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                           int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Convert48To64From10BitSwap(uint8_t* dst, const uint8_t* src, const PixelRect& rect,
                               int32_t dstX, int32_t dstY, int32_t dstBytesPerPixel,
                               int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
                               intptr_t param1, intptr_t param2);
int Convert48To64From12BitSwap(uint8_t* dst, const uint8_t* src, const PixelRect& rect,
                               int32_t dstX, int32_t dstY, int32_t dstBytesPerPixel,
                               int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
                               intptr_t param1, intptr_t param2);

// 24/32-bit colour into 24/32 bits: B, G, R copied (a fourth byte is left alone).
int Copy24(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
           int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
           intptr_t param1, intptr_t param2);
int Copy24Flipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                  int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                  int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
// 24/32-bit colour into 24/32 bits with blue and red exchanged.
int Swap24(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
           int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
           intptr_t param1, intptr_t param2);
// 32 into 32 bits: B, G, R copied, fourth byte 255 minus the source's fourth byte.
int Alpha32(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
            int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
            int32_t srcStride, intptr_t param1, intptr_t param2);

// 48/64-bit colour to 24 bits, the high byte of each of B, G, R (direct for the preview, flipped
// for JPEG and AVI).
int Convert48To24(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                  int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                  int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);
int Convert48To24Flipped(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX,
                         int32_t dstY, int32_t dstBytesPerPixel, int32_t srcBytesPerPixel,
                         int32_t dstStride, int32_t srcStride, intptr_t param1, intptr_t param2);

// 24/32-bit colour to an 8-bit luminance, (30 R + 59 G + 11 B) / 100; gray mode 2 uses it.
int Luminance(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
              int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride,
              int32_t srcStride, intptr_t param1, intptr_t param2);

}  // namespace quorix
