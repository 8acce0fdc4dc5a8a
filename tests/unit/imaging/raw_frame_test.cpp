// Frame intake on the raw slot: packed rows moved to their stride positions without overwriting
// samples still to be moved, and the software mirror in every direction.
#include "imaging/raw_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quorix {
namespace {

uint8_t PatternByte(size_t i) {
    return static_cast<uint8_t>((i * 37 + 11) ^ (i >> 8));
}

struct RepackCase {
    int32_t width;
    int32_t height;
    uint16_t bits;
};

class RepackRowsMatrix : public ::testing::TestWithParam<RepackCase> {};

// A frame packed row after row lands with row r, sample x at r * stride + x * bytes.
TEST_P(RepackRowsMatrix, MovesEverySampleToItsStridePosition) {
    const RepackCase c = GetParam();
    CImageBuffer raw;
    ASSERT_TRUE(raw.Create(c.width, c.height, c.bits));
    const size_t bytesPerSample = c.bits / 8;
    const size_t packedRow = bytesPerSample * static_cast<size_t>(c.width);
    const size_t packedSize = packedRow * static_cast<size_t>(c.height);
    for (size_t i = 0; i < packedSize; ++i) {
        raw.Bits()[i] = PatternByte(i);
    }
    RepackRows(raw);
    for (int32_t r = 0; r < c.height; ++r) {
        for (size_t b = 0; b < packedRow; ++b) {
            ASSERT_EQ(raw.Row(r)[b], PatternByte(static_cast<size_t>(r) * packedRow + b))
                << "row " << r << " byte " << b;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, RepackRowsMatrix,
                         ::testing::Values(RepackCase{5, 4, 8}, RepackCase{1, 7, 8},
                                           RepackCase{1023, 3, 8}, RepackCase{3, 5, 16},
                                           RepackCase{1, 6, 16}, RepackCase{1001, 3, 16}));

// Rows whose packed length is already the stride are where they belong and stay untouched.
TEST(RepackRows, AlignedFrameIsLeftAsItIs) {
    for (const uint16_t bits : {8, 16}) {
        CImageBuffer raw;
        ASSERT_TRUE(raw.Create(8, 5, bits));
        for (size_t i = 0; i < raw.SizeBytes(); ++i) {
            raw.Bits()[i] = PatternByte(i);
        }
        RepackRows(raw);
        for (size_t i = 0; i < raw.SizeBytes(); ++i) {
            ASSERT_EQ(raw.Bits()[i], PatternByte(i)) << "bits " << bits << " byte " << i;
        }
    }
    CImageBuffer empty;
    RepackRows(empty);
    EXPECT_EQ(empty.Bits(), nullptr);
}

struct MirrorCase {
    uint16_t bits;
    bool horizontal;
    bool vertical;
};

class MirrorMatrix : public ::testing::TestWithParam<MirrorCase> {};

// Each output pixel must come from the mirrored position, whole (both bytes of a 16-bit sample).
TEST_P(MirrorMatrix, EveryPixelComesFromTheMirroredPosition) {
    const MirrorCase c = GetParam();
    const int32_t width = 7;
    const int32_t height = 5;
    CImageBuffer image;
    ASSERT_TRUE(image.Create(width, height, c.bits));
    for (size_t i = 0; i < image.SizeBytes(); ++i) {
        image.Bits()[i] = PatternByte(i);
    }
    const std::vector<uint8_t> before(image.Bits(), image.Bits() + image.SizeBytes());
    MirrorImage(image, c.horizontal, c.vertical);
    const size_t pixelBytes = c.bits / 8;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t fromX = c.horizontal ? width - 1 - x : x;
            const int32_t fromY = c.vertical ? height - 1 - y : y;
            for (size_t b = 0; b < pixelBytes; ++b) {
                const size_t from = static_cast<size_t>(fromY) * image.Stride() +
                                    static_cast<size_t>(fromX) * pixelBytes + b;
                ASSERT_EQ(image.Row(y)[static_cast<size_t>(x) * pixelBytes + b], before[from])
                    << "x " << x << " y " << y << " byte " << b;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Directions, MirrorMatrix,
                         ::testing::Values(MirrorCase{8, false, false}, MirrorCase{8, true, false},
                                           MirrorCase{8, false, true}, MirrorCase{8, true, true},
                                           MirrorCase{16, false, false},
                                           MirrorCase{16, true, false}, MirrorCase{16, false, true},
                                           MirrorCase{16, true, true}));

}  // namespace
}  // namespace quorix
