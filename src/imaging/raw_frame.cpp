#include "imaging/raw_frame.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "imaging/pixel_operations.h"

namespace quorix {

void RepackRows(CImageBuffer& raw) {
    const int32_t bytesPerSample = raw.BytesPerPixel();
    if (raw.Bits() == nullptr || (bytesPerSample != 1 && bytesPerSample != 2)) {
        return;
    }
    if (static_cast<int64_t>(raw.Width()) * bytesPerSample == raw.Stride()) {
        return;
    }
    CImageBuffer::ApplyPixelOperation(raw, bytesPerSample == 1 ? Repack8 : Repack16, raw, nullptr,
                                      0, 0, 0, 0);
}

void MirrorImage(CImageBuffer& image, bool horizontal, bool vertical) {
    if (image.Bits() == nullptr || (!horizontal && !vertical)) {
        return;
    }
    const int32_t height = image.Height();
    const int32_t width = image.Width();
    const size_t pixelBytes = static_cast<size_t>(image.BytesPerPixel());
    const size_t rowBytes = pixelBytes * static_cast<size_t>(width);
    const std::vector<uint8_t> original(image.Bits(), image.Bits() + image.SizeBytes());
    for (int32_t k = 0; k < height; ++k) {
        const uint8_t* from = original.data() + static_cast<size_t>(k) * image.Stride();
        uint8_t* to = image.Row(vertical ? height - 1 - k : k);
        if (!horizontal) {
            std::memcpy(to, from, rowBytes);
            continue;
        }
        for (int32_t x = 0; x < width; ++x) {
            std::memcpy(to + static_cast<size_t>(width - 1 - x) * pixelBytes,
                        from + static_cast<size_t>(x) * pixelBytes, pixelBytes);
        }
    }
}

}  // namespace quorix
