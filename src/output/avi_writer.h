#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"

namespace quorix {

// Writes an uncompressed AVI file: one video stream of 24-bit bottom-up frames ("00db" chunks,
// rows B, G, R padded to 4 bytes), the "idx1" index and the headers patched with the frame count
// and the measured rate at the end. Owned by the recorder; used by one thread at a time.
//
// A file that cannot grow (a full disk, the process's file size limit) is still finished: the
// index goes where the frame that did not fit began and the file is cut there, so every frame
// written before stays readable. Once the disk nears full, the index space after the newest
// frame is reserved before each frame where the file system can reserve, so a disk filling up
// costs no written frame. (Without a reservation, the index takes the space the frame that did
// not fit had taken; only if that is too little does the newest frame give way to it.)
// RIFF sizes are 32-bit, so a file stops taking frames before it would pass 4 GiB.
class AviWriter {
public:
    // Largest file whose RIFF size (file length - 8) fits 32 bits [bytes].
    static constexpr uint64_t kMaxFileBytes = 0xFFFFFFFFull + 8;
    // Offset of the movi list's size field and of the first frame chunk [bytes].
    static constexpr uint32_t kMoviSizeOffset = 224;
    static constexpr uint32_t kFirstChunkOffset = 232;
    // The rate a file is opened with [frames per second x 100].
    static constexpr uint32_t kProvisionalRate = 3000;

    enum class WriteResult {
        kWritten,
        kSizeLimit,  // the frame would take the file past its size limit; nothing was written
        kFailed,     // the file did not take the frame (errno tells why); nothing of it counts
    };

    // `maxFileBytes`: the largest file this writer makes (the RIFF limit unless smaller).
    explicit AviWriter(uint64_t maxFileBytes = kMaxFileBytes);
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;
    // Finishes a file still open.
    ~AviWriter();
    AviWriter(AviWriter&&) = delete;
    AviWriter& operator=(AviWriter&&) = delete;

    // Bytes of one frame of this size: rows of 3 x width bytes padded to 4, times height; 0 when
    // the size is not positive or a frame would not fit a 32-bit chunk size.
    static uint32_t FrameBytesFor(int32_t width, int32_t height);

    // Creates the file (as platform::OutputFile, replacing an earlier one only once the headers
    // are written) and writes the headers with the provisional rate and no frames. False, with
    // errno set and no file kept open, when the file cannot be written or the size has no frames
    // that fit; an earlier file of that name is then untouched (unless its folder takes no new
    // file, so that it was being rewritten in place).
    bool OpenAvi(const char* fileName, int32_t width, int32_t height);
    // Appends one frame of FrameBytes() bytes and its index entry (copied into a slot of the
    // writer's own, then as WriteAviSlot).
    WriteResult WriteAviFrame(const uint8_t* frame);

    // Frame slots: memory that a frame is converted into where the file takes it as it is, so
    // that on file systems that allow it the frames go to the disk straight from there (direct
    // I/O, no copy through the system's page cache; frames of at least two blocks only). A slot
    // has SlotBytes() bytes aligned to kSlotAlignment; frame number n (from 0) must have its
    // FrameBytes() bytes at SlotFrameOffset(n). The writer uses the bytes before and after them.
    static constexpr size_t kSlotAlignment = 4096;
    size_t SlotBytes() const;
    size_t SlotFrameOffset(uint64_t frameNumber) const;
    // Appends the next frame from its slot (the frame number is Frames()); as WriteAviFrame.
    WriteResult WriteAviSlot(uint8_t* slot);
    // The file's frames go to the disk by direct I/O.
    bool WritesDirect() const { return m_direct; }
    // Brings the file on the disk up to the frames written so far, without an index: the last
    // frame's bytes that direct I/O holds back, the frames' chunk identifiers, then the RIFF and
    // movi sizes, the frame counts and `rate` [frames per second x 100, at least 1] in the
    // headers. A file whose process ends before CloseAvi (killed, crashed) then plays with these
    // frames and counts them. A few small writes, no flush to the disk; call it every second or
    // so while recording. False (errno set) when the file did not take them.
    //
    // In a regular file each frame's chunk goes out as a "JUNK" chunk, which readers skip, and
    // becomes "00db" here or at CloseAvi: a reader that scans the chunks of a file without index
    // finds exactly the frames the headers count, not those written since.
    bool WriteProgress(uint32_t rate);
    // Writes the index and patches the headers with the frame count and `rate` [frames per
    // second x 100, at least 1], cuts the file after the index and closes it. False when the
    // file could not be finished (errno tells why); the file is closed either way.
    bool CloseAvi(uint32_t rate);

    bool IsOpen() const { return m_fd >= 0; }
    uint32_t FrameBytes() const { return m_frameBytes; }
    uint32_t Frames() const { return static_cast<uint32_t>(m_index.size() / kIndexEntryBytes); }
    // Length of the file as it stands (once closed: its final length) [bytes].
    uint64_t FileBytes() const { return m_fileBytes; }

private:
    static constexpr size_t kIndexEntryBytes = 16;
    static constexpr uint32_t kChunkHeaderBytes = 8;

    // Bytes of the idx1 chunk for `frames` frames.
    static uint64_t IndexBytes(uint64_t frames) { return 8 + kIndexEntryBytes * frames; }
    // Reserves disk space for the index after the next frame; false when the disk is full.
    bool ReserveIndexSpace();
    bool WriteAt(uint64_t offset, const void* data, size_t bytes);
    // Turns direct I/O on or off for the open file; false when the file system refuses.
    bool SetDirect(bool direct);
    // Writes the bytes of the last partial block that direct writes hold back, by ordinary I/O.
    bool FlushHeldBack();
    // The headers for the frames written so far, the file ending at `fileBytes`.
    bool PatchHeaders(uint32_t rate, uint64_t fileBytes);
    // Gives the frames written since the last call their "00db" identifiers.
    bool MarkFrameChunks();

    uint64_t m_maxFileBytes;
    int m_fd = -1;
    int32_t m_width = 0;
    int32_t m_height = 0;
    uint32_t m_frameBytes = 0;
    uint64_t m_moviEnd = 0;        // where the next frame chunk goes [bytes]
    uint64_t m_fileBytes = 0;      // [bytes]
    bool m_canReserve = true;      // the file system takes space reservations
    uint32_t m_markedFrames = 0;   // frames whose chunks carry "00db" in the file
    std::vector<uint8_t> m_index;  // idx1 entries as written to the file
    // Direct I/O writes whole blocks only: the bytes from the last block boundary before
    // m_moviEnd up to it are held back here until the next frame's write or the close.
    bool m_direct = false;
    bool m_regular = true;  // a regular file (its frame chunks are marked "00db" later), not a
                            // device written in place
    std::vector<uint8_t> m_heldBack;
    // Threads that write parts of each frame while the writer's thread writes the last: a disk
    // takes several writes at once faster than one, and the system copies into its page cache on
    // several processors.
    class PartWriter;
    static constexpr size_t kDirectParts = 4;
    std::vector<std::unique_ptr<PartWriter>> m_partWriters;
    // A frame's write in kDirectParts parts at once (whole blocks but the last, for direct I/O)
    // where the threads run.
    bool WriteInParts(uint64_t offset, const uint8_t* data, size_t bytes);
    // The slot WriteAviFrame copies frames into.
    std::unique_ptr<uint8_t, void (*)(void*)> m_ownSlot{nullptr, platform::FreeAligned};
};

}  // namespace quorix
