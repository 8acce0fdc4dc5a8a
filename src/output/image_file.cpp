// Image files of the current frame: the library's own BMP writer and pixel dump, and JPEG, PNG
// and TIFF through libjpeg-turbo, libpng and libtiff. Each image is prepared one row at a time
// into a single reused row buffer, so no format needs a second copy of a whole frame.

#include "output/image_file.h"

#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

// The encoders' C interfaces; jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include "imaging/pixel_operations.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/log.h"

namespace quorix {

namespace {

constexpr const char* kLogCategory = "Output";

// Turns one row of `width` pixels of the image into the row an encoder takes.
using RowConverter = void (*)(uint8_t* dst, const uint8_t* src, int32_t width);

// A row through one of the pipeline's pixel operations: a one-row rectangle at (0, 0).
template <PixelOperation Operation, int32_t DstBytes, int32_t SrcBytes>
void ConvertRow(uint8_t* dst, const uint8_t* src, int32_t width) {
    const PixelRect row{0, 0, width, 1};
    Operation(dst, src, row, 0, 0, DstBytes, SrcBytes, width * DstBytes, width * SrcBytes, 0, 0);
}

// 64-bit colour with the fourth word made opaque (65535); PNG's alpha channel.
void OpaqueRow64(uint8_t* dst, const uint8_t* src, int32_t width) {
    for (int32_t x = 0; x < width; ++x, dst += 8, src += 8) {
        std::memcpy(dst, src, 6);
        dst[6] = 0xFF;
        dst[7] = 0xFF;
    }
}

// 48/64-bit colour with the blue and red words exchanged (TIFF stores R, G, B); a fourth word
// becomes 65535.
template <int32_t Bytes>
void SwapRow48(uint8_t* dst, const uint8_t* src, int32_t width) {
    for (int32_t x = 0; x < width; ++x, dst += Bytes, src += Bytes) {
        std::memcpy(dst, src + 4, 2);
        std::memcpy(dst + 2, src + 2, 2);
        std::memcpy(dst + 4, src, 2);
        if constexpr (Bytes == 8) {
            dst[6] = 0xFF;
            dst[7] = 0xFF;
        }
    }
}

// What an encoder reads: the image's rows, top row first, each through `convert` into a row
// buffer of `rowBytes` (or as they are when `convert` is null).
struct RowSource {
    const uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;  // [bytes]
    RowConverter convert = nullptr;
    uint8_t* rowBuffer = nullptr;

    const uint8_t* Row(int32_t row) const {
        const uint8_t* source = bits + static_cast<size_t>(row) * static_cast<size_t>(stride);
        if (convert == nullptr) {
            return source;
        }
        convert(rowBuffer, source, width);
        return rowBuffer;
    }
};

// Room for an encoder's message about why it failed.
using ErrorText = std::array<char, 256>;

void CopyText(ErrorText& text, const char* message) {
    std::snprintf(text.data(), text.size(), "%s", message != nullptr ? message : "");
}

bool WriteAll(FILE* stream, const void* data, size_t bytes) {
    return std::fwrite(data, 1, bytes, stream) == bytes;
}

// --- BMP and the pixel dump ----------------------------------------------------------------

constexpr size_t kBitmapFileHeaderBytes = 14;
constexpr size_t kBitmapInfoHeaderBytes = sizeof(BitmapInfoHeader);
constexpr size_t kPaletteBytes = 256 * sizeof(RgbQuad);

bool WriteBitmap(FILE* stream, const CImageBuffer& image) {
    const bool palette = image.BitsPerPixel() <= 8;
    const uint64_t offset =
        kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes + (palette ? kPaletteBytes : 0);
    const uint64_t pixels =
        static_cast<uint64_t>(image.Stride()) * static_cast<uint64_t>(image.Height());
    // The file size field is 32 bits wide.
    if (offset + pixels > UINT32_MAX) {
        errno = EFBIG;
        return false;
    }
    std::array<uint8_t, kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes> headers{};
    uint8_t* file = headers.data();
    file[0] = 'B';
    file[1] = 'M';
    WriteLe32(file + 2, static_cast<uint32_t>(offset + pixels));
    WriteLe32(file + 10, static_cast<uint32_t>(offset));
    // The image's own info header; its height is positive, so readers take the rows bottom up.
    const BitmapInfoHeader& header = image.Header();
    uint8_t* info = headers.data() + kBitmapFileHeaderBytes;
    WriteLe32(info, header.size);
    WriteLe32(info + 4, static_cast<uint32_t>(header.width));
    WriteLe32(info + 8, static_cast<uint32_t>(header.height));
    WriteLe16(info + 12, header.planes);
    WriteLe16(info + 14, header.bitCount);
    WriteLe32(info + 16, header.compression);
    // The pixels' size, with their row padding: readers that size their buffer by it find it.
    WriteLe32(info + 20, static_cast<uint32_t>(pixels));
    WriteLe32(info + 24, static_cast<uint32_t>(header.xPelsPerMeter));
    WriteLe32(info + 28, static_cast<uint32_t>(header.yPelsPerMeter));
    WriteLe32(info + 32, header.clrUsed);
    WriteLe32(info + 36, header.clrImportant);
    if (!WriteAll(stream, headers.data(), headers.size())) {
        return false;
    }
    if (palette) {
        std::array<uint8_t, kPaletteBytes> entries{};
        for (size_t i = 0; i < 256; ++i) {
            const RgbQuad& quad = image.Palette()[i];
            entries[4 * i] = quad.blue;
            entries[4 * i + 1] = quad.green;
            entries[4 * i + 2] = quad.red;
            entries[4 * i + 3] = quad.reserved;
        }
        if (!WriteAll(stream, entries.data(), entries.size())) {
            return false;
        }
    }
    for (int32_t row = image.Height() - 1; row >= 0; --row) {
        if (!WriteAll(stream, image.Row(row), static_cast<size_t>(image.Stride()))) {
            return false;
        }
    }
    return true;
}

bool WritePixelDump(FILE* stream, const CImageBuffer& image) {
    return WriteAll(stream, image.Bits(),
                    static_cast<size_t>(image.Stride()) * static_cast<size_t>(image.Height()));
}

// --- JPEG ------------------------------------------------------------------------------------

// libjpeg reports errors through error_exit, which must not return: it jumps back into
// EncodeJpeg. No C++ object with a destructor lives in the frames the jump leaves.
struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    ErrorText text;
};

void JpegErrorExit(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    CopyText(error->text, message);
    std::longjmp(error->jump, 1);
}

// Warnings (corrupt-data notes of a decoder) do not concern a compressor; nothing is printed.
void JpegIgnoreMessage(j_common_ptr) {}

struct JpegSettings {
    int components = 0;
    J_COLOR_SPACE colourSpace = JCS_UNKNOWN;
    int quality = 0;
};

bool EncodeJpeg(FILE* stream, const RowSource& rows, const JpegSettings& settings,
                ErrorText& text) {
    jpeg_compress_struct compressor;
    JpegError error;
    compressor.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegErrorExit;
    error.manager.output_message = JpegIgnoreMessage;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_compress(&compressor);
        text = error.text;
        return false;
    }
    jpeg_create_compress(&compressor);
    jpeg_stdio_dest(&compressor, stream);
    compressor.image_width = static_cast<JDIMENSION>(rows.width);
    compressor.image_height = static_cast<JDIMENSION>(rows.height);
    compressor.input_components = settings.components;
    compressor.in_color_space = settings.colourSpace;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, settings.quality, TRUE);
    jpeg_simple_progression(&compressor);
    jpeg_start_compress(&compressor, TRUE);
    for (int32_t row = 0; row < rows.height; ++row) {
        // libjpeg only reads the rows it is given.
        JSAMPROW line = const_cast<JSAMPROW>(rows.Row(row));
        jpeg_write_scanlines(&compressor, &line, 1);
    }
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    return true;
}

bool WriteJpeg(FILE* stream, const CImageBuffer& image, int quality, ErrorText& text) {
    RowSource rows{image.Bits(), image.Width(), image.Height(), image.Stride()};
    JpegSettings settings;
    settings.quality = quality;
    // Gray for the raw types (16 bits by the high byte of each sample); colour through
    // libjpeg-turbo's B, G, R input layouts, 48 and 64 bits by the high bytes of B, G, R.
    switch (image.BitsPerPixel()) {
        case 8:
            settings = {1, JCS_GRAYSCALE, quality};
            break;
        case 16:
            settings = {1, JCS_GRAYSCALE, quality};
            rows.convert = ConvertRow<Gray16To8HighByte, 1, 2>;
            break;
        case 24:
            settings = {3, JCS_EXT_BGR, quality};
            break;
        case 32:
            settings = {4, JCS_EXT_BGRX, quality};
            break;
        case 48:
            settings = {3, JCS_EXT_BGR, quality};
            rows.convert = ConvertRow<Convert48To24, 3, 6>;
            break;
        default:
            settings = {3, JCS_EXT_BGR, quality};
            rows.convert = ConvertRow<Convert48To24, 3, 8>;
            break;
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(image.Width()) * 3);
    rows.rowBuffer = buffer.data();
    return EncodeJpeg(stream, rows, settings, text);
}

// --- PNG -------------------------------------------------------------------------------------

// libpng reports errors through its error function, which jumps back into EncodePng; as with
// libjpeg no C++ object with a destructor lives in the frames the jump leaves.
struct PngError {
    std::jmp_buf jump;
    ErrorText text;
};

void PngErrorExit(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    CopyText(error->text, message);
    std::longjmp(error->jump, 1);
}

void PngWarning(png_structp, png_const_charp message) {
    platform::Log(kLogCategory, "libpng warning: %s", message);
}

struct PngSettings {
    int bitDepth = 8;
    int colourType = PNG_COLOR_TYPE_GRAY;
};

bool EncodePng(FILE* stream, const RowSource& rows, const PngSettings& settings, PngError& error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, PngErrorExit, PngWarning);
    if (png == nullptr) {
        CopyText(error.text, "no memory for the PNG writer");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        CopyText(error.text, "no memory for the PNG writer");
        return false;
    }
    if (setjmp(error.jump) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, stream);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rows.width),
                 static_cast<png_uint_32>(rows.height), settings.bitDepth, settings.colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // The pipeline stores colour as B, G, R and 16-bit samples little-endian; PNG wants R, G, B
    // and big-endian samples, and libpng turns them round as it writes.
    if ((settings.colourType & PNG_COLOR_MASK_COLOR) != 0) {
        png_set_bgr(png);
    }
    if (settings.bitDepth == 16) {
        png_set_swap(png);
    }
    for (int32_t row = 0; row < rows.height; ++row) {
        png_write_row(png, rows.Row(row));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool WritePng(FILE* stream, const CImageBuffer& image, ErrorText& text) {
    RowSource rows{image.Bits(), image.Width(), image.Height(), image.Stride()};
    PngSettings settings;
    switch (image.BitsPerPixel()) {
        case 8:
            settings = {8, PNG_COLOR_TYPE_GRAY};
            break;
        case 16:
            settings = {16, PNG_COLOR_TYPE_GRAY};
            break;
        case 24:
            settings = {8, PNG_COLOR_TYPE_RGB};
            break;
        case 32:
            // The fourth byte becomes alpha 255 - X; the pipeline leaves X at 0, so opaque.
            settings = {8, PNG_COLOR_TYPE_RGB_ALPHA};
            rows.convert = ConvertRow<Alpha32, 4, 4>;
            break;
        case 48:
            settings = {16, PNG_COLOR_TYPE_RGB};
            break;
        default:
            settings = {16, PNG_COLOR_TYPE_RGB_ALPHA};
            rows.convert = OpaqueRow64;
            break;
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(image.Stride()));
    rows.rowBuffer = buffer.data();
    PngError error;
    if (!EncodePng(stream, rows, settings, error)) {
        text = error.text;
        return false;
    }
    return true;
}

// --- TIFF ------------------------------------------------------------------------------------

// libtiff's messages for this file go to the log, not to the process's stderr.
int TiffMessage(TIFF*, void* userData, const char* module, const char* format, va_list args) {
    auto* text = static_cast<ErrorText*>(userData);
    char message[200];
    std::vsnprintf(message, sizeof message, format, args);
    if (text != nullptr) {
        std::snprintf(text->data(), text->size(), "%s: %s", module != nullptr ? module : "",
                      message);
    }
    platform::Log(kLogCategory, "libtiff: %s: %s", module != nullptr ? module : "", message);
    return 1;
}

struct TiffSettings {
    uint16_t bitsPerSample = 8;
    uint16_t samplesPerPixel = 1;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
};

bool WriteTiff(FILE* stream, const CImageBuffer& image, ErrorText& text) {
    RowSource rows{image.Bits(), image.Width(), image.Height(), image.Stride()};
    TiffSettings settings;
    switch (image.BitsPerPixel()) {
        case 8:
            settings = {8, 1, PHOTOMETRIC_MINISBLACK};
            break;
        case 16:
            settings = {16, 1, PHOTOMETRIC_MINISBLACK};
            break;
        case 24:
            settings = {8, 3, PHOTOMETRIC_RGB};
            rows.convert = ConvertRow<Swap24, 3, 3>;
            break;
        case 32:
            // The fourth byte stays 0: the row buffer starts zeroed and Swap24 leaves it alone.
            settings = {8, 4, PHOTOMETRIC_RGB};
            rows.convert = ConvertRow<Swap24, 4, 4>;
            break;
        case 48:
            settings = {16, 3, PHOTOMETRIC_RGB};
            rows.convert = SwapRow48<6>;
            break;
        default:
            settings = {16, 4, PHOTOMETRIC_RGB};
            rows.convert = SwapRow48<8>;
            break;
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(image.Stride()), 0);
    rows.rowBuffer = buffer.data();

    // libtiff writes through a descriptor of its own and closes it; the stream keeps the file.
    if (std::fflush(stream) != 0) {
        return false;
    }
    const int fd = platform::DuplicateDescriptor(stream);
    if (fd < 0) {
        return false;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        platform::CloseDescriptor(fd);
        CopyText(text, "no memory for the TIFF writer");
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffMessage, &text);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffMessage, nullptr);
    TIFF* tiff = TIFFFdOpenExt(fd, "image", "w", options);
    TIFFOpenOptionsFree(options);
    if (tiff == nullptr) {
        platform::CloseDescriptor(fd);
        return false;
    }
    // One uncompressed strip with the whole picture; rows packed, top row first. A fourth sample
    // is declared as an extra sample of no stated meaning.
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.Width())) == 1 &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.Height())) == 1 &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, settings.bitsPerSample) == 1 &&
              TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, settings.samplesPerPixel) == 1 &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, settings.photometric) == 1 &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE) == 1 &&
              TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(image.Height())) == 1;
    if (ok && settings.samplesPerPixel == 4) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNSPECIFIED};
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra) == 1;
    }
    for (int32_t row = 0; ok && row < image.Height(); ++row) {
        // libtiff copies the row (the file has the machine's byte order, so it swaps nothing).
        ok = TIFFWriteScanline(tiff, const_cast<uint8_t*>(rows.Row(row)),
                               static_cast<uint32_t>(row), 0) == 1;
    }
    ok = ok && TIFFFlush(tiff) == 1;
    TIFFClose(tiff);
    return ok;
}

bool SupportedDepth(uint16_t bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48 || bits == 64;
}

}  // namespace

SaveResult SaveImageFile(const char* fileName, const CImageBuffer& image, int32_t format) {
    if (format < 0 || format >= kFileFormatCount) {
        return SaveResult::kUnknownFormat;
    }
    if (image.Bits() == nullptr || !SupportedDepth(image.BitsPerPixel())) {
        return SaveResult::kNoImage;
    }
    platform::OutputFile file;
    FILE* stream = nullptr;
    if (fileName == nullptr || !file.Open(fileName) || (stream = file.Stream()) == nullptr) {
        platform::Log(kLogCategory, "cannot create %s: %s",
                      fileName != nullptr ? fileName : "(null)",
                      std::generic_category().message(errno).c_str());
        return SaveResult::kFailed;
    }
    ErrorText text{};
    bool written = false;
    errno = 0;
    switch (format) {
        case kFileBmp:
            written = WriteBitmap(stream, image);
            break;
        case kFileRaw:
            written = WritePixelDump(stream, image);
            break;
        case kFileJpegHigh:
            written = WriteJpeg(stream, image, 100, text);
            break;
        case kFileJpegMedium:
            written = WriteJpeg(stream, image, 70, text);
            break;
        case kFileJpegLow:
            written = WriteJpeg(stream, image, 20, text);
            break;
        case kFilePng:
            written = WritePng(stream, image, text);
            break;
        default:
            written = WriteTiff(stream, image, text);
            break;
    }
    const int writeError = errno;
    if (!written || !file.Commit()) {
        const int error = written ? errno : writeError;
        platform::Log(kLogCategory, "writing %s (format %d) failed: %s%s%s", fileName, format,
                      text[0] != '\0' ? text.data() : "", text[0] != '\0' && error != 0 ? ": " : "",
                      error != 0 ? std::generic_category().message(error).c_str() : "");
        return SaveResult::kFailed;
    }
    return SaveResult::kSaved;
}

bool SaveBitmapFile(const char* fileName, const CImageBuffer& image) {
    return SaveImageFile(fileName, image, kFileBmp) == SaveResult::kSaved;
}

}  // namespace quorix
