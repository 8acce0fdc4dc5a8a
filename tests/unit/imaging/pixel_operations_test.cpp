// The layout converters, each against its per-pixel formula written out here: the right bytes
// into the right channels, rows direct or flipped, and nothing written outside the pixels the
// operation owns (a fourth channel it does not set, row padding).
#include "imaging/pixel_operations.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorix {
namespace {

uint32_t Word(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | (p[1] << 8));
}

void PutWord(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

constexpr uint8_t kUntouched = 0xC3;

// Expected destination pixel from a source pixel; d starts out as what the destination held.
using PixelFormula = std::function<void(uint8_t* d, const uint8_t* s)>;

struct OperationCase {
    std::string name;
    PixelOperation operation;
    uint16_t srcBits;
    uint16_t dstBits;
    bool flipped;
    PixelFormula formula;
};

void FillSource(CImageBuffer& image, uint32_t seed) {
    for (size_t i = 0; i < image.SizeBytes(); ++i) {
        seed = seed * 1103515245u + 12345u;
        image.Bits()[i] = static_cast<uint8_t>(seed >> 16);
    }
}

// Runs one operation over a whole 7 x 5 image and compares every destination byte.
void CheckWholeImage(const OperationCase& c) {
    SCOPED_TRACE(c.name);
    const int32_t width = 7;
    const int32_t height = 5;
    CImageBuffer source;
    ASSERT_TRUE(source.Create(width, height, c.srcBits));
    FillSource(source, 77u + c.srcBits);
    CImageBuffer destination;
    ASSERT_TRUE(destination.Create(width, height, c.dstBits));
    std::fill(destination.Bits(), destination.Bits() + destination.SizeBytes(), kUntouched);
    std::vector<uint8_t> expected(destination.Bits(), destination.Bits() + destination.SizeBytes());
    const int32_t srcPixel = c.srcBits / 8;
    const int32_t dstPixel = c.dstBits / 8;
    for (int32_t i = 0; i < height; ++i) {
        const int32_t from = c.flipped ? height - 1 - i : i;
        for (int32_t x = 0; x < width; ++x) {
            c.formula(expected.data() + static_cast<size_t>(i) * destination.Stride() +
                          static_cast<size_t>(x) * dstPixel,
                      source.Row(from) + static_cast<size_t>(x) * srcPixel);
        }
    }
    ASSERT_EQ(
        CImageBuffer::ApplyPixelOperation(destination, c.operation, source, nullptr, 0, 0, 0, 0),
        1);
    for (size_t b = 0; b < expected.size(); ++b) {
        ASSERT_EQ(destination.Bits()[b], expected[b])
            << "row " << b / destination.Stride() << " byte " << b % destination.Stride();
    }
}

void HighByte(uint8_t* d, const uint8_t* s) {
    d[0] = static_cast<uint8_t>(Word(s) >> 8);
}
void TenBit(uint8_t* d, const uint8_t* s) {
    d[0] = static_cast<uint8_t>((Word(s) >> 2) & 0xFF);
}
void TwelveBit(uint8_t* d, const uint8_t* s) {
    d[0] = static_cast<uint8_t>((Word(s) >> 4) & 0xFF);
}

PixelFormula Scale16(int shift) {
    return [shift](uint8_t* d, const uint8_t* s) { PutWord(d, (Word(s) << shift) & 0xFFFF); };
}

PixelFormula Scale48(int shift, bool swap, bool sixtyFour) {
    return [=](uint8_t* d, const uint8_t* s) {
        const uint32_t blue = Word(s);
        const uint32_t green = Word(s + 2);
        const uint32_t red = Word(s + 4);
        PutWord(d, ((swap ? red : blue) << shift) & 0xFFFF);
        PutWord(d + 2, (green << shift) & 0xFFFF);
        PutWord(d + 4, ((swap ? blue : red) << shift) & 0xFFFF);
        if (sixtyFour) {
            PutWord(d + 6, 65535);
        }
    };
}

void CopyBgr(uint8_t* d, const uint8_t* s) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

void SwapBgr(uint8_t* d, const uint8_t* s) {
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
}

void Alpha(uint8_t* d, const uint8_t* s) {
    CopyBgr(d, s);
    d[3] = static_cast<uint8_t>(255 - s[3]);
}

void DeepToBgr(uint8_t* d, const uint8_t* s) {
    d[0] = static_cast<uint8_t>(Word(s) >> 8);
    d[1] = static_cast<uint8_t>(Word(s + 2) >> 8);
    d[2] = static_cast<uint8_t>(Word(s + 4) >> 8);
}

void Luma(uint8_t* d, const uint8_t* s) {
    const int blue = s[0];
    const int green = s[1];
    const int red = s[2];
    d[0] = static_cast<uint8_t>((30 * red + 59 * green + 11 * blue) / 100);
}

std::vector<OperationCase> Cases() {
    return {
        {"Gray16To8HighByte", Gray16To8HighByte, 16, 8, false, HighByte},
        {"Gray16To8HighByteFlipped", Gray16To8HighByteFlipped, 16, 8, true, HighByte},
        {"Gray16To8TenBitFlipped", Gray16To8TenBitFlipped, 16, 8, true, TenBit},
        {"Gray16To8TwelveBitFlipped", Gray16To8TwelveBitFlipped, 16, 8, true, TwelveBit},
        {"Scale16From10Bit", Scale16From10Bit, 16, 16, false, Scale16(6)},
        {"Scale16From12Bit", Scale16From12Bit, 16, 16, false, Scale16(4)},
        {"Scale48From10Bit", Scale48From10Bit, 48, 48, false, Scale48(6, false, false)},
        {"Scale48From12Bit", Scale48From12Bit, 48, 48, false, Scale48(4, false, false)},
        {"Scale48From10BitSwap", Scale48From10BitSwap, 48, 48, false, Scale48(6, true, false)},
        {"Scale48From12BitSwap", Scale48From12BitSwap, 48, 48, false, Scale48(4, true, false)},
        {"Convert48To64From10Bit", Convert48To64From10Bit, 48, 64, false, Scale48(6, false, true)},
        {"Convert48To64From12Bit", Convert48To64From12Bit, 48, 64, false, Scale48(4, false, true)},
        {"Convert48To64From10BitSwap", Convert48To64From10BitSwap, 48, 64, false,
         Scale48(6, true, true)},
        {"Convert48To64From12BitSwap", Convert48To64From12BitSwap, 48, 64, false,
         Scale48(4, true, true)},
        {"Copy24 24to24", Copy24, 24, 24, false, CopyBgr},
        {"Copy24 24to32", Copy24, 24, 32, false, CopyBgr},
        {"Copy24 32to24", Copy24, 32, 24, false, CopyBgr},
        {"Copy24Flipped 32to32", Copy24Flipped, 32, 32, true, CopyBgr},
        {"Copy24Flipped 24to24", Copy24Flipped, 24, 24, true, CopyBgr},
        {"Swap24 24to24", Swap24, 24, 24, false, SwapBgr},
        {"Swap24 32to24", Swap24, 32, 24, false, SwapBgr},
        {"Swap24 24to32", Swap24, 24, 32, false, SwapBgr},
        {"Alpha32", Alpha32, 32, 32, false, Alpha},
        {"Convert48To24 48", Convert48To24, 48, 24, false, DeepToBgr},
        {"Convert48To24 64", Convert48To24, 64, 24, false, DeepToBgr},
        {"Convert48To24Flipped 48", Convert48To24Flipped, 48, 24, true, DeepToBgr},
        {"Convert48To24Flipped 64", Convert48To24Flipped, 64, 24, true, DeepToBgr},
        {"Luminance 24", Luminance, 24, 8, false, Luma},
        {"Luminance 32", Luminance, 32, 8, false, Luma},
    };
}

TEST(PixelOperations, EachConverterFollowsItsPixelFormula) {
    for (const OperationCase& c : Cases()) {
        CheckWholeImage(c);
    }
}

// A converter handed layouts it does not know must refuse and write nothing.
TEST(PixelOperations, WrongLayoutsAreRefused) {
    for (const OperationCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        // An 8-bit gray source and destination fit none of the converters above.
        CImageBuffer source;
        ASSERT_TRUE(source.Create(6, 3, 8));
        FillSource(source, 5);
        CImageBuffer destination;
        ASSERT_TRUE(destination.Create(6, 3, 8));
        std::fill(destination.Bits(), destination.Bits() + destination.SizeBytes(), kUntouched);
        EXPECT_EQ(CImageBuffer::ApplyPixelOperation(destination, c.operation, source, nullptr, 0, 0,
                                                    0, 0),
                  0);
        for (size_t b = 0; b < destination.SizeBytes(); ++b) {
            ASSERT_EQ(destination.Bits()[b], kUntouched);
        }
    }
}

// A sub-rectangle placed inside a larger destination lands at its position and nowhere else.
TEST(PixelOperations, PlacedRectangleWritesOnlyItsArea) {
    CImageBuffer source;
    ASSERT_TRUE(source.Create(6, 6, 24));
    FillSource(source, 9);
    CImageBuffer destination;
    ASSERT_TRUE(destination.Create(6, 6, 8));
    std::fill(destination.Bits(), destination.Bits() + destination.SizeBytes(), kUntouched);
    // The full-height rectangle keeps its rows under the bottom-up numbering: source rows 0..5.
    const PixelRect rect{1, 0, 4, 6};
    ASSERT_EQ(CImageBuffer::ApplyPixelOperation(destination, Luminance, source, &rect, 2, 0, 0, 0),
              1);
    for (int32_t y = 0; y < 6; ++y) {
        for (int32_t x = 0; x < destination.Stride(); ++x) {
            uint8_t expected = kUntouched;
            if (x >= 2 && x < 5) {
                Luma(&expected, source.Row(y) + (x - 2 + 1) * 3);
            }
            ASSERT_EQ(destination.Row(y)[x], expected) << x << "," << y;
        }
    }
}

// Whole rows, padding included, copied upside down, as far as the shorter stride reaches.
TEST(PixelOperations, RowCopyFlippedCopiesWholeRowsUpsideDown) {
    for (const uint16_t bits : {8, 16, 24, 32, 48}) {
        SCOPED_TRACE(bits);
        CImageBuffer source;
        ASSERT_TRUE(source.Create(5, 4, bits));
        FillSource(source, bits);
        CImageBuffer destination;
        ASSERT_TRUE(destination.Create(5, 4, bits));
        ASSERT_EQ(CImageBuffer::ApplyPixelOperation(destination, RowCopyFlipped, source, nullptr, 0,
                                                    0, 0, 0),
                  1);
        for (int32_t i = 0; i < 4; ++i) {
            for (int32_t b = 0; b < destination.Stride(); ++b) {
                ASSERT_EQ(destination.Row(i)[b], source.Row(3 - i)[b]) << i << "," << b;
            }
        }
    }
    CImageBuffer gray;
    ASSERT_TRUE(gray.Create(5, 4, 8));
    CImageBuffer colour;
    ASSERT_TRUE(colour.Create(5, 4, 24));
    EXPECT_EQ(CImageBuffer::ApplyPixelOperation(colour, RowCopyFlipped, gray, nullptr, 0, 0, 0, 0),
              0);
}

}  // namespace
}  // namespace quorix
