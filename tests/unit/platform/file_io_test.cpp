// Saving and reading by name: what is under the caller's name (a link, a device, a file of its
// own mode and owner) and where the process may write decide how a save goes, and no save
// removes or replaces anything but its own temporary file.
#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../output/output_test_support.h"

namespace quorix::platform {
namespace {

using quorix::test::ReadWholeFile;
using quorix::test::ScratchDirectory;

bool Save(const std::string& path, const std::string& text) {
    return ReplaceFileContents(path.c_str(), reinterpret_cast<const uint8_t*>(text.data()),
                               text.size());
}

std::string Text(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    return {bytes.begin(), bytes.end()};
}

struct stat Status(const std::string& path) {
    struct stat info = {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A link keeps pointing at its file, which gets the content and keeps its mode and owner; the
// link's target is taken relative to the link's folder, and a link to no file yet makes it.
TEST(FileSave, GoesThroughLinksAndKeepsTheFilesModeAndOwner) {
    ScratchDirectory directory;
    const std::string keep = directory.File("keep");
    ASSERT_TRUE(std::filesystem::create_directory(keep));
    const std::string target = keep + "/target.bin";
    ASSERT_TRUE(Save(target, "old"));
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), 4321, 4322), 0);
    }
    const std::string link = directory.File("link.bin");
    ASSERT_EQ(::symlink("keep/target.bin", link.c_str()), 0);
    const std::string dangling = directory.File("later.bin");
    ASSERT_EQ(::symlink("keep/later.bin", dangling.c_str()), 0);

    ASSERT_TRUE(Save(link, "new content"));
    EXPECT_TRUE(S_ISLNK(Status(link).st_mode));
    EXPECT_EQ(Text(target), "new content");
    const struct stat saved = Status(target);
    EXPECT_EQ(saved.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(saved.st_uid, 4321u);
        EXPECT_EQ(saved.st_gid, 4322u);
    }
    ASSERT_TRUE(Save(dangling, "made"));
    EXPECT_TRUE(S_ISLNK(Status(dangling).st_mode));
    EXPECT_EQ(Text(keep + "/later.bin"), "made");
    // No temporary file is left in either folder.
    EXPECT_EQ(Entries(directory.File("")),
              (std::vector<std::string>{"keep", "later.bin", "link.bin"}));
    EXPECT_EQ(Entries(keep), (std::vector<std::string>{"later.bin", "target.bin"}));
}

// A temporary name made by adding to the final one passes the 255-byte name limit, and a path
// to a temporary name in the same folder passes the 4096-byte path limit: every name valid for
// the file must work, up to a path of 4095 bytes.
TEST(FileSave, NamesAtTheSystemsLimitsWork) {
    ScratchDirectory directory;
    const std::string longName = directory.File(std::string(255, 'n'));
    ASSERT_TRUE(Save(longName, "long name"));
    EXPECT_EQ(Text(longName), "long name");

    std::string deep = directory.File("");
    while (deep.size() + 201 + 10 < 4095) {
        deep += std::string(200, 'd') + "/";
    }
    deep += std::string(4095 - 10 - deep.size(), 'e');
    ASSERT_TRUE(std::filesystem::create_directories(deep));
    const std::string path = deep + "/frame.bmp";
    ASSERT_EQ(path.size(), 4095u);
    ASSERT_TRUE(Save(path, "deep"));
    EXPECT_EQ(Text(path), "deep");
    EXPECT_EQ(Entries(deep), std::vector<std::string>{"frame.bmp"});
}

// Devices of the test's own (never the system's /dev files): a copy of /dev/null takes the save
// in place, a copy of /dev/full fails it, and both stay devices.
TEST(FileSave, DevicesAreWrittenInPlaceAndNeverRemoved) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "making device nodes needs root";
    }
    ScratchDirectory directory;
    const std::string null = directory.File("null");
    const std::string full = directory.File("full");
    ASSERT_EQ(::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    EXPECT_TRUE(Save(null, "frame"));
    EXPECT_FALSE(Save(full, "frame"));
    for (const std::string& node : {null, full}) {
        EXPECT_TRUE(S_ISCHR(Status(node).st_mode)) << node;
        std::vector<uint8_t> bytes;
        EXPECT_EQ(ReadFileContents(node.c_str(), 1000, bytes), ReadResult::kNotRegular) << node;
    }
}

// In a folder that takes no new file, a file the user may write is rewritten where it is (the
// same file, no tail of the old content); one the user may not write is left alone. Run as
// another user when the test runs as root, which may write anywhere.
TEST(FileSave, FolderWithoutWriteAccessRewritesAWritableFileInPlace) {
    ScratchDirectory directory;
    const std::string folder = directory.File("locked");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const std::string writable = folder + "/writable.bin";
    const std::string readOnly = folder + "/read-only.bin";
    ASSERT_TRUE(Save(writable, "the earlier, longer content"));
    ASSERT_TRUE(Save(readOnly, "kept"));
    ASSERT_EQ(::chmod(writable.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(directory.File("").c_str(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const ino_t inode = Status(writable).st_ino;

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(2);
        }
        const bool inPlace = Save(writable, "new");
        const bool refused = !Save(readOnly, "replaced");
        ::_exit(inPlace && refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Text(writable), "new");
    EXPECT_EQ(Status(writable).st_ino, inode);
    EXPECT_EQ(Text(readOnly), "kept");
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"read-only.bin", "writable.bin"}));
}

}  // namespace
}  // namespace quorix::platform
