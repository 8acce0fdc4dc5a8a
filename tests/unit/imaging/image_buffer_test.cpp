// The image buffer's geometry and its rectangle dispatcher: clipping, the bottom-up row numbering
// handed to pixel operations, and refusing empty work.
#include "imaging/image_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace quorix {
namespace {

TEST(ImageBuffer, CreateRefusesBadGeometry) {
    CImageBuffer image;
    EXPECT_FALSE(image.Create(0, 10, 8));
    EXPECT_FALSE(image.Create(10, 0, 24));
    EXPECT_FALSE(image.Create(-4, 10, 24));
    EXPECT_FALSE(image.Create(10, 10, 0));
    EXPECT_EQ(image.Bits(), nullptr);
    EXPECT_EQ(image.Header().size, 40u);
    EXPECT_EQ(image.Header().width, 0);
}

// A stride not padded to four bytes would shear every row after the first.
TEST(ImageBuffer, StrideIsRoundedUpToFourBytes) {
    CImageBuffer image;
    ASSERT_TRUE(image.Create(1001, 3, 24));
    EXPECT_EQ(image.Stride(), 3004);
    EXPECT_EQ(image.SizeBytes(), 3004u * 3u);
    EXPECT_EQ(CImageBuffer::StrideFor(5, 8), 8);
    EXPECT_EQ(CImageBuffer::StrideFor(3, 16), 8);
    EXPECT_EQ(CImageBuffer::StrideFor(7, 48), 44);
}

// Deep colour buffers are plain memory and must start black, like the others.
TEST(ImageBuffer, DeepColourBuffersAreZeroFilled) {
    for (const uint16_t bits : {48, 64}) {
        CImageBuffer image;
        ASSERT_TRUE(image.Create(13, 5, bits));
        EXPECT_EQ(image.Header().bitCount, bits);
        EXPECT_EQ(image.Header().planes, 1);
        EXPECT_EQ(image.Header().compression, 0u);
        ASSERT_NE(image.Bits(), nullptr);
        for (size_t i = 0; i < image.SizeBytes(); ++i) {
            ASSERT_EQ(image.Bits()[i], 0) << "bits " << bits << " byte " << i;
        }
    }
}

TEST(ImageBuffer, EightBitBuffersCarryTheGrayRampAndCopyFormatKeepsGeometry) {
    CImageBuffer gray;
    ASSERT_TRUE(gray.Create(9, 4, 8));
    for (int i = 0; i < 256; ++i) {
        const RgbQuad& entry = gray.Palette()[static_cast<size_t>(i)];
        EXPECT_EQ(entry.blue, i);
        EXPECT_EQ(entry.green, i);
        EXPECT_EQ(entry.red, i);
        EXPECT_EQ(entry.reserved, 0);
    }
    CImageBuffer copy;
    ASSERT_TRUE(copy.CopyFormat(gray));
    EXPECT_EQ(copy.Width(), 9);
    EXPECT_EQ(copy.Height(), 4);
    EXPECT_EQ(copy.Stride(), 12);
    EXPECT_EQ(copy.Palette()[200].green, 200);
    copy.Release();
    EXPECT_EQ(copy.Bits(), nullptr);
    EXPECT_EQ(copy.Header().size, 40u);
    EXPECT_EQ(copy.Header().bitCount, 0);
    EXPECT_EQ(copy.Palette()[200].green, 0);
    CImageBuffer empty;
    EXPECT_FALSE(copy.CopyFormat(empty));
}

// What the dispatcher handed to the operation last time.
struct Call {
    int count = 0;
    uint8_t* dst = nullptr;
    const uint8_t* src = nullptr;
    PixelRect rect;
    int32_t dstX = 0;
    int32_t dstY = 0;
    int32_t dstBytesPerPixel = 0;
    int32_t srcBytesPerPixel = 0;
    int32_t dstStride = 0;
    int32_t srcStride = 0;
    intptr_t param1 = 0;
    intptr_t param2 = 0;
};
Call g_call;

int Record(uint8_t* dst, const uint8_t* src, const PixelRect& rect, int32_t dstX, int32_t dstY,
           int32_t dstBytesPerPixel, int32_t srcBytesPerPixel, int32_t dstStride, int32_t srcStride,
           intptr_t param1, intptr_t param2) {
    g_call = Call{g_call.count + 1, dst,       src,       rect,   dstX,  dstY, dstBytesPerPixel,
                  srcBytesPerPixel, dstStride, srcStride, param1, param2};
    return 7;
}

class ApplyPixelOperation : public ::testing::Test {
protected:
    void SetUp() override {
        g_call = Call{};
        ASSERT_TRUE(m_source.Create(16, 10, 24));
        ASSERT_TRUE(m_destination.Create(12, 20, 32));
    }
    int Apply(const PixelRect* rect, int32_t x, int32_t y) {
        return CImageBuffer::ApplyPixelOperation(m_destination, Record, m_source, rect, x, y, 11,
                                                 -3);
    }
    void ExpectRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
        EXPECT_EQ(g_call.rect.left, left);
        EXPECT_EQ(g_call.rect.top, top);
        EXPECT_EQ(g_call.rect.right, right);
        EXPECT_EQ(g_call.rect.bottom, bottom);
    }
    CImageBuffer m_source;
    CImageBuffer m_destination;
};

// The whole source, placed at the top left, reaches the operation with both buffers' geometry.
TEST_F(ApplyPixelOperation, PassesBuffersGeometryAndParameters) {
    ASSERT_EQ(Apply(nullptr, 0, 0), 7);
    ASSERT_EQ(g_call.count, 1);
    EXPECT_EQ(g_call.dst, m_destination.Bits());
    EXPECT_EQ(g_call.src, m_source.Bits());
    // 12 columns fit the destination; rows 0..10 counted from the bottom stay 0..10, and the
    // destination's top row 0 is bottom-up row 20 - 0 - 10.
    ExpectRect(0, 0, 12, 10);
    EXPECT_EQ(g_call.dstX, 0);
    EXPECT_EQ(g_call.dstY, 10);
    EXPECT_EQ(g_call.dstBytesPerPixel, 4);
    EXPECT_EQ(g_call.srcBytesPerPixel, 3);
    EXPECT_EQ(g_call.dstStride, 48);
    EXPECT_EQ(g_call.srcStride, 48);
    EXPECT_EQ(g_call.param1, 11);
    EXPECT_EQ(g_call.param2, -3);
}

// Rows of a partial rectangle are counted from the bottom of each buffer.
TEST_F(ApplyPixelOperation, RenumbersRowsFromTheBottom) {
    const PixelRect rect{1, 2, 5, 4};
    ASSERT_EQ(Apply(&rect, 3, 3), 7);
    ExpectRect(1, 10 - 4, 5, 10 - 2);
    EXPECT_EQ(g_call.dstX, 3);
    EXPECT_EQ(g_call.dstY, 20 - 3 - 2);
}

// A rectangle reaching beyond the source, or placed partly outside the destination, is cut.
TEST_F(ApplyPixelOperation, ClipsToSourceAndDestination) {
    const PixelRect wide{-3, -2, 40, 25};
    ASSERT_EQ(Apply(&wide, 0, 0), 7);
    ExpectRect(0, 0, 12, 10);
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    const PixelRect huge{kMin, kMin, kMax, kMax};
    ASSERT_EQ(Apply(&huge, 0, 0), 7);
    ExpectRect(0, 0, 12, 10);

    const PixelRect rect{2, 1, 9, 6};
    ASSERT_EQ(Apply(&rect, -2, -1), 7);
    // Two columns and one row fall off the left and top: columns 4..9, rows 2..6 remain.
    ExpectRect(4, 10 - 6, 9, 10 - 2);
    EXPECT_EQ(g_call.dstX, 0);
    EXPECT_EQ(g_call.dstY, 20 - 0 - 4);

    ASSERT_EQ(Apply(&rect, 8, 18), 7);
    // Only 4 columns and 2 rows fit from (8, 18).
    ExpectRect(2, 10 - 3, 6, 10 - 1);
    EXPECT_EQ(g_call.dstX, 8);
    EXPECT_EQ(g_call.dstY, 20 - 18 - 2);
}

// Empty work must not reach the operation, so steps on slots never created are harmless.
TEST_F(ApplyPixelOperation, EmptyWorkReturnsZeroWithoutCalling) {
    const PixelRect outside{20, 0, 30, 5};
    EXPECT_EQ(Apply(&outside, 0, 0), 0);
    const PixelRect inverted{5, 5, 3, 8};
    EXPECT_EQ(Apply(&inverted, 0, 0), 0);
    EXPECT_EQ(Apply(nullptr, 12, 0), 0);
    EXPECT_EQ(Apply(nullptr, 0, 20), 0);
    EXPECT_EQ(Apply(nullptr, -16, 0), 0);
    EXPECT_EQ(Apply(nullptr, std::numeric_limits<int32_t>::min(), 0), 0);
    EXPECT_EQ(Apply(nullptr, 0, std::numeric_limits<int32_t>::max()), 0);
    EXPECT_EQ(
        CImageBuffer::ApplyPixelOperation(m_destination, nullptr, m_source, nullptr, 0, 0, 0, 0),
        0);
    CImageBuffer empty;
    EXPECT_EQ(CImageBuffer::ApplyPixelOperation(empty, Record, m_source, nullptr, 0, 0, 0, 0), 0);
    EXPECT_EQ(CImageBuffer::ApplyPixelOperation(m_destination, Record, empty, nullptr, 0, 0, 0, 0),
              0);
    EXPECT_EQ(g_call.count, 0);
}

}  // namespace
}  // namespace quorix
