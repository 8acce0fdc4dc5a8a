#include "imaging/image_buffer.h"

#include <algorithm>
#include <limits>
#include <new>

namespace quorix {

int32_t CImageBuffer::StrideFor(int32_t width, uint16_t bitsPerPixel) {
    const int64_t bytes = (static_cast<int64_t>(width) * bitsPerPixel / 8 + 3) & ~int64_t{3};
    return bytes > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(bytes);
}

bool CImageBuffer::Create(int32_t width, int32_t height, uint16_t bitsPerPixel) {
    Release();
    if (width <= 0 || height <= 0 || bitsPerPixel == 0) {
        return false;
    }
    const int32_t stride = StrideFor(width, bitsPerPixel);
    if (stride == 0) {
        return false;
    }
    try {
        m_bits.assign(static_cast<size_t>(stride) * static_cast<size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        Release();
        return false;
    }
    m_header.width = width;
    m_header.height = height;
    m_header.planes = 1;
    m_header.bitCount = bitsPerPixel;
    m_width = width;
    m_height = height;
    m_stride = stride;
    m_bitsPerPixel = bitsPerPixel;
    if (bitsPerPixel == 8) {
        SetGrayPalette();
    }
    return true;
}

bool CImageBuffer::CopyFormat(const CImageBuffer& other) {
    if (&other == this) {
        return m_width > 0 && m_height > 0 && m_bitsPerPixel != 0;
    }
    return Create(other.m_width, other.m_height, other.m_bitsPerPixel);
}

void CImageBuffer::Release() {
    m_bits.clear();
    m_bits.shrink_to_fit();
    m_header = BitmapInfoHeader{};
    m_palette.fill(RgbQuad{});
    m_width = 0;
    m_height = 0;
    m_stride = 0;
    m_bitsPerPixel = 0;
}

void CImageBuffer::SetGrayPalette() {
    for (size_t i = 0; i < m_palette.size(); ++i) {
        const auto level = static_cast<uint8_t>(i);
        m_palette[i] = RgbQuad{level, level, level, 0};
    }
}

int CImageBuffer::ApplyPixelOperation(CImageBuffer& destination, PixelOperation operation,
                                      const CImageBuffer& source, const PixelRect* rect, int32_t x,
                                      int32_t y, intptr_t param1, intptr_t param2) {
    if (operation == nullptr || destination.Bits() == nullptr || source.Bits() == nullptr) {
        return 0;
    }
    const PixelRect whole{0, 0, source.m_width, source.m_height};
    const PixelRect& asked = rect != nullptr ? *rect : whole;
    // Clipping in 64 bits, so that no rectangle or placement a caller passes can overflow.
    int64_t left = std::max<int64_t>(asked.left, 0);
    int64_t top = std::max<int64_t>(asked.top, 0);
    const int64_t right = std::min<int64_t>(asked.right, source.m_width);
    const int64_t bottom = std::min<int64_t>(asked.bottom, source.m_height);
    int64_t dstX = x;
    int64_t dstY = y;
    // A placement left of or above the destination cuts the same amount off the rectangle.
    if (dstX < 0) {
        left -= dstX;
        dstX = 0;
    }
    if (dstY < 0) {
        top -= dstY;
        dstY = 0;
    }
    const int64_t columns = std::min(right - left, int64_t{destination.m_width} - dstX);
    const int64_t rows = std::min(bottom - top, int64_t{destination.m_height} - dstY);
    if (columns <= 0 || rows <= 0) {
        return 0;
    }
    PixelRect area;
    area.left = static_cast<int32_t>(left);
    area.top = static_cast<int32_t>(top);
    area.right = static_cast<int32_t>(left + columns);
    area.bottom = static_cast<int32_t>(top + rows);
    x = static_cast<int32_t>(dstX);
    y = static_cast<int32_t>(dstY);
    const PixelRect bottomUp{area.left, source.m_height - area.bottom, area.right,
                             source.m_height - area.top};
    const int32_t bottomUpY = destination.m_height - y - static_cast<int32_t>(rows);
    return operation(destination.Bits(), source.Bits(), bottomUp, x, bottomUpY,
                     destination.BytesPerPixel(), source.BytesPerPixel(), destination.m_stride,
                     source.m_stride, param1, param2);
}

}  // namespace quorix
