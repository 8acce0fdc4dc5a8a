#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorix {

// The bitmap info header in front of every image, in the device-independent bitmap layout that
// image files and the preview use (40 bytes). The height is kept positive although memory row 0
// is the top of the picture; writers of bottom-up formats flip rows themselves.
#pragma pack(push, 1)
struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};
struct RgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(sizeof(RgbQuad) == 4);

// A rectangle of pixels; right and bottom are exclusive.
struct PixelRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// The one signature of every converter and filter that walks a rectangle of a source image and
// writes at (dstX, dstY) of a destination image: destination bits, source bits, the clipped
// source rectangle, destination x and y, destination and source bytes per pixel, destination and
// source stride [bytes], and two operation-defined parameters. Source and destination may be the
// same memory. Returns nonzero on success.
using PixelOperation = int (*)(uint8_t* dst, const uint8_t* src, const PixelRect& rect,
                               int32_t dstX, int32_t dstY, int32_t dstBytesPerPixel,
                               int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
                               intptr_t param1, intptr_t param2);

// One image: its header with a 256-entry palette, and its pixel memory of height rows of
// `Stride()` bytes (each row padded to a multiple of 4). On Linux the pixels live in plain,
// zero-filled memory for every depth. The context owns its image slots; images are never copied
// by accident.
class CImageBuffer {
public:
    CImageBuffer() = default;
    CImageBuffer(const CImageBuffer&) = delete;
    CImageBuffer& operator=(const CImageBuffer&) = delete;
    ~CImageBuffer() = default;

    // Makes an image of this size and depth (8, 16, 24, 32, 48 or 64 bits per pixel), zero-filled;
    // an 8-bit image gets the gray palette. False for a non-positive size or depth 0, or when
    // the memory cannot be had; the image is empty then.
    bool Create(int32_t width, int32_t height, uint16_t bitsPerPixel);
    // An image of the other's size and depth; pixels are not copied.
    bool CopyFormat(const CImageBuffer& other);
    // Frees the pixels and clears the header.
    void Release();
    // Loads the 256-step gray ramp into the palette.
    void SetGrayPalette();

    uint8_t* Bits() { return m_bits.empty() ? nullptr : m_bits.data(); }
    const uint8_t* Bits() const { return m_bits.empty() ? nullptr : m_bits.data(); }
    uint8_t* Row(int32_t row) { return Bits() + static_cast<size_t>(row) * m_stride; }
    const uint8_t* Row(int32_t row) const { return Bits() + static_cast<size_t>(row) * m_stride; }
    int32_t BytesPerPixel() const { return m_bitsPerPixel / 8; }
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    int32_t Stride() const { return m_stride; }  // [bytes per row]
    uint16_t BitsPerPixel() const { return m_bitsPerPixel; }
    size_t SizeBytes() const { return m_bits.size(); }
    const BitmapInfoHeader& Header() const { return m_header; }
    const std::array<RgbQuad, 256>& Palette() const { return m_palette; }

    // Runs `operation` from `source` into `destination` (which may be the same buffer). `rect`
    // (null = the whole source) is clipped to the source, its placement at (x, y) to the
    // destination. The rows handed to the operation are then counted from the bottom of each
    // buffer, the way bottom-up bitmaps number them: the rectangle's rows become
    // source height - bottom .. source height - top, and y becomes destination height - y - rows.
    // Returns the operation's result, or 0 without calling it when nothing remains of the
    // rectangle, either buffer is empty or the operation is null.
    static int ApplyPixelOperation(CImageBuffer& destination, PixelOperation operation,
                                   const CImageBuffer& source, const PixelRect* rect, int32_t x,
                                   int32_t y, intptr_t param1, intptr_t param2);

    // Bytes per row of an image: width x bits / 8 rounded up to a multiple of 4; 0 when it
    // would not fit 31 bits.
    static int32_t StrideFor(int32_t width, uint16_t bitsPerPixel);

private:
    BitmapInfoHeader m_header;
    std::array<RgbQuad, 256> m_palette{};
    std::vector<uint8_t> m_bits;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_stride = 0;
    uint16_t m_bitsPerPixel = 0;
};

}  // namespace quorix
