#pragma once

#include <cstdint>

#include "imaging/image_buffer.h"

namespace quorix {

// The image file formats of Quorix_SaveImage, by their format codes.
enum ImageFileFormat : int32_t {
    kFileBmp = 0,         // the library's own BMP writer, at the image's depth
    kFileRaw = 1,         // the pixel memory as it is: height x stride bytes, no header
    kFileJpegHigh = 2,    // quality 100
    kFileJpegMedium = 3,  // quality 70
    kFileJpegLow = 4,     // quality 20
    kFilePng = 5,         // 8 or 16 bits per sample, gray, RGB or RGBA
    kFileTiff = 6,        // uncompressed, one strip, 8 or 16 bits per sample
    kFileFormatCount = 7,
};

enum class SaveResult {
    kSaved,
    kUnknownFormat,  // a format code outside 0..6
    kNoImage,        // the image has no pixels, or a depth no format takes
    kFailed,         // the file could not be created, written or encoded
};

// Writes an image (memory row 0 = the top of the picture, 8, 16, 24, 32, 48 or 64 bits per
// pixel in the pipeline's layouts) to a file in one of the formats above, through
// platform::OutputFile: a regular file is written under a temporary name beside it (beside the
// file a link names) and renamed over it only once complete and on the disk, so a failed save
// never leaves a partial file under the caller's name and an existing file is replaced whole,
// keeping its mode; a device is written in place. Every encoder error (a full disk, a size
// limit, a directory that does not take files) is caught here and gives kFailed; the reason goes
// to the log. Runs on the caller's thread and touches nothing but the image and the file.
SaveResult SaveImageFile(const char* fileName, const CImageBuffer& image, int32_t format);

// The BMP writer alone: file header, info header, the gray palette for 8-bit images, then the
// rows bottom row first, each padded to the image's stride. False when the file cannot be
// written whole.
bool SaveBitmapFile(const char* fileName, const CImageBuffer& image);

}  // namespace quorix
