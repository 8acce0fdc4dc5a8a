#include "imaging/image_buffer.h"

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

}  // namespace quorix
