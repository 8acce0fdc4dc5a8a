// Quorix_SaveImage as an application uses it: the file holds the frame Quorix_GetImage returns,
// and each way the save can fail says why (or, for an unknown format, returns 0 with no code).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../../unit/output/output_test_support.h"
#include "context_test_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;
using test::ReadWholeFile;
using test::ScratchDirectory;

class SaveImage : public ContextCameraTest {};

TEST_F(SaveImage, WritesTheLastFrameAndReportsEachFailure) {
    Attach("QX252-000950");
    const QuorixHandle handle = Initialize();
    ScratchDirectory directory;
    const std::string path = directory.File("frame.bmp");
    ASSERT_EQ(Quorix_SetColorMode(handle, 24), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, 0, 256, 1536, 0, 64), 1);

    // No frame yet.
    EXPECT_EQ(Quorix_SaveImage(handle, path.c_str(), QUORIX_SAVE_BMP), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_NO_ENGINE);

    ASSERT_EQ(Quorix_SnapShot(handle, nullptr, 0, 0), 1);
    ASSERT_EQ(Quorix_SaveImage(handle, path.c_str(), QUORIX_SAVE_BMP), 1);
    // The BMP's pixels are the frame, bottom row first, as GetImage hands it out in that order.
    std::vector<uint8_t> image(256 * 3 * 64);
    ASSERT_EQ(Quorix_GetImage(handle, image.data(), static_cast<uint32_t>(image.size()), 0), 1);
    const std::vector<uint8_t> file = ReadWholeFile(path);
    ASSERT_EQ(file.size(), 54 + image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin() + 54));

    EXPECT_EQ(Quorix_SaveImage(handle, path.c_str(), 7), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_NONE);
    EXPECT_EQ(Quorix_SaveImage(handle, "", QUORIX_SAVE_PNG), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_ARGUMENT);
    EXPECT_EQ(
        Quorix_SaveImage(handle, directory.File("missing/frame.png").c_str(), QUORIX_SAVE_PNG), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_TEXT);
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"frame.bmp"});
}

}  // namespace
}  // namespace quorix
