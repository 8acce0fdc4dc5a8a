// Image files read back with the real decoders (libjpeg, libpng, libtiff) and, for BMP and the
// pixel dump, byte by byte: every format with every colour type, on a picture of odd width so
// that every row of the image memory carries padding the files must handle.
#include "output/image_file.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "imaging/image_buffer.h"
#include "output_test_support.h"

namespace quorix {
namespace {

using test::FileSizeLimit;
using test::Le16;
using test::Le32;
using test::ReadWholeFile;
using test::ScratchDirectory;

constexpr int32_t kWidth = 5;  // 3, 6 and 9 bytes of 8-bit channels: no row is a whole word
constexpr int32_t kHeight = 3;

int Channels(int bits) {
    return bits == 8 || bits == 16 ? 1 : bits == 24 || bits == 48 ? 3 : 4;
}
bool Deep(int bits) {
    return bits == 16 || bits == 48 || bits == 64;
}

// An 8-bit channel value of pixel (x, y), channel c in memory order (B, G, R): smooth in x and y,
// constant between channels, so JPEG's colour sub-sampling loses nothing. 16-bit samples put it
// in the high byte and a distinct low byte below.
int Base(int x, int y, int c) {
    return 40 + 20 * x + 30 * y + 10 * c;
}
uint16_t Sample(int bits, int x, int y, int c) {
    if (c == 3) {
        return 0;  // the pipeline leaves the fourth channel 0
    }
    return Deep(bits) ? static_cast<uint16_t>((Base(x, y, c) << 8) | ((7 * x + 3 * y + c) & 0xFF))
                      : static_cast<uint16_t>(Base(x, y, c));
}

void MakeImage(CImageBuffer& image, int bits, int32_t width = kWidth, int32_t height = kHeight) {
    ASSERT_TRUE(image.Create(width, height, static_cast<uint16_t>(bits)));
    const int bytes = Deep(bits) ? 2 : 1;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.Row(y);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < Channels(bits); ++c) {
                const uint16_t value = Sample(bits, x, y, c);
                uint8_t* at = row + (x * Channels(bits) + c) * bytes;
                at[0] = static_cast<uint8_t>(value);
                if (bytes == 2) {
                    at[1] = static_cast<uint8_t>(value >> 8);
                }
            }
        }
    }
}

// The samples a PNG or TIFF reader should find, top row first, channels in file order (R, G, B
// and the fourth), each as its full value.
std::vector<uint16_t> ExpectedSamples(int bits, bool tiff) {
    std::vector<uint16_t> samples;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (Channels(bits) == 1) {
                samples.push_back(Sample(bits, x, y, 0));
                continue;
            }
            samples.push_back(Sample(bits, x, y, 2));
            samples.push_back(Sample(bits, x, y, 1));
            samples.push_back(Sample(bits, x, y, 0));
            if (Channels(bits) == 4) {
                // PNG: opaque alpha; TIFF: 0 at 8 bits per sample, full scale at 16.
                const uint16_t full = Deep(bits) ? 65535 : 255;
                samples.push_back(tiff && !Deep(bits) ? 0 : full);
            }
        }
    }
    return samples;
}

// --- Decoders ------------------------------------------------------------------------------

struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    int channels = 0;
    int bitDepth = 0;
    int colourType = -1;       // PNG
    uint16_t photometric = 0;  // TIFF
    bool progressive = false;  // JPEG
    std::vector<uint16_t> samples;
};

struct TestJpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void TestJpegExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<TestJpegError*>(info->err)->jump, 1);
}

void DecodeJpegInto(FILE* file, Decoded& out) {
    jpeg_decompress_struct decoder;
    TestJpegError error;
    decoder.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = TestJpegExit;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&decoder);
        return;
    }
    jpeg_create_decompress(&decoder);
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    jpeg_start_decompress(&decoder);
    out.width = static_cast<int>(decoder.output_width);
    out.height = static_cast<int>(decoder.output_height);
    out.channels = decoder.output_components;
    out.progressive = decoder.progressive_mode != 0;
    std::vector<uint8_t> row(static_cast<size_t>(out.width * out.channels));
    while (decoder.output_scanline < decoder.output_height) {
        JSAMPROW line = row.data();
        jpeg_read_scanlines(&decoder, &line, 1);
        out.samples.insert(out.samples.end(), row.begin(), row.end());
    }
    jpeg_finish_decompress(&decoder);
    jpeg_destroy_decompress(&decoder);
    out.ok = true;
}

Decoded DecodeJpeg(const std::string& path) {
    Decoded out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) {
        DecodeJpegInto(file, out);
        std::fclose(file);
    }
    return out;
}

void DecodePngInto(FILE* file, Decoded& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    out.width = static_cast<int>(png_get_image_width(png, info));
    out.height = static_cast<int>(png_get_image_height(png, info));
    out.bitDepth = png_get_bit_depth(png, info);
    out.colourType = png_get_color_type(png, info);
    out.channels = png_get_channels(png, info);
    std::vector<uint8_t> row(png_get_rowbytes(png, info));
    for (int y = 0; y < out.height; ++y) {
        png_read_row(png, row.data(), nullptr);
        for (int i = 0; i < out.width * out.channels; ++i) {
            // PNG stores 16-bit samples high byte first.
            out.samples.push_back(out.bitDepth == 16
                                      ? static_cast<uint16_t>((row[2 * i] << 8) | row[2 * i + 1])
                                      : row[i]);
        }
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    out.ok = true;
}

Decoded DecodePng(const std::string& path) {
    Decoded out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) {
        DecodePngInto(file, out);
        std::fclose(file);
    }
    return out;
}

Decoded DecodeTiff(const std::string& path) {
    Decoded out;
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (tiff == nullptr) {
        return out;
    }
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 0;
    uint16_t channels = 0;
    uint16_t compression = 0;
    uint16_t planar = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &out.photometric);
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
    EXPECT_EQ(compression, COMPRESSION_NONE);
    EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(TIFFNumberOfStrips(tiff), 1u);
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.bitDepth = bits;
    out.channels = channels;
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tiff)));
    bool ok = true;
    for (uint32_t y = 0; y < height; ++y) {
        ok = ok && TIFFReadScanline(tiff, row.data(), y, 0) == 1;
        for (int i = 0; i < out.width * out.channels; ++i) {
            // libtiff hands samples over in the machine's order.
            uint16_t value = row[static_cast<size_t>(i)];
            if (bits == 16) {
                std::memcpy(&value, row.data() + 2 * i, 2);
            }
            out.samples.push_back(value);
        }
    }
    TIFFClose(tiff);
    out.ok = ok;
    return out;
}

// --- Every format with every colour type ------------------------------------------------------

class ImageFileFormats : public ::testing::TestWithParam<std::tuple<int32_t, int>> {
protected:
    ScratchDirectory m_directory;
};

TEST_P(ImageFileFormats, WriteWhatTheirReadersExpect) {
    const auto [format, bits] = GetParam();
    CImageBuffer image;
    MakeImage(image, bits);
    const std::string path = m_directory.File("image");
    ASSERT_EQ(SaveImageFile(path.c_str(), image, format), SaveResult::kSaved);
    // Only the file itself is left: the temporary name is gone.
    EXPECT_EQ(m_directory.Entries(), std::vector<std::string>{"image"});
    const std::vector<uint8_t> file = ReadWholeFile(path);
    const size_t stride = static_cast<size_t>(image.Stride());

    switch (format) {
        case kFileRaw:
            // The memory as it is, row padding included.
            EXPECT_EQ(file, std::vector<uint8_t>(image.Bits(), image.Bits() + kHeight * stride));
            break;
        case kFileBmp: {
            const size_t offset = bits == 8 ? 1078 : 54;
            ASSERT_EQ(file.size(), offset + kHeight * stride);
            EXPECT_EQ(file[0], 'B');
            EXPECT_EQ(file[1], 'M');
            EXPECT_EQ(Le32(file, 2), file.size());
            EXPECT_EQ(Le32(file, 10), offset);
            EXPECT_EQ(Le32(file, 14), 40u);
            EXPECT_EQ(Le32(file, 18), static_cast<uint32_t>(kWidth));
            EXPECT_EQ(Le32(file, 22), static_cast<uint32_t>(kHeight));  // positive: bottom up
            EXPECT_EQ(Le16(file, 26), 1);
            EXPECT_EQ(Le16(file, 28), bits);
            EXPECT_EQ(Le32(file, 30), 0u);
            EXPECT_EQ(Le32(file, 34), kHeight * stride);
            if (bits == 8) {
                for (uint32_t i = 0; i < 256; ++i) {
                    ASSERT_EQ(Le32(file, 54 + 4 * i), i | (i << 8) | (i << 16)) << "palette " << i;
                }
            }
            // Each file row, bottom first, is the memory row with its padding.
            for (int y = 0; y < kHeight; ++y) {
                const uint8_t* row = image.Row(kHeight - 1 - y);
                EXPECT_TRUE(std::equal(row, row + stride, file.begin() + offset + y * stride))
                    << "file row " << y;
            }
            break;
        }
        case kFileJpegHigh: {
            const Decoded jpeg = DecodeJpeg(path);
            ASSERT_TRUE(jpeg.ok);
            EXPECT_TRUE(jpeg.progressive);
            ASSERT_EQ(jpeg.width, kWidth);
            ASSERT_EQ(jpeg.height, kHeight);
            ASSERT_EQ(jpeg.channels, Channels(bits) == 1 ? 1 : 3);
            // The 8-bit view: 16-bit samples by their high byte; colour as R, G, B.
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    for (int c = 0; c < jpeg.channels; ++c) {
                        const int channel = jpeg.channels == 1 ? 0 : 2 - c;
                        const size_t at = static_cast<size_t>((y * kWidth + x) * jpeg.channels + c);
                        EXPECT_NEAR(jpeg.samples[at], Base(x, y, channel), 6)
                            << "pixel " << x << "," << y << " channel " << c;
                    }
                }
            }
            break;
        }
        case kFilePng: {
            const Decoded png = DecodePng(path);
            ASSERT_TRUE(png.ok);
            ASSERT_EQ(png.width, kWidth);
            ASSERT_EQ(png.height, kHeight);
            EXPECT_EQ(png.bitDepth, Deep(bits) ? 16 : 8);
            const int types[] = {PNG_COLOR_TYPE_GRAY, 0, PNG_COLOR_TYPE_RGB,
                                 PNG_COLOR_TYPE_RGB_ALPHA};
            EXPECT_EQ(png.colourType, types[Channels(bits) - 1]);
            EXPECT_EQ(png.samples, ExpectedSamples(bits, false));
            break;
        }
        default: {
            const Decoded tiff = DecodeTiff(path);
            ASSERT_TRUE(tiff.ok);
            ASSERT_EQ(tiff.width, kWidth);
            ASSERT_EQ(tiff.height, kHeight);
            EXPECT_EQ(tiff.bitDepth, Deep(bits) ? 16 : 8);
            EXPECT_EQ(tiff.channels, Channels(bits));
            EXPECT_EQ(tiff.photometric,
                      Channels(bits) == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
            EXPECT_EQ(tiff.samples, ExpectedSamples(bits, true));
            break;
        }
    }
}

std::string FormatAndBits(const ::testing::TestParamInfo<std::tuple<int32_t, int>>& info) {
    static const char* const names[] = {"Bmp", "Raw", "Jpeg", "", "", "Png", "Tiff"};
    return std::string(names[std::get<0>(info.param)]) + std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(AllColourTypes, ImageFileFormats,
                         ::testing::Combine(::testing::Values(kFileBmp, kFileRaw, kFileJpegHigh,
                                                              kFilePng, kFileTiff),
                                            ::testing::Values(8, 16, 24, 32, 48, 64)),
                         FormatAndBits);

// A detailed picture the JPEG qualities tell apart: 20 is smaller than 70, which is smaller than
// 100 (a mix-up of the three codes shows).
TEST(ImageFile, JpegQualitiesOrderTheFileSizes) {
    CImageBuffer image;
    ASSERT_TRUE(image.Create(64, 48, 24));
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64 * 3; ++x) {
            image.Row(y)[x] = static_cast<uint8_t>((x * 37 + y * 91 + (x * y) % 17 * 9) & 0xFF);
        }
    }
    ScratchDirectory directory;
    std::array<uintmax_t, 3> sizes{};
    const std::array<int32_t, 3> formats = {kFileJpegLow, kFileJpegMedium, kFileJpegHigh};
    for (size_t i = 0; i < formats.size(); ++i) {
        const std::string path = directory.File("q" + std::to_string(i) + ".jpg");
        ASSERT_EQ(SaveImageFile(path.c_str(), image, formats[i]), SaveResult::kSaved);
        sizes[i] = std::filesystem::file_size(path);
    }
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);
}

// A format code beyond the seven, and an image without pixels, write nothing.
TEST(ImageFile, UnknownFormatAndEmptyImageWriteNothing) {
    ScratchDirectory directory;
    CImageBuffer image;
    MakeImage(image, 24);
    const std::string path = directory.File("x");
    EXPECT_EQ(SaveImageFile(path.c_str(), image, 7), SaveResult::kUnknownFormat);
    EXPECT_EQ(SaveImageFile(path.c_str(), image, -1), SaveResult::kUnknownFormat);
    EXPECT_EQ(SaveImageFile(path.c_str(), CImageBuffer(), kFilePng), SaveResult::kNoImage);
    EXPECT_TRUE(directory.Entries().empty());
}

// Saving over a longer file replaces it whole: no tail of the old file remains.
TEST(ImageFile, OverwritingALongerFileLeavesNoTail) {
    ScratchDirectory directory;
    const std::string path = directory.File("frame.bmp");
    CImageBuffer large;
    MakeImage(large, 64, 100, 80);
    CImageBuffer small;
    MakeImage(small, 24);
    ASSERT_EQ(SaveImageFile(path.c_str(), large, kFileBmp), SaveResult::kSaved);
    ASSERT_EQ(SaveImageFile(path.c_str(), small, kFileBmp), SaveResult::kSaved);
    EXPECT_EQ(std::filesystem::file_size(path), 54u + kHeight * 16u);
}

// A directory that does not exist, and a disk that fills up while an encoder writes: the save
// fails in every format, the process goes on (libjpeg and libpng report by long jumps), an
// existing file of that name keeps its old contents and no half file is left behind.
class ImageFileFailures : public ::testing::TestWithParam<int32_t> {};

TEST_P(ImageFileFailures, FailWithoutLeavingAHalfFile) {
    ScratchDirectory directory;
    CImageBuffer image;
    ASSERT_TRUE(image.Create(128, 96, 24));
    uint32_t noise = 12345;
    for (size_t i = 0; i < image.SizeBytes(); ++i) {
        noise = noise * 1103515245u + 12345u;
        image.Bits()[i] = static_cast<uint8_t>(noise >> 24);
    }
    const int32_t format = GetParam();
    EXPECT_EQ(SaveImageFile(directory.File("missing/frame").c_str(), image, format),
              SaveResult::kFailed);

    const std::string path = directory.File("frame");
    {
        std::ofstream old(path);
        old << "old";
    }
    {
        const FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Set());
        EXPECT_EQ(SaveImageFile(path.c_str(), image, format), SaveResult::kFailed);
    }
    EXPECT_EQ(ReadWholeFile(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"frame"});
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, ImageFileFailures,
                         ::testing::Values(kFileBmp, kFileRaw, kFileJpegHigh, kFilePng, kFileTiff));

}  // namespace
}  // namespace quorix
