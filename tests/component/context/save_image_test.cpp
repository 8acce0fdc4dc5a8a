// Quorix_SaveImage as an application uses it: the file holds the frame Quorix_GetImage returns,
// and each way the save can fail says why (or, for an unknown format, returns 0 with no code).
// Then every saver of the library against what may already be under the caller's name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
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

struct Saver {
    const char* name;
    int (*save)(QuorixHandle handle, const char* fileName);
    uint32_t failureCode;  // recorded when the file cannot be written; 0 for none
};

std::ostream& operator<<(std::ostream& out, const Saver& saver) {
    return out << saver.name;
}

bool IsA(const std::string& path, mode_t type) {
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == type;
}

class EverySaver : public ContextCameraTest, public ::testing::WithParamInterface<Saver> {};

// A link keeps pointing at its file (in another folder), which takes the content and keeps its
// mode; a name of 250 bytes works; devices of the test's own are written in place (a copy of
// /dev/null takes the file, a copy of /dev/full fails it) and never removed; a FIFO is refused
// with the saver's file code instead of being replaced or waited on for a reader. Only the
// files asked for are left.
TEST_P(EverySaver, WritesThroughLinksAndReplacesNothingItDidNotMake) {
    const Saver& saver = GetParam();
    Attach("QX252-000951");
    QuorixHandle handle = 0;
    // A failed recording closes the camera: each failure gets a context of its own.
    const auto start = [&] {
        if (handle != 0) {
            Release(handle);
        }
        handle = Initialize();
        ASSERT_EQ(Quorix_SetColorMode(handle, 24), 1);
        ASSERT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, 0, 256, 1536, 0, 64), 1);
        ASSERT_EQ(Quorix_SnapShot(handle, nullptr, 0, 0), 1);
    };
    const auto refused = [&](const std::string& path) {
        start();
        EXPECT_EQ(saver.save(handle, path.c_str()), 0) << path;
        if (saver.failureCode != 0) {
            EXPECT_EQ(Quorix_GetLastError(handle), saver.failureCode) << path;
        }
    };
    start();
    ScratchDirectory directory;
    const bool root = ::geteuid() == 0;

    const std::string keep = directory.File("keep");
    ASSERT_TRUE(std::filesystem::create_directory(keep));
    const std::string target = keep + "/target";
    std::ofstream(target) << "old";
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const std::string link = directory.File("link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(saver.save(handle, link.c_str()), 1);
    EXPECT_TRUE(IsA(link, S_IFLNK));
    EXPECT_GT(std::filesystem::file_size(target), 3u);
    EXPECT_EQ(std::filesystem::status(target).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    EXPECT_EQ(saver.save(handle, directory.File(std::string(250, 'n')).c_str()), 1);

    const std::string null = directory.File("null");
    const std::string full = directory.File("full");
    if (root) {
        ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
        EXPECT_EQ(saver.save(handle, null.c_str()), 1);
        refused(full);
        EXPECT_TRUE(IsA(null, S_IFCHR));
        EXPECT_TRUE(IsA(full, S_IFCHR));
    }

    const std::string fifo = directory.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    refused(fifo);
    EXPECT_TRUE(IsA(fifo, S_IFIFO));
    EXPECT_EQ(directory.Entries().size(), root ? 6u : 4u);
    if (!root) {
        GTEST_SKIP() << "the devices need root to be made";
    }
}

int SaveBitmap(QuorixHandle handle, const char* fileName) {
    return Quorix_SaveImage(handle, fileName, QUORIX_SAVE_BMP);
}
int SaveMask(QuorixHandle handle, const char* fileName) {
    return Quorix_SaveMaskFile(handle, fileName);
}
int ExportSettings(QuorixHandle, const char* fileName) {
    return Quorix_ExportSettings(fileName, QUORIX_SETTINGS_ALL_CAMERAS);
}
// The recording is stopped at once; the file it started is finished then.
int Record(QuorixHandle handle, const char* fileName) {
    const int started = Quorix_Record(handle, fileName, 60000, 0);
    if (started == 1) {
        Quorix_StopPreview(handle);
    }
    return started;
}

INSTANTIATE_TEST_SUITE_P(All, EverySaver,
                         ::testing::Values(Saver{"SaveImage", SaveBitmap, QUORIX_ERR_TEXT},
                                           Saver{"SaveMaskFile", SaveMask, QUORIX_ERR_MASK_FILE},
                                           Saver{"ExportSettings", ExportSettings, 0},
                                           Saver{"Record", Record, QUORIX_ERR_TEXT}),
                         [](const ::testing::TestParamInfo<Saver>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace quorix
