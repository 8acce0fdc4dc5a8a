#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorix::platform {

// --- Reading ---------------------------------------------------------------------------------

enum class ReadResult {
    kRead,
    kMissing,     // no file of that name
    kNotRegular,  // a directory, FIFO, device or socket: never opened for reading, never waited on
    kTooLarge,    // more than the caller's limit
    kNoMemory,    // no memory for the bytes
    kFailed,      // the file could not be opened or read (errno tells why)
};

// Reads the whole of the existing regular file `path` (at most `maxBytes` [bytes]) into `bytes`.
// Anything but a regular file is refused before it is opened and once more after (it is opened
// non-blocking, so a FIFO or device put there meanwhile cannot hold the caller up).
ReadResult ReadFileContents(const char* path, size_t maxBytes, std::vector<uint8_t>& bytes);

// --- Saving ----------------------------------------------------------------------------------

// One save of a file under the caller's name. Owned by the caller for the length of the save;
// whatever is not committed is undone when it goes.
//
// The name is followed through symbolic links to the file they name, so a link keeps pointing
// at its file and that file gets the new content; the temporary file sits in the folder of that
// file. What happens then depends on what is there:
// - nothing, or a regular file in a folder that takes new files: the content goes to a new file
//   of a short name of its own (.quorix-<pid>-<n>.tmp, so any name valid for the final file
//   works), which is flushed to the disk and renamed over the name, and the folder is flushed:
//   the name shows the old file or the whole new one, never a torn one. A replaced file's mode
//   and, where the process may set it, its owner and group carry over.
// - a regular file the process may write in a folder that takes no new file: the file is
//   truncated and rewritten where it is. This is the one path that is not atomic: a failure
//   part-way leaves a partial file.
// - a regular file the process may not write, a directory: refused.
// - a character or block device: written in place (saving to /dev/null times an encoder).
// - a FIFO or socket: refused (EINVAL): writing it could wait for a reader without end.
// Nothing but the temporary file this save created is ever removed or replaced.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Discards an uncommitted save: closes the file and removes a temporary file.
    ~OutputFile();

    // Prepares the save of `path` as above; false (errno kept) when it is refused or the file
    // cannot be created.
    bool Open(const char* path);
    // The descriptor the content is written through (positioned at 0); -1 before Open.
    int Descriptor() const { return m_fd; }
    // A stdio stream over the descriptor, made once and then the only way to write; null (errno
    // kept) when none can be made.
    FILE* Stream();
    // True when the content goes to a regular file (not a device).
    bool IsRegular() const { return m_kind != Kind::kDevice; }

    // Puts the file under the caller's name now, before it is complete (an earlier file of that
    // name is then gone); writing goes on through the same descriptor. For a file that grows
    // over a long time and must be found under its name if the process dies.
    bool Publish();
    // Hands the descriptor over to the caller, who then closes it; only after Publish (or when
    // the file is written in place). -1 when there is nothing to hand over.
    int Release();
    // Flushes what was written, to the disk for a regular file, gives it its name and closes
    // it. False (errno kept) when any of that failed; the save is then undone as far as it can
    // be (a temporary file is removed).
    bool Commit();

private:
    enum class Kind { kNone, kReplacing, kRewritingInPlace, kDevice };

    bool CreateTemporary();
    bool OpenInPlace(const struct stat& seen, Kind kind);
    bool KeepOwnerAndMode();
    bool CloseFile();
    void Discard();

    Kind m_kind = Kind::kNone;
    int m_folder = -1;        // the folder of the file (O_PATH)
    std::string m_name;       // the file's name in m_folder, links followed
    std::string m_temporary;  // the temporary file's name in m_folder while it is not published
    int m_fd = -1;
    FILE* m_stream = nullptr;
    bool m_hadFile = false;  // a regular file was there: its mode and owner carry over
    mode_t m_mode = 0;
    uid_t m_owner = 0;
    gid_t m_group = 0;
};

// --- Writing at offsets ----------------------------------------------------------------------
// For a writer that keeps a file open for a long time and places its data at offsets (the AVI
// writer), on the descriptor OutputFile::Release handed over. Failures keep errno.

// Switches writes that go past the page cache straight to the disk on or off; false where the
// file system does not allow it. Such writes need buffers, offsets and lengths aligned to the
// disk's blocks (AllocateAligned).
bool SetDirectWrites(int fd, bool direct);
// Writes all of `bytes` [bytes] at `offset`; a write that makes no progress fails with ENOSPC.
bool WriteFileAt(int fd, uint64_t offset, const void* data, size_t bytes);
// The bytes still free for this user on the disk that holds the file; none when unknown.
std::optional<uint64_t> FreeDiskBytes(int fd);
enum class ReserveResult {
    kReserved,
    kNoRoom,       // the disk is full, or a quota or the file size limit is reached
    kUnsupported,  // the file system reserves no space
};
// Reserves the disk space of [offset, offset + length) [bytes] without changing the file's size.
ReserveResult ReserveFileSpace(int fd, uint64_t offset, uint64_t length);
// Cuts or extends the file to `length` [bytes].
bool TruncateFile(int fd, uint64_t length);
// Closes the descriptor; false when the close reported an error of writing.
bool CloseDescriptor(int fd);
// A descriptor of its own for the file under `stream` (flushed by the caller first), for a
// library that writes through a descriptor and closes it itself; -1 (errno kept) when none.
int DuplicateDescriptor(FILE* stream);

// Memory of `bytes` [bytes] starting on a multiple of `alignment` (a power of two), for direct
// writes; null when there is none. Given back with FreeAligned.
void* AllocateAligned(size_t alignment, size_t bytes);
void FreeAligned(void* memory);

// True for the name of a temporary file of OutputFile whose writing process no longer exists.
bool IsLeftoverTemporaryFile(std::string_view name);

// Writes `size` bytes as the whole content of the file `path` through an OutputFile. Returns
// false (errno kept), with no temporary file left behind, when any step fails.
bool ReplaceFileContents(const char* path, const uint8_t* data, size_t size);

}  // namespace quorix::platform
